#pragma once

#include <gio/gio.h>
#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "ui/gtk/audiodevicechoices.h"

namespace vexalo {

class SettingsStore;
struct Settings;

// The microphone, speaker and ringing-device rows of the settings: choices filled from the
// sound server's devices, which are read on a worker thread (asking the server may take a
// while, and the window must not wait). A choice is saved at once.
class AudioDeviceRows {
 public:
  // Adds the rows to `group` (an AdwPreferencesGroup) and starts reading the devices.
  AudioDeviceRows(GtkWidget* group, SettingsStore* settings);
  ~AudioDeviceRows();
  AudioDeviceRows(const AudioDeviceRows&) = delete;
  AudioDeviceRows& operator=(const AudioDeviceRows&) = delete;

  // Reads the devices again (the settings window was opened again).
  void Refresh();

 private:
  struct Row {
    AudioDeviceRows* owner;
    GtkWidget* combo;
    std::string Settings::*option;
    bool input;
    bool with_all_devices;
    std::vector<AudioDeviceChoice> choices;
  };

  static void LoadOnWorker(GTask* task, gpointer source, gpointer data, GCancellable* cancel);
  static void OnLoaded(GObject* source, GAsyncResult* result, gpointer self);
  static void OnSelected(GObject* combo, GParamSpec* spec, gpointer row);
  void Fill(Row* row, const std::vector<SoundDevice>& devices);

  SettingsStore* settings_;
  std::vector<Row*> rows_;
  GCancellable* cancellable_ = nullptr;
  bool filling_ = false;
};

}  // namespace vexalo
