#include "xmpp/pluginsendtask.h"

#include <memory>

#include "xmpp/constants.h"

namespace vexalo {

PluginSendTask::PluginSendTask(StepTaskParent* parent, const XmppAddress& to,
                               std::string_view capability, std::string_view data)
    : StanzaTask(parent, kLevelFirst), to_(to), capability_(capability), data_(data) {}

bool PluginSendTask::HandleStanza(const XmlElem& stanza) {
  if (!MatchResponseIq(stanza, to_, task_id())) return false;
  QueueStanza(stanza);
  return true;
}

int PluginSendTask::ProcessStart() {
  if (!to_.IsValid()) {
    SignalDone(false);
    return STATE_ERROR;
  }
  std::unique_ptr<XmlElem> iq = MakeIq(kStrSet, to_, task_id());
  XmlElem* plugin = iq->AppendChild(std::make_unique<XmlElem>(kQnPlugin, true));
  plugin->AppendChild(std::make_unique<XmlElem>(kQnPluginCapability))->AppendText(capability_);
  plugin->AppendChild(std::make_unique<XmlElem>(kQnPluginData))->AppendText(data_);
  // The data may be large; it has been handed over and is not needed any more.
  data_.clear();
  data_.shrink_to_fit();
  if (SendStanza(*iq) != EngineResult::kOk) {
    SignalDone(false);
    return STATE_ERROR;
  }
  return STATE_RESPONSE;
}

int PluginSendTask::ProcessResponse() {
  if (const XmlElem* answer = NextStanza()) {
    SignalDone(answer->GetAttribute(kQnType) == kStrResult);
    return STATE_DONE;
  }
  if (ElapsedTime() >= timeout_) {
    SignalDone(false);
    return STATE_DONE;
  }
  return STATE_BLOCKED;
}

void PluginSendTask::Poll() {
  if (state() == STATE_RESPONSE && ElapsedTime() >= timeout_) Wake();
}

}  // namespace vexalo
