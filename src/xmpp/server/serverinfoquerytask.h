#pragma once

#include <cstddef>
#include <memory>
#include <set>
#include <string>

#include "base/runtime/signal.h"
#include "xmpp/stream/requesttask.h"

namespace vexalo {

// Asks our own server once which features it has (disco#info of our domain), so that the
// application starts only the services the server offers: a plain XMPP server lacks the
// service's own namespaces, and asking it for them anyway only earns error answers.
class ServerInfoQueryTask : public RequestTask {
 public:
  // A server lists a few dozen; more are ignored, and overlong names skipped.
  static constexpr size_t kMaxFeatures = 256;
  static constexpr size_t kMaxFeatureLength = 1024;

  explicit ServerInfoQueryTask(StepTaskParent* parent);

  // The features ("var" values) of the answer; empty on an error answer.
  Signal<const std::set<std::string>&> SignalFeatures;

 protected:
  std::unique_ptr<XmlElem> MakePayload() override;
  XmppAddress Addressee() const override;
  // Only our domain itself answers for it.
  bool FromAddressee(const XmlElem& stanza) const override;
  void ReadAnswer(const XmlElem& answer) override;
};

}  // namespace vexalo
