#include "app/chatsession.h"

#include "base/runtime/logging.h"
#include "xmpp/mail/mailbox.h"
#include "xmpp/mail/mailchecker.h"
#include "xmpp/messages/messagereceivetask.h"
#include "xmpp/messages/messagesendtask.h"
#include "xmpp/presence/presenceouttask.h"
#include "xmpp/presence/presencereceivetask.h"
#include "xmpp/roster/rostersettask.h"
#include "xmpp/roster/rostertask.h"
#include "xmpp/roster/subscriptionsender.h"
#include "xmpp/stream/xmppconnection.h"

namespace vexalo {
namespace {

// The version of our feature set in the caps element.
constexpr char kCapsVersion[] = "1.0";

}  // namespace

ChatSession::ChatSession(XmppConnection* connection) : connection_(connection) {
  // The connection owns its tasks and ends them with itself; no pointer is kept.
  auto* roster = new RosterTask(connection);
  roster->SignalItemUpdated.Connect(this, &ChatSession::OnRosterItem);
  roster->SignalItemRemoved.Connect(this, &ChatSession::OnRosterRemoved);
  roster->SignalRosterEnd.Connect(this, [this] {
    roster_complete_ = true;
    SignalRosterComplete();
  });
  roster->SignalSubscribe.Connect(this, &ChatSession::OnSubscribe);
  roster->SignalSubscribed.Connect(
      this, [this](const XmppAddress& from) { SignalSubscription(from, "subscribed"); });
  roster->SignalUnsubscribe.Connect(
      this, [this](const XmppAddress& from) { SignalSubscription(from, "unsubscribe"); });
  roster->SignalUnsubscribed.Connect(
      this, [this](const XmppAddress& from) { SignalSubscription(from, "unsubscribed"); });
  roster->Start();
  roster->Refresh();

  auto* presence = new PresenceReceiveTask(connection);
  presence->SignalPresence.Connect(this, &ChatSession::OnPresence);
  presence->Start();

  auto* messages = new MessageReceiveTask(connection, kLevelThird);
  messages->SignalMessage.Connect(this, &ChatSession::OnMessage);
  messages->SetAcceptErrors(true);
  messages->SignalErrorMessage.Connect(
      this, [this](const ChatMessage& message) { SignalErrorMessage(message); });
  messages->Start();

  mail_checker_ = std::make_unique<MailChecker>(connection);
  mail_checker_->SignalMailbox.Connect(this, &ChatSession::OnMailbox);
}

ChatSession::~ChatSession() = default;

void ChatSession::SetStatus(ShowState show, bool invisible, const std::string& text) {
  PresenceStatus status;
  status.available = true;
  status.show = show;
  status.invisible = invisible;
  status.status = text;
  PresenceStatus::CutUtf8(&status.status, PresenceStatus::kMaxStatusBytes);
  // Contacts fetch our card when this hash is new to them.
  status.photo_hash = picture_hash_;
  status.photo_hash_known = picture_hash_known_;
  AddCapabilities(&status);
  last_status_ = status;
  has_status_ = true;
  auto* task = new PresenceOutTask(connection_);
  task->SetStatus(status);
  task->Start();
  // The first presence also asks the server for the contacts' presence; mail follows.
  mail_checker_->CheckMail();
}

void ChatSession::AddCapabilities(PresenceStatus* status) const {
  status->has_caps = !capabilities_.empty();
  status->caps_ver_known = status->has_caps;
  status->caps_ver = status->has_caps ? std::string(kCapsVersion) : std::string();
  status->caps_ext = capabilities_;
}

void ChatSession::SetPictureHash(const std::string& hash) {
  if (picture_hash_known_ && picture_hash_ == hash) return;
  picture_hash_ = hash;
  picture_hash_known_ = true;
  if (!has_status_) return;
  last_status_.photo_hash = hash;
  last_status_.photo_hash_known = true;
  auto* task = new PresenceOutTask(connection_);
  task->SetStatus(last_status_);
  task->Start();
}

void ChatSession::SetCapabilities(std::set<std::string> extensions) {
  if (extensions == capabilities_) return;
  capabilities_ = std::move(extensions);
  if (!has_status_) return;
  AddCapabilities(&last_status_);
  auto* task = new PresenceOutTask(connection_);
  task->SetStatus(last_status_);
  task->Start();
}

void ChatSession::SendMessage(const XmppAddress& to, const std::string& text) {
  ChatMessage message;
  message.to = to;
  message.type = "chat";
  message.body = text;
  message.has_body = true;
  message.chat_state = ChatState::kActive;
  auto* task = new MessageSendTask(connection_);
  task->SetMessage(message);
  task->Start();
}

void ChatSession::SendChatState(const XmppAddress& to, ChatState state) {
  ChatMessage message;
  message.to = to;
  message.type = "chat";
  message.chat_state = state;
  auto* task = new MessageSendTask(connection_);
  task->SetMessage(message);
  task->Start();
}

void ChatSession::AddContact(const XmppAddress& contact, const std::string& text) {
  RosterItem item;
  item.address = contact.WithoutResource();
  auto* set = new RosterSetTask(connection_);
  set->AddItem(item);
  set->Start();
  auto* sender = new SubscriptionSender(connection_);
  if (text.empty()) {
    sender->Subscribe(item.address);
  } else {
    sender->Subscribe(item.address, "", text, "");
  }
  sender->Start();
}

void ChatSession::RemoveContact(const XmppAddress& contact) {
  auto* set = new RosterSetTask(connection_);
  set->RemoveItem(contact.WithoutResource());
  set->Start();
}

void ChatSession::SendSubscription(const XmppAddress& to, const std::string& type) {
  auto* sender = new SubscriptionSender(connection_);
  if (type == "subscribed") sender->Subscribed(to);
  if (type == "unsubscribed") sender->Unsubscribed(to);
  if (type == "subscribe") sender->Subscribe(to);
  sender->Start();
}

void ChatSession::AcceptSubscription(const XmppAddress& contact) {
  const XmppAddress bare = contact.WithoutResource();
  SendSubscription(bare, "subscribed");
  auto item = roster_.find(bare);
  const bool subscribed = item != roster_.end() &&
                          (item->second.subscription == RosterSubscription::kTo ||
                           item->second.subscription == RosterSubscription::kBoth ||
                           item->second.ask_subscribe);
  if (!subscribed) SendSubscription(bare, "subscribe");
}

void ChatSession::DenySubscription(const XmppAddress& contact) {
  SendSubscription(contact.WithoutResource(), "unsubscribed");
}

void ChatSession::OnRosterItem(const RosterItem& item) {
  roster_[item.address.WithoutResource()] = item;
  SignalRosterItem(item);
}

void ChatSession::OnRosterRemoved(const RosterItem& item) {
  const XmppAddress bare = item.address.WithoutResource();
  roster_.erase(bare);
  presences_.erase(bare);
  SignalRosterRemoved(bare);
}

void ChatSession::OnPresence(const PresenceStatus& status) {
  // The server echoes our own presence; other resources of ours are worth showing.
  if (status.address == connection_->GetBoundAddress()) return;
  const XmppAddress bare = status.address.WithoutResource();
  if (status.available) {
    presences_[bare] = status;
  } else {
    presences_.erase(bare);
  }
  SignalPresence(status);
}

void ChatSession::OnMessage(const ChatMessage& message) { SignalMessage(message); }

void ChatSession::OnSubscribe(const XmppAddress& from) { SignalSubscription(from, "subscribe"); }

void ChatSession::OnMailbox(const Mailbox* mailbox, bool timed_out) {
  if (mailbox == nullptr || timed_out) return;
  SignalMail(static_cast<int>(mailbox->threads.size()));
}

}  // namespace vexalo
