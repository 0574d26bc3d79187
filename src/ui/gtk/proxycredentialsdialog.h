#pragma once

#include <gtk/gtk.h>

#include <functional>

namespace vexalo {

class SettingsStore;

// Asks for the proxy's user name and password when the proxy refused us; stores them in the
// settings (the password in the secret store) and tries again.
class ProxyCredentialsDialog {
 public:
  ProxyCredentialsDialog(GtkWindow* parent, SettingsStore* settings, std::function<void()> retry);
  ~ProxyCredentialsDialog();
  ProxyCredentialsDialog(const ProxyCredentialsDialog&) = delete;
  ProxyCredentialsDialog& operator=(const ProxyCredentialsDialog&) = delete;

 private:
  static void OnResponse(GtkDialog* dialog, int response, gpointer self);

  SettingsStore* settings_;
  std::function<void()> retry_;
  GtkWidget* dialog_;
  GtkWidget* user_;
  GtkWidget* password_;
};

}  // namespace vexalo
