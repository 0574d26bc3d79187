#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/protectedstring.h"
#include "platform/regvalue.h"

namespace vexalo {

// A window position in screen pixels; all -1 when none was saved.
struct WindowRect {
  int32_t left = -1;
  int32_t top = -1;
  int32_t right = -1;
  int32_t bottom = -1;

  int64_t width() const { return int64_t{right} - left; }
  int64_t height() const { return int64_t{bottom} - top; }
  bool operator==(const WindowRect& other) const = default;
};

// Values of a note option.
inline constexpr int32_t kNoteOff = 0;
inline constexpr int32_t kNoteOn = 1;
inline constexpr int32_t kNoteDefault = 2;  // the option's own default, see each option

// The device names that stand for the system's default device and for every device.
inline constexpr const char* kDefaultAudioDevice = "Standardgerät";
inline constexpr const char* kAllAudioDevices = "Alle Geräte";

// The user's options: one record, compared and saved as a whole. The member initialisers are
// the defaults; the order of VisitOptions is the order of reading and writing.
struct Settings {
  bool autostart = true;
  bool autorecon = true;
  bool store_accounts = true;
  bool store_passwords = true;
  bool enable_phone = true;
  bool save_chat_history = true;
  bool away_screensaver = true;
  bool away_inactive = true;
  int32_t inactive_minutes = 5;
  bool sort_by_activity = true;
  bool show_avatars = true;
  bool filter_online = false;
  bool filter_lettrio_contacts = false;
  bool filter_callable = false;
  bool show_quicklist = true;
  bool view_show_taskbutton = true;
  bool view_alwaysontop = false;
  bool show_pin = false;
  bool view_as_appbar = false;
  bool autohide_appbar = false;
  bool minimized = false;
  WindowRect windowrect;
  int32_t dockededge = 0;
  WindowRect dockedrect;
  WindowRect chatrect;
  int32_t call_ring = kNoteDefault;      // default on
  int32_t call_note = kNoteDefault;      // default on
  int32_t chat_ding = kNoteDefault;      // default on
  int32_t chat_note = kNoteDefault;      // default on
  int32_t mail_note = kNoteDefault;      // default on
  int32_t presence_note = kNoteDefault;  // default off
  int32_t note_disabled = kNoteDefault;  // default off
  bool autodetect_proxy = true;
  std::string proxy_host;
  int32_t proxy_port = 1080;
  bool use_proxy_auth = false;
  std::string proxy_username;
  ProtectedString proxy_password;
  bool disable_udp_port = false;
  bool disable_stun_port = false;
  bool disable_relay_port = false;
  bool disable_tcp_port = false;
  int32_t firewall_option = 0;
  std::string firewall_host;
  int32_t firewall_port = 1080;
  std::string audio_out = kDefaultAudioDevice;
  std::string audio_in = kDefaultAudioDevice;
  std::string ring_device = kAllAudioDevices;
  bool adjust_mic = true;
  bool unmute_call = true;
  bool unmute_ring = true;
  std::string theme;
  bool mailto_is_registered = false;
  RegValue mailto_backup_handler = RegValue::String("");
  RegValue mailto_backup_icon = RegValue::String("");
  bool welcome_shown = false;
  bool logged_in_once = false;
  std::string version_seen;
  std::string font_name = "Arial";
  int32_t font_size = -12;
  int32_t font_weight = 400;
  bool font_italic = false;
  int32_t font_charset = 1;
  bool migrated_777 = false;
  std::string api;
  // Largest file accepted from a contact, in megabytes.
  int32_t max_file_megabytes = 4096;

  // Run-time modes of the user interface: compared like the options, never stored. A change
  // of the first from 0 to another value fetches the roster again.
  int32_t transient_mode1 = 2;
  int32_t transient_mode2 = 2;

  bool operator==(const Settings& other) const = default;

  // Effective values of the note options: 2 means the option's default, and nothing is on
  // while note_disabled is.
  static bool NoteOn(int32_t value, bool default_on) {
    return value == kNoteOn || (value == kNoteDefault && default_on);
  }
  bool NotesDisabled() const { return NoteOn(note_disabled, false); }
  bool CallRingOn() const { return !NotesDisabled() && NoteOn(call_ring, true); }
  bool CallNoteOn() const { return !NotesDisabled() && NoteOn(call_note, true); }
  bool ChatDingOn() const { return !NotesDisabled() && NoteOn(chat_ding, true); }
  bool ChatNoteOn() const { return !NotesDisabled() && NoteOn(chat_note, true); }
  bool MailNoteOn() const { return !NotesDisabled() && NoteOn(mail_note, true); }
  bool PresenceNoteOn() const { return !NotesDisabled() && NoteOn(presence_note, false); }

  bool FontDiffers(const Settings& other) const {
    return font_name != other.font_name || font_size != other.font_size ||
           font_weight != other.font_weight || font_italic != other.font_italic ||
           font_charset != other.font_charset;
  }
};

// Calls the visitor once per stored option, in record order:
// Bool, Int, Note, Rect, String, Blob or Protected (name, field).
template <typename S, typename V>
void VisitOptions(S& s, V& v) {
  v.Bool("autostart", s.autostart);
  v.Bool("autorecon", s.autorecon);
  v.Bool("store_accounts", s.store_accounts);
  v.Bool("store_passwords", s.store_passwords);
  v.Bool("enable_phone", s.enable_phone);
  v.Bool("save_chat_history", s.save_chat_history);
  v.Bool("away_screensaver", s.away_screensaver);
  v.Bool("away_inactive", s.away_inactive);
  v.Int("inactive_minutes", s.inactive_minutes);
  v.Bool("sort_by_activity", s.sort_by_activity);
  v.Bool("show_avatars", s.show_avatars);
  v.Bool("filter_online", s.filter_online);
  v.Bool("filter_lettrio_contacts", s.filter_lettrio_contacts);
  v.Bool("filter_callable", s.filter_callable);
  v.Bool("show_quicklist", s.show_quicklist);
  v.Bool("view_show_taskbutton", s.view_show_taskbutton);
  v.Bool("view_alwaysontop", s.view_alwaysontop);
  v.Bool("show_pin", s.show_pin);
  v.Bool("view_as_appbar", s.view_as_appbar);
  v.Bool("autohide_appbar", s.autohide_appbar);
  v.Bool("minimized", s.minimized);
  v.Rect("windowrect", s.windowrect);
  v.Int("dockededge", s.dockededge);
  v.Rect("dockedrect", s.dockedrect);
  v.Rect("chatrect", s.chatrect);
  v.Note("call_ring", s.call_ring);
  v.Note("call_note", s.call_note);
  v.Note("chat_ding", s.chat_ding);
  v.Note("chat_note", s.chat_note);
  v.Note("mail_note", s.mail_note);
  v.Note("presence_note", s.presence_note);
  v.Note("note_disabled", s.note_disabled);
  v.Bool("autodetect_proxy", s.autodetect_proxy);
  v.String("proxy_host", s.proxy_host);
  v.Int("proxy_port", s.proxy_port);
  v.Bool("use_proxy_auth", s.use_proxy_auth);
  v.String("proxy_username", s.proxy_username);
  v.Protected("proxy_password", s.proxy_password);
  v.Bool("disable_udp_port", s.disable_udp_port);
  v.Bool("disable_stun_port", s.disable_stun_port);
  v.Bool("disable_relay_port", s.disable_relay_port);
  v.Bool("disable_tcp_port", s.disable_tcp_port);
  v.Int("firewall_option", s.firewall_option);
  v.String("firewall_host", s.firewall_host);
  v.Int("firewall_port", s.firewall_port);
  v.String("audio_out", s.audio_out);
  v.String("audio_in", s.audio_in);
  v.String("ring_device", s.ring_device);
  v.Bool("adjust_mic", s.adjust_mic);
  v.Bool("unmute_call", s.unmute_call);
  v.Bool("unmute_ring", s.unmute_ring);
  v.String("theme", s.theme);
  v.Bool("mailto_is_registered", s.mailto_is_registered);
  v.Blob("mailto_backup_handler", s.mailto_backup_handler);
  v.Blob("mailto_backup_icon", s.mailto_backup_icon);
  v.Bool("welcome_shown", s.welcome_shown);
  v.Bool("logged_in_once", s.logged_in_once);
  v.String("version_seen", s.version_seen);
  v.String("font_name", s.font_name);
  v.Int("font_size", s.font_size);
  v.Int("font_weight", s.font_weight);
  v.Bool("font_italic", s.font_italic);
  v.Int("font_charset", s.font_charset);
  v.Bool("migrated_777", s.migrated_777);
  v.String("api", s.api);
  v.Int("max_file_megabytes", s.max_file_megabytes);
}

// Main window rectangles: a saved one is widened to at least kMinWindowWidth by
// kMinWindowHeight; a stored one is used on restore only when it is that large and lies wholly
// inside the work area of its nearest monitor, otherwise the window takes kDefaultWindowWidth
// by kDefaultWindowHeight at the top right of the primary monitor's work area.
inline constexpr int32_t kMinWindowWidth = 124;
inline constexpr int32_t kMinWindowHeight = 186;
inline constexpr int32_t kDefaultWindowWidth = 260;
inline constexpr int32_t kDefaultWindowHeight = 450;
WindowRect WindowRectForSave(WindowRect rect);
WindowRect WindowRectForRestore(const WindowRect& stored, const WindowRect& nearest_work_area,
                                const WindowRect& primary_work_area);

// One rule of the peer-to-peer rule filter: two flags, a value and an address ("any" is an
// empty host with port 0). What they mean belongs to the filter.
struct FirewallRule {
  int first;
  int second;
  int third;
  std::string host;
  int port = 0;
  bool operator==(const FirewallRule& other) const = default;
};

// The rules that `firewall_option` stands for, in order; none for 0 and for unknown values.
std::vector<FirewallRule> FirewallRulesFor(int32_t option, const std::string& host, int32_t port);

}  // namespace vexalo
