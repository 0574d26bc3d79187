#include "xmpp/server/plugindatatask.h"

#include <memory>

#include "xmpp/stream/constants.h"
#include "xmpp/server/pluginsendtask.h"

namespace vexalo {

PluginDataTask::PluginDataTask(StepTaskParent* parent) : StanzaTask(parent, kLevelThird) {}

bool PluginDataTask::IsPlainPluginElement(const XmlElem& plugin) {
  const XmlAttribute* attr = plugin.FirstAttribute();
  return attr != nullptr && attr->NextAttribute() == nullptr && attr->Name() == kQnXmlns &&
         attr->Value() == kNsPlugin;
}

PluginSendTask* PluginDataTask::Send(const XmppAddress& to, std::string_view capability,
                                     std::string_view data) {
  if (done() || connection() == nullptr) return nullptr;
  auto* sender = new PluginSendTask(this, to, capability, data);
  sender->Start();
  return sender;
}

bool PluginDataTask::HandleStanza(const XmlElem& stanza) {
  if (!MatchRequestIq(stanza, kStrSet, kQnPlugin)) return false;
  if (!IsPlainPluginElement(*stanza.FindChild(kQnPlugin))) return false;
  QueueStanza(stanza);
  return true;
}

int PluginDataTask::ProcessStart() {
  while (const XmlElem* push = NextStanza()) {
    std::unique_ptr<XmlElem> ack = MakeIqResult(*push);
    ack->AppendChild(std::make_unique<XmlElem>(kQnPlugin, true));
    SendStanza(*ack);
    const XmlElem* plugin = push->FindChild(kQnPlugin);
    const XmlElem* capability = plugin->FindChild(kQnPluginCapability);
    const XmlElem* data = plugin->FindChild(kQnPluginData);
    // The plug-in host answers the sender: one it cannot name gets nothing.
    if (capability == nullptr || data == nullptr || !XmppAddress(push->GetAttribute(kQnFrom)).IsValid()) {
      continue;
    }
    SignalPluginData(capability->OnlyText(), push->GetAttribute(kQnFrom), data->OnlyText());
  }
  return STATE_BLOCKED;
}

}  // namespace vexalo
