#include "xmpp/stream/streamengine.h"

#include <algorithm>
#include <utility>

#include "xml/xmlwriter.h"
#include "xmpp/stream/constants.h"

namespace vexalo {
namespace {

// The stream header declares these, so stanzas in jabber:client print without a declaration.
constexpr std::string_view kPredeclared[] = {"stream", kNsStream, "", kNsClient};

constexpr std::string_view kStreamErrorConditionNs = "urn:ietf:params:xml:ns:xmpp-streams";
constexpr std::string_view kStreamEnd = "</stream:stream>";

struct StanzaErrorInfo {
  const XmlName* name;
  std::string_view type;
  std::string_view code;
};

const StanzaErrorInfo& ErrorInfo(StanzaErrorCondition condition) {
  static const StanzaErrorInfo kTable[kStanzaErrorConditionCount] = {
      {&kQnStanzaBadRequest, "modify", "400"},
      {&kQnStanzaConflict, "cancel", "409"},
      {&kQnStanzaFeatureNotImplemented, "cancel", "501"},
      {&kQnStanzaForbidden, "auth", "403"},
      {&kQnStanzaGone, "modify", "302"},
      {&kQnStanzaInternalServerError, "wait", "500"},
      {&kQnStanzaItemNotFound, "cancel", "404"},
      {&kQnStanzaJidMalformed, "modify", "400"},
      {&kQnStanzaNotAcceptable, "cancel", "406"},
      {&kQnStanzaNotAllowed, "cancel", "405"},
      {&kQnStanzaPaymentRequired, "auth", "402"},
      {&kQnStanzaRecipientUnavailable, "wait", "404"},
      {&kQnStanzaRedirect, "modify", "302"},
      {&kQnStanzaRegistrationRequired, "auth", "407"},
      {&kQnStanzaRemoteServerNotFound, "cancel", "404"},
      {&kQnStanzaRemoteServerTimeout, "wait", "502"},
      {&kQnStanzaResourceConstraint, "wait", "500"},
      {&kQnStanzaServiceUnavailable, "cancel", "503"},
      {&kQnStanzaSubscriptionRequired, "auth", "407"},
      {&kQnStanzaUndefinedCondition, "wait", "500"},
      {&kQnStanzaUnexpectedRequest, "wait", "400"},
  };
  return kTable[static_cast<int>(condition)];
}

// The stream error condition that tells the server why its XML ended the stream.
std::string_view StreamConditionFor(XmlErrorKind kind) {
  switch (kind) {
    case XmlErrorKind::kRestrictedXml:
      return "restricted-xml";
    case XmlErrorKind::kBadNamespacePrefix:
      return "bad-namespace-prefix";
    case XmlErrorKind::kUnsupportedEncoding:
      return "unsupported-encoding";
    case XmlErrorKind::kStanzaTooLarge:
    case XmlErrorKind::kNestingTooDeep:
    case XmlErrorKind::kTooManyNamespaces:
      return "policy-violation";
    case XmlErrorKind::kOutOfMemory:
      return "resource-constraint";
    case XmlErrorKind::kNone:
    case XmlErrorKind::kNotWellFormed:
      break;
  }
  return "not-well-formed";
}

// Addresses compare as prepared JIDs, so that a server normalising case still matches; text
// that is no JID can only match itself.
bool SameAddress(std::string_view a, std::string_view b) {
  XmppAddress first(a);
  XmppAddress second(b);
  if (first.IsValid() && second.IsValid()) return first == second;
  return a == b;
}

}  // namespace

const char* EngineStateName(EngineState state) {
  switch (state) {
    case EngineState::kNew:
      return "new";
    case EngineState::kOpening:
      return "opening";
    case EngineState::kOpen:
      return "open";
    case EngineState::kClosed:
      return "closed";
  }
  return "unknown";
}

const char* EngineErrorName(EngineError error) {
  switch (error) {
    case EngineError::kNone:
      return "none";
    case EngineError::kXmlError:
      return "XML error";
    case EngineError::kStreamErrorReceived:
      return "stream error received";
    case EngineError::kBadStreamHeader:
      return "bad stream header";
    case EngineError::kAuthRejected:
      return "authentication rejected";
    case EngineError::kTlsFailed:
      return "TLS failed";
    case EngineError::kAuthFailed:
      return "authentication failed";
    case EngineError::kBindFailed:
      return "bind failed";
    case EngineError::kConnectionClosed:
      return "connection closed";
    case EngineError::kStreamClosed:
      return "stream closed";
    case EngineError::kNoConnectionList:
      return "no connection list";
    case EngineError::kTimedOut:
      return "timed out";
    case EngineError::kOutOfOrder:
      return "stanza before authentication";
    case EngineError::kBoundElsewhere:
      return "bound to another address";
  }
  return "unknown";
}

// Collects everything written during one call into the engine, so that it leaves in one write,
// and reports a state change only after those bytes are out.
class StreamEngine::EntryScope {
 public:
  explicit EntryScope(StreamEngine* engine) : engine_(engine), entry_state_(engine->state_) {
    ++engine_->entry_depth_;
  }
  EntryScope(const EntryScope&) = delete;
  EntryScope& operator=(const EntryScope&) = delete;
  ~EntryScope() { engine_->LeaveScope(entry_state_); }

 private:
  StreamEngine* engine_;
  EngineState entry_state_;
};

StreamEngine::StreamEngine(const LoginFactory& make_login) : splitter_(this) {
  if (make_login) login_ = make_login(*this);
}

StreamEngine::~StreamEngine() = default;

void StreamEngine::LeaveScope(EngineState entry_state) {
  --entry_depth_;
  const bool closing = entry_state != EngineState::kClosed && state_ == EngineState::kClosed;
  if (closing || entry_depth_ == 0) Flush(closing);
  if (entry_depth_ > 0) return;
  if (reset_pending_) {
    splitter_.Reset();
    reset_pending_ = false;
  }
  if (listener_ != nullptr && state_ != reported_state_) {
    reported_state_ = state_;
    listener_->OnEngineStateChange(state_);
  }
}

void StreamEngine::Flush(bool closing) {
  // Taken out first: the sink may call back into the engine.
  std::string bytes;
  bytes.swap(out_buffer_);
  if (output_ != nullptr && !bytes.empty()) output_->WriteOutput(bytes.data(), bytes.size());
  if (closing && output_ != nullptr) {
    OutputSink* output = output_;
    output_ = nullptr;
    output->CloseConnection();
  }
}

void StreamEngine::RaiseError(EngineError code, std::string_view stream_condition) {
  if (state_ == EngineState::kClosed) return;
  if (code == EngineError::kConnectionClosed) {
    stream_open_ = false;
  } else {
    WriteStreamEnd(stream_condition);
  }
  error_ = code;
  state_ = EngineState::kClosed;
}

void StreamEngine::WriteStreamEnd(std::string_view stream_condition) {
  if (!stream_open_) return;
  if (!stream_condition.empty()) {
    XmlElem error(kQnStreamError);
    error.AppendChild(
        std::make_unique<XmlElem>(XmlName(kStreamErrorConditionNs, stream_condition), true));
    XmlWriter::Print(out_buffer_, error, kPredeclared);
  }
  out_buffer_.append(kStreamEnd);
  stream_open_ = false;
}

EngineResult StreamEngine::SetOutputSink(OutputSink* sink) {
  if (state_ != EngineState::kNew) return EngineResult::kBadState;
  output_ = sink;
  return EngineResult::kOk;
}

EngineResult StreamEngine::HandleInput(const char* bytes, size_t length) {
  if (state_ != EngineState::kOpening && state_ != EngineState::kOpen) {
    return EngineResult::kBadState;
  }
  if (parsing_) return EngineResult::kBadState;
  if (bytes == nullptr && length > 0) return EngineResult::kBadArgument;
  if (length == 0) return EngineResult::kOk;
  EntryScope scope(this);
  parsing_ = true;
  splitter_.Parse(bytes, length, false);
  parsing_ = false;
  return EngineResult::kOk;
}

void StreamEngine::ConnectionClosed() {
  if (state_ == EngineState::kClosed) return;
  EntryScope scope(this);
  RaiseError(EngineError::kConnectionClosed);
}

EngineResult StreamEngine::SetUser(const XmppAddress& address) {
  if (state_ != EngineState::kNew) return EngineResult::kBadState;
  user_ = address;
  return EngineResult::kOk;
}

EngineResult StreamEngine::SetMechanismChooser(std::unique_ptr<MechanismChooser> chooser) {
  if (state_ != EngineState::kNew) return EngineResult::kBadState;
  mechanism_chooser_ = std::move(chooser);
  return EngineResult::kOk;
}

EngineResult StreamEngine::SetUseTls(bool use_tls) {
  if (state_ != EngineState::kNew) return EngineResult::kBadState;
  use_tls_ = use_tls;
  return EngineResult::kOk;
}

EngineResult StreamEngine::SetTlsServerName(std::string_view name) {
  if (state_ != EngineState::kNew) return EngineResult::kBadState;
  tls_server_name_.assign(name);
  return EngineResult::kOk;
}

EngineResult StreamEngine::SetRequestedResource(std::string_view resource) {
  if (state_ != EngineState::kNew) return EngineResult::kBadState;
  requested_resource_.assign(resource);
  return EngineResult::kOk;
}

EngineResult StreamEngine::SetStateListener(StateListener* listener) {
  if (state_ != EngineState::kNew) return EngineResult::kBadState;
  listener_ = listener;
  return EngineResult::kOk;
}

EngineResult StreamEngine::Connect() {
  if (state_ != EngineState::kNew || login_ == nullptr) return EngineResult::kBadState;
  // The stream is opened to the user's domain; there is nothing to open it to without one.
  if (!user_.IsValid()) return EngineResult::kBadArgument;
  EntryScope scope(this);
  state_ = EngineState::kOpening;
  login_->Step(nullptr, false);
  DestroyLoginIfDone();
  return EngineResult::kOk;
}

EngineResult StreamEngine::Disconnect() {
  if (state_ == EngineState::kClosed) return EngineResult::kOk;
  EntryScope scope(this);
  WriteStreamEnd({});
  state_ = EngineState::kClosed;
  return EngineResult::kOk;
}

EngineResult StreamEngine::AddStanzaHandler(StanzaHandler* handler, HandlerLevel level) {
  if (state_ == EngineState::kClosed) return EngineResult::kBadState;
  if (handler == nullptr || level < kLevelNone || level > kLevelLast) {
    return EngineResult::kBadArgument;
  }
  handlers_[level].push_back(handler);
  return EngineResult::kOk;
}

EngineResult StreamEngine::RemoveStanzaHandler(StanzaHandler* handler) {
  bool found = false;
  for (std::vector<StanzaHandler*>& list : handlers_) {
    auto end = std::remove(list.begin(), list.end(), handler);
    found = found || end != list.end();
    list.erase(end, list.end());
  }
  return found ? EngineResult::kOk : EngineResult::kBadArgument;
}

EngineResult StreamEngine::SendStanza(const XmlElem& element) {
  if (state_ == EngineState::kClosed) return EngineResult::kBadState;
  EntryScope scope(this);
  if (login_ != nullptr) {
    login_->QueueStanza(element);
  } else {
    XmlWriter::Print(out_buffer_, element, kPredeclared);
  }
  return EngineResult::kOk;
}

EngineResult StreamEngine::SendRaw(std::string_view text) {
  if (state_ == EngineState::kClosed || login_ != nullptr) return EngineResult::kBadState;
  EntryScope scope(this);
  out_buffer_.append(text);
  return EngineResult::kOk;
}

EngineResult StreamEngine::SendIq(const XmlElem& element, IqResponseHandler* handler,
                                  PendingIq** cookie_out) {
  if (state_ == EngineState::kClosed) return EngineResult::kBadState;
  const std::string& type = element.GetAttribute(kQnType);
  if (handler == nullptr || element.Name() != kQnIq || (type != kStrGet && type != kStrSet) ||
      !element.HasAttribute(kQnId)) {
    return EngineResult::kBadArgument;
  }
  auto record =
      std::make_unique<PendingIq>(this, element.GetAttribute(kQnId), element.HasAttribute(kQnTo),
                                  element.GetAttribute(kQnTo), handler);
  PendingIq* cookie = record.get();
  pending_iqs_.push_back(std::move(record));
  SendStanza(element);
  if (cookie_out != nullptr) *cookie_out = cookie;
  return EngineResult::kOk;
}

EngineResult StreamEngine::RemoveIqHandler(PendingIq* cookie, IqResponseHandler** handler_out) {
  auto it =
      std::find_if(pending_iqs_.begin(), pending_iqs_.end(),
                   [cookie](const std::unique_ptr<PendingIq>& p) { return p.get() == cookie; });
  if (it == pending_iqs_.end()) return EngineResult::kBadArgument;
  if (handler_out != nullptr) *handler_out = (*it)->handler();
  pending_iqs_.erase(it);
  return EngineResult::kOk;
}

EngineResult StreamEngine::SendStanzaError(const XmlElem& request, StanzaErrorCondition condition,
                                           std::string_view text) {
  if (state_ == EngineState::kClosed) return EngineResult::kBadState;
  const int index = static_cast<int>(condition);
  if (index < 0 || index >= kStanzaErrorConditionCount) return EngineResult::kBadArgument;
  const StanzaErrorInfo& info = ErrorInfo(condition);

  XmlElem reply(request.Name());
  reply.AppendAttribute(kQnType, kStrError);
  for (const XmlAttribute* attr = request.FirstAttribute(); attr != nullptr;
       attr = attr->NextAttribute()) {
    if (attr->Name() == kQnTo || attr->Name() == kQnType) continue;
    reply.AppendAttribute(attr->Name() == kQnFrom ? kQnTo : attr->Name(), attr->Value());
  }
  for (const XmlNode* node = request.FirstNode(); node != nullptr; node = node->NextNode()) {
    if (const XmlTextNode* text_node = node->ToText()) {
      reply.AppendChild(std::make_unique<XmlTextNode>(text_node->Text()));
    } else {
      reply.AppendChild(std::make_unique<XmlElem>(*node->ToElement()));
    }
  }
  XmlElem* error = reply.AppendChild(std::make_unique<XmlElem>(kQnError));
  error->AppendAttribute(kQnCode, info.code);
  error->AppendAttribute(kQnType, info.type);
  error->AppendChild(std::make_unique<XmlElem>(*info.name, true));
  if (!text.empty()) {
    XmlElem* text_elem = error->AppendChild(std::make_unique<XmlElem>(kQnStanzaText, true));
    text_elem->AppendText(text);
  }
  return SendStanza(reply);
}

std::string StreamEngine::NextId() { return std::to_string(id_counter_++); }

void StreamEngine::OpenStream() {
  EntryScope scope(this);
  out_buffer_.append("<stream:stream to=\"");
  XmlWriter::AppendEscapedAttribute(out_buffer_, user_.DomainPart());
  out_buffer_.append("\" version=\"1.0\" xmlns:stream=\"");
  out_buffer_.append(kNsStream);
  out_buffer_.append("\" xmlns=\"");
  out_buffer_.append(kNsClient);
  out_buffer_.append("\">\r\n");
  stream_open_ = true;
  reset_pending_ = true;
}

void StreamEngine::PrintStanza(const XmlElem& stanza) {
  if (state_ == EngineState::kClosed) return;
  EntryScope scope(this);
  XmlWriter::Print(out_buffer_, stanza, kPredeclared);
}

void StreamEngine::StartTls(std::string_view domain) {
  if (state_ == EngineState::kClosed) return;
  if (output_ != nullptr) {
    // What was written so far belongs before the switch.
    Flush(false);
    output_->StartTls(tls_server_name_.empty() ? domain : std::string_view(tls_server_name_));
    encrypted_ = true;
  }
  reset_pending_ = true;
}

void StreamEngine::OnBound(const XmppAddress& bound) {
  if (state_ != EngineState::kOpening) return;
  bound_address_ = bound;
  state_ = EngineState::kOpen;
  // Only a server that signed us in may send the large results of a session.
  splitter_.SetMaxStanzaBytes(kMaxSignedInStanzaBytes);
}

void StreamEngine::FailLogin(EngineError code) {
  EntryScope scope(this);
  RaiseError(code);
}

void StreamEngine::DestroyLoginIfDone() {
  if (login_ != nullptr && login_->IsDone()) login_.reset();
}

void StreamEngine::StreamStarted(const XmlElem& header) {
  if (state_ == EngineState::kClosed || reset_pending_) return;
  if (login_ == nullptr) {
    // A stream restart is only ever asked for by the login.
    RaiseError(EngineError::kXmlError, "not-well-formed");
    return;
  }
  ++login_progress_;
  login_->Step(&header, true);
  DestroyLoginIfDone();
}

void StreamEngine::StanzaReceived(const XmlElem& stanza) {
  if (state_ == EngineState::kClosed || reset_pending_) return;
  if (stanza.Name() == kQnStreamError) {
    stream_error_ = std::make_unique<XmlElem>(stanza);
    RaiseError(EngineError::kStreamErrorReceived);
    return;
  }
  if (login_ != nullptr) {
    ++login_progress_;
    login_->Step(&stanza, false);
    DestroyLoginIfDone();
    return;
  }
  if (DeliverIqResponse(stanza)) return;
  Dispatch(stanza);
}

void StreamEngine::StreamEnded() {
  if (state_ == EngineState::kClosed || reset_pending_) return;
  RaiseError(EngineError::kStreamClosed);
}

void StreamEngine::StreamXmlError(const XmlError& error) {
  if (state_ == EngineState::kClosed || reset_pending_) return;
  xml_error_kind_ = error.kind;
  RaiseError(EngineError::kXmlError, StreamConditionFor(error.kind));
}

bool StreamEngine::DeliverIqResponse(const XmlElem& stanza) {
  if (pending_iqs_.empty() || stanza.Name() != kQnIq || !stanza.HasAttribute(kQnId)) return false;
  const std::string& type = stanza.GetAttribute(kQnType);
  if (type != kStrResult && type != kStrError) return false;
  const std::string& id = stanza.GetAttribute(kQnId);
  const std::string& from = stanza.GetAttribute(kQnFrom);
  for (auto it = pending_iqs_.begin(); it != pending_iqs_.end(); ++it) {
    if ((*it)->id() != id || !IsResponseSender(**it, from)) continue;
    std::unique_ptr<PendingIq> request = std::move(*it);
    pending_iqs_.erase(it);
    request->handler()->OnIqResponse(*request, stanza);
    return true;
  }
  return false;
}

// Only the entity a request went to may answer it; ids alone are guessable. Requests without
// a "to" (or to our own account or server) are answered by the server, which may leave out
// "from" or put our account or its domain there.
bool StreamEngine::IsResponseSender(const PendingIq& request, const std::string& from) const {
  const XmppAddress own_bare = bound_address_.IsValid() ? bound_address_.WithoutResource() : user_;
  const XmppAddress server(user_.DomainPart());
  auto is_own_side = [&](std::string_view text) {
    XmppAddress address(text);
    return address.IsValid() && (address == own_bare || address == server ||
                                 (bound_address_.IsValid() && address == bound_address_));
  };
  const bool to_server = !request.has_to() || request.to().empty() ||
                         (is_own_side(request.to()) && XmppAddress(request.to()) != bound_address_);
  if (to_server) return from.empty() || is_own_side(from);
  return SameAddress(request.to(), from);
}

bool StreamEngine::IsRegistered(const StanzaHandler* handler, int level) const {
  const std::vector<StanzaHandler*>& list = handlers_[level];
  return std::find(list.begin(), list.end(), handler) != list.end();
}

void StreamEngine::Dispatch(const XmlElem& stanza) {
  // Handlers may add or remove handlers while being called: work on a copy of each list, and
  // skip those removed meanwhile (they may be gone).
  for (int level = kLevelObserve; level <= kLevelLast; ++level) {
    const std::vector<StanzaHandler*> snapshot = handlers_[level];
    for (StanzaHandler* handler : snapshot) {
      if (state_ == EngineState::kClosed) return;
      if (!IsRegistered(handler, level)) continue;
      const bool consumed = handler->HandleStanza(stanza);
      if (consumed && level != kLevelObserve) return;
    }
  }
  if (state_ == EngineState::kClosed || stanza.Name() != kQnIq) return;
  const std::string& type = stanza.GetAttribute(kQnType);
  if (type == kStrError || type == kStrResult) return;
  SendStanzaError(stanza, StanzaErrorCondition::kFeatureNotImplemented, "");
}

}  // namespace vexalo
