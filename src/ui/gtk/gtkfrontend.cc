#include "ui/gtk/gtkfrontend.h"

#include <adwaita.h>

#include <cstring>

#include "app/linux/phonewindow.h"
#include "app/phoneapp.h"
#include "app/productidentity.h"
#include "app/signinmanager.h"
#include "ui/gtk/chatwindows.h"
#include "ui/gtk/desktopnotifier.h"
#include "ui/gtk/mainview.h"
#include "ui/gtk/settingswindow.h"
#include "xmpp/messages/chatmessage.h"
#include "ui/gtk/signinview.h"
#include "ui/gtk/trayicon.h"

namespace vexalo {
namespace {

constexpr const char* kSignInPage = "signin";
constexpr const char* kMainPage = "main";
constexpr const char* kActions[] = {"settings", "about", "signout", "quit"};

}  // namespace

bool GtkFrontEnd::OpenDisplay() {
  // The desktop file's id: desktops match the window to its launcher and icon by it.
  g_set_prgname("im.vexalo.Vexalo");
  if (!gtk_init_check()) return false;
  adw_init();
  g_set_application_name("Vexalo");
  return true;
}

GtkFrontEnd::GtkFrontEnd(PhoneWindow* window, SettingsStore* settings, std::function<void()> quit)
    : phone_window_(window), quit_(std::move(quit)), settings_(settings) {
  menu_ = g_menu_new();
  GMenu* session = g_menu_new();
  g_menu_append(session, "_Settings", "win.settings");
  g_menu_append(session, "_Sign Out", "win.signout");
  GMenu* about = g_menu_new();
  g_menu_append(about, "_About Vexalo", "win.about");
  g_menu_append(about, "_Quit", "win.quit");
  g_menu_append_section(menu_, nullptr, G_MENU_MODEL(session));
  g_menu_append_section(menu_, nullptr, G_MENU_MODEL(about));
  g_object_unref(session);
  g_object_unref(about);

  window_ = adw_window_new();
  gtk_window_set_title(GTK_WINDOW(window_), "Vexalo");
  gtk_window_set_icon_name(GTK_WINDOW(window_), "im.vexalo.Vexalo");
  gtk_window_set_default_size(GTK_WINDOW(window_), 420, 640);
  GSimpleActionGroup* actions = g_simple_action_group_new();
  for (const char* name : kActions) {
    GSimpleAction* action = g_simple_action_new(name, nullptr);
    g_signal_connect(action, "activate", G_CALLBACK(&GtkFrontEnd::OnAction), this);
    g_action_map_add_action(G_ACTION_MAP(actions), G_ACTION(action));
    g_object_unref(action);
  }
  gtk_widget_insert_action_group(window_, "win", G_ACTION_GROUP(actions));
  g_object_unref(actions);
  GtkEventController* keys = gtk_shortcut_controller_new();
  gtk_shortcut_controller_add_shortcut(
      GTK_SHORTCUT_CONTROLLER(keys),
      gtk_shortcut_new(gtk_shortcut_trigger_parse_string("<Control>q"),
                       gtk_named_action_new("win.quit")));
  gtk_shortcut_controller_add_shortcut(
      GTK_SHORTCUT_CONTROLLER(keys),
      gtk_shortcut_new(gtk_shortcut_trigger_parse_string("<Control>comma"),
                       gtk_named_action_new("win.settings")));
  gtk_widget_add_controller(window_, keys);

  stack_ = gtk_stack_new();
  if (window->signin() != nullptr) {
    signin_view_ = std::make_unique<SignInView>(window->signin(), window->accounts(), settings);
    GtkWidget* page = gtk_box_new(GTK_ORIENTATION_VERTICAL, 0);
    GtkWidget* header = adw_header_bar_new();
    GtkWidget* menu_button = gtk_menu_button_new();
    gtk_menu_button_set_icon_name(GTK_MENU_BUTTON(menu_button), "open-menu-symbolic");
    GMenu* signed_out_menu = g_menu_new();
    g_menu_append(signed_out_menu, "_Settings", "win.settings");
    g_menu_append(signed_out_menu, "_About Vexalo", "win.about");
    g_menu_append(signed_out_menu, "_Quit", "win.quit");
    gtk_menu_button_set_menu_model(GTK_MENU_BUTTON(menu_button), G_MENU_MODEL(signed_out_menu));
    gtk_menu_button_set_primary(GTK_MENU_BUTTON(menu_button), TRUE);
    g_object_unref(signed_out_menu);
    gtk_accessible_update_property(GTK_ACCESSIBLE(menu_button), GTK_ACCESSIBLE_PROPERTY_LABEL,
                                   "Main Menu", -1);
    adw_header_bar_pack_end(ADW_HEADER_BAR(header), menu_button);
    gtk_box_append(GTK_BOX(page), header);
    gtk_box_append(GTK_BOX(page), signin_view_->widget());
    gtk_stack_add_named(GTK_STACK(stack_), page, kSignInPage);
    window->signin()->SignalLoginState.Connect(this, &GtkFrontEnd::OnLoginState);
  }
  main_view_ = std::make_unique<MainView>(window->app(), G_MENU_MODEL(menu_));
  gtk_stack_add_named(GTK_STACK(stack_), main_view_->widget(), kMainPage);
  adw_window_set_content(ADW_WINDOW(window_), stack_);
  ShowPage(signin_view_ != nullptr ? kSignInPage : kMainPage);

  notifier_ = std::make_unique<DesktopNotifier>(GTK_WINDOW(window_), settings_);
  main_view_->SignalMessage.Connect(this, [this](const ChatMessage& message) {
    if (message.has_body) {
      notifier_->Message(message.from.WithoutResource().ToString(), message.body);
    }
  });
  main_view_->SignalSubscriptionRequest.Connect(
      this, [this](const std::string& address) { notifier_->SubscriptionRequest(address); });
  main_view_->SignalMail.Connect(this, [this](int count) { notifier_->Mail(count); });
  chat_windows_ = std::make_unique<ChatWindows>(window->app(), settings_, main_view_->contacts());
  main_view_->SignalMessage.Connect(
      this, [this](const ChatMessage& message) { chat_windows_->OnMessage(message); });
  main_view_->SignalOpenChat.Connect(
      this, [this](const std::string& contact) { chat_windows_->Open(contact); });
  notifier_->SignalOpenChat.Connect(
      this, [this](const std::string& contact) { chat_windows_->Open(contact); });
  g_signal_connect(window_, "close-request", G_CALLBACK(&GtkFrontEnd::OnCloseRequest), this);
  window->app()->SignalSessionStarted.Connect(
      this, [this](ChatSession*) { ShowPage(kMainPage); });
  window->SignalShow.Connect(this, &GtkFrontEnd::Present);
  window->SignalRestore.Connect(this, &GtkFrontEnd::Present);
  tray_ = std::make_unique<TrayIcon>(GTK_WINDOW(window_), main_view_->status_box(),
                                     [this] { Quit(); });
  tray_->Start();
}

GtkFrontEnd::~GtkFrontEnd() {
  g_signal_handlers_disconnect_by_data(window_, this);
  // The views hold widgets inside the window: they go first.
  settings_window_.reset();
  tray_.reset();
  chat_windows_.reset();
  gtk_window_destroy(GTK_WINDOW(window_));
  notifier_.reset();
  main_view_.reset();
  signin_view_.reset();
  g_object_unref(menu_);
}

void GtkFrontEnd::Present() { gtk_window_present(GTK_WINDOW(window_)); }

void GtkFrontEnd::OnLoginState(LoginState state) {
  if (state == LoginState::kSignedOut && signin_view_ != nullptr) ShowPage(kSignInPage);
}

void GtkFrontEnd::ShowPage(const char* name) {
  // The other page is hidden, not just covered, so that assistive technologies and keyboard
  // focus see only the page in front.
  for (const char* page : {kSignInPage, kMainPage}) {
    GtkWidget* child = gtk_stack_get_child_by_name(GTK_STACK(stack_), page);
    if (child != nullptr && std::strcmp(page, name) == 0) {
      gtk_widget_set_visible(child, TRUE);
      gtk_stack_set_visible_child(GTK_STACK(stack_), child);
    }
  }
  for (const char* page : {kSignInPage, kMainPage}) {
    GtkWidget* child = gtk_stack_get_child_by_name(GTK_STACK(stack_), page);
    if (child != nullptr && std::strcmp(page, name) != 0) gtk_widget_set_visible(child, FALSE);
  }
}

gboolean GtkFrontEnd::OnCloseRequest(GtkWindow*, gpointer self) {
  static_cast<GtkFrontEnd*>(self)->Quit();
  // The window stays until the program ends, after the sign-out went out.
  return TRUE;
}

void GtkFrontEnd::OnAction(GSimpleAction* action, GVariant*, gpointer data) {
  auto* self = static_cast<GtkFrontEnd*>(data);
  const char* name = g_action_get_name(G_ACTION(action));
  if (std::strcmp(name, "settings") == 0) {
    self->ShowSettings();
  } else if (std::strcmp(name, "about") == 0) {
    self->ShowAbout();
  } else if (std::strcmp(name, "signout") == 0) {
    self->SignOut();
  } else if (std::strcmp(name, "quit") == 0) {
    self->Quit();
  }
}

void GtkFrontEnd::ShowAbout() {
  const ProductIdentity identity = ProductIdentity::FromBuild();
  GtkWidget* about = adw_about_window_new();
  gtk_window_set_transient_for(GTK_WINDOW(about), GTK_WINDOW(window_));
  adw_about_window_set_application_name(ADW_ABOUT_WINDOW(about), identity.product_name.c_str());
  adw_about_window_set_application_icon(ADW_ABOUT_WINDOW(about), "im.vexalo.Vexalo");
  adw_about_window_set_version(ADW_ABOUT_WINDOW(about), identity.version.c_str());
  adw_about_window_set_developer_name(ADW_ABOUT_WINDOW(about), identity.company.c_str());
  adw_about_window_set_comments(ADW_ABOUT_WINDOW(about), "Instant messages and voice calls");
  gtk_window_present(GTK_WINDOW(about));
}

void GtkFrontEnd::ShowSettings() {
  if (settings_window_ == nullptr) {
    settings_window_ = std::make_unique<SettingsWindow>(GTK_WINDOW(window_), settings_);
  }
  settings_window_->Present();
}

void GtkFrontEnd::SignOut() {
  if (SignInManager* signin = phone_window_->signin()) signin->SignOut();
}

void GtkFrontEnd::Quit() {
  if (quitting_) return;
  quitting_ = true;
  gtk_widget_set_visible(window_, FALSE);
  SignInManager* signin = phone_window_->signin();
  if (signin != nullptr && signin->login_state() != LoginState::kSignedOut) signin->SignOut();
  if (quit_) quit_();
}

}  // namespace vexalo
