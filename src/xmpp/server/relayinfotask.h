#pragma once

#include <string>
#include <vector>

#include "base/runtime/signal.h"
#include "base/net/socketaddress.h"
#include "xmpp/server/relayinfo.h"
#include "xmpp/stream/stanzatask.h"

namespace vexalo {

// The STUN and relay information for calls: asked for with Request, and pushed by the server
// when it changes (a new relay token). Lives as long as the connection.
class RelayInfoTask : public StanzaTask {
 public:
  explicit RelayInfoTask(StepTaskParent* parent);

  // Asks the server; the answer arrives as SignalRelayInfo. An error answer (a server
  // without the service) reports nothing.
  void Request();

  bool HandleStanza(const XmlElem& stanza) override;
  int ProcessStart() override;

  // (relay token, relay hosts, STUN servers), also when parts are missing.
  Signal<const std::string&, const std::vector<std::string>&, const std::vector<SocketAddress>&>
      SignalRelayInfo;

 private:
  friend class RelayInfoRequestTask;
  // The answer to a request, from the request task.
  void OnAnswer(const XmlElem& answer);
  void Report(const XmlElem& query);
};

}  // namespace vexalo
