#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "app/proxydetector.h"
#include "base/proxy/proxysettings.h"
#include "base/runtime/signal.h"
#include "base/runtime/signalthread.h"

namespace vexalo {

class EventQueue;
class EventSocket;

// Finds the proxy to reach the XMPP server before a sign-in: asks the machine's configuration
// on a worker thread (when auto-detection is on), then, for a proxy of unknown kind, probes it
// on the owner thread to tell an HTTP proxy from a SOCKS5 proxy. WorkDone fires on the owner
// thread with the answer in proxy(), and so does SignalDetected. Dispose of it with Destroy
// (or Dispose).
class AutoDetectProxy : public SignalThread, public ProxyDetector, public SlotHost {
 public:
  static constexpr int kProbeTimeoutMs = 2000;
  // Enough for "HTTP/" or a SOCKS5 method reply; more is never read.
  static constexpr size_t kMaxProbeReply = 256;

  AutoDetectProxy(const ProxyOptions& options, const SocketAddress& server);

  // Without a target URL (auto-detection off) the configured proxy goes straight to probing,
  // and with no proxy at all WorkDone fires before Start returns.
  void Start() override;
  // Also stops a probe in progress; the answer is then reported without its kind.
  void Cancel() override;
  void Dispose() override { Destroy(); }

  const ProxySettings& proxy() const override { return proxy_; }
  const std::string& target_url() const { return target_; }

  // The probe that draws an answer from an HTTP proxy (a status line) and from a SOCKS5
  // proxy (a method reply) alike, for `type` PROXY_HTTPS; the SOCKS5 greeting for
  // PROXY_SOCKS5.
  static std::string ProbeMessage(ProxyType type);

 protected:
  ~AutoDetectProxy() override;
  void DoWork() override;
  void OnWorkDone() override;
  void HandleMessage(QueuedMessage* msg) override;

 private:
  static constexpr uint32_t kMessageProbeTimeout = 1;
  static constexpr uint32_t kMessageNextProbe = 2;

  enum class Verdict { kWait, kFound, kSocks5, kNext };

  void Probe();
  void NextProbe();
  void OnProbeConnect(EventSocket* socket);
  void OnProbeRead(EventSocket* socket);
  void OnProbeClose(EventSocket* socket, int error);
  Verdict Judge() const;
  // Ends probing with `type` (PROXY_UNKNOWN when nothing answered) and reports.
  void Finish(ProxyType type);
  void StopProbe();

  EventQueue* owner_;
  std::string target_;
  ProxySettings proxy_;
  std::unique_ptr<EventSocket> probe_socket_;
  size_t probe_index_ = 0;
  std::string reply_;
  bool probing_ = false;
  bool cancelled_ = false;
};

}  // namespace vexalo
