#pragma once

#include <memory>
#include <optional>
#include <string>

#include "base/http/datastream.h"
#include "base/runtime/logoptions.h"

namespace vexalo {

class DataStream;

// The inviter found in the browser's cookies by the invitation bootstrap.
struct InvitationRecord {
  std::string inviter;
};

// What start-up and the main window need of services that this build does not have yet:
// crash reports, diagnostic log files, web-mail pages, stock pictures and the invitation
// bootstrap. Each default does nothing and reports that through its result; those services
// override them.
class StartupServices {
 public:
  virtual ~StartupServices() = default;

  // Installs the crash handler, before anything else runs.
  virtual void InstallCrashHandler() {}
  // The sink of the "file" and "diag" log options; null when there is none.
  virtual std::unique_ptr<DataStream> OpenLogSink(LogSinkKind kind) {
    (void)kind;
    return nullptr;
  }
  // Opens the web-mail compose page for a mailto link in the browser. False when it could not.
  virtual bool OpenMailtoComposePage(const std::string& url) {
    (void)url;
    return false;
  }
  // Prepares the stock pictures when the program is registered.
  virtual void PrepareStockPictures() {}
  // The invitation record from the browser's cookies, if there is one.
  virtual std::optional<InvitationRecord> ReadInvitation() { return std::nullopt; }
};

// Parses diagnostic-log option words and applies them to the logger, with the log file that
// `services` opens when the words ask for one.
void ApplyLogOptionText(const std::string& text, StartupServices* services);

}  // namespace vexalo
