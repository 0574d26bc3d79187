#pragma once

#include <string>

namespace vexalo {

// Makes the program the desktop's handler of mailto links: a hidden desktop entry in the
// user's applications folder that runs the executable with "/mailto <url>", set as the
// default application of "x-scheme-handler/mailto" through GIO.
class MailtoHandler {
 public:
  MailtoHandler(std::string applications_dir, std::string executable, std::string product_name);

  // Installs the entry and makes it the default. `previous` gets the desktop id of the handler
  // it replaced (empty when there was none, or when it was already ours).
  bool Register(std::string* previous);
  // Hands mailto links back to `previous` when that application still exists, else to the
  // desktop's own choice, and removes the entry.
  bool Unregister(const std::string& previous);

  // The desktop id of the default mailto handler, empty when there is none.
  static std::string CurrentHandler();

  const std::string& entry_path() const { return entry_path_; }

  static constexpr const char* kDesktopId = "vexalo-mailto.desktop";
  static constexpr const char* kContentType = "x-scheme-handler/mailto";
  static constexpr int kLookupAttempts = 40;
  static constexpr int kLookupPauseUs = 25000;

 private:
  std::string entry_path_;
  std::string executable_;
  std::string product_name_;
};

}  // namespace vexalo
