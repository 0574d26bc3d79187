#include "ui/gtk/desktopnotifier.h"

#include "app/settings.h"
#include "app/settingsstore.h"
#include "base/runtime/logging.h"

namespace vexalo {
namespace {

constexpr const char* kApplicationId = "im.vexalo.Vexalo";
// A notification text shows at most this many bytes of a message.
constexpr size_t kMaxBodyBytes = 200;

// Notification servers may read the body as markup: text from the network is escaped.
std::string Escaped(const std::string& text) {
  std::string cut = text.substr(0, kMaxBodyBytes);
  // Never end inside a character.
  const char* end = nullptr;
  if (!g_utf8_validate(cut.c_str(), static_cast<gssize>(cut.size()), &end)) {
    cut.resize(static_cast<size_t>(end - cut.c_str()));
  }
  gchar* escaped = g_markup_escape_text(cut.c_str(), -1);
  std::string result = escaped;
  g_free(escaped);
  return result;
}

}  // namespace

DesktopNotifier::DesktopNotifier(GtkWindow* window, SettingsStore* settings)
    : window_(window), settings_(settings) {
  GApplication* application = g_application_new(kApplicationId, G_APPLICATION_NON_UNIQUE);
  GError* error = nullptr;
  if (g_application_register(application, nullptr, &error)) {
    application_ = application;
    GSimpleAction* open = g_simple_action_new("open-chat", G_VARIANT_TYPE_STRING);
    g_signal_connect(open, "activate", G_CALLBACK(+[](GSimpleAction*, GVariant* target, gpointer self) {
                       static_cast<DesktopNotifier*>(self)->SignalOpenChat(
                           g_variant_get_string(target, nullptr));
                     }),
                     this);
    g_action_map_add_action(G_ACTION_MAP(application), G_ACTION(open));
    g_object_unref(open);
  } else {
    LOG(kInfo) << "DesktopNotifier - no notifications: " << (error ? error->message : "");
    g_clear_error(&error);
    g_object_unref(application);
  }
}

DesktopNotifier::~DesktopNotifier() {
  if (application_ != nullptr) g_object_unref(application_);
}

void DesktopNotifier::Message(const std::string& from, const std::string& body) {
  if (gtk_window_is_active(window_) || !settings_->Current().ChatNoteOn()) return;
  SendForChat(from, "Message from " + from, Escaped(body));
}

void DesktopNotifier::SubscriptionRequest(const std::string& address) {
  if (settings_->Current().NotesDisabled()) return;
  Send("request", "Contact request", Escaped(address) + " wants to see your status");
}

void DesktopNotifier::Mail(int count) {
  if (!settings_->Current().MailNoteOn()) return;
  Send("mail", count == 1 ? "1 new mail" : std::to_string(count) + " new mails", "");
}

void DesktopNotifier::Send(const char* id, const std::string& title, const std::string& body) {
  if (application_ == nullptr) return;
  GNotification* notification = g_notification_new(title.c_str());
  if (!body.empty()) g_notification_set_body(notification, body.c_str());
  g_application_send_notification(application_, id, notification);
  g_object_unref(notification);
}

void DesktopNotifier::SendForChat(const std::string& contact, const std::string& title,
                                  const std::string& body) {
  if (application_ == nullptr) return;
  GNotification* notification = g_notification_new(title.c_str());
  if (!body.empty()) g_notification_set_body(notification, body.c_str());
  g_notification_set_default_action_and_target(notification, "app.open-chat", "s",
                                                contact.c_str());
  g_application_send_notification(application_, "message", notification);
  g_object_unref(notification);
}

}  // namespace vexalo
