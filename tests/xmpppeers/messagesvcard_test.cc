// Messages, chat states, vCards with pictures, off-the-record settings and mail notification
// between two of our clients through a real Prosody: the standard parts through Prosody's own
// modules, the service's namespaces through our modules, and a plain server without them
// (where the client must stay quiet: no signals it cannot back, no retries).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "base/runtime/loopthread.h"
#include "base/runtime/queuetaskrunner.h"
#include "support/sockettestutil.h"
#include "base/runtime/threadregistry.h"
#include "support/peers/prosodypeer.h"
#include "xmpp/vcard/avatarcache.h"
#include "xmpp/vcard/avatarhash.h"
#include "xmpp/stream/constants.h"
#include "xmpp/mail/mailnotifytask.h"
#include "xmpp/messages/messagereceivetask.h"
#include "xmpp/messages/messagesendtask.h"
#include "xmpp/messages/nosavepushtask.h"
#include "xmpp/messages/nosavequerytask.h"
#include "xmpp/messages/nosavesettask.h"
#include "xmpp/stream/stanzatask.h"
#include "xmpp/vcard/vcardgettask.h"
#include "xmpp/vcard/vcardsettask.h"
#include "support/liveclient.h"

namespace vexalo {
namespace {

// Sends one iq of the test's own making to the server (its "to": the host, or none for our
// own account) and keeps the answer's type.
class ServerIq : public StanzaTask {
 public:
  ServerIq(StepTaskParent* parent, std::unique_ptr<XmlElem> iq, std::string* answer_type)
      : StanzaTask(parent, kLevelFirst), iq_(std::move(iq)), answer_type_(answer_type) {
    iq_->SetAttribute(kQnId, task_id());
  }
  bool HandleStanza(const XmlElem& stanza) override {
    const XmppAddress to =
        iq_->HasAttribute(kQnTo) ? XmppAddress(iq_->GetAttribute(kQnTo)) : kEmptyAddress;
    if (!MatchResponseIq(stanza, to, task_id())) return false;
    QueueStanza(stanza);
    return true;
  }
  int ProcessStart() override {
    SendStanza(*iq_);
    return STATE_RESPONSE;
  }
  int ProcessResponse() override {
    const XmlElem* answer = NextStanza();
    if (answer == nullptr) return STATE_BLOCKED;
    *answer_type_ = answer->GetAttribute(kQnType);
    return STATE_DONE;
  }

 private:
  std::unique_ptr<XmlElem> iq_;
  std::string* answer_type_;
};

// Counts the iq requests a client writes in a namespace, to see that nothing is retried.
class RequestCounter : public SlotHost {
 public:
  RequestCounter(XmppConnection* connection, std::string ns) : ns_(std::move(ns)) {
    connection->SignalLogOutput.Connect(this, [this](const char* bytes, size_t n) {
      const std::string text(bytes, n);
      if (text.find(ns_) != std::string::npos && (text.find("type=\"get\"") != std::string::npos ||
                                                  text.find("type=\"set\"") != std::string::npos)) {
        ++count;
      }
    });
  }
  int count = 0;

 private:
  std::string ns_;
};

void Settle(int ms) { ThreadRegistry::Current()->RunFor(ms); }

class PeerClients : public ::testing::Test {
 protected:
  std::unique_ptr<LiveClient> SignIn(ProsodyPeer* prosody, const std::string& user,
                                     const std::string& resource = "test") {
    auto client = std::make_unique<LiveClient>(
        &runner_, LocalServerSettings(prosody->port(), user, "pw-" + user, resource),
        prosody->certificate());
    EXPECT_TRUE(RunUntil([&] { return client->Open() || client->Closed(); }));
    EXPECT_TRUE(client->Open()) << user << ": " << EngineErrorName(client->error);
    return client;
  }

  QueueTaskRunner runner_;
  SlotHost host_;
};

// --- Prosody with its own modules only ------------------------------------------------------

class PeerChatVCardTest : public PeerClients {
 protected:
  static void SetUpTestSuite() {
    prosody_ = new ProsodyPeer({"vcard_legacy"});
    for (const char* user : {"chat1", "chat2", "card1", "card2", "plain1"}) {
      prosody_->AddUser(user, std::string("pw-") + user);
    }
  }
  static void TearDownTestSuite() {
    delete prosody_;
    prosody_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(prosody_->started()) << prosody_->error(); }

  static ProsodyPeer* prosody_;
};
ProsodyPeer* PeerChatVCardTest::prosody_ = nullptr;

TEST_F(PeerChatVCardTest, ChatWithChatStates) {
  std::unique_ptr<LiveClient> alice = SignIn(prosody_, "chat1");
  std::unique_ptr<LiveClient> bob = SignIn(prosody_, "chat2");
  ASSERT_TRUE(alice->Open() && bob->Open());

  std::vector<std::string> bob_got;
  auto* inbox = new MessageReceiveTask(bob->connection(), kLevelThird);
  inbox->SignalMessage.Connect(&host_, [&](const ChatMessage& m) {
    bob_got.push_back(m.from.ToString() + "|" + m.type + "|" + (m.has_body ? m.body : "-") + "|" +
                      ChatStateText(m.chat_state) + "|" + m.thread);
  });
  inbox->Start();
  // Available, so that messages to the bare address reach this resource.
  ASSERT_EQ(bob->connection()->SendStanza(XmlElem(kQnPresence)), EngineResult::kOk);
  Settle(200);

  auto send = [&](LiveClient* from, const std::string& to, ChatState state, const char* body) {
    ChatMessage m;
    m.to = XmppAddress(to);
    m.type = "chat";
    m.thread = "th1";
    m.chat_state = state;
    if (body != nullptr) {
      m.has_body = true;
      m.body = body;
    }
    auto* task = new MessageSendTask(from->connection());
    task->SetMessage(m);
    task->Start();
  };
  send(alice.get(), "chat2@localhost/test", ChatState::kComposing, nullptr);
  send(alice.get(), "chat2@localhost", ChatState::kActive, "Can we fix it? <yes> & more");
  send(alice.get(), "chat2@localhost/test", ChatState::kPaused, nullptr);
  ASSERT_TRUE(RunUntil([&] { return bob_got.size() == 3; })) << bob_got.size();
  EXPECT_EQ(bob_got, (std::vector<std::string>{
                         "chat1@localhost/test|chat|-|composing|th1",
                         "chat1@localhost/test|chat|Can we fix it? <yes> & more|active|th1",
                         "chat1@localhost/test|chat|-|paused|th1"}));

  // A reply to a resource that is not there comes back as an error message, which only a
  // receiver that asks for errors reports.
  std::vector<std::string> alice_errors;
  auto* errors = new MessageReceiveTask(alice->connection(), kLevelThird);
  errors->SetAcceptErrors(true);
  errors->SetPeerFilter(XmppAddress("nobody@localhost"));
  errors->SignalErrorMessage.Connect(
      &host_, [&](const ChatMessage& m) { alice_errors.push_back(m.from.ToString()); });
  errors->Start();
  send(alice.get(), "nobody@localhost", ChatState::kNone, "anyone?");
  ASSERT_TRUE(RunUntil([&] { return !alice_errors.empty(); }));
  EXPECT_EQ(alice_errors[0], "nobody@localhost");
  // The traffic log kept the chat text out.
  EXPECT_EQ(alice->Traffic().find("Can we fix it?"), std::string::npos);
}

TEST_F(PeerChatVCardTest, VCardSetThenGetWithThePicture) {
  std::unique_ptr<LiveClient> alice = SignIn(prosody_, "card1");
  std::unique_ptr<LiveClient> bob = SignIn(prosody_, "card2");
  ASSERT_TRUE(alice->Open() && bob->Open());

  std::string picture = "\x89PNG\r\n\x1a\n";
  for (int i = 0; i < 3000; ++i) picture.push_back(static_cast<char>(i * 7919 >> 3));
  const std::string hash = AvatarHash(picture);

  std::vector<bool> set_results;
  auto* set = new VCardSetTask(alice->connection());
  ASSERT_TRUE(set->SetPhoto(VCard::EncodeBase64(picture)));
  set->SignalVCardSet.Connect(&host_, [&](bool ok, const VCard&) { set_results.push_back(ok); });
  set->Start();
  ASSERT_TRUE(RunUntil([&] { return !set_results.empty(); }));
  EXPECT_TRUE(set_results[0]);

  // Bob asks for alice's card, naming a picture he does not have.
  std::vector<std::string> bob_got;
  std::string photo;
  auto* get = new VCardGetTask(bob->connection());
  get->SetTarget(XmppAddress("card1@localhost"));
  get->SetKnownHash(AvatarHash("something else"));
  get->SignalVCard.Connect(&host_, [&](const XmppAddress& who, const VCard& card) {
    bob_got.push_back(who.ToString());
    photo = card.Photo();
  });
  get->Start();
  ASSERT_TRUE(RunUntil([&] { return !bob_got.empty(); }));
  EXPECT_EQ(bob_got[0], "card1@localhost");
  ASSERT_EQ(photo.size(), picture.size());
  EXPECT_EQ(photo, picture);
  EXPECT_EQ(AvatarHash(photo), hash);
  // The traffic log names no picture bytes.
  EXPECT_EQ(bob->Traffic().find(VCard::EncodeBase64(picture).substr(0, 40)), std::string::npos);

  // Into the cache, found again by its hash.
  const std::filesystem::path folder =
      std::filesystem::temp_directory_path() / ("vexalo-peer-avatars-" + std::to_string(getpid()));
  {
    AvatarCache cache(folder.string(), nullptr);
    ASSERT_TRUE(cache.Open());
    EXPECT_EQ(cache.StoreOriginal(photo), hash);
    EXPECT_EQ(cache.LoadOriginal(hash), picture);
  }
  std::filesystem::remove_all(folder);

  // Alice reads her own card back from the server.
  std::string own_photo;
  bool own_done = false;
  auto* own = new VCardGetTask(alice->connection());
  own->SignalVCard.Connect(&host_, [&](const XmppAddress&, const VCard& card) {
    own_photo = card.Photo();
    own_done = true;
  });
  own->Start();
  ASSERT_TRUE(RunUntil([&] { return own_done; }));
  EXPECT_EQ(own_photo, picture);
}

TEST_F(PeerChatVCardTest, ServiceFeaturesDegradeQuietlyOnAPlainServer) {
  std::unique_ptr<LiveClient> alice = SignIn(prosody_, "plain1");
  ASSERT_TRUE(alice->Open());
  RequestCounter mail_requests(alice->connection(), "ombrix:mail:notify");
  RequestCounter nosave_requests(alice->connection(), "ombrix:nosave");

  std::vector<std::string> mail;
  auto* notify = new MailNotifyTask(alice->connection());
  notify->SignalMailbox.Connect(&host_, [&](const Mailbox* box, bool timed_out) {
    mail.push_back(box ? "mailbox" : timed_out ? "timeout" : "none");
  });
  notify->Start();
  notify->CheckMail();

  int nosave_entries = 0;
  auto* query = new NoSaveQueryTask(alice->connection());
  query->SignalNoSave.Connect(&host_, [&](const NoSaveEntry&) { ++nosave_entries; });
  query->Start();
  std::vector<bool> set_done;
  auto* set = new NoSaveSetTask(alice->connection());
  set->AddItem(XmppAddress("chat2@localhost"), true);
  set->SignalDone.Connect(&host_, [&](bool ok) { set_done.push_back(ok); });
  set->Start();

  ASSERT_TRUE(RunUntil([&] { return !mail.empty() && !set_done.empty(); }));
  Settle(500);
  EXPECT_EQ(mail, std::vector<std::string>{"none"});
  EXPECT_EQ(set_done, std::vector<bool>{false});
  EXPECT_EQ(nosave_entries, 0);
  EXPECT_EQ(mail_requests.count, 1);
  EXPECT_EQ(nosave_requests.count, 2);
  EXPECT_FALSE(notify->checker().query_in_flight());
  EXPECT_TRUE(alice->Open());
}

// --- Prosody with our modules for the service's namespaces -----------------------------------

class PeerNoSaveMailTest : public PeerClients {
 protected:
  static void SetUpTestSuite() {
    prosody_ = new ProsodyPeer({"ombrix_nosave", "ombrix_mail"},
                               "admins = { \"postmaster@localhost\" }\n");
    for (const char* user : {"otr1", "otr2", "mail1", "postmaster"}) {
      prosody_->AddUser(user, std::string("pw-") + user);
    }
  }
  static void TearDownTestSuite() {
    delete prosody_;
    prosody_ = nullptr;
  }
  void SetUp() override { ASSERT_TRUE(prosody_->started()) << prosody_->error(); }

  std::string Ask(LiveClient* client, std::unique_ptr<XmlElem> iq) {
    std::string answer;
    auto* task = new ServerIq(client->connection(), std::move(iq), &answer);
    task->Start();
    EXPECT_TRUE(RunUntil([&] { return !answer.empty(); }));
    return answer;
  }

  // The mail system's side: a new message in `user`'s mailbox.
  std::string Deliver(LiveClient* sender, const std::string& user, const std::string& subject) {
    auto iq = StanzaTask::MakeIq(kStrSet, XmppAddress("localhost"), "");
    XmlElem* deliver = iq->AppendChild(
        std::make_unique<XmlElem>(XmlName("urn:vexalo:test:mail", "deliver"), true));
    deliver->AppendAttribute(XmlName("", "to"), user + "@localhost");
    deliver->AppendAttribute(XmlName("", "subject"), subject);
    deliver->AppendAttribute(XmlName("", "snippet"), "snippet of " + subject);
    deliver->AppendAttribute(XmlName("", "address"), "friend@example.org");
    deliver->AppendAttribute(XmlName("", "labels"), "^u|^i");
    return Ask(sender, std::move(iq));
  }

  static ProsodyPeer* prosody_;
};
ProsodyPeer* PeerNoSaveMailTest::prosody_ = nullptr;

TEST_F(PeerNoSaveMailTest, OffTheRecordIsStoredAndPushedToEveryResource) {
  std::unique_ptr<LiveClient> desk = SignIn(prosody_, "otr1", "desk");
  std::unique_ptr<LiveClient> laptop = SignIn(prosody_, "otr1", "laptop");
  ASSERT_TRUE(desk->Open() && laptop->Open());

  std::vector<std::string> pushes;
  for (LiveClient* client : {desk.get(), laptop.get()}) {
    auto* push = new NoSavePushTask(client->connection());
    push->SignalNoSave.Connect(&host_, [&, client](const NoSaveEntry& e) {
      pushes.push_back(client->connection()->GetBoundAddress().ResourcePart() + ":" +
                       e.source.ToString() + "|" + e.contact.ToString() + "|" +
                       (e.enabled ? "on" : "off"));
    });
    push->Start();
  }
  std::vector<bool> done;
  auto* set = new NoSaveSetTask(desk->connection());
  set->AddItem(XmppAddress("otr2@localhost/whatever"), true);
  set->SignalDone.Connect(&host_, [&](bool ok) { done.push_back(ok); });
  set->Start();
  ASSERT_TRUE(RunUntil([&] { return !done.empty() && pushes.size() == 2; })) << pushes.size();
  EXPECT_EQ(done, std::vector<bool>{true});
  std::sort(pushes.begin(), pushes.end());
  EXPECT_EQ(pushes, (std::vector<std::string>{"desk:otr1@localhost/desk|otr2@localhost|on",
                                              "laptop:otr1@localhost/desk|otr2@localhost|on"}));
  // Our acknowledgements are what the server expects: no error came back.
  EXPECT_EQ(desk->Traffic().find("type=\"error\""), std::string::npos);

  std::vector<std::string> entries;
  auto* query = new NoSaveQueryTask(laptop->connection());
  query->SignalNoSave.Connect(&host_, [&](const NoSaveEntry& e) {
    entries.push_back(e.contact.ToString() + (e.enabled ? ":on" : ":off"));
  });
  query->Start();
  ASSERT_TRUE(RunUntil([&] { return !entries.empty(); }));
  Settle(200);
  EXPECT_EQ(entries, std::vector<std::string>{"otr2@localhost:on"});

  // What the service refuses.
  struct Case {
    const char* item;
    const char* answer;
  } cases[] = {
      {"<item jid='otr2@localhost' value='maybe'/>", "error"},
      {"<item jid='otr2@localhost/res' value='enabled'/>", "error"},
      {"<item value='enabled'/>", "error"},
      {"", "error"},
      {"<item jid='otr2@localhost' value='disabled'/>", "result"},
  };
  for (const Case& c : cases) {
    std::unique_ptr<XmlElem> iq = XmlElem::ParseFromString(
        std::string("<iq xmlns='jabber:client' type='set'><query xmlns='ombrix:nosave'>") + c.item +
        "</query></iq>");
    EXPECT_EQ(Ask(desk.get(), std::move(iq)), c.answer) << c.item;
  }
  ASSERT_TRUE(RunUntil([&] { return pushes.size() == 4; }));
  EXPECT_EQ(pushes.back().substr(pushes.back().size() - 4), "|off");
}

TEST_F(PeerNoSaveMailTest, NewMailIsPushedAndOnlyNewerThreadsAreFetched) {
  std::unique_ptr<LiveClient> alice = SignIn(prosody_, "mail1");
  std::unique_ptr<LiveClient> postmaster = SignIn(prosody_, "postmaster");
  ASSERT_TRUE(alice->Open() && postmaster->Open());

  std::vector<std::vector<std::string>> checks;  // subjects per mailbox
  auto* notify = new MailNotifyTask(alice->connection());
  notify->SignalMailbox.Connect(&host_, [&](const Mailbox* box, bool timed_out) {
    ASSERT_NE(box, nullptr) << "timed out: " << timed_out;
    std::vector<std::string> subjects;
    for (const MailThread& t : box->threads) {
      subjects.push_back(t.subject + "/" + t.snippet + "/" + t.senders.at(0).address +
                         (t.labels.contains("^u") ? "/unread" : ""));
    }
    checks.push_back(subjects);
  });
  notify->Start();
  notify->CheckMail();
  ASSERT_TRUE(RunUntil([&] { return checks.size() == 1; }));
  EXPECT_TRUE(checks[0].empty());

  // Only an admin's mail system may deliver.
  EXPECT_EQ(Deliver(alice.get(), "mail1", "forged"), "error");
  EXPECT_EQ(Deliver(postmaster.get(), "mail1", "Hello"), "result");
  ASSERT_TRUE(RunUntil([&] { return checks.size() == 2; }));
  EXPECT_EQ(checks[1],
            std::vector<std::string>{"Hello/snippet of Hello/friend@example.org/unread"});
  const int64_t seen_tid = notify->checker().newer_than_tid();
  EXPECT_GT(seen_tid, 0);
  EXPECT_GT(notify->checker().newer_than_time(), 0);

  EXPECT_EQ(Deliver(postmaster.get(), "mail1", "Again"), "result");
  ASSERT_TRUE(RunUntil([&] { return checks.size() == 3; }));
  EXPECT_EQ(checks[2],
            std::vector<std::string>{"Again/snippet of Again/friend@example.org/unread"});
  EXPECT_GT(notify->checker().newer_than_tid(), seen_tid);
  EXPECT_NE(alice->Traffic().find("newer-than-tid=\"" + std::to_string(seen_tid) + "\""),
            std::string::npos);

  // Numbers the service cannot read are refused.
  for (const char* attributes : {"newer-than-time='soon'", "newer-than-tid='1e3'"}) {
    std::unique_ptr<XmlElem> iq = XmlElem::ParseFromString(
        std::string("<iq xmlns='jabber:client' type='get'><query xmlns='ombrix:mail:notify' ") +
        attributes + "/></iq>");
    EXPECT_EQ(Ask(alice.get(), std::move(iq)), "error") << attributes;
  }

  // Starting over brings the whole unread set back.
  notify->ResetAndCheck();
  ASSERT_TRUE(RunUntil([&] { return checks.size() == 4; }));
  EXPECT_EQ(checks[3].size(), 2u);
}

}  // namespace
}  // namespace vexalo
