#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "xml/stanzasplitter.h"
#include "xml/xmlelem.h"
#include "xml/xmlerror.h"
#include "xmpp/stream/mechanismchooser.h"
#include "xmpp/stream/streamlogin.h"
#include "xmpp/stream/xmppaddress.h"

namespace vexalo {

enum class EngineState : int32_t {
  kNew = 1,      // created; configuration allowed
  kOpening = 2,  // login in progress
  kOpen = 3,     // resource bound and session established
  kClosed = 4,   // final
};

// Why the engine closed; kNone while open and after a local Disconnect.
enum class EngineError : int32_t {
  kNone = 0,
  kXmlError = 1,             // the server's XML is not acceptable (see the stream error sent)
  kStreamErrorReceived = 2,  // see GetStreamError
  kBadStreamHeader = 3,
  kAuthRejected = 4,
  kTlsFailed = 5,
  kAuthFailed = 6,
  kBindFailed = 7,
  kConnectionClosed = 8,  // the owner reported that the transport closed
  kStreamClosed = 9,      // the server closed its stream
  // Never raised by the engine: signing in found no server to try (no connection list).
  kNoConnectionList = 10,
  kTimedOut = 11,       // a step of the sign-in waited too long for the server
  kBoundElsewhere = 12,  // the server bound an address that is not the account's
  kOutOfOrder = 13,      // the server sent stanzas while the password was being checked
};

enum class EngineResult : int32_t { kOk = 0, kBadArgument = 1, kBadState = 2 };

const char* EngineStateName(EngineState state);
const char* EngineErrorName(EngineError error);

// Levels at which stanza handlers are offered incoming stanzas.
enum HandlerLevel : int32_t {
  kLevelNone = 0,     // registered but never offered stanzas
  kLevelObserve = 1,  // offered every stanza; cannot consume it
  kLevelFirst = 2,    // consuming levels, tried in this order
  kLevelSecond = 3,
  kLevelThird = 4,
  kLevelLast = 5,
};
inline constexpr int kHandlerLevelCount = 6;

// The argument of SendStanzaError; the numbers are part of the interface.
enum class StanzaErrorCondition : int32_t {
  kBadRequest = 0,
  kConflict = 1,
  kFeatureNotImplemented = 2,
  kForbidden = 3,
  kGone = 4,
  kInternalServerError = 5,
  kItemNotFound = 6,
  kJidMalformed = 7,
  kNotAcceptable = 8,
  kNotAllowed = 9,
  kPaymentRequired = 10,
  kRecipientUnavailable = 11,
  kRedirect = 12,
  kRegistrationRequired = 13,
  kRemoteServerNotFound = 14,
  kRemoteServerTimeout = 15,
  kResourceConstraint = 16,
  kServiceUnavailable = 17,
  kSubscriptionRequired = 18,
  kUndefinedCondition = 19,
  kUnexpectedRequest = 20,
};
inline constexpr int kStanzaErrorConditionCount = 21;

// Where the engine's bytes go; supplied by the connection.
class OutputSink {
 public:
  virtual ~OutputSink() = default;
  virtual void WriteOutput(const char* bytes, size_t length) = 0;
  // Everything written after this call goes over TLS.
  virtual void StartTls(std::string_view server_name) = 0;
  virtual void CloseConnection() = 0;
};

class StateListener {
 public:
  virtual ~StateListener() = default;
  virtual void OnEngineStateChange(EngineState state) = 0;
};

class StanzaHandler {
 public:
  virtual ~StanzaHandler() = default;
  // True when the stanza was consumed (ignored at kLevelObserve). Valid during the call only.
  virtual bool HandleStanza(const XmlElem& stanza) = 0;
};

class StreamEngine;
class PendingIq;

class IqResponseHandler {
 public:
  virtual ~IqResponseHandler() = default;
  // `request` is destroyed right after the call.
  virtual void OnIqResponse(const PendingIq& request, const XmlElem& response) = 0;
};

// An iq request waiting for its response; also the cookie returned by SendIq.
class PendingIq {
 public:
  PendingIq(StreamEngine* engine, std::string_view id, bool has_to, std::string_view to,
            IqResponseHandler* handler)
      : engine_(engine), id_(id), has_to_(has_to), to_(to), handler_(handler) {}

  StreamEngine* engine() const { return engine_; }
  const std::string& id() const { return id_; }
  // The request's raw "to" value; empty when it had none.
  bool has_to() const { return has_to_; }
  const std::string& to() const { return to_; }
  IqResponseHandler* handler() const { return handler_; }

 private:
  StreamEngine* engine_;
  std::string id_;
  bool has_to_;
  std::string to_;
  IqResponseHandler* handler_;
};

// The transport-independent XMPP client stream: fed the server's bytes, it parses the stream,
// runs the login, routes stanzas to handlers, matches iq responses to requests and hands back
// the bytes to write. Main thread only. Handlers may call back into the engine while a stanza
// is dispatched, but must not destroy it.
class StreamEngine : private StanzaSplitter::Owner {
 public:
  using LoginFactory = std::function<std::unique_ptr<StreamLogin>(StreamEngine& engine)>;

  // `make_login` builds the login sequence run by Connect.
  explicit StreamEngine(const LoginFactory& make_login);
  StreamEngine(const StreamEngine&) = delete;
  StreamEngine& operator=(const StreamEngine&) = delete;
  ~StreamEngine() override;

  virtual EngineResult SetOutputSink(OutputSink* sink);
  virtual EngineResult HandleInput(const char* bytes, size_t length);
  virtual void ConnectionClosed();
  virtual EngineResult SetUser(const XmppAddress& address);
  virtual const XmppAddress& GetUser() const { return user_; }
  virtual EngineResult SetMechanismChooser(std::unique_ptr<MechanismChooser> chooser);
  virtual EngineResult SetUseTls(bool use_tls);
  virtual EngineResult SetTlsServerName(std::string_view name);
  virtual bool GetUseTls() const { return use_tls_; }
  virtual EngineResult SetRequestedResource(std::string_view resource);
  virtual const std::string& GetRequestedResource() const { return requested_resource_; }
  virtual EngineResult SetStateListener(StateListener* listener);
  virtual EngineResult Connect();
  virtual EngineState GetState() const { return state_; }
  virtual bool IsEncrypted() const { return encrypted_; }
  virtual EngineError GetError() const { return error_; }
  virtual const XmlElem* GetStreamError() const { return stream_error_.get(); }
  // What was wrong with the server's XML when the error is kXmlError.
  XmlErrorKind GetXmlErrorKind() const { return xml_error_kind_; }
  // Counts the server's stream headers and stanzas read during the login, so that the owner
  // can tell a silent server from a slow sign-in.
  uint64_t login_progress() const { return login_progress_; }
  virtual EngineResult Disconnect();
  virtual EngineResult AddStanzaHandler(StanzaHandler* handler, HandlerLevel level);
  virtual EngineResult RemoveStanzaHandler(StanzaHandler* handler);
  virtual EngineResult SendStanza(const XmlElem& element);
  virtual EngineResult SendRaw(std::string_view text);
  virtual EngineResult SendIq(const XmlElem& element, IqResponseHandler* handler,
                              PendingIq** cookie_out);
  virtual EngineResult RemoveIqHandler(PendingIq* cookie, IqResponseHandler** handler_out);
  virtual EngineResult SendStanzaError(const XmlElem& request, StanzaErrorCondition condition,
                                       std::string_view text);
  virtual const XmppAddress& GetBoundAddress() const { return bound_address_; }
  // "0", "1", "2", ...
  virtual std::string NextId();

  // For the login sequence, during its steps.
  // Writes our stream header to the user's domain; parsing starts afresh after this entry.
  void OpenStream();
  // Prints a stanza now, ahead of the ones queued during login.
  void PrintStanza(const XmlElem& stanza);
  // Switches the transport to TLS (checked against the TLS server name, else `domain`); the
  // parser starts afresh after this entry.
  void StartTls(std::string_view domain);
  // Resource bound and session established.
  void OnBound(const XmppAddress& bound);
  void FailLogin(EngineError code);
  MechanismChooser* GetMechanismChooser() const { return mechanism_chooser_.get(); }
  const std::string& GetTlsServerName() const { return tls_server_name_; }

 private:
  class EntryScope;

  // StanzaSplitter::Owner
  void StreamStarted(const XmlElem& header) override;
  void StanzaReceived(const XmlElem& stanza) override;
  void StreamEnded() override;
  void StreamXmlError(const XmlError& error) override;

  void LeaveScope(EngineState entry_state);
  void Flush(bool closing);
  // Closes with `code` unless closed already. `stream_condition` names the stream error sent
  // first; our stream is ended either way unless the transport is gone.
  void RaiseError(EngineError code, std::string_view stream_condition = {});
  void WriteStreamEnd(std::string_view stream_condition);
  void DestroyLoginIfDone();
  bool DeliverIqResponse(const XmlElem& stanza);
  bool IsResponseSender(const PendingIq& request, const std::string& from) const;
  void Dispatch(const XmlElem& stanza);
  bool IsRegistered(const StanzaHandler* handler, int level) const;

  EngineState state_ = EngineState::kNew;
  EngineError error_ = EngineError::kNone;
  // The last state the listener was told of, so that re-entry cannot report one twice.
  EngineState reported_state_ = EngineState::kNew;
  XmppAddress user_;
  std::string requested_resource_;
  bool use_tls_ = true;
  std::string tls_server_name_;
  bool encrypted_ = false;
  XmppAddress bound_address_;
  std::unique_ptr<XmlElem> stream_error_;
  XmlErrorKind xml_error_kind_ = XmlErrorKind::kNone;
  uint64_t login_progress_ = 0;
  uint32_t id_counter_ = 0;
  StanzaSplitter splitter_;
  bool reset_pending_ = false;
  // The splitter is not re-entrant: input fed from inside a callback is refused.
  bool parsing_ = false;
  // Our stream header has gone out and our "</stream:stream>" has not.
  bool stream_open_ = false;
  std::unique_ptr<StreamLogin> login_;
  std::unique_ptr<MechanismChooser> mechanism_chooser_;
  OutputSink* output_ = nullptr;
  StateListener* listener_ = nullptr;
  std::vector<StanzaHandler*> handlers_[kHandlerLevelCount];
  std::vector<std::unique_ptr<PendingIq>> pending_iqs_;
  std::string out_buffer_;
  int entry_depth_ = 0;
};

}  // namespace vexalo
