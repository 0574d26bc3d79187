#pragma once

#include "xmpp/messages/chatmessage.h"
#include "xmpp/stream/stanzatask.h"

namespace vexalo {

// Sends one message when started, under the task's own id, and ends.
class MessageSendTask : public StanzaTask {
 public:
  explicit MessageSendTask(StepTaskParent* parent);

  // Before Start. Its id and "from" are not used: the task's id goes out, the server fills in
  // the sender.
  void SetMessage(const ChatMessage& message) { message_ = message; }

  int ProcessStart() override;

 private:
  ChatMessage message_;
};

}  // namespace vexalo
