#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "app/fileprogressmeter.h"
#include "app/sha256digest.h"
#include "base/runtime/eventqueue.h"
#include "base/runtime/signal.h"
#include "session/tunnel/fileoffer.h"
#include "session/tunnel/tunnelstream.h"

namespace vexalo {

// Receives one offered file from its tunnel: written under a hidden temporary name in the
// chosen folder, checked against the offered size and hash, then renamed to the offered name
// made plain, never over an existing file. Anything else removes the temporary file. The peer
// hears the verdict as one byte: 'Y' kept, 'N' refused.
class IncomingFile : public SlotHost {
 public:
  static constexpr char kAccepted = 'Y';
  static constexpr char kRefused = 'N';

  IncomingFile(std::string id, FileOffer offer, std::string folder, EventQueue* clock);
  ~IncomingFile() override;
  IncomingFile(const IncomingFile&) = delete;
  IncomingFile& operator=(const IncomingFile&) = delete;

  // Creates the temporary file; false with a reason when the folder cannot take it.
  bool Open(std::string* error);
  void Attach(std::unique_ptr<TunnelStream> stream);
  bool finished() const { return finished_; }

  Signal<const std::string&, uint64_t, uint64_t> Progress;  // id, bytes, total
  Signal<const std::string&, const std::string&> Done;      // id, final path
  Signal<const std::string&, const std::string&> Failed;    // id, reason

 private:
  void OnStreamEvent(DataStream* stream, int events, int error);
  void ReadAvailable();
  void Complete();
  bool MoveToFinalName(std::string* path);
  void Fail(const std::string& reason, bool tell_peer);
  void RemoveTemporary();

  std::string id_;
  FileOffer offer_;
  std::string folder_;
  EventQueue* clock_;
  std::unique_ptr<TunnelStream> stream_;
  std::string temporary_;
  int fd_ = -1;
  uint64_t received_ = 0;
  Sha256Digest digest_;
  FileProgressMeter meter_;
  bool finished_ = false;
};

}  // namespace vexalo
