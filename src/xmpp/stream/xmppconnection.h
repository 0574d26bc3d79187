#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "base/runtime/secrettext.h"
#include "base/net/servicesocket.h"
#include "base/runtime/signal.h"
#include "base/net/socketaddress.h"
#include "base/runtime/steptask.h"
#include "xmpp/stream/preloginauthenticator.h"
#include "xmpp/stream/streamengine.h"

namespace vexalo {

// What a sign-in attempt connects with; copied by Connect.
struct ConnectionSettings {
  std::string user;  // the account's node
  std::string host;  // the account's domain
  SecretText password;
  // Presented instead of a password when the pre-login step issued one.
  SecretText auth_cookie;
  // Requested at bind time; empty leaves the choice to the server.
  std::string resource;
  bool use_tls = true;
  SocketAddress server;
  // Kept for the application (the server as configured); the connection does not use them.
  std::string server_host_name;
  uint16_t server_port = 0;
  // The name the server's certificate must carry when it is not the account's domain.
  std::string tls_server_name;
  // Lets PLAIN go over an unencrypted stream, honoured only for a server on the loopback
  // interface (a test server without TLS). Never set by the application.
  bool allow_clear_login_on_loopback = false;
  // How long one step of the sign-in (connecting, the pre-login step, each answer of the login)
  // may wait for the server before the attempt fails with kTimedOut.
  int step_timeout_ms = 30000;
};

// One sign-in attempt: a task that owns the service socket and the stream engine, runs the
// optional pre-login step, connects, pumps bytes between socket and engine and reports the
// engine's state. Protocol services are StanzaTasks below it, found through FindAncestor.
class XmppConnection : public StepTask, public SlotHost, private OutputSink, private StateListener {
 public:
  enum : int {
    STATE_PRE_XMPP_LOGIN = STATE_NEXT,
    STATE_START_XMPP_LOGIN = STATE_NEXT + 1,
  };
  // What StanzaTasks ask FindAncestor for.
  static constexpr int kAncestorCode = 0x366C1E47;
  static constexpr size_t kReadChunk = 4096;

  explicit XmppConnection(StepTaskParent* parent);
  ~XmppConnection() override;

  // Takes `socket`; `authenticator` may be null (then PLAIN with the password).
  EngineResult Connect(const ConnectionSettings& settings, std::unique_ptr<ServiceSocket> socket,
                       std::unique_ptr<PreLoginAuthenticator> authenticator);

  // The engine's error, or the pre-login step's; kNone before Connect.
  EngineError GetError() const;
  // After a refused pre-login step: what the next attempt must answer.
  std::string GetCaptchaChallenge() const;
  // After a successful pre-login step: the token it obtained.
  const std::string& GetAuthCookie() const { return auth_cookie_from_step_; }

  std::string NextId() { return engine_ ? engine_->NextId() : std::string(); }
  const XmppAddress& GetBoundAddress() const;
  EngineResult SendStanza(const XmlElem& stanza);
  EngineResult SendStanzaError(const XmlElem& request, StanzaErrorCondition condition,
                               std::string_view text);
  EngineResult AddStanzaHandler(StanzaHandler* handler, HandlerLevel level);
  EngineResult RemoveStanzaHandler(StanzaHandler* handler);
  // The application disconnects through the engine and reads its stream error.
  StreamEngine* engine() const { return engine_.get(); }
  ServiceSocket* socket() const { return socket_.get(); }

  // StepTask
  const char* StateName(int state) const override;
  int Process(int state) override;
  int ProcessStart() override;
  int ProcessResponse() override;
  StepTask* FindAncestor(int code) override;
  void Stop() override;
  // Ends a sign-in whose current step has waited past its deadline.
  void Poll() override;

  // Every engine state change; kClosed exactly once.
  Signal<EngineState> SignalStateChange;
  // Raw chunks as read (before parsing) and as written.
  Signal<const char*, size_t> SignalLogInput;
  Signal<const char*, size_t> SignalLogOutput;
  // The connection is going; every StanzaTask delivers what it queued and ends with an error.
  // Comes before the final state change.
  Signal<> SignalDisconnected;

 private:
  // OutputSink
  void WriteOutput(const char* bytes, size_t length) override;
  void StartTls(std::string_view server_name) override;
  void CloseConnection() override;
  // StateListener
  void OnEngineStateChange(EngineState state) override;

  void OnSocketConnected();
  void OnSocketReadable();
  void OnSocketClosed();
  void OnAuthDone();
  int ProcessPreLogin();
  int ProcessStartLogin();
  void SignalClosedOnce();

  std::unique_ptr<ServiceSocket> socket_;
  std::unique_ptr<StreamEngine> engine_;
  std::unique_ptr<PreLoginAuthenticator> authenticator_;
  SecretText password_;
  SecretText cookie_;
  SocketAddress server_;
  std::string server_host_name_;
  uint16_t server_port_ = 0;
  bool allow_clear_login_ = false;
  int64_t step_timeout_ = 0;  // in the runner's 100-ns units
  // The last progress of the sign-in seen by Poll, and when it was seen.
  uint64_t progress_seen_ = 0;
  int64_t progress_time_ = 0;
  bool socket_connected_ = false;
  // TLS was started and nothing has been read over it yet.
  bool tls_pending_ = false;
  EngineError pre_login_error_ = EngineError::kNone;
  std::string captcha_challenge_;
  std::string auth_cookie_from_step_;
  bool closed_signalled_ = false;
  bool delivering_signal_ = false;
  bool disconnected_signalled_ = false;
};

}  // namespace vexalo
