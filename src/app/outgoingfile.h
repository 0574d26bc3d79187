#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include "app/fileprogressmeter.h"
#include "base/runtime/eventqueue.h"
#include "base/runtime/signal.h"
#include "session/tunnel/tunnelstream.h"

namespace vexalo {

// Sends one file into its tunnel as fast as the stream takes it, then waits for the receiver's
// verdict byte ('Y' kept, 'N' refused): only a kept file is reported done.
class OutgoingFile : public SlotHost {
 public:
  OutgoingFile(std::string id, std::string path, uint64_t size, EventQueue* clock);
  ~OutgoingFile() override;
  OutgoingFile(const OutgoingFile&) = delete;
  OutgoingFile& operator=(const OutgoingFile&) = delete;

  bool Open(std::string* error);
  void Attach(std::unique_ptr<TunnelStream> stream);
  bool finished() const { return finished_; }

  Signal<const std::string&, uint64_t, uint64_t> Progress;  // id, bytes, total
  Signal<const std::string&, const std::string&> Done;      // id, path
  Signal<const std::string&, const std::string&> Failed;    // id, reason

 private:
  void OnStreamEvent(DataStream* stream, int events, int error);
  void Pump();
  void ReadVerdict();
  void Finish(bool ok, const std::string& reason);

  std::string id_;
  std::string path_;
  uint64_t size_;
  EventQueue* clock_;
  FILE* file_ = nullptr;
  std::unique_ptr<TunnelStream> stream_;
  char buffer_[65536];
  size_t buffered_ = 0;
  size_t buffer_offset_ = 0;
  uint64_t sent_ = 0;
  FileProgressMeter meter_;
  bool finished_ = false;
};

}  // namespace vexalo
