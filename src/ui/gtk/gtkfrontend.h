#pragma once

#include <gtk/gtk.h>

#include <functional>
#include <memory>

#include "app/loginstate.h"
#include "base/runtime/signal.h"

namespace vexalo {

class ChatWindows;
class DesktopNotifier;
class MainView;
class PhoneWindow;
class SettingsStore;
class SettingsWindow;
class SignInView;
class TrayIcon;

// The desktop front end: one window on the GLib main loop that shows the sign-in page until
// a session starts and the main page while it lasts, with the primary menu's actions.
class GtkFrontEnd : public SlotHost {
 public:
  // Opens the display and sets up libadwaita; false (nothing shown) when there is no display.
  static bool OpenDisplay();

  // `quit` ends the program once any sign-out went out.
  GtkFrontEnd(PhoneWindow* window, SettingsStore* settings, std::function<void()> quit);
  ~GtkFrontEnd() override;
  GtkFrontEnd(const GtkFrontEnd&) = delete;
  GtkFrontEnd& operator=(const GtkFrontEnd&) = delete;

  GtkWindow* window() const { return GTK_WINDOW(window_); }

 private:
  static gboolean OnCloseRequest(GtkWindow* window, gpointer self);
  static void OnAction(GSimpleAction* action, GVariant* parameter, gpointer self);
  void Present();
  void OnLoginState(LoginState state);
  void ShowPage(const char* name);
  void ShowAbout();
  void ShowSettings();
  void SignOut();
  void Quit();

  PhoneWindow* phone_window_;
  std::function<void()> quit_;
  GtkWidget* window_;
  GtkWidget* stack_;
  GMenu* menu_;
  std::unique_ptr<SignInView> signin_view_;
  std::unique_ptr<MainView> main_view_;
  std::unique_ptr<ChatWindows> chat_windows_;
  std::unique_ptr<DesktopNotifier> notifier_;
  std::unique_ptr<SettingsWindow> settings_window_;
  std::unique_ptr<TrayIcon> tray_;
  SettingsStore* settings_;
  bool quitting_ = false;
};

}  // namespace vexalo
