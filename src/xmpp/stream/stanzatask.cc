#include "xmpp/stream/stanzatask.h"

#include "xmpp/stream/constants.h"
#include "xmpp/stream/xmppconnection.h"

namespace vexalo {

StanzaTask::StanzaTask(StepTaskParent* parent, HandlerLevel level) : StepTask(parent) {
  connection_ = static_cast<XmppConnection*>(FindAncestor(XmppConnection::kAncestorCode));
  if (connection_ == nullptr) return;
  task_id_ = connection_->NextId();
  connection_->AddStanzaHandler(this, level);
  connection_->SignalDisconnected.Connect(this, &StanzaTask::OnDisconnected);
}

StanzaTask::~StanzaTask() { Detach(); }

bool StanzaTask::HandleStanza(const XmlElem& /*stanza*/) { return false; }

void StanzaTask::Stop() {
  Detach();
  StepTask::Stop();
}

void StanzaTask::Detach() {
  queue_.clear();
  if (connection_ == nullptr) return;
  connection_->RemoveStanzaHandler(this);
  connection_->SignalDisconnected.Disconnect(this);
  connection_ = nullptr;
}

void StanzaTask::OnDisconnected() {
  // What arrived before the stream ended is delivered before the task ends: a message in the
  // same read as "</stream:stream>" is as real as one that came earlier.
  if (!queue_.empty()) StepUntilBlocked();
  Detach();
  Error();
}

void StanzaTask::QueueStanza(const XmlElem& stanza) {
  queue_.push_back(std::make_unique<XmlElem>(stanza));
  Wake();
}

const XmlElem* StanzaTask::NextStanza() {
  if (queue_.empty()) {
    current_.reset();
    return nullptr;
  }
  current_ = std::move(queue_.front());
  queue_.pop_front();
  return current_.get();
}

EngineResult StanzaTask::SendStanza(const XmlElem& stanza) {
  if (connection_ == nullptr) return EngineResult::kBadState;
  return connection_->SendStanza(stanza);
}

EngineResult StanzaTask::SendStanzaError(const XmlElem& request, StanzaErrorCondition condition,
                                         std::string_view text) {
  if (connection_ == nullptr) return EngineResult::kBadState;
  return connection_->SendStanzaError(request, condition, text);
}

const XmppAddress& StanzaTask::BoundAddress() const {
  return connection_ != nullptr ? connection_->GetBoundAddress() : kEmptyAddress;
}

std::unique_ptr<XmlElem> StanzaTask::MakeIq(std::string_view type, const XmppAddress& to,
                                            std::string_view id) {
  auto iq = std::make_unique<XmlElem>(kQnIq);
  if (!type.empty()) iq->AppendAttribute(kQnType, type);
  if (to != kEmptyAddress) iq->AppendAttribute(kQnTo, to.ToString());
  if (!id.empty()) iq->AppendAttribute(kQnId, id);
  return iq;
}

std::unique_ptr<XmlElem> StanzaTask::MakeIqResult(const XmlElem& request) {
  auto iq = std::make_unique<XmlElem>(kQnIq);
  iq->AppendAttribute(kQnType, kStrResult);
  if (request.HasAttribute(kQnFrom)) iq->AppendAttribute(kQnTo, request.GetAttribute(kQnFrom));
  iq->AppendAttribute(kQnId, request.GetAttribute(kQnId));
  return iq;
}

bool StanzaTask::MatchRequestIq(const XmlElem& stanza, std::string_view type,
                                const XmlName& child_name) {
  return stanza.Name() == kQnIq && stanza.GetAttribute(kQnType) == type &&
         stanza.FindChild(child_name) != nullptr;
}

bool StanzaTask::MatchResponseIq(const XmlElem& stanza, const XmppAddress& to,
                                 std::string_view id, const XmppAddress& bound) {
  if (stanza.Name() != kQnIq || !stanza.HasAttribute(kQnId) || stanza.GetAttribute(kQnId) != id) {
    return false;
  }
  XmppAddress from;
  if (stanza.HasAttribute(kQnFrom)) {
    from = XmppAddress(stanza.GetAttribute(kQnFrom));
    // A sender we cannot read is nobody we asked.
    if (!from.IsValid()) return false;
  }
  if (from == to) return true;
  if (to != kEmptyAddress || !bound.IsValid()) return false;
  return from == XmppAddress("", bound.DomainPart(), "") || from == bound.WithoutResource();
}

bool StanzaTask::MatchResponseIq(const XmlElem& stanza, const XmppAddress& to,
                                 std::string_view id) const {
  return MatchResponseIq(stanza, to, id, BoundAddress());
}

}  // namespace vexalo
