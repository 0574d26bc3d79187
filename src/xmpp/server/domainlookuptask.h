#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/runtime/signal.h"
#include "xmpp/stream/stanzatask.h"

namespace vexalo {

// What a domain lookup found.
struct DomainResult {
  std::string domain;
  bool reachable = false;
};

// Asks the server whether a domain's users can be reached over XMPP ("ombrix:domain"). The
// answer comes once: from the server's result; on an error answer (a server without the
// service), reachable only for the web-mail domains; after the time-out, not reachable.
class DomainLookupTask : public StanzaTask {
 public:
  static constexpr int64_t kTimeout100ns = 300'000'000;  // 30 s

  DomainLookupTask(StepTaskParent* parent, std::string_view domain);

  // Replaces the time-out (100-ns units), for callers that cannot wait that long.
  void SetTimeout(int64_t timeout_100ns) { timeout_ = timeout_100ns; }

  bool HandleStanza(const XmlElem& stanza) override;
  int ProcessStart() override;
  int ProcessResponse() override;
  void Poll() override;

  Signal<const DomainResult&> SignalDomainResult;

  static bool IsWebMailDomain(std::string_view domain);

 private:
  void Report(bool reachable);

  std::string domain_;
  int64_t timeout_ = kTimeout100ns;
};

}  // namespace vexalo
