// The tray icon on a private session bus, seen by a small tray watcher and host of the test's
// own: no watcher is no error, a late watcher still gets the item, and the host's clicks on the
// icon and its menu reach the program.
#include "ui/gtk/statusnotifieritem.h"

#include <gio/gio.h>
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace vexalo {
namespace {

bool RunUntil(const std::function<bool()>& done) {
  const gint64 give_up = g_get_monotonic_time() + 5 * G_USEC_PER_SEC;
  while (!done()) {
    if (g_get_monotonic_time() > give_up) return false;
    g_main_context_iteration(nullptr, FALSE);
    g_usleep(1000);
  }
  return true;
}

// Lets what is queued run without waiting for anything.
void Settle() {
  const gint64 until = g_get_monotonic_time() + 100 * 1000;
  while (g_get_monotonic_time() < until) {
    g_main_context_iteration(nullptr, FALSE);
    g_usleep(1000);
  }
}

// The tray side: owns the watcher name, records registrations, and calls the item as a host.
class TrayHost {
 public:
  explicit TrayHost(const char* address) : connection_(Connect(address)) {}
  ~TrayHost() {
    if (owner_ != 0) g_bus_unown_name(owner_);
    if (registration_ != 0) g_dbus_connection_unregister_object(connection_, registration_);
    if (subscription_ != 0) g_dbus_connection_signal_unsubscribe(connection_, subscription_);
    g_object_unref(connection_);
  }

  static GDBusConnection* Connect(const char* address) {
    return g_dbus_connection_new_for_address_sync(
        address,
        static_cast<GDBusConnectionFlags>(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                                          G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
        nullptr, nullptr, nullptr);
  }

  void StartWatcher() {
    static GDBusNodeInfo* info = g_dbus_node_info_new_for_xml(
        "<node><interface name='org.kde.StatusNotifierWatcher'>"
        "<method name='RegisterStatusNotifierItem'><arg type='s' direction='in'/></method>"
        "</interface></node>",
        nullptr);
    static const GDBusInterfaceVTable vtable = {&TrayHost::OnWatcherCall, nullptr, nullptr, {}};
    registration_ =
        g_dbus_connection_register_object(connection_, "/StatusNotifierWatcher",
                                          info->interfaces[0], &vtable, this, nullptr, nullptr);
    owner_ =
        g_bus_own_name_on_connection(connection_, StatusNotifierItem::kWatcherName,
                                     G_BUS_NAME_OWNER_FLAGS_NONE, nullptr, nullptr, this, nullptr);
  }

  void ListenToMenu() {
    subscription_ = g_dbus_connection_signal_subscribe(
        connection_, nullptr, DBusMenu::kInterface, nullptr, StatusNotifierItem::kMenuPath, nullptr,
        G_DBUS_SIGNAL_FLAGS_NONE,
        [](GDBusConnection*, const char*, const char*, const char*, const char* signal, GVariant*,
           gpointer self) { static_cast<TrayHost*>(self)->menu_signals.push_back(signal); },
        this, nullptr);
  }

  // Calls the item (async, so that this thread's loop can serve it); null on error.
  GVariant* Call(const std::string& destination, const char* path, const char* interface,
                 const char* method, GVariant* parameters) {
    struct Result {
      bool done = false;
      GVariant* value = nullptr;
    } result;
    g_dbus_connection_call(
        connection_, destination.c_str(), path, interface, method, parameters, nullptr,
        G_DBUS_CALL_FLAGS_NONE, 2000, nullptr,
        [](GObject* source, GAsyncResult* async, gpointer data) {
          auto* r = static_cast<Result*>(data);
          r->value = g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), async, nullptr);
          r->done = true;
        },
        &result);
    EXPECT_TRUE(RunUntil([&] { return result.done; }));
    return result.value;
  }
  std::string StringProperty(const std::string& item, const char* name) {
    GVariant* answer = Call(item, StatusNotifierItem::kPath, "org.freedesktop.DBus.Properties",
                            "Get", g_variant_new("(ss)", StatusNotifierItem::kInterface, name));
    if (answer == nullptr) return "<error>";
    GVariant* value = nullptr;
    g_variant_get(answer, "(v)", &value);
    std::string text;
    if (g_variant_is_of_type(value, G_VARIANT_TYPE_STRING) ||
        g_variant_is_of_type(value, G_VARIANT_TYPE_OBJECT_PATH)) {
      text = g_variant_get_string(value, nullptr);
    } else {
      gchar* printed = g_variant_print(value, FALSE);
      text = printed;
      g_free(printed);
    }
    g_variant_unref(value);
    g_variant_unref(answer);
    return text;
  }

  std::vector<std::string> registered;
  std::vector<std::string> menu_signals;

 private:
  static void OnWatcherCall(GDBusConnection*, const char*, const char*, const char*, const char*,
                            GVariant* parameters, GDBusMethodInvocation* invocation,
                            gpointer self) {
    const char* service = nullptr;
    g_variant_get(parameters, "(&s)", &service);
    static_cast<TrayHost*>(self)->registered.push_back(service);
    g_dbus_method_invocation_return_value(invocation, nullptr);
  }

  GDBusConnection* connection_;
  guint owner_ = 0;
  guint registration_ = 0;
  guint subscription_ = 0;
};

class StatusNotifierItemTest : public ::testing::Test {
 protected:
  StatusNotifierItemTest() : bus_(g_test_dbus_new(G_TEST_DBUS_NONE)) {
    g_test_dbus_up(bus_);
    address_ = g_test_dbus_get_bus_address(bus_);
    item_connection_ = TrayHost::Connect(address_.c_str());
  }
  ~StatusNotifierItemTest() override {
    g_object_unref(item_connection_);
    g_test_dbus_down(bus_);
    g_object_unref(bus_);
  }

  GTestDBus* bus_;
  std::string address_;
  GDBusConnection* item_connection_;
};

TEST_F(StatusNotifierItemTest, WithoutAWatcherNothingFailsAndALateWatcherGetsTheItem) {
  StatusNotifierItem item("im.vexalo.Vexalo", "Vexalo", "im.vexalo.Vexalo");
  item.Start(item_connection_);
  ASSERT_TRUE(RunUntil([&] { return !item.bus_name().empty(); }));
  Settle();
  EXPECT_FALSE(item.registered());

  TrayHost tray(address_.c_str());
  tray.StartWatcher();
  ASSERT_TRUE(RunUntil([&] { return item.registered(); }));
  EXPECT_EQ(tray.registered, std::vector<std::string>{item.bus_name()});
  EXPECT_EQ(item.bus_name().rfind("org.kde.StatusNotifierItem-", 0), 0u);
}

TEST_F(StatusNotifierItemTest, HostReadsTheItemAndDrivesItsMenu) {
  TrayHost tray(address_.c_str());
  tray.StartWatcher();
  StatusNotifierItem item("im.vexalo.Vexalo", "Vexalo", "im.vexalo.Vexalo");
  int activated = 0;
  std::vector<std::string> clicks;
  SlotHost host;
  item.SignalActivate.Connect(&host, [&] { ++activated; });
  DBusMenu* menu = item.menu();
  const int show = menu->AddItem("_Show Vexalo", [&] { clicks.push_back("show"); });
  menu->AddSeparator();
  const int away = menu->AddRadio("_Away", [&] { clicks.push_back("away"); });
  item.Start(item_connection_);
  ASSERT_TRUE(RunUntil([&] { return item.registered(); }));
  const std::string name = item.bus_name();

  EXPECT_EQ(tray.StringProperty(name, "Title"), "Vexalo");
  EXPECT_EQ(tray.StringProperty(name, "IconName"), "im.vexalo.Vexalo");
  EXPECT_EQ(tray.StringProperty(name, "Menu"), StatusNotifierItem::kMenuPath);
  EXPECT_EQ(tray.StringProperty(name, "Status"), "Active");
  item.SetToolTip("Away: at lunch");
  EXPECT_NE(tray.StringProperty(name, "ToolTip").find("Away: at lunch"), std::string::npos);

  GVariant* none = tray.Call(name, StatusNotifierItem::kPath, StatusNotifierItem::kInterface,
                             "Activate", g_variant_new("(ii)", 10, 10));
  ASSERT_NE(none, nullptr);
  g_variant_unref(none);
  EXPECT_EQ(activated, 1);

  // The layout as a host reads it: the root's children with their labels and kinds.
  const char* all_properties[] = {nullptr};
  GVariant* layout = tray.Call(name, StatusNotifierItem::kMenuPath, DBusMenu::kInterface,
                               "GetLayout", g_variant_new("(ii^as)", 0, -1, all_properties));
  ASSERT_NE(layout, nullptr);
  gchar* text = g_variant_print(layout, FALSE);
  const std::string printed = text;
  g_free(text);
  g_variant_unref(layout);
  EXPECT_NE(printed.find("'label': <'_Show Vexalo'>"), std::string::npos) << printed;
  EXPECT_NE(printed.find("'type': <'separator'>"), std::string::npos) << printed;
  EXPECT_NE(printed.find("'toggle-type': <'radio'>"), std::string::npos) << printed;

  // Clicks, alone and grouped; an unknown id is reported, not acted on.
  tray.ListenToMenu();
  none = tray.Call(name, StatusNotifierItem::kMenuPath, DBusMenu::kInterface, "Event",
                   g_variant_new("(isvu)", show, "clicked", g_variant_new_int32(0), 0u));
  ASSERT_NE(none, nullptr);
  g_variant_unref(none);
  GVariantBuilder events;
  g_variant_builder_init(&events, G_VARIANT_TYPE("a(isvu)"));
  g_variant_builder_add(&events, "(isvu)", away, "clicked", g_variant_new_int32(0), 0u);
  g_variant_builder_add(&events, "(isvu)", 99, "clicked", g_variant_new_int32(0), 0u);
  GVariant* errors = tray.Call(name, StatusNotifierItem::kMenuPath, DBusMenu::kInterface,
                               "EventGroup", g_variant_new("(a(isvu))", &events));
  ASSERT_NE(errors, nullptr);
  text = g_variant_print(errors, FALSE);
  EXPECT_STREQ(text, "([99],)");
  g_free(text);
  g_variant_unref(errors);
  EXPECT_EQ(clicks, (std::vector<std::string>{"show", "away"}));

  // A changed radio item is announced to the host.
  menu->SetChecked(away, true);
  ASSERT_TRUE(RunUntil([&] { return !tray.menu_signals.empty(); }));
  EXPECT_EQ(tray.menu_signals.front(), "ItemsPropertiesUpdated");
  GVariant* state = tray.Call(name, StatusNotifierItem::kMenuPath, DBusMenu::kInterface,
                              "GetProperty", g_variant_new("(is)", away, "toggle-state"));
  ASSERT_NE(state, nullptr);
  text = g_variant_print(state, FALSE);
  EXPECT_STREQ(text, "(<1>,)");
  g_free(text);
  g_variant_unref(state);
}

}  // namespace
}  // namespace vexalo
