#pragma once

#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "p2p/client/sessionregistry.h"
#include "p2pclient/sessionpair.h"
#include "session/tunnel/tunneldescriptionformat.h"
#include "session/tunnel/tunnelsessionclient.h"
#include "support/loopbackallocator.h"
#include "xml/xmlwriter.h"

namespace vexalo {

inline const std::string kTunnelNs = "http://example.test/vexalo/tunnel";

// One signed-in party with a tunnel client, on the test's virtual clock.
struct TunnelParty {
  TunnelParty(const std::string& jid_in, VirtualQueue* queue)
      : jid(jid_in),
        allocator(queue, nullptr, PartyIp()),
        registry(&allocator, queue, nullptr),
        client(&registry, kSessionNs, &format, jid_in) {}

  std::string jid;
  LoopbackAllocator allocator;
  SessionRegistry registry;
  TunnelDescriptionFormat format{kTunnelNs};
  TunnelSessionClient client;
};

// Carries the tunnel clients' stanzas the way a server would, as text, never inside the
// sender's call.
class TunnelRouter : public SlotHost {
 public:
  void Add(TunnelParty* party) { Add(party->jid, &party->client, &party->registry); }
  void Add(const std::string& jid, SessionClient* client, SessionRegistry* registry) {
    parties_[jid] = client;
    client->SendStanza.Connect(this, [this, jid](SessionClient*, const XmlElem& stanza, bool is_reply) {
      XmlElem copy(stanza);
      copy.SetAttribute(XmlName("", "from"), jid);
      if (!is_reply) copy.SetAttribute(XmlName("", "id"), "t" + std::to_string(++ids_));
      pending_.push_back(XmlWriter::ToString(copy));
    });
    registry->RequestSignaling.Connect(this, [registry] { registry->OnSignalingReady(); });
  }
  // Moves the clock `ms` forward in 10 ms steps, delivering stanzas between steps.
  void Run(VirtualQueue* queue, int ms) {
    for (int t = 0; t < ms; t += 10) {
      Pump();
      queue->Advance(10);
    }
    Pump();
  }
  bool RunUntil(VirtualQueue* queue, const std::function<bool()>& done, int ms) {
    for (int t = 0; t < ms; t += 10) {
      if (done()) return true;
      Run(queue, 10);
    }
    return done();
  }
  void Pump() {
    while (!pending_.empty()) {
      std::unique_ptr<XmlElem> stanza = XmlElem::ParseFromString(pending_.front());
      pending_.pop_front();
      auto it = parties_.find(stanza->GetAttribute(XmlName("", "to")));
      if (it != parties_.end() && it->second->IsSessionStanza(*stanza)) {
        it->second->OnIncomingStanza(*stanza);
      }
    }
  }

 private:
  std::map<std::string, SessionClient*> parties_;
  std::deque<std::string> pending_;
  int ids_ = 0;
};

}  // namespace vexalo
