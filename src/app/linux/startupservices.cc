#include "app/linux/startupservices.h"

#include "base/runtime/logging.h"

namespace vexalo {

void ApplyLogOptionText(const std::string& text, StartupServices* services) {
  LogOptions options = ParseLogOptions(text, CurrentLogOptions());
  std::unique_ptr<DataStream> sink;
  if (options.sink != LogSinkKind::kNone) {
    sink = services->OpenLogSink(options.sink);
    if (!sink) LOG(kWarning) << "Log files are not available in this build";
  }
  ApplyLogOptions(options, std::move(sink));
}

}  // namespace vexalo
