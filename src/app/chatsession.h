#pragma once

#include <map>
#include <memory>
#include <set>
#include <string>

#include "base/runtime/signal.h"
#include "xmpp/messages/chatmessage.h"
#include "xmpp/messages/chatstate.h"
#include "xmpp/presence/presencestatus.h"
#include "xmpp/roster/rosteritem.h"
#include "xmpp/stream/xmppaddress.h"

namespace vexalo {

class MailChecker;
struct Mailbox;
class XmppConnection;

// The services of one signed-in connection as the user interface meets them: the contact list
// with presence, chats with typing notices, subscription requests and new mail. Created when
// the connection opens, destroyed when it ends (its tasks end with the connection).
class ChatSession : public SlotHost {
 public:
  explicit ChatSession(XmppConnection* connection);
  ~ChatSession() override;
  ChatSession(const ChatSession&) = delete;
  ChatSession& operator=(const ChatSession&) = delete;

  // Own presence: available with a show state, or invisible.
  void SetStatus(ShowState show, bool invisible, const std::string& text);
  // Our picture's hash (empty: we have none), announced with every presence from now on.
  // After our first presence a new hash goes out at once, with the status as it was.
  void SetPictureHash(const std::string& hash);
  // The capability extensions announced with our presence ("voice-v1"); a presence already
  // sent goes out again with them.
  void SetCapabilities(std::set<std::string> extensions);
  void SendMessage(const XmppAddress& to, const std::string& text);
  void SendChatState(const XmppAddress& to, ChatState state);
  // Puts the contact on the roster and asks to see its presence, with an invitation text.
  void AddContact(const XmppAddress& contact, const std::string& text);
  void RemoveContact(const XmppAddress& contact);
  // Answers a subscription request: allow (and ask back when not subscribed yet) or refuse.
  void AcceptSubscription(const XmppAddress& contact);
  void DenySubscription(const XmppAddress& contact);

  const std::map<XmppAddress, RosterItem>& roster() const { return roster_; }
  // The best known presence of each contact (bare address).
  const std::map<XmppAddress, PresenceStatus>& presences() const { return presences_; }
  bool roster_complete() const { return roster_complete_; }

  Signal<const RosterItem&> SignalRosterItem;
  Signal<const XmppAddress&> SignalRosterRemoved;
  Signal<> SignalRosterComplete;
  Signal<const PresenceStatus&> SignalPresence;
  Signal<const ChatMessage&> SignalMessage;
  // A message of ours came back as an error (type "error").
  Signal<const ChatMessage&> SignalErrorMessage;
  // "subscribe", "subscribed", "unsubscribe", "unsubscribed".
  Signal<const XmppAddress&, const std::string&> SignalSubscription;
  Signal<int> SignalMail;

 private:
  void OnRosterItem(const RosterItem& item);
  void OnRosterRemoved(const RosterItem& item);
  void OnPresence(const PresenceStatus& status);
  void OnMessage(const ChatMessage& message);
  void OnMailbox(const Mailbox* mailbox, bool timed_out);
  void OnSubscribe(const XmppAddress& from);
  void SendSubscription(const XmppAddress& to, const std::string& type);

  void AddCapabilities(PresenceStatus* status) const;

  XmppConnection* connection_;
  std::unique_ptr<MailChecker> mail_checker_;
  std::map<XmppAddress, RosterItem> roster_;
  std::map<XmppAddress, PresenceStatus> presences_;
  bool roster_complete_ = false;
  std::string picture_hash_;
  bool picture_hash_known_ = false;
  std::set<std::string> capabilities_;
  // Our presence as last sent, for sending again with a new picture or capabilities.
  PresenceStatus last_status_;
  bool has_status_ = false;
};

}  // namespace vexalo
