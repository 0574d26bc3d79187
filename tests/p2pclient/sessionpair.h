#pragma once

#include <cstdlib>
#include <deque>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "base/net/socketaddress.h"
#include "p2p/client/sessionclient.h"
#include "p2p/client/sessionregistry.h"
#include "p2p/client/xmldescriptionformat.h"
#include "p2p/virtualqueue.h"
#include "support/loopbackallocator.h"
#include "xml/xmlwriter.h"

namespace vexalo {

inline const std::string kSessionNs = "http://example.test/session";
inline const std::string kTestClientNs = "http://example.test/session/test";

// The address the parties' ports bind to: a non-loopback one where the namespace script gave
// one (candidates on 127/8 are refused by the peer), else 127.0.0.1 for tests without traffic.
inline uint32_t PartyIp() {
  const char* text = getenv("VEXALO_P2P_TEST_IP");
  uint32_t ip = 0;
  if (text != nullptr && SocketAddress::StringToIP(text, &ip)) return ip;
  return 0x7F000001;
}

// One signed-in party: registry, test-namespace client and ports, all on one virtual clock.
struct SessionParty {
  SessionParty(const std::string& jid_in, VirtualQueue* queue, EventQueue* worker = nullptr)
      : jid(jid_in),
        allocator(worker ? worker : queue, nullptr, PartyIp()),
        registry(&allocator, queue, worker),
        client(&registry, kSessionNs, &format, jid_in) {}

  std::string jid;
  LoopbackAllocator allocator;
  SessionRegistry registry;
  XmlDescriptionFormat format{kTestClientNs};
  SessionClient client;
  std::vector<std::string> replies;  // what this party answered, in order
};

// Carries stanzas between parties the way a server would: the sender's JID stamped as
// "from", delivered later (never inside the sender's call), as text.
class StanzaRouter : public SlotHost {
 public:
  // Any party with `jid`, `client` (a SessionClient) and `replies`.
  template <typename Party>
  void Add(Party* party) {
    parties_[party->jid] = &party->client;
    party->client.SendStanza.Connect(
        this, [this, party](SessionClient*, const XmlElem& stanza, bool is_reply) {
          XmlElem copy(stanza);
          copy.SetAttribute(XmlName("", "from"), party->jid);
          if (!is_reply) copy.SetAttribute(XmlName("", "id"), "s" + std::to_string(++ids_));
          const std::string_view predeclared[] = {"", "jabber:client"};
          if (is_reply) party->replies.push_back(XmlWriter::ToString(copy, predeclared));
          pending_.push_back(XmlWriter::ToString(copy));
        });
  }
  // Delivers a stanza as if it came from the server.
  void Inject(const std::string& text) { pending_.push_back(text); }
  void Pump() {
    while (!pending_.empty()) {
      std::string text = pending_.front();
      pending_.pop_front();
      std::unique_ptr<XmlElem> stanza = XmlElem::ParseFromString(text);
      auto it = parties_.find(stanza->GetAttribute(XmlName("", "to")));
      if (it == parties_.end()) continue;
      if (it->second->IsSessionStanza(*stanza)) it->second->OnIncomingStanza(*stanza);
      ++delivered_;
    }
  }
  int delivered() const { return delivered_; }

 private:
  std::map<std::string, SessionClient*> parties_;
  std::deque<std::string> pending_;
  int ids_ = 0;
  int delivered_ = 0;
};

}  // namespace vexalo
