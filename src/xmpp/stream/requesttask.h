#pragma once

#include <cstdint>
#include <memory>
#include <string_view>

#include "xmpp/stream/stanzatask.h"

namespace vexalo {

// One iq request ended by its answer: sends the subclass's payload, takes the first "result"
// or "error" with the request's id from the one who may answer, and hands it to ReadAnswer.
// Optionally gives up after a time-out. The subclass says what goes out, to whom, and how the
// answer is read.
class RequestTask : public StanzaTask {
 public:
  bool HandleStanza(const XmlElem& stanza) final;
  int ProcessStart() final;
  int ProcessResponse() final;
  void Poll() override;

  static constexpr int64_t kNoTimeout = -1;
  // In the runner's 100-ns units, counted from Start; kNoTimeout (the default) waits for ever.
  void SetTimeout(int64_t timeout_100ns) { timeout_ = timeout_100ns; }

 protected:
  // `type` is "get" or "set".
  RequestTask(StepTaskParent* parent, std::string_view type);

  // The payload of the iq; null ends the task at once without sending.
  virtual std::unique_ptr<XmlElem> MakePayload() = 0;
  // Where the request goes; kEmptyAddress (the default) leaves "to" out: our own server.
  virtual XmppAddress Addressee() const { return kEmptyAddress; }
  // Whether `stanza` (an answer with our id) comes from whom we asked. The default accepts our
  // own server: no "from", our domain or our bare address.
  virtual bool FromAddressee(const XmlElem& stanza) const;
  // The answer ("result" or "error"); the task ends afterwards.
  virtual void ReadAnswer(const XmlElem& answer) = 0;
  // No answer came within the time-out; the task ends afterwards.
  virtual void OnTimeout() {}

  bool sent() const { return sent_; }
  bool answered() const { return answered_; }

 private:
  std::string_view type_;
  int64_t timeout_ = kNoTimeout;
  bool sent_ = false;
  bool answered_ = false;
  bool timed_out_ = false;
};

}  // namespace vexalo
