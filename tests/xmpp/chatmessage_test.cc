// Chat messages and typing notifications: parsing, building, the receive filter and the
// sender, from stanza transcripts.
#include "xmpp/messages/chatmessage.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "xml/xmlwriter.h"
#include "xmpp/stream/constants.h"
#include "xmpp/messages/messagereceivetask.h"
#include "xmpp/messages/messagesendtask.h"
#include "support/signedinconnection.h"

namespace vexalo {
namespace {

// As the stream prints it, where "jabber:client" is the default namespace.
std::string Print(const XmlElem& stanza) {
  static constexpr std::string_view kStream[] = {"", kNsClient};
  return XmlWriter::ToString(stanza, kStream);
}

ChatMessage ParseText(const std::string& xml) {
  std::unique_ptr<XmlElem> stanza = XmlElem::ParseFromString(xml);
  EXPECT_NE(stanza, nullptr) << xml;
  return stanza ? ChatMessage::Parse(*stanza) : ChatMessage();
}

TEST(ChatMessageTest, ParsesEveryField) {
  const ChatMessage m = ParseText(
      "<message xmlns='jabber:client' to='alice@example.net/desk' from='Bob@Example.net/pda' "
      "id='m1' type='chat' xml:lang='fr'><thread>t7</thread><body>salut &amp; bye</body>"
      "<paused xmlns='http://jabber.org/protocol/chatstates'/></message>");
  EXPECT_EQ(m.to.ToString(), "alice@example.net/desk");
  EXPECT_EQ(m.from.ToString(), "bob@example.net/pda");
  EXPECT_EQ(m.id, "m1");
  EXPECT_EQ(m.type, "chat");
  EXPECT_EQ(m.lang, "fr");
  EXPECT_EQ(m.thread, "t7");
  EXPECT_TRUE(m.has_body);
  EXPECT_EQ(m.body, "salut & bye");
  EXPECT_EQ(m.chat_state, ChatState::kPaused);
}

TEST(ChatMessageTest, ChatStatesAndMissingParts) {
  struct Case {
    const char* child;
    ChatState state;
  } cases[] = {
      {"<active xmlns='http://jabber.org/protocol/chatstates'/>", ChatState::kActive},
      {"<composing xmlns='http://jabber.org/protocol/chatstates'/>", ChatState::kComposing},
      {"<paused xmlns='http://jabber.org/protocol/chatstates'/>", ChatState::kPaused},
      {"<inactive xmlns='http://jabber.org/protocol/chatstates'/>", ChatState::kInactive},
      {"<gone xmlns='http://jabber.org/protocol/chatstates'/>", ChatState::kGone},
      {"<dancing xmlns='http://jabber.org/protocol/chatstates'/>", ChatState::kNone},
      // Same local name, other namespace.
      {"<composing xmlns='urn:example'/>", ChatState::kNone},
      {"", ChatState::kNone},
  };
  for (const Case& c : cases) {
    const ChatMessage m = ParseText(std::string("<message xmlns='jabber:client' type='chat'>") +
                                    c.child + "</message>");
    EXPECT_EQ(m.chat_state, c.state) << c.child;
    EXPECT_FALSE(m.has_body);
    EXPECT_EQ(m.from, kEmptyAddress);
  }
  // A sender that is no address reads as none at all.
  EXPECT_EQ(ParseText("<message xmlns='jabber:client' from='@@'/>").from, kEmptyAddress);
  // An empty body is still a body.
  EXPECT_TRUE(ParseText("<message xmlns='jabber:client'><body/></message>").has_body);
}

TEST(ChatMessageTest, BuildsInWireOrderAndRoundTrips) {
  ChatMessage m;
  m.to = XmppAddress("bob@example.net");
  m.id = "i1";
  m.type = "chat";
  m.thread = "t1";
  m.has_body = true;
  m.body = "a<b";
  m.chat_state = ChatState::kActive;
  EXPECT_EQ(Print(*m.Build()),
            "<message to=\"bob@example.net\" id=\"i1\" type=\"chat\"><thread>t1</thread>"
            "<body>a&lt;b</body><active xmlns=\"http://jabber.org/protocol/chatstates\"/>"
            "</message>");

  ChatMessage full = m;
  full.from = XmppAddress("alice@example.net/desk");
  full.lang = "en";
  full.chat_state = ChatState::kGone;
  const std::unique_ptr<XmlElem> built = full.Build();
  EXPECT_TRUE(Print(*built).starts_with(
      "<message from=\"alice@example.net/desk\" to=\"bob@example.net\" id=\"i1\" xml:lang=\"en\" "
      "type=\"chat\"><thread>"))
      << Print(*built);
  const ChatMessage back = ChatMessage::Parse(*built);
  EXPECT_EQ(back.from, full.from);
  EXPECT_EQ(back.to, full.to);
  EXPECT_EQ(back.id, full.id);
  EXPECT_EQ(back.lang, full.lang);
  EXPECT_EQ(back.type, full.type);
  EXPECT_EQ(back.thread, full.thread);
  EXPECT_EQ(back.body, full.body);
  EXPECT_EQ(back.chat_state, ChatState::kGone);

  // A notification alone: no body element, no thread, no type.
  ChatMessage typing;
  typing.to = XmppAddress("bob@example.net");
  typing.chat_state = ChatState::kComposing;
  EXPECT_EQ(Print(*typing.Build()),
            "<message to=\"bob@example.net\"><composing "
            "xmlns=\"http://jabber.org/protocol/chatstates\"/></message>");
  typing.has_body = true;
  typing.chat_state = ChatState::kNone;
  EXPECT_EQ(Print(*typing.Build()), "<message to=\"bob@example.net\"><body/></message>");
}

class MessageTaskTest : public ::testing::Test {
 protected:
  MessageReceiveTask* StartReceiver() {
    auto* task = new MessageReceiveTask(session_.connection(), kLevelThird);
    task->SignalMessage.Connect(&host_, [this](const ChatMessage& m) {
      got_.push_back("msg:" + m.from.ToString() + ":" + m.body + ":" + ChatStateText(m.chat_state));
    });
    task->SignalErrorMessage.Connect(
        &host_, [this](const ChatMessage& m) { got_.push_back("err:" + m.from.ToString()); });
    task->Start();
    session_.Pump();
    return task;
  }

  SignedInConnection session_;
  SlotHost host_;
  std::vector<std::string> got_;
};

TEST_F(MessageTaskTest, ReceiveFilter) {
  struct Case {
    const char* stanza;
    const char* delivered;  // empty: not taken
    bool accept_errors;
    const char* peer;
  } cases[] = {
      {"<message from='bob@example.net/pda' type='chat'><composing "
       "xmlns='http://jabber.org/protocol/chatstates'/></message>",
       "msg:bob@example.net/pda::composing", false, ""},
      {"<message from='bob@example.net/pda' type='chat'><body>hi</body></message>",
       "msg:bob@example.net/pda:hi:none", false, ""},
      {"<message from='bob@example.net/pda'><body>hi</body></message>",
       "msg:bob@example.net/pda:hi:none", false, ""},
      {"<message from='bob@example.net/pda'/>", "", false, ""},
      {"<message from='bob@example.net/pda' type='normal'><active "
       "xmlns='http://jabber.org/protocol/chatstates'/></message>",
       "", false, ""},
      {"<message from='news@example.net' type='headline'><body>x</body></message>", "", true, ""},
      {"<message from='room@conf.example.net/bob' type='groupchat'><body>x</body></message>", "",
       true, ""},
      {"<message from='bob@example.net' type='error'><body>x</body></message>", "", false, ""},
      {"<message from='bob@example.net' type='error'><body>x</body></message>",
       "err:bob@example.net", true, ""},
      // Peer filter: same account, any resource; others and senders that do not parse are left.
      {"<message from='bob@example.net/other' type='chat'><body>b</body></message>",
       "msg:bob@example.net/other:b:none", false, "bob@example.net/pda"},
      {"<message from='carol@example.net/pda' type='chat'><body>c</body></message>", "", false,
       "bob@example.net"},
      {"<message type='chat'><body>c</body></message>", "", false, "bob@example.net"},
      {"<message from='bob@@example.net' type='chat'><body>c</body></message>", "", false,
       "bob@example.net"},
      {"<presence from='bob@example.net/pda'/>", "", false, ""},
  };
  MessageReceiveTask* task = StartReceiver();
  for (const Case& c : cases) {
    got_.clear();
    task->SetAcceptErrors(c.accept_errors);
    task->SetPeerFilter(*c.peer ? XmppAddress(c.peer) : kEmptyAddress);
    session_.ServerSends(c.stanza);
    session_.TakeSent();  // the engine answers what nobody took
    if (*c.delivered) {
      EXPECT_EQ(got_, std::vector<std::string>{c.delivered}) << c.stanza;
    } else {
      EXPECT_TRUE(got_.empty()) << c.stanza;
    }
  }
}

TEST_F(MessageTaskTest, SenderUsesItsOwnIdAndLeavesTheSenderToTheServer) {
  auto* send = new MessageSendTask(session_.connection());
  const std::string id = send->task_id();
  ChatMessage m;
  m.to = XmppAddress("bob@example.net/pda");
  m.from = XmppAddress("mallory@example.net/x");
  m.id = "i1";
  m.type = "chat";
  m.thread = "t1";
  m.has_body = true;
  m.body = "hello";
  send->SetMessage(m);
  send->Start();
  EXPECT_EQ(session_.TakeSent(),
            "<message to=\"bob@example.net/pda\" id=\"" + id +
                "\" type=\"chat\"><thread>t1</thread><body>hello</body></message>");
  EXPECT_EQ(id, "2");
}

TEST_F(MessageTaskTest, SenderWithoutConnectionFails) {
  // Not below a connection: nothing to send through.
  auto* send = new MessageSendTask(&session_.runner);
  ChatMessage m;
  m.to = XmppAddress("bob@example.net");
  send->SetMessage(m);
  send->Start();
  session_.Pump();
  EXPECT_TRUE(session_.runner.child_error());
  EXPECT_EQ(session_.TakeSent(), "");
}

}  // namespace
}  // namespace vexalo
