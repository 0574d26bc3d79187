#pragma once

#include <gtk/gtk.h>

#include <memory>
#include <string>

#include "app/loginmessages.h"
#include "app/loginstate.h"
#include "app/serveroverride.h"
#include "base/runtime/signal.h"

namespace vexalo {

class SettingsStore;
class SignInManager;
class AccountList;
class ProxyCredentialsDialog;

// The sign-in page: account, password, remember, server override; progress and the login
// messages; the captcha step; Retry after an error that offers it; the proxy-credentials
// dialog when the proxy wants a password.
class SignInView : public SlotHost {
 public:
  SignInView(SignInManager* signin, AccountList* accounts, SettingsStore* settings);
  ~SignInView() override;
  SignInView(const SignInView&) = delete;
  SignInView& operator=(const SignInView&) = delete;

  GtkWidget* widget() const { return page_; }
  // Fills in the active account (after start or sign-out).
  void Prefill();

 private:
  static void OnSignIn(GtkWidget* widget, gpointer self);
  static void OnRetry(GtkButton* button, gpointer self);
  void SignIn(bool retry);
  void OnLoginState(LoginState state);
  void OnStatus(const std::string& text);
  void OnError(const std::string& text, bool retry);
  void ShowError(const std::string& title, const std::string& text, bool retry);
  void RememberPasswords(bool remember);

  SignInManager* signin_;
  AccountList* accounts_;
  SettingsStore* settings_;
  LoginMessages messages_;
  GtkWidget* page_;
  GtkWidget* account_;
  GtkWidget* password_;
  GtkWidget* remember_;
  GtkWidget* server_;
  GtkWidget* sign_in_;
  GtkWidget* spinner_;
  GtkWidget* status_;
  GtkWidget* error_title_;
  GtkWidget* error_;
  GtkWidget* retry_;
  GtkWidget* captcha_box_;
  GtkWidget* captcha_answer_;
  // What the last attempt used, for Retry.
  std::string last_account_;
  ServerOverride last_server_;
  std::unique_ptr<ProxyCredentialsDialog> proxy_dialog_;
};

}  // namespace vexalo
