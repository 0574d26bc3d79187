#include "ui/gtk/audiodevicerows.h"

#include <adwaita.h>

#include "app/settings.h"
#include "app/settingsstore.h"
#include "voice/pulsedevicelist.h"

namespace vexalo {

AudioDeviceRows::AudioDeviceRows(GtkWidget* group, SettingsStore* settings) : settings_(settings) {
  struct Option {
    const char* title;
    std::string Settings::*option;
    bool input;
    bool with_all_devices;
  };
  const Option options[] = {{"Microphone", &Settings::audio_in, true, false},
                            {"Speaker", &Settings::audio_out, false, false},
                            {"Ringing on", &Settings::ring_device, false, true}};
  for (const Option& option : options) {
    GtkWidget* combo = adw_combo_row_new();
    adw_preferences_row_set_title(ADW_PREFERENCES_ROW(combo), option.title);
    adw_preferences_group_add(ADW_PREFERENCES_GROUP(group), combo);
    auto* row = new Row{this, combo, option.option, option.input, option.with_all_devices, {}};
    rows_.push_back(row);
    // What is stored shows at once; the server's devices follow.
    Fill(row, {});
    g_signal_connect(combo, "notify::selected", G_CALLBACK(&AudioDeviceRows::OnSelected), row);
  }
  Refresh();
}

AudioDeviceRows::~AudioDeviceRows() {
  if (cancellable_ != nullptr) {
    g_cancellable_cancel(cancellable_);
    g_object_unref(cancellable_);
  }
  for (Row* row : rows_) {
    g_signal_handlers_disconnect_by_data(row->combo, row);
    delete row;
  }
}

void AudioDeviceRows::Refresh() {
  if (cancellable_ != nullptr) {
    g_cancellable_cancel(cancellable_);
    g_object_unref(cancellable_);
  }
  cancellable_ = g_cancellable_new();
  GTask* task = g_task_new(nullptr, cancellable_, &AudioDeviceRows::OnLoaded, this);
  g_task_run_in_thread(task, &AudioDeviceRows::LoadOnWorker);
  g_object_unref(task);
}

void AudioDeviceRows::LoadOnWorker(GTask* task, gpointer, gpointer, GCancellable*) {
  auto* list = new PulseDeviceList;
  // Without a sound server the lists stay empty: the default device is still on offer.
  list->Load();
  g_task_return_pointer(task, list, [](gpointer p) { delete static_cast<PulseDeviceList*>(p); });
}

void AudioDeviceRows::OnLoaded(GObject*, GAsyncResult* result, gpointer self) {
  GTask* task = G_TASK(result);
  // Cancelled: the rows are gone (or a newer reading is on its way).
  if (g_cancellable_is_cancelled(g_task_get_cancellable(task))) return;
  auto* list = static_cast<PulseDeviceList*>(g_task_propagate_pointer(task, nullptr));
  if (list == nullptr) return;
  auto* rows = static_cast<AudioDeviceRows*>(self);
  for (Row* row : rows->rows_) rows->Fill(row, row->input ? list->inputs() : list->outputs());
  delete list;
}

void AudioDeviceRows::Fill(Row* row, const std::vector<SoundDevice>& devices) {
  const std::string current = settings_->Current().*row->option;
  row->choices = AudioDeviceChoice::Make(devices, row->with_all_devices, current);
  GtkStringList* labels = gtk_string_list_new(nullptr);
  for (const AudioDeviceChoice& choice : row->choices) {
    gtk_string_list_append(labels, choice.label.c_str());
  }
  filling_ = true;
  adw_combo_row_set_model(ADW_COMBO_ROW(row->combo), G_LIST_MODEL(labels));
  adw_combo_row_set_selected(ADW_COMBO_ROW(row->combo),
                             AudioDeviceChoice::IndexOf(row->choices, current));
  filling_ = false;
  g_object_unref(labels);
}

void AudioDeviceRows::OnSelected(GObject* combo, GParamSpec*, gpointer data) {
  auto* row = static_cast<Row*>(data);
  if (row->owner->filling_) return;
  const guint selected = adw_combo_row_get_selected(ADW_COMBO_ROW(combo));
  if (selected >= row->choices.size()) return;
  Settings record = row->owner->settings_->Current();
  if (record.*row->option == row->choices[selected].value) return;
  record.*row->option = row->choices[selected].value;
  row->owner->settings_->Save(record, kSettingsSourceUser);
}

}  // namespace vexalo
