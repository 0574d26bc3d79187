#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/runtime/signal.h"
#include "xml/xmlelem.h"
#include "xmpp/stream/stanzatask.h"
#include "xmpp/stream/xmppaddress.h"

namespace vexalo {

// One iq request that a plug-in sends through the client, and its answer.
//
// The id on the wire is always the task's own: a plug-in's id could equal one that another
// service is waiting on and take its answer. The answer handed back carries the plug-in's id
// again, so the plug-in matches it as it sent it.
class PluginIqTask : public StanzaTask {
 public:
  static constexpr int64_t kTimeout100ns = 150'000'000;  // 15 s

  enum class Outcome : int32_t {
    kResult = 0,   // the answer is a result
    kError = 1,    // the answer is an error
    kTimeout = 2,  // no answer in time
    kRefused = 3,  // not an iq get or set with a readable "to": never sent
  };

  PluginIqTask(StepTaskParent* parent, const XmlElem& request);

  void SetTimeout(int64_t timeout_100ns) { timeout_ = timeout_100ns; }

  bool HandleStanza(const XmlElem& stanza) override;
  int ProcessStart() override;
  int ProcessResponse() override;
  void Poll() override;

  // (outcome, the answer for kResult and kError, else null).
  Signal<Outcome, const XmlElem*> SignalAnswer;

 private:
  std::unique_ptr<XmlElem> request_;
  std::string plugin_id_;
  XmppAddress to_;
  int64_t timeout_ = kTimeout100ns;
};

}  // namespace vexalo
