#pragma once

#include <gtk/gtk.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace vexalo {

class AudioDeviceRows;
class SettingsStore;
struct Settings;

// The options in pages (general, notifications, audio, connection, privacy). Every change is
// saved at once through the settings store, whose SettingsChanged tells the application.
class SettingsWindow {
 public:
  SettingsWindow(GtkWindow* parent, SettingsStore* settings);
  ~SettingsWindow();
  SettingsWindow(const SettingsWindow&) = delete;
  SettingsWindow& operator=(const SettingsWindow&) = delete;

  void Present();

 private:
  struct Binding;
  static void OnSwitch(GObject* row, GParamSpec* spec, gpointer binding);
  static void OnNumber(GtkSpinButton* spin, gpointer binding);
  static void OnTextDone(GtkWidget* widget, gpointer self);
  static gboolean OnClose(GtkWindow* window, gpointer self);
  // Texts are saved when the user presses Enter or closes the window, not at each key: every
  // save writes the settings file (and the password the secret store).
  void SaveTexts();
  static void Forget(gpointer binding, GClosure* closure);
  void Save(Settings record);

  SettingsStore* settings_;
  GtkWidget* window_;
  std::vector<std::pair<GtkWidget*, Binding*>> texts_;  // the bindings are owned here
  GtkWidget* proxy_password_ = nullptr;
  std::unique_ptr<AudioDeviceRows> audio_devices_;
};

}  // namespace vexalo
