#include "ui/gtk/signinview.h"

#include <adwaita.h>

#include "app/accountlist.h"
#include "app/settings.h"
#include "app/settingsstore.h"
#include "app/signinmanager.h"
#include "base/runtime/secrettext.h"
#include "ui/gtk/proxycredentialsdialog.h"

namespace vexalo {
namespace {

GtkWidget* LabelledEntry(GtkWidget* grid, int row, const char* title, GtkWidget* entry) {
  GtkWidget* label = gtk_label_new_with_mnemonic(title);
  gtk_label_set_xalign(GTK_LABEL(label), 1);
  // The label names the entry for assistive technologies too.
  gtk_label_set_mnemonic_widget(GTK_LABEL(label), entry);
  gtk_widget_set_hexpand(entry, TRUE);
  gtk_grid_attach(GTK_GRID(grid), label, 0, row, 1, 1);
  gtk_grid_attach(GTK_GRID(grid), entry, 1, row, 1, 1);
  return entry;
}

}  // namespace

SignInView::SignInView(SignInManager* signin, AccountList* accounts, SettingsStore* settings)
    : signin_(signin),
      accounts_(accounts),
      settings_(settings),
      messages_(LoginMessages::ForEnvironment()) {
  GtkWidget* box = gtk_box_new(GTK_ORIENTATION_VERTICAL, 12);
  gtk_widget_set_margin_top(box, 24);
  gtk_widget_set_margin_bottom(box, 24);
  gtk_widget_set_margin_start(box, 12);
  gtk_widget_set_margin_end(box, 12);
  GtkWidget* title = gtk_label_new(messages_.Text(kMsgSignIn).c_str());
  gtk_widget_add_css_class(title, "title-1");
  gtk_box_append(GTK_BOX(box), title);

  GtkWidget* grid = gtk_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(grid), 6);
  gtk_grid_set_column_spacing(GTK_GRID(grid), 12);
  account_ = LabelledEntry(grid, 0, "_Account", gtk_entry_new());
  gtk_entry_set_placeholder_text(GTK_ENTRY(account_), "name@example.org");
  gtk_entry_set_input_purpose(GTK_ENTRY(account_), GTK_INPUT_PURPOSE_EMAIL);
  // Never shown: no peek button.
  password_ = LabelledEntry(grid, 1, "_Password", gtk_password_entry_new());
  server_ = LabelledEntry(grid, 2, "Ser_ver", gtk_entry_new());
  gtk_entry_set_placeholder_text(GTK_ENTRY(server_), "optional: host or host:port");
  remember_ = gtk_check_button_new_with_mnemonic("_Remember password");
  gtk_grid_attach(GTK_GRID(grid), remember_, 1, 3, 1, 1);
  gtk_box_append(GTK_BOX(box), grid);

  captcha_box_ = gtk_box_new(GTK_ORIENTATION_VERTICAL, 6);
  GtkWidget* captcha_text = gtk_label_new("Type the characters shown by the account service");
  gtk_label_set_wrap(GTK_LABEL(captcha_text), TRUE);
  captcha_answer_ = gtk_entry_new();
  gtk_accessible_update_property(GTK_ACCESSIBLE(captcha_answer_), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                 "Characters", -1);
  gtk_box_append(GTK_BOX(captcha_box_), captcha_text);
  gtk_box_append(GTK_BOX(captcha_box_), captcha_answer_);
  gtk_widget_set_visible(captcha_box_, FALSE);
  gtk_box_append(GTK_BOX(box), captcha_box_);

  sign_in_ = gtk_button_new_with_mnemonic(("_" + messages_.Text(kMsgSignIn)).c_str());
  gtk_widget_add_css_class(sign_in_, "suggested-action");
  gtk_widget_add_css_class(sign_in_, "pill");
  gtk_widget_set_halign(sign_in_, GTK_ALIGN_CENTER);
  gtk_box_append(GTK_BOX(box), sign_in_);

  GtkWidget* progress = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 6);
  gtk_widget_set_halign(progress, GTK_ALIGN_CENTER);
  spinner_ = gtk_spinner_new();
  status_ = gtk_label_new(nullptr);
  gtk_accessible_update_property(GTK_ACCESSIBLE(status_), GTK_ACCESSIBLE_PROPERTY_DESCRIPTION,
                                 "Sign-in progress", -1);
  gtk_box_append(GTK_BOX(progress), spinner_);
  gtk_box_append(GTK_BOX(progress), status_);
  gtk_box_append(GTK_BOX(box), progress);

  error_title_ = gtk_label_new(nullptr);
  gtk_widget_add_css_class(error_title_, "heading");
  error_ = gtk_label_new(nullptr);
  gtk_widget_add_css_class(error_, "error");
  gtk_label_set_wrap(GTK_LABEL(error_), TRUE);
  gtk_label_set_max_width_chars(GTK_LABEL(error_), 50);
  retry_ = gtk_button_new_with_mnemonic("_Retry");
  gtk_widget_set_halign(retry_, GTK_ALIGN_CENTER);
  for (GtkWidget* widget : {error_title_, error_, retry_}) {
    gtk_widget_set_visible(widget, FALSE);
    gtk_box_append(GTK_BOX(box), widget);
  }

  GtkWidget* clamp = adw_clamp_new();
  adw_clamp_set_maximum_size(ADW_CLAMP(clamp), 420);
  adw_clamp_set_child(ADW_CLAMP(clamp), box);
  GtkWidget* scroller = gtk_scrolled_window_new();
  gtk_scrolled_window_set_child(GTK_SCROLLED_WINDOW(scroller), clamp);
  gtk_widget_set_vexpand(scroller, TRUE);
  page_ = g_object_ref_sink(scroller);

  g_signal_connect(sign_in_, "clicked", G_CALLBACK(&SignInView::OnSignIn), this);
  for (GtkWidget* entry : {account_, password_, server_, captcha_answer_}) {
    g_signal_connect(entry, "activate", G_CALLBACK(&SignInView::OnSignIn), this);
  }
  g_signal_connect(retry_, "clicked", G_CALLBACK(&SignInView::OnRetry), this);
  signin_->SignalLoginState.Connect(this, &SignInView::OnLoginState);
  signin_->SignalStatus.Connect(this, &SignInView::OnStatus);
  signin_->SignalError.Connect(this, &SignInView::OnError);
  Prefill();
}

SignInView::~SignInView() {
  for (GtkWidget* widget : {sign_in_, account_, password_, server_, captcha_answer_, retry_}) {
    g_signal_handlers_disconnect_by_data(widget, this);
  }
  g_object_unref(page_);
}

void SignInView::Prefill() {
  gtk_check_button_set_active(GTK_CHECK_BUTTON(remember_), settings_->Current().store_passwords);
  const std::string& active = accounts_->active();
  if (active.empty()) return;
  gtk_editable_set_text(GTK_EDITABLE(account_), active.c_str());
  const Account& account = accounts_->Find(active);
  std::string server = account.server_host;
  if (!server.empty() && account.server_port != 0) server += ":" + std::to_string(account.server_port);
  gtk_editable_set_text(GTK_EDITABLE(server_), server.c_str());
  if (!account.password.empty()) {
    gtk_password_entry_set_show_peek_icon(GTK_PASSWORD_ENTRY(password_), FALSE);
    g_object_set(password_, "placeholder-text", "Stored password", nullptr);
  }
}

void SignInView::OnSignIn(GtkWidget*, gpointer self) { static_cast<SignInView*>(self)->SignIn(false); }

void SignInView::OnRetry(GtkButton*, gpointer self) { static_cast<SignInView*>(self)->SignIn(true); }

void SignInView::SignIn(bool retry) {
  for (GtkWidget* widget : {error_title_, error_, retry_}) gtk_widget_set_visible(widget, FALSE);
  if (!retry) {
    last_account_ = gtk_editable_get_text(GTK_EDITABLE(account_));
    last_server_ = ServerOverride();
    const std::string server = gtk_editable_get_text(GTK_EDITABLE(server_));
    if (!server.empty() && !ServerOverride::Parse(server, &last_server_)) {
      ShowError("", "The server is not a host or host:port.", false);
      return;
    }
  }
  RememberPasswords(gtk_check_button_get_active(GTK_CHECK_BUTTON(remember_)));
  if (gtk_widget_get_visible(captcha_box_)) {
    signin_->SetCaptchaAnswer(gtk_editable_get_text(GTK_EDITABLE(captcha_answer_)));
    gtk_editable_set_text(GTK_EDITABLE(captcha_answer_), "");
    gtk_widget_set_visible(captcha_box_, FALSE);
  }
  // The password leaves the entry at once; an empty one means the stored one.
  std::string clear = gtk_editable_get_text(GTK_EDITABLE(password_));
  const SecretText password = SecretText::FromClearText(clear);
  WipeString(&clear);
  gtk_editable_set_text(GTK_EDITABLE(password_), "");
  signin_->SignIn(last_account_, password, last_server_.host, last_server_.port);
}

void SignInView::RememberPasswords(bool remember) {
  Settings record = settings_->Current();
  if (record.store_passwords == remember) return;
  record.store_passwords = remember;
  settings_->Save(record, kSettingsSourceUser);
}

void SignInView::OnLoginState(LoginState state) {
  const bool busy = state == LoginState::kConnecting || state == LoginState::kAuthenticating ||
                    state == LoginState::kWaitingToReconnect;
  if (busy) {
    gtk_spinner_start(GTK_SPINNER(spinner_));
  } else {
    gtk_spinner_stop(GTK_SPINNER(spinner_));
  }
  gtk_widget_set_sensitive(sign_in_, !busy);
  if (state == LoginState::kSignedOut) Prefill();
}

void SignInView::OnStatus(const std::string& text) {
  gtk_label_set_text(GTK_LABEL(status_), text.c_str());
}

void SignInView::OnError(const std::string& text, bool retry) {
  if (text == messages_.Text(kMsgProxyAuthRequired)) {
    proxy_dialog_ = std::make_unique<ProxyCredentialsDialog>(
        gtk_widget_get_root(page_) ? GTK_WINDOW(gtk_widget_get_root(page_)) : nullptr, settings_,
        [this] { SignIn(true); });
  }
  const bool clock = text == messages_.Text(kMsgClockExplanation);
  ShowError(clock ? messages_.Text(kMsgClockCaption) : messages_.Text(kMsgErrorCaption), text,
            retry);
  if (!signin_->captcha_challenge().empty()) {
    gtk_widget_set_visible(captcha_box_, TRUE);
    gtk_widget_grab_focus(captcha_answer_);
  }
}

void SignInView::ShowError(const std::string& title, const std::string& text, bool retry) {
  gtk_label_set_text(GTK_LABEL(error_title_), title.c_str());
  gtk_label_set_text(GTK_LABEL(error_), text.c_str());
  gtk_widget_set_visible(error_title_, !title.empty());
  gtk_widget_set_visible(error_, TRUE);
  gtk_widget_set_visible(retry_, retry);
}

}  // namespace vexalo
