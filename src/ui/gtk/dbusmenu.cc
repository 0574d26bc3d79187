#include "ui/gtk/dbusmenu.h"

#include "base/runtime/logging.h"

namespace vexalo {
namespace {

constexpr const char* kIntrospection = R"xml(<node>
  <interface name="com.canonical.dbusmenu">
    <method name="GetLayout">
      <arg type="i" name="parentId" direction="in"/>
      <arg type="i" name="recursionDepth" direction="in"/>
      <arg type="as" name="propertyNames" direction="in"/>
      <arg type="u" name="revision" direction="out"/>
      <arg type="(ia{sv}av)" name="layout" direction="out"/>
    </method>
    <method name="GetGroupProperties">
      <arg type="ai" name="ids" direction="in"/>
      <arg type="as" name="propertyNames" direction="in"/>
      <arg type="a(ia{sv})" name="properties" direction="out"/>
    </method>
    <method name="GetProperty">
      <arg type="i" name="id" direction="in"/>
      <arg type="s" name="name" direction="in"/>
      <arg type="v" name="value" direction="out"/>
    </method>
    <method name="Event">
      <arg type="i" name="id" direction="in"/>
      <arg type="s" name="eventId" direction="in"/>
      <arg type="v" name="data" direction="in"/>
      <arg type="u" name="timestamp" direction="in"/>
    </method>
    <method name="EventGroup">
      <arg type="a(isvu)" name="events" direction="in"/>
      <arg type="ai" name="idErrors" direction="out"/>
    </method>
    <method name="AboutToShow">
      <arg type="i" name="id" direction="in"/>
      <arg type="b" name="needUpdate" direction="out"/>
    </method>
    <method name="AboutToShowGroup">
      <arg type="ai" name="ids" direction="in"/>
      <arg type="ai" name="updatesNeeded" direction="out"/>
      <arg type="ai" name="idErrors" direction="out"/>
    </method>
    <signal name="ItemsPropertiesUpdated">
      <arg type="a(ia{sv})" name="updatedProps"/>
      <arg type="a(ias)" name="removedProps"/>
    </signal>
    <signal name="LayoutUpdated">
      <arg type="u" name="revision"/>
      <arg type="i" name="parent"/>
    </signal>
    <signal name="ItemActivationRequested">
      <arg type="i" name="id"/>
      <arg type="u" name="timestamp"/>
    </signal>
    <property name="Version" type="u" access="read"/>
    <property name="TextDirection" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="IconThemePath" type="as" access="read"/>
  </interface>
</node>)xml";

}  // namespace

DBusMenu::DBusMenu() = default;

DBusMenu::~DBusMenu() { Unexport(); }

int DBusMenu::AddItem(const std::string& label, std::function<void()> clicked) {
  items_.push_back(Item{"standard", label, false, false, std::move(clicked)});
  Changed(0);
  return static_cast<int>(items_.size());
}

int DBusMenu::AddRadio(const std::string& label, std::function<void()> clicked) {
  const int id = AddItem(label, std::move(clicked));
  items_[id - 1].radio = true;
  return id;
}

void DBusMenu::AddSeparator() {
  items_.push_back(Item{"separator", "", false, false, nullptr});
  Changed(0);
}

void DBusMenu::SetLabel(int id, const std::string& label) {
  if (id < 1 || id > static_cast<int>(items_.size()) || items_[id - 1].label == label) return;
  items_[id - 1].label = label;
  Changed(id);
}

void DBusMenu::SetChecked(int id, bool checked) {
  if (id < 1 || id > static_cast<int>(items_.size()) || items_[id - 1].checked == checked) return;
  items_[id - 1].checked = checked;
  Changed(id);
}

bool DBusMenu::Export(GDBusConnection* connection, const char* path) {
  static GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(kIntrospection, nullptr);
  static const GDBusInterfaceVTable vtable = {
      &DBusMenu::OnMethodCall, &DBusMenu::OnGetProperty, nullptr, {}};
  Unexport();
  GError* error = nullptr;
  registration_ = g_dbus_connection_register_object(connection, path, info->interfaces[0], &vtable,
                                                    this, nullptr, &error);
  if (registration_ == 0) {
    LOG(kWarning) << "Tray menu not exported: " << error->message;
    g_error_free(error);
    return false;
  }
  connection_ = G_DBUS_CONNECTION(g_object_ref(connection));
  path_ = path;
  return true;
}

void DBusMenu::Unexport() {
  if (registration_ != 0) g_dbus_connection_unregister_object(connection_, registration_);
  registration_ = 0;
  if (connection_ != nullptr) g_object_unref(connection_);
  connection_ = nullptr;
}

GVariant* DBusMenu::Properties(int id) const {
  GVariantBuilder props;
  g_variant_builder_init(&props, G_VARIANT_TYPE("a{sv}"));
  if (id == 0) {
    g_variant_builder_add(&props, "{sv}", "children-display", g_variant_new_string("submenu"));
    return g_variant_builder_end(&props);
  }
  const Item& item = items_[id - 1];
  if (item.type == "separator") {
    g_variant_builder_add(&props, "{sv}", "type", g_variant_new_string("separator"));
    return g_variant_builder_end(&props);
  }
  g_variant_builder_add(&props, "{sv}", "label", g_variant_new_string(item.label.c_str()));
  if (item.radio) {
    g_variant_builder_add(&props, "{sv}", "toggle-type", g_variant_new_string("radio"));
    g_variant_builder_add(&props, "{sv}", "toggle-state",
                          g_variant_new_int32(item.checked ? 1 : 0));
  }
  return g_variant_builder_end(&props);
}

GVariant* DBusMenu::Layout() const {
  GVariantBuilder children;
  g_variant_builder_init(&children, G_VARIANT_TYPE("av"));
  for (size_t i = 0; i < items_.size(); ++i) {
    const int id = static_cast<int>(i) + 1;
    GVariant* none = g_variant_new_array(G_VARIANT_TYPE_VARIANT, nullptr, 0);
    g_variant_builder_add(&children, "v", g_variant_new("(i@a{sv}@av)", id, Properties(id), none));
  }
  return g_variant_new("(i@a{sv}av)", 0, Properties(0), &children);
}

void DBusMenu::Clicked(int id) {
  if (id < 1 || id > static_cast<int>(items_.size())) return;
  // A copy: the callback may change the menu.
  const std::function<void()> clicked = items_[id - 1].clicked;
  if (clicked) clicked();
}

void DBusMenu::Changed(int id) {
  if (connection_ == nullptr) return;
  if (id == 0) {
    ++revision_;
    g_dbus_connection_emit_signal(connection_, nullptr, path_.c_str(), kInterface, "LayoutUpdated",
                                  g_variant_new("(ui)", revision_, 0), nullptr);
    return;
  }
  GVariantBuilder updated;
  g_variant_builder_init(&updated, G_VARIANT_TYPE("a(ia{sv})"));
  g_variant_builder_add(&updated, "(i@a{sv})", id, Properties(id));
  GVariantBuilder removed;
  g_variant_builder_init(&removed, G_VARIANT_TYPE("a(ias)"));
  g_dbus_connection_emit_signal(connection_, nullptr, path_.c_str(), kInterface,
                                "ItemsPropertiesUpdated",
                                g_variant_new("(a(ia{sv})a(ias))", &updated, &removed), nullptr);
}

void DBusMenu::OnMethodCall(GDBusConnection*, const char*, const char*, const char*,
                            const char* method, GVariant* parameters,
                            GDBusMethodInvocation* invocation, gpointer self) {
  auto* menu = static_cast<DBusMenu*>(self);
  const std::string name = method;
  const auto valid = [menu](int id) {
    return id >= 0 && id <= static_cast<int>(menu->items_.size());
  };
  if (name == "GetLayout") {
    // The menu is flat: any request for the root gets everything, one for an item its leaf.
    int parent = 0;
    int depth = 0;
    g_variant_get(parameters, "(ii^a&s)", &parent, &depth, nullptr);
    if (!valid(parent)) {
      g_dbus_method_invocation_return_dbus_error(invocation, "com.canonical.dbusmenu.Error",
                                                 "No such item");
      return;
    }
    GVariant* layout = parent == 0
                           ? menu->Layout()
                           : g_variant_new("(i@a{sv}@av)", parent, menu->Properties(parent),
                                           g_variant_new_array(G_VARIANT_TYPE_VARIANT, nullptr, 0));
    g_dbus_method_invocation_return_value(invocation,
                                          g_variant_new("(u@(ia{sv}av))", menu->revision_, layout));
  } else if (name == "GetGroupProperties") {
    GVariantIter* ids = nullptr;
    g_variant_get(parameters, "(ai^a&s)", &ids, nullptr);
    GVariantBuilder result;
    g_variant_builder_init(&result, G_VARIANT_TYPE("a(ia{sv})"));
    int id = 0;
    while (g_variant_iter_next(ids, "i", &id)) {
      if (valid(id)) g_variant_builder_add(&result, "(i@a{sv})", id, menu->Properties(id));
    }
    g_variant_iter_free(ids);
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(a(ia{sv}))", &result));
  } else if (name == "GetProperty") {
    int id = 0;
    const char* property = nullptr;
    g_variant_get(parameters, "(i&s)", &id, &property);
    GVariant* value = nullptr;
    if (valid(id)) {
      GVariant* properties = g_variant_ref_sink(menu->Properties(id));
      value = g_variant_lookup_value(properties, property, nullptr);
      g_variant_unref(properties);
    }
    if (value == nullptr) {
      g_dbus_method_invocation_return_dbus_error(invocation, "com.canonical.dbusmenu.Error",
                                                 "No such property");
      return;
    }
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(v)", value));
    g_variant_unref(value);
  } else if (name == "Event") {
    int id = 0;
    const char* event = nullptr;
    g_variant_get(parameters, "(i&svu)", &id, &event, nullptr, nullptr);
    const bool clicked = std::string(event) == "clicked";
    // Answer first: the click may quit the program.
    g_dbus_method_invocation_return_value(invocation, nullptr);
    if (clicked) menu->Clicked(id);
  } else if (name == "EventGroup") {
    GVariantIter* events = nullptr;
    g_variant_get(parameters, "(a(isvu))", &events);
    GVariantBuilder errors;
    g_variant_builder_init(&errors, G_VARIANT_TYPE("ai"));
    std::vector<int> clicked;
    int id = 0;
    const char* event = nullptr;
    while (g_variant_iter_next(events, "(i&svu)", &id, &event, nullptr, nullptr)) {
      if (!valid(id)) {
        g_variant_builder_add(&errors, "i", id);
      } else if (std::string(event) == "clicked") {
        clicked.push_back(id);
      }
    }
    g_variant_iter_free(events);
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(ai)", &errors));
    for (int each : clicked) menu->Clicked(each);
  } else if (name == "AboutToShow") {
    g_dbus_method_invocation_return_value(invocation, g_variant_new("(b)", FALSE));
  } else if (name == "AboutToShowGroup") {
    g_dbus_method_invocation_return_value(
        invocation, g_variant_new("(@ai@ai)", g_variant_new_array(G_VARIANT_TYPE_INT32, nullptr, 0),
                                  g_variant_new_array(G_VARIANT_TYPE_INT32, nullptr, 0)));
  } else {
    g_dbus_method_invocation_return_dbus_error(
        invocation, "org.freedesktop.DBus.Error.UnknownMethod", "Unknown method");
  }
}

GVariant* DBusMenu::OnGetProperty(GDBusConnection*, const char*, const char*, const char*,
                                  const char* property, GError** error, gpointer) {
  const std::string name = property;
  if (name == "Version") return g_variant_new_uint32(3);
  if (name == "TextDirection") return g_variant_new_string("ltr");
  if (name == "Status") return g_variant_new_string("normal");
  if (name == "IconThemePath") return g_variant_new_strv(nullptr, 0);
  g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "No property %s", property);
  return nullptr;
}

}  // namespace vexalo
