#include "xmpp/presence/sharedstatusquerytask.h"

#include "xmpp/stream/constants.h"

namespace vexalo {

SharedStatusQueryTask::SharedStatusQueryTask(StepTaskParent* parent)
    : RequestTask(parent, kStrGet) {}

std::unique_ptr<XmlElem> SharedStatusQueryTask::MakePayload() {
  return std::make_unique<XmlElem>(kQnSharedStatusQuery, true);
}

void SharedStatusQueryTask::ReadAnswer(const XmlElem& answer) {
  const XmlElem* query = answer.FindChild(kQnSharedStatusQuery);
  if (answer.GetAttribute(kQnType) == kStrResult && query != nullptr) {
    SignalSharedStatus(SharedStatus::Parse(*query));
  }
}

}  // namespace vexalo
