#include "platform/autostartentry.h"

#include <errno.h>
#include <glib.h>
#include <glib/gstdio.h>

#include "base/runtime/logging.h"

namespace vexalo {

std::string QuoteDesktopExec(const std::string& path) {
  if (path.empty() || !g_utf8_validate(path.data(), static_cast<gssize>(path.size()), nullptr)) {
    return std::string();
  }
  std::string quoted = "\"";
  for (char c : path) {
    if (static_cast<unsigned char>(c) < 0x20 || c == 0x7f) return std::string();
    if (c == '"' || c == '`' || c == '$' || c == '\\') quoted.push_back('\\');
    if (c == '%') quoted.push_back('%');
    quoted.push_back(c);
  }
  quoted.push_back('"');
  return quoted;
}

bool WriteDesktopFile(const std::string& path, const std::string& contents) {
  char* dir = g_path_get_dirname(path.c_str());
  const int made = g_mkdir_with_parents(dir, 0700);
  g_free(dir);
  GError* error = nullptr;
  if (made != 0 ||
      !g_file_set_contents_full(path.c_str(), contents.data(), static_cast<gssize>(contents.size()),
                                G_FILE_SET_CONTENTS_CONSISTENT, 0644, &error)) {
    LOG(kWarning) << "WriteDesktopFile - cannot write " << path << ": "
                  << (error ? error->message : g_strerror(errno));
    if (error) g_error_free(error);
    return false;
  }
  return true;
}

AutostartEntry::AutostartEntry(std::string dir, std::string executable, std::string product_name)
    : dir_(std::move(dir)),
      path_(dir_ + "/" + kFileName),
      executable_(std::move(executable)),
      product_name_(std::move(product_name)) {}

std::string DesktopEntryContents(const std::string& executable, const std::string& name,
                                 const std::string& arguments,
                                 const std::function<void(GKeyFile*, const char*)>& more_keys) {
  const std::string exec = QuoteDesktopExec(executable);
  if (exec.empty()) return std::string();
  GKeyFile* file = g_key_file_new();
  const char* group = G_KEY_FILE_DESKTOP_GROUP;
  g_key_file_set_string(file, group, G_KEY_FILE_DESKTOP_KEY_TYPE, "Application");
  g_key_file_set_string(file, group, G_KEY_FILE_DESKTOP_KEY_NAME, name.c_str());
  g_key_file_set_string(file, group, G_KEY_FILE_DESKTOP_KEY_EXEC, (exec + " " + arguments).c_str());
  g_key_file_set_boolean(file, group, G_KEY_FILE_DESKTOP_KEY_TERMINAL, FALSE);
  more_keys(file, group);
  gsize length = 0;
  gchar* data = g_key_file_to_data(file, &length, nullptr);
  std::string contents(data, length);
  g_free(data);
  g_key_file_free(file);
  return contents;
}

std::string AutostartEntry::Contents() const {
  return DesktopEntryContents(executable_, product_name_, "/autostart",
                              [](GKeyFile* file, const char* group) {
                                g_key_file_set_boolean(file, group, "X-GNOME-Autostart-enabled",
                                                       TRUE);
                              });
}

bool AutostartEntry::Update(bool enabled) {
  if (!enabled) return Remove();
  const std::string contents = Contents();
  if (contents.empty()) {
    LOG(kWarning) << "AutostartEntry::Update - the program's path cannot go into an entry";
    return false;
  }
  gchar* present = nullptr;
  gsize length = 0;
  if (g_file_get_contents(path_.c_str(), &present, &length, nullptr)) {
    const bool same = std::string(present, length) == contents;
    g_free(present);
    if (same) return true;
  }
  return WriteDesktopFile(path_, contents);
}

bool AutostartEntry::Remove() {
  if (g_remove(path_.c_str()) != 0 && errno != ENOENT) {
    LOG_ERRNO(kWarning) << "AutostartEntry::Remove - cannot remove " << path_;
    return false;
  }
  return true;
}

}  // namespace vexalo
