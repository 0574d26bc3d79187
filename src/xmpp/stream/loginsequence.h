#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "xml/xmlelem.h"
#include "xmpp/stream/mechanismchooser.h"
#include "xmpp/stream/streamengine.h"
#include "xmpp/stream/streamlogin.h"
#include "xmpp/stream/xmppaddress.h"

namespace vexalo {

enum LoginState : int32_t {
  kLoginOpenStream = 0,
  kLoginAwaitHeader = 1,
  kLoginAwaitFeatures = 2,
  kLoginStartTls = 3,
  kLoginStartAuth = 4,
  kLoginStartBind = 5,
  kLoginAwaitProceed = 6,
  kLoginAwaitAuth = 7,
  kLoginAwaitBind = 8,
  kLoginAwaitSession = 9,
  kLoginDone = 10,
};

// Takes a fresh connection to a bound session: stream header, STARTTLS, SASL with the engine's
// mechanism chooser, stream restarts, resource binding and the session. Stanzas the
// application sends meanwhile are kept and written right after the session is up.
class LoginSequence : public StreamLogin {
 public:
  explicit LoginSequence(StreamEngine& engine) : engine_(engine) {}

  // The factory handed to a StreamEngine.
  static std::unique_ptr<StreamLogin> Create(StreamEngine& engine) {
    return std::make_unique<LoginSequence>(engine);
  }

  void Step(const XmlElem* stanza, bool is_header) override;
  bool IsDone() const override { return state_ == kLoginDone; }
  void QueueStanza(const XmlElem& stanza) override;

  LoginState state() const { return state_; }
  const std::string& stream_id() const { return stream_id_; }

 private:
  // Runs one state; false when it must wait for the next stanza.
  bool RunState();
  bool AwaitHeader();
  bool AwaitFeatures();
  bool StartTls();
  bool AwaitProceed();
  bool StartAuth();
  bool AwaitAuth();
  bool StartBind();
  bool AwaitBind();
  bool AwaitSession();
  // The stream is bound (and the session open where the server has them): queued stanzas go.
  bool Complete();
  // Takes the offered stanza (once); null when there is none left to take.
  const XmlElem* TakeStanza();
  // An iq answer to our last bind or session request; other stanzas are not ours to judge.
  bool IsAnswerToOurIq(const XmlElem& stanza) const;
  bool Fail(EngineError code);

  StreamEngine& engine_;
  bool auth_pending_ = true;
  // STARTTLS is negotiated whenever offered; this tells a stream already switched.
  bool use_tls_ = false;
  LoginState state_ = kLoginOpenStream;
  const XmlElem* pending_ = nullptr;
  bool pending_is_header_ = false;
  std::string iq_id_;
  std::unique_ptr<XmlElem> features_;
  XmppAddress bound_;
  // Servers following the current standard may leave the session step out.
  bool session_offered_ = false;
  std::string stream_id_;
  std::vector<std::unique_ptr<XmlElem>> queued_;
  std::unique_ptr<AuthMechanism> mechanism_;
};

}  // namespace vexalo
