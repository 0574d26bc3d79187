#pragma once

#include <gio/gio.h>

#include <functional>
#include <string>
#include <vector>

namespace vexalo {

// A flat menu exported with the com.canonical.dbusmenu protocol, which tray hosts use to show
// a StatusNotifierItem's menu: plain items, radio items and separators under the root.
class DBusMenu {
 public:
  static constexpr const char* kInterface = "com.canonical.dbusmenu";

  DBusMenu();
  ~DBusMenu();
  DBusMenu(const DBusMenu&) = delete;
  DBusMenu& operator=(const DBusMenu&) = delete;

  // Items get ids from 1 (0 is the root). `clicked` runs when the host reports a click.
  int AddItem(const std::string& label, std::function<void()> clicked);
  int AddRadio(const std::string& label, std::function<void()> clicked);
  void AddSeparator();
  void SetLabel(int id, const std::string& label);
  // Selects this radio item (others stay as they are: the caller keeps a group consistent).
  void SetChecked(int id, bool checked);

  // Exports the menu at `path`; false (with a warning) when it cannot.
  bool Export(GDBusConnection* connection, const char* path);
  void Unexport();

 private:
  struct Item {
    std::string type;   // "standard" or "separator"
    std::string label;  // with '_' before the access key
    bool radio = false;
    bool checked = false;
    std::function<void()> clicked;
  };

  static void OnMethodCall(GDBusConnection* connection, const char* sender, const char* path,
                           const char* interface, const char* method, GVariant* parameters,
                           GDBusMethodInvocation* invocation, gpointer self);
  static GVariant* OnGetProperty(GDBusConnection* connection, const char* sender, const char* path,
                                 const char* interface, const char* property, GError** error,
                                 gpointer self);
  GVariant* Properties(int id) const;
  GVariant* Layout() const;
  void Clicked(int id);
  void Changed(int id);

  std::vector<Item> items_;  // id - 1
  GDBusConnection* connection_ = nullptr;
  std::string path_;
  guint registration_ = 0;
  guint revision_ = 1;
};

}  // namespace vexalo
