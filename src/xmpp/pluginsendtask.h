#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "base/signal.h"
#include "xmpp/stanzatask.h"
#include "xmpp/xmppaddress.h"

namespace vexalo {

// Sends one piece of plug-in data to a contact and waits for the acknowledgement, at most 30
// seconds.
class PluginSendTask : public StanzaTask {
 public:
  static constexpr int64_t kTimeout100ns = 300'000'000;  // 30 s

  PluginSendTask(StepTaskParent* parent, const XmppAddress& to, std::string_view capability,
                 std::string_view data);

  void SetTimeout(int64_t timeout_100ns) { timeout_ = timeout_100ns; }

  bool HandleStanza(const XmlElem& stanza) override;
  int ProcessStart() override;
  int ProcessResponse() override;
  void Poll() override;

  // True when the contact acknowledged.
  Signal<bool> SignalDone;

 private:
  XmppAddress to_;
  std::string capability_;
  std::string data_;
  int64_t timeout_ = kTimeout100ns;
};

}  // namespace vexalo
