#include "xmpp/server/pluginiqtask.h"

#include "base/runtime/logging.h"
#include "xmpp/stream/constants.h"

namespace vexalo {

PluginIqTask::PluginIqTask(StepTaskParent* parent, const XmlElem& request)
    : StanzaTask(parent, kLevelFirst),
      request_(std::make_unique<XmlElem>(request)),
      plugin_id_(request.GetAttribute(kQnId)) {
  if (request.HasAttribute(kQnTo)) to_ = XmppAddress(request.GetAttribute(kQnTo));
}

bool PluginIqTask::HandleStanza(const XmlElem& stanza) {
  if (state() != STATE_RESPONSE || !MatchResponseIq(stanza, to_, task_id())) return false;
  const std::string& type = stanza.GetAttribute(kQnType);
  if (type != kStrResult && type != kStrError) return false;
  QueueStanza(stanza);
  return true;
}

int PluginIqTask::ProcessStart() {
  const std::string& type = request_->GetAttribute(kQnType);
  const bool to_ok = !request_->HasAttribute(kQnTo) || to_.IsValid();
  if (request_->Name() != kQnIq || (type != kStrGet && type != kStrSet) || !to_ok) {
    LOG(kWarning) << "PluginIqTask::ProcessStart - plug-in request refused";
    request_.reset();
    SignalAnswer(Outcome::kRefused, nullptr);
    return STATE_DONE;
  }
  request_->SetAttribute(kQnId, task_id());
  // Our server stamps the sender itself; the stream declares the client namespace already.
  request_->RemoveAttribute(kQnFrom);
  if (request_->GetAttribute(kQnXmlns) == kNsClient) request_->RemoveAttribute(kQnXmlns);
  const EngineResult sent = SendStanza(*request_);
  request_.reset();
  if (sent != EngineResult::kOk) return STATE_ERROR;
  return STATE_RESPONSE;
}

int PluginIqTask::ProcessResponse() {
  if (const XmlElem* answer = NextStanza()) {
    XmlElem reported(*answer);
    // A plug-in that sent no id learns the one used (the task's).
    if (!plugin_id_.empty()) reported.SetAttribute(kQnId, plugin_id_);
    SignalAnswer(answer->GetAttribute(kQnType) == kStrResult ? Outcome::kResult : Outcome::kError,
                 &reported);
    return STATE_DONE;
  }
  if (ElapsedTime() >= timeout_) {
    SignalAnswer(Outcome::kTimeout, nullptr);
    return STATE_DONE;
  }
  return STATE_BLOCKED;
}

void PluginIqTask::Poll() {
  if (state() == STATE_RESPONSE && ElapsedTime() >= timeout_) Wake();
}

}  // namespace vexalo
