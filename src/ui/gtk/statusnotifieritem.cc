#include "ui/gtk/statusnotifieritem.h"

#include <unistd.h>

#include "base/runtime/logging.h"

namespace vexalo {
namespace {

constexpr const char* kIntrospection = R"xml(<node>
  <interface name="org.kde.StatusNotifierItem">
    <method name="Activate"><arg type="i" direction="in"/><arg type="i" direction="in"/></method>
    <method name="SecondaryActivate"><arg type="i" direction="in"/><arg type="i" direction="in"/></method>
    <method name="ContextMenu"><arg type="i" direction="in"/><arg type="i" direction="in"/></method>
    <method name="Scroll"><arg type="i" direction="in"/><arg type="s" direction="in"/></method>
    <signal name="NewTitle"/>
    <signal name="NewIcon"/>
    <signal name="NewToolTip"/>
    <signal name="NewStatus"><arg type="s"/></signal>
    <property name="Category" type="s" access="read"/>
    <property name="Id" type="s" access="read"/>
    <property name="Title" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="WindowId" type="i" access="read"/>
    <property name="IconName" type="s" access="read"/>
    <property name="IconThemePath" type="s" access="read"/>
    <property name="ToolTip" type="(sa(iiay)ss)" access="read"/>
    <property name="ItemIsMenu" type="b" access="read"/>
    <property name="Menu" type="o" access="read"/>
  </interface>
</node>)xml";

}  // namespace

StatusNotifierItem::StatusNotifierItem(std::string id, std::string title, std::string icon_name)
    : id_(std::move(id)),
      title_(std::move(title)),
      icon_name_(std::move(icon_name)),
      cancellable_(g_cancellable_new()) {}

StatusNotifierItem::~StatusNotifierItem() {
  // Pending calls finish into a cancelled state and never reach this object.
  g_cancellable_cancel(cancellable_);
  g_object_unref(cancellable_);
  if (watcher_watch_ != 0) g_bus_unwatch_name(watcher_watch_);
  if (name_owner_ != 0) g_bus_unown_name(name_owner_);
  menu_.Unexport();
  if (registration_ != 0) g_dbus_connection_unregister_object(connection_, registration_);
  if (connection_ != nullptr) g_object_unref(connection_);
}

void StatusNotifierItem::Start(GDBusConnection* connection) {
  if (connection != nullptr) {
    Export(connection);
  } else {
    g_bus_get(G_BUS_TYPE_SESSION, cancellable_, &StatusNotifierItem::OnBus, this);
  }
}

void StatusNotifierItem::OnBus(GObject*, GAsyncResult* result, gpointer self) {
  GError* error = nullptr;
  GDBusConnection* connection = g_bus_get_finish(result, &error);
  if (connection == nullptr) {
    if (!g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
      LOG(kInfo) << "No session bus, so no tray icon: " << error->message;
    }
    g_error_free(error);
    return;
  }
  static_cast<StatusNotifierItem*>(self)->Export(connection);
  g_object_unref(connection);
}

void StatusNotifierItem::Export(GDBusConnection* connection) {
  static GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
  static const GDBusInterfaceVTable vtable = {
      &StatusNotifierItem::OnMethodCall, &StatusNotifierItem::OnGetProperty, nullptr, {}};
  connection_ = G_DBUS_CONNECTION(g_object_ref(connection));
  GError* error = nullptr;
  registration_ = g_dbus_connection_register_object(connection, kPath, info->interfaces[0], &vtable,
                                                    this, nullptr, &error);
  if (registration_ == 0) {
    LOG(kWarning) << "Tray icon not exported: " << error->message;
    g_error_free(error);
    return;
  }
  if (!menu_.Export(connection, kMenuPath)) return;
  // The name hosts know the item by; the pid keeps it apart from other programs' items.
  const std::string name = "org.kde.StatusNotifierItem-" + std::to_string(getpid()) + "-1";
  name_owner_ =
      g_bus_own_name_on_connection(connection, name.c_str(), G_BUS_NAME_OWNER_FLAGS_NONE,
                                   &StatusNotifierItem::OnNameAcquired, nullptr, this, nullptr);
}

void StatusNotifierItem::OnNameAcquired(GDBusConnection* connection, const char* name,
                                        gpointer self) {
  auto* item = static_cast<StatusNotifierItem*>(self);
  item->bus_name_ = name;
  if (item->watcher_watch_ != 0) return;
  item->watcher_watch_ =
      g_bus_watch_name_on_connection(connection, kWatcherName, G_BUS_NAME_WATCHER_FLAGS_NONE,
                                     &StatusNotifierItem::OnWatcherAppeared,
                                     &StatusNotifierItem::OnWatcherVanished, self, nullptr);
}

void StatusNotifierItem::OnWatcherAppeared(GDBusConnection* connection, const char*, const char*,
                                           gpointer self) {
  auto* item = static_cast<StatusNotifierItem*>(self);
  g_dbus_connection_call(
      connection, kWatcherName, "/StatusNotifierWatcher", kWatcherName,
      "RegisterStatusNotifierItem", g_variant_new("(s)", item->bus_name_.c_str()), nullptr,
      G_DBUS_CALL_FLAGS_NONE, -1, item->cancellable_, &StatusNotifierItem::OnRegistered, self);
}

void StatusNotifierItem::OnWatcherVanished(GDBusConnection*, const char*, gpointer self) {
  static_cast<StatusNotifierItem*>(self)->registered_ = false;
}

void StatusNotifierItem::OnRegistered(GObject* source, GAsyncResult* result, gpointer self) {
  GError* error = nullptr;
  GVariant* answer = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &error);
  if (answer == nullptr) {
    if (!g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED)) {
      LOG(kInfo) << "The tray did not take our icon: " << error->message;
    }
    g_error_free(error);
    return;
  }
  g_variant_unref(answer);
  auto* item = static_cast<StatusNotifierItem*>(self);
  item->registered_ = true;
  item->SignalRegistered();
}

void StatusNotifierItem::SetToolTip(const std::string& text) {
  if (tool_tip_ == text) return;
  tool_tip_ = text;
  Emit("NewToolTip", nullptr);
}

void StatusNotifierItem::SetStatus(const std::string& status) {
  if (status_ == status) return;
  status_ = status;
  Emit("NewStatus", g_variant_new("(s)", status_.c_str()));
}

void StatusNotifierItem::Emit(const char* signal, GVariant* parameters) {
  if (registration_ == 0) {
    if (parameters != nullptr) g_variant_unref(g_variant_ref_sink(parameters));
    return;
  }
  g_dbus_connection_emit_signal(connection_, nullptr, kPath, kInterface, signal, parameters,
                                nullptr);
}

void StatusNotifierItem::OnMethodCall(GDBusConnection*, const char*, const char*, const char*,
                                      const char* method, GVariant*,
                                      GDBusMethodInvocation* invocation, gpointer self) {
  const std::string name = method;
  g_dbus_method_invocation_return_value(invocation, nullptr);
  // A secondary (middle) click does what a primary one does; the host shows the menu itself.
  if (name == "Activate" || name == "SecondaryActivate") {
    static_cast<StatusNotifierItem*>(self)->SignalActivate();
  }
}

GVariant* StatusNotifierItem::OnGetProperty(GDBusConnection*, const char*, const char*, const char*,
                                            const char* property, GError** error, gpointer self) {
  const auto* item = static_cast<StatusNotifierItem*>(self);
  const std::string name = property;
  if (name == "Category") return g_variant_new_string("Communications");
  if (name == "Id") return g_variant_new_string(item->id_.c_str());
  if (name == "Title") return g_variant_new_string(item->title_.c_str());
  if (name == "Status") return g_variant_new_string(item->status_.c_str());
  if (name == "WindowId") return g_variant_new_int32(0);
  if (name == "IconName") return g_variant_new_string(item->icon_name_.c_str());
  if (name == "IconThemePath") return g_variant_new_string("");
  if (name == "ItemIsMenu") return g_variant_new_boolean(FALSE);
  if (name == "Menu") return g_variant_new_object_path(kMenuPath);
  if (name == "ToolTip") {
    return g_variant_new("(s@a(iiay)ss)", item->icon_name_.c_str(),
                         g_variant_new_array(G_VARIANT_TYPE("(iiay)"), nullptr, 0),
                         item->title_.c_str(), item->tool_tip_.c_str());
  }
  g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "No property %s", property);
  return nullptr;
}

}  // namespace vexalo
