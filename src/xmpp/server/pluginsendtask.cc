#include "xmpp/server/pluginsendtask.h"

#include <memory>

#include "xmpp/stream/constants.h"

namespace vexalo {

PluginSendTask::PluginSendTask(StepTaskParent* parent, const XmppAddress& to,
                               std::string_view capability, std::string_view data)
    : AcknowledgedSetTask(parent, to), capability_(capability), data_(data) {}

void PluginSendTask::AddPayload(XmlElem* iq) {
  XmlElem* plugin = iq->AppendChild(std::make_unique<XmlElem>(kQnPlugin, true));
  plugin->AppendChild(std::make_unique<XmlElem>(kQnPluginCapability))->AppendText(capability_);
  plugin->AppendChild(std::make_unique<XmlElem>(kQnPluginData))->AppendText(data_);
  // The data may be large; it has been handed over and is not needed any more.
  data_.clear();
  data_.shrink_to_fit();
}

}  // namespace vexalo
