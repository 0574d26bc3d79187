#include "ui/gtk/settingswindow.h"

#include <adwaita.h>

#include "app/settings.h"
#include "app/settingsstore.h"
#include "base/runtime/secrettext.h"
#include "ui/gtk/audiodevicerows.h"

namespace vexalo {

// One control and the option it shows.
struct SettingsWindow::Binding {
  SettingsWindow* window;
  bool Settings::*flag = nullptr;
  int32_t Settings::*note = nullptr;  // a note option: on, off or its default
  bool note_default_on = false;
  int32_t Settings::*number = nullptr;
  std::string Settings::*text = nullptr;
};

namespace {

struct FlagOption {
  const char* title;
  bool Settings::*flag;
};
struct NoteOption {
  const char* title;
  int32_t Settings::*note;
  bool default_on;
};
struct TextOption {
  const char* title;
  std::string Settings::*text;
};

GtkWidget* Group(GtkWidget* page, const char* title) {
  GtkWidget* group = adw_preferences_group_new();
  adw_preferences_group_set_title(ADW_PREFERENCES_GROUP(group), title);
  adw_preferences_page_add(ADW_PREFERENCES_PAGE(page), ADW_PREFERENCES_GROUP(group));
  return group;
}

GtkWidget* Page(GtkWidget* window, const char* title, const char* icon) {
  GtkWidget* page = adw_preferences_page_new();
  adw_preferences_page_set_title(ADW_PREFERENCES_PAGE(page), title);
  adw_preferences_page_set_icon_name(ADW_PREFERENCES_PAGE(page), icon);
  adw_preferences_window_add(ADW_PREFERENCES_WINDOW(window), ADW_PREFERENCES_PAGE(page));
  return page;
}

// A row with a control at its end, labelled by the row's title.
GtkWidget* Row(GtkWidget* group, const char* title, GtkWidget* control) {
  GtkWidget* row = adw_action_row_new();
  adw_preferences_row_set_title(ADW_PREFERENCES_ROW(row), title);
  gtk_widget_set_valign(control, GTK_ALIGN_CENTER);
  gtk_accessible_update_property(GTK_ACCESSIBLE(control), GTK_ACCESSIBLE_PROPERTY_LABEL, title,
                                 -1);
  adw_action_row_add_suffix(ADW_ACTION_ROW(row), control);
  adw_action_row_set_activatable_widget(ADW_ACTION_ROW(row), control);
  adw_preferences_group_add(ADW_PREFERENCES_GROUP(group), row);
  return control;
}

}  // namespace

SettingsWindow::SettingsWindow(GtkWindow* parent, SettingsStore* settings) : settings_(settings) {
  window_ = adw_preferences_window_new();
  gtk_window_set_transient_for(GTK_WINDOW(window_), parent);
  gtk_window_set_hide_on_close(GTK_WINDOW(window_), TRUE);
  gtk_window_set_title(GTK_WINDOW(window_), "Settings");
  const Settings& current = settings_->Current();

  auto flag_rows = [&](GtkWidget* group, std::initializer_list<FlagOption> options) {
    for (const FlagOption& option : options) {
      GtkWidget* toggle = Row(group, option.title, gtk_switch_new());
      gtk_switch_set_active(GTK_SWITCH(toggle), current.*option.flag);
      auto* binding = new Binding{this};
      binding->flag = option.flag;
      g_signal_connect_data(toggle, "notify::active", G_CALLBACK(&SettingsWindow::OnSwitch),
                            binding, &SettingsWindow::Forget, GConnectFlags(0));
    }
  };
  auto text_rows = [&](GtkWidget* group, std::initializer_list<TextOption> options) {
    for (const TextOption& option : options) {
      GtkWidget* entry = Row(group, option.title, gtk_entry_new());
      gtk_editable_set_text(GTK_EDITABLE(entry), (current.*option.text).c_str());
      auto* binding = new Binding{this};
      binding->text = option.text;
      texts_.emplace_back(entry, binding);
      g_signal_connect(entry, "activate", G_CALLBACK(&SettingsWindow::OnTextDone), this);
    }
  };
  auto number_row = [&](GtkWidget* group, const char* title, int32_t Settings::*number, int low,
                        int high) {
    GtkWidget* spin = Row(group, title, gtk_spin_button_new_with_range(low, high, 1));
    gtk_spin_button_set_value(GTK_SPIN_BUTTON(spin), current.*number);
    auto* binding = new Binding{this};
    binding->number = number;
    g_signal_connect_data(spin, "value-changed", G_CALLBACK(&SettingsWindow::OnNumber), binding,
                          &SettingsWindow::Forget, GConnectFlags(0));
  };

  GtkWidget* general = Page(window_, "General", "preferences-system-symbolic");
  flag_rows(Group(general, "Start"), {{"Start at log-in", &Settings::autostart},
                                      {"Reconnect when the connection is lost", &Settings::autorecon}});
  GtkWidget* away = Group(general, "Away");
  flag_rows(away, {{"Away while the screen saver runs", &Settings::away_screensaver},
                   {"Away when inactive", &Settings::away_inactive}});
  number_row(away, "Minutes until inactive", &Settings::inactive_minutes, 1, 240);
  flag_rows(Group(general, "Contact list"), {{"Show pictures", &Settings::show_avatars},
                                             {"Sort by activity", &Settings::sort_by_activity},
                                             {"Only contacts online", &Settings::filter_online}});

  GtkWidget* notes = Group(Page(window_, "Notifications", "preferences-system-notifications-symbolic"),
                           "Tell me about");
  const NoteOption note_options[] = {
      {"Messages", &Settings::chat_note, true},     {"Message sound", &Settings::chat_ding, true},
      {"New mail", &Settings::mail_note, true},     {"Incoming calls", &Settings::call_note, true},
      {"Ring for calls", &Settings::call_ring, true},
      {"Contacts coming online", &Settings::presence_note, false},
      {"Nothing at all", &Settings::note_disabled, false},
  };
  for (const NoteOption& option : note_options) {
    GtkWidget* toggle = Row(notes, option.title, gtk_switch_new());
    gtk_switch_set_active(GTK_SWITCH(toggle),
                          Settings::NoteOn(current.*option.note, option.default_on));
    auto* binding = new Binding{this};
    binding->note = option.note;
    binding->note_default_on = option.default_on;
    g_signal_connect_data(toggle, "notify::active", G_CALLBACK(&SettingsWindow::OnSwitch), binding,
                          &SettingsWindow::Forget, GConnectFlags(0));
  }

  GtkWidget* audio = Page(window_, "Audio", "audio-card-symbolic");
  audio_devices_ = std::make_unique<AudioDeviceRows>(Group(audio, "Devices"), settings_);
  flag_rows(Group(audio, "Levels"),
            {{"Adjust the microphone level automatically", &Settings::adjust_mic},
             {"Unmute the speaker for calls", &Settings::unmute_call},
             {"Unmute the speaker for ringing", &Settings::unmute_ring}});

  GtkWidget* connection = Page(window_, "Connection", "network-wired-symbolic");
  GtkWidget* proxy = Group(connection, "Proxy");
  flag_rows(proxy, {{"Find the proxy automatically", &Settings::autodetect_proxy}});
  text_rows(proxy, {{"Proxy host", &Settings::proxy_host}});
  number_row(proxy, "Proxy port", &Settings::proxy_port, 1, 65535);
  flag_rows(proxy, {{"The proxy needs a password", &Settings::use_proxy_auth}});
  text_rows(proxy, {{"Proxy user name", &Settings::proxy_username}});
  proxy_password_ = Row(proxy, "Proxy password", gtk_password_entry_new());
  g_signal_connect(proxy_password_, "activate", G_CALLBACK(&SettingsWindow::OnTextDone), this);
  flag_rows(Group(connection, "Calls may not use"),
            {{"Direct UDP", &Settings::disable_udp_port},
             {"STUN", &Settings::disable_stun_port},
             {"Relays", &Settings::disable_relay_port},
             {"TCP", &Settings::disable_tcp_port}});

  GtkWidget* privacy = Page(window_, "Privacy", "security-high-symbolic");
  flag_rows(Group(privacy, "Stored on this computer"),
            {{"Remember accounts", &Settings::store_accounts},
             {"Remember passwords", &Settings::store_passwords},
             {"Keep chat history", &Settings::save_chat_history}});
  flag_rows(Group(privacy, "Calls"), {{"Allow voice calls", &Settings::enable_phone}});
  g_signal_connect(window_, "close-request", G_CALLBACK(&SettingsWindow::OnClose), this);
  g_object_ref_sink(window_);
}

SettingsWindow::~SettingsWindow() {
  g_signal_handlers_disconnect_by_data(window_, this);
  for (auto& [entry, binding] : texts_) {
    g_signal_handlers_disconnect_by_data(entry, this);
    delete binding;
  }
  g_signal_handlers_disconnect_by_data(proxy_password_, this);
  audio_devices_.reset();
  gtk_window_destroy(GTK_WINDOW(window_));
  g_object_unref(window_);
}

void SettingsWindow::Present() {
  // Devices come and go while the window is hidden.
  audio_devices_->Refresh();
  gtk_window_present(GTK_WINDOW(window_));
}

void SettingsWindow::Forget(gpointer binding, GClosure*) { delete static_cast<Binding*>(binding); }

void SettingsWindow::Save(Settings record) { settings_->Save(record, kSettingsSourceUser); }

void SettingsWindow::OnSwitch(GObject* toggle, GParamSpec*, gpointer data) {
  const auto* binding = static_cast<Binding*>(data);
  const bool on = gtk_switch_get_active(GTK_SWITCH(toggle));
  Settings record = binding->window->settings_->Current();
  if (binding->flag != nullptr) {
    record.*binding->flag = on;
  } else {
    // Back to "default" when that is what the user chose: a later change of the default
    // still reaches them.
    record.*binding->note = on == binding->note_default_on ? kNoteDefault : (on ? kNoteOn : kNoteOff);
  }
  binding->window->Save(std::move(record));
}

void SettingsWindow::OnNumber(GtkSpinButton* spin, gpointer data) {
  const auto* binding = static_cast<Binding*>(data);
  Settings record = binding->window->settings_->Current();
  record.*binding->number = gtk_spin_button_get_value_as_int(spin);
  binding->window->Save(std::move(record));
}

void SettingsWindow::OnTextDone(GtkWidget*, gpointer self) {
  static_cast<SettingsWindow*>(self)->SaveTexts();
}

gboolean SettingsWindow::OnClose(GtkWindow*, gpointer self) {
  static_cast<SettingsWindow*>(self)->SaveTexts();
  return FALSE;  // hidden, kept for the next time
}

void SettingsWindow::SaveTexts() {
  Settings record = settings_->Current();
  for (const auto& [entry, binding] : texts_) {
    record.*binding->text = gtk_editable_get_text(GTK_EDITABLE(entry));
  }
  std::string clear = gtk_editable_get_text(GTK_EDITABLE(proxy_password_));
  if (!clear.empty()) {
    record.proxy_password = ProtectedString::FromPlain(&clear);
    WipeString(&clear);
    gtk_editable_set_text(GTK_EDITABLE(proxy_password_), "");
  }
  // Saving an unchanged record would still write the file.
  if (!(record == settings_->Current())) Save(std::move(record));
}

}  // namespace vexalo
