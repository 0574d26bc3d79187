#include "platform/mailtohandler.h"

#include <errno.h>
#include <gio/gdesktopappinfo.h>
#include <gio/gio.h>
#include <glib/gstdio.h>

#include "base/runtime/logging.h"
#include "platform/autostartentry.h"

namespace vexalo {

namespace {

std::string EntryContents(const std::string& executable, const std::string& product_name) {
  return DesktopEntryContents(
      executable, product_name, "/mailto %u", [](GKeyFile* file, const char* group) {
        g_key_file_set_string(file, group, G_KEY_FILE_DESKTOP_KEY_MIME_TYPE,
                              (std::string(MailtoHandler::kContentType) + ";").c_str());
        // Only a handler: the menu entry, if any, comes with the package.
        g_key_file_set_boolean(file, group, G_KEY_FILE_DESKTOP_KEY_NO_DISPLAY, TRUE);
      });
}

bool SetDefault(GAppInfo* app) {
  GError* error = nullptr;
  if (!g_app_info_set_as_default_for_type(app, MailtoHandler::kContentType, &error)) {
    LOG(kWarning) << "MailtoHandler - cannot set the default handler: " << error->message;
    g_error_free(error);
    return false;
  }
  return true;
}

}  // namespace

MailtoHandler::MailtoHandler(std::string applications_dir, std::string executable,
                             std::string product_name)
    : entry_path_(applications_dir + "/" + kDesktopId),
      executable_(std::move(executable)),
      product_name_(std::move(product_name)) {}

std::string MailtoHandler::CurrentHandler() {
  GAppInfo* app = g_app_info_get_default_for_type(kContentType, FALSE);
  if (!app) return std::string();
  const char* id = g_app_info_get_id(app);
  std::string result = id ? id : "";
  g_object_unref(app);
  return result;
}

bool MailtoHandler::Register(std::string* previous) {
  previous->clear();
  const std::string contents = EntryContents(executable_, product_name_);
  if (contents.empty()) {
    LOG(kWarning) << "MailtoHandler::Register - the program's path cannot go into an entry";
    return false;
  }
  // Written before GIO first looks at the folder: it keeps what it saw then.
  if (!WriteDesktopFile(entry_path_, contents)) return false;
  GDesktopAppInfo* ours = g_desktop_app_info_new(kDesktopId);
  // A process that looked before sees the new entry once GIO's folder monitor has caught up.
  for (int attempt = 0; !ours && attempt < kLookupAttempts; ++attempt) {
    g_usleep(kLookupPauseUs);
    ours = g_desktop_app_info_new(kDesktopId);
  }
  if (!ours) {
    LOG(kWarning) << "MailtoHandler::Register - the desktop does not see " << entry_path_;
    return false;
  }
  const std::string current = CurrentHandler();
  if (current != kDesktopId) *previous = current;
  const bool ok = SetDefault(G_APP_INFO(ours));
  g_object_unref(ours);
  return ok;
}

bool MailtoHandler::Unregister(const std::string& previous) {
  bool ok = true;
  if (CurrentHandler() == kDesktopId) {
    GDesktopAppInfo* former = previous.empty() || previous == kDesktopId
                                  ? nullptr
                                  : g_desktop_app_info_new(previous.c_str());
    if (former) {
      ok = SetDefault(G_APP_INFO(former));
      g_object_unref(former);
    } else {
      g_app_info_reset_type_associations(kContentType);
    }
  }
  if (g_remove(entry_path_.c_str()) != 0 && errno != ENOENT) {
    LOG_ERRNO(kWarning) << "MailtoHandler::Unregister - cannot remove " << entry_path_;
    ok = false;
  }
  return ok;
}

}  // namespace vexalo
