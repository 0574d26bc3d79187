#pragma once

#include <string>
#include <string_view>

#include "base/runtime/signal.h"
#include "xmpp/stream/stanzatask.h"
#include "xmpp/stream/xmppaddress.h"

namespace vexalo {

class PluginSendTask;

// The stanza side of the plug-in data channel ("ombrix:plugin"): receives the data that
// contacts' plug-ins send, and sends ours. The data is already encoded (Base64) by the
// plug-in host, which also decides which plug-in gets it.
class PluginDataTask : public StanzaTask {
 public:
  explicit PluginDataTask(StepTaskParent* parent);

  // Sends `data` for `capability` to `to` on a child task, returned so that the caller can
  // follow its SignalDone; null when the connection is gone.
  PluginSendTask* Send(const XmppAddress& to, std::string_view capability, std::string_view data);

  bool HandleStanza(const XmlElem& stanza) override;
  int ProcessStart() override;

  // (capability, sender as written in "from", data).
  Signal<const std::string&, const std::string&, const std::string&> SignalPluginData;

  // Whether `plugin` is declared exactly as the service writes it: a default namespace
  // declaration and nothing else.
  static bool IsPlainPluginElement(const XmlElem& plugin);
};

}  // namespace vexalo
