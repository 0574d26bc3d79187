// Presence from stanza transcripts: the stanza we send for each status, how received
// presence is read, and the probe.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "xml/xmlwriter.h"
#include "xmpp/stream/constants.h"
#include "xmpp/presence/presenceouttask.h"
#include "xmpp/presence/presenceprobetask.h"
#include "xmpp/presence/presencereceivetask.h"
#include "xmpp/presence/presencestatus.h"
#include "support/signedinconnection.h"

namespace vexalo {
namespace {

// As the stream prints it, jabber:client being the stream's default namespace.
std::string Print(const XmlElem& stanza) {
  constexpr std::string_view kStreamNamespaces[] = {"", kNsClient};
  return XmlWriter::ToString(stanza, kStreamNamespaces);
}

// 2007-03-01 14:05:09 UTC.
constexpr std::time_t kMarch2007 = 1172757909;

PresenceStatus Available(ShowState show, std::string_view text) {
  PresenceStatus status;
  status.available = true;
  status.show = show;
  status.status = text;
  return status;
}

TEST(PresenceOutTest, StanzaForEachStatus) {
  PresenceStatus invisible_away = Available(ShowState::kAway, "out & about");
  invisible_away.invisible = true;
  invisible_away.photo_hash_known = true;
  invisible_away.photo_hash = "da39a3ee5e6b4b0d3255bfef95601890afd80709";
  invisible_away.has_caps = true;
  invisible_away.caps_ver_known = true;
  invisible_away.caps_ver = "1.0.0.104";
  invisible_away.caps_ext = {"voice-v1", "pmuc-v1"};
  PresenceStatus unknown_hash = Available(ShowState::kOnline, "");
  unknown_hash.photo_hash_known = true;
  PresenceStatus caps_without_version = Available(ShowState::kChat, "");
  caps_without_version.has_caps = true;
  caps_without_version.caps_ext = {"voice-v1"};
  PresenceStatus gone = Available(ShowState::kDnd, "bye");
  gone.available = false;
  PresenceStatus negative = Available(ShowState::kXa, "");
  negative.priority = -5;

  const std::string tail = "<x xmlns=\"jabber:x:delay\" stamp=\"20070301T14:05:09\"/></presence>";
  struct Case {
    const char* name;
    PresenceStatus status;
    std::string expected;
  };
  const Case cases[] = {
      {"invisible away, everything",
       invisible_away,
       "<presence type=\"invisible\"><show>away</show><x xmlns=\"vcard-temp:x:update\">"
       "<photo>da39a3ee5e6b4b0d3255bfef95601890afd80709</photo></x>"
       "<status>out &amp; about</status><priority>0</priority>"
       "<c xmlns=\"http://jabber.org/protocol/caps\" node=\"" + std::string(kCapsNode) +
           "\" ver=\"1.0.0.104\" ext=\"pmuc-v1 voice-v1\"/>" + tail},
      {"online, empty hash",
       unknown_hash,
       "<presence><x xmlns=\"vcard-temp:x:update\"><photo/></x><status/><priority>0</priority>" +
           tail},
      {"chat, caps without version are not sent",
       caps_without_version,
       "<presence><show>chat</show><x xmlns=\"vcard-temp:x:update\"/><status/>"
       "<priority>0</priority>" + tail},
      {"xa with a priority",
       negative,
       "<presence><show>xa</show><x xmlns=\"vcard-temp:x:update\"/><status/>"
       "<priority>-5</priority>" + tail},
      {"dnd", Available(ShowState::kDnd, "busy"),
       "<presence><show>dnd</show><x xmlns=\"vcard-temp:x:update\"/><status>busy</status>"
       "<priority>0</priority>" + tail},
      {"offline has no show", Available(ShowState::kOffline, ""),
       "<presence><x xmlns=\"vcard-temp:x:update\"/><status/><priority>0</priority>" + tail},
      {"unknown show is away", Available(static_cast<ShowState>(0), ""),
       "<presence><show>away</show><x xmlns=\"vcard-temp:x:update\"/><status/>"
       "<priority>0</priority>" + tail},
      {"unavailable", gone, "<presence type=\"unavailable\"/>"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Print(*PresenceOutTask::MakePresence(c.status, kMarch2007)),
              c.expected);
  }
}

TEST(PresenceOutTest, TaskSendsOnceAndEnds) {
  SignedInConnection session;
  auto* task = new PresenceOutTask(session.connection());
  EXPECT_EQ(task->SetStatus(Available(ShowState::kDnd, "busy")), EngineResult::kOk);
  task->Start();
  const std::string sent = session.TakeSent();
  EXPECT_EQ(sent.rfind("<presence><show>dnd</show>", 0), 0u) << sent;
  EXPECT_NE(sent.find("<x xmlns=\"jabber:x:delay\" stamp=\""), std::string::npos);
  EXPECT_EQ(session.runner.task_count(), 1u);
}

TEST(ShowStateTest, TextConversions) {
  const std::pair<const char*, ShowState> from_text[] = {
      {"dnd", ShowState::kDnd}, {"chat", ShowState::kChat}, {"away", ShowState::kAway},
      {"xa", ShowState::kXa},   {"", ShowState::kOnline},   {"DND", ShowState::kOnline},
      {"busy", ShowState::kOnline},
  };
  for (const auto& [text, show] : from_text) EXPECT_EQ(ShowStateFromText(text), show) << text;
  EXPECT_EQ(ShowStateToText(ShowState::kXa), "xa");
  EXPECT_EQ(ShowStateToText(ShowState::kAway), "away");
  EXPECT_EQ(ShowStateToText(ShowState::kDnd), "dnd");
  EXPECT_EQ(ShowStateToText(ShowState::kChat), "chat");
  EXPECT_EQ(ShowStateToText(ShowState::kOnline), "");
  EXPECT_EQ(ShowStateToText(ShowState::kOffline), "");
}

PresenceStatus Read(const std::string& xml) {
  auto stanza = XmlElem::ParseFromString(xml);
  EXPECT_NE(stanza, nullptr) << xml;
  return stanza ? PresenceStatus::FromStanza(*stanza) : PresenceStatus();
}

TEST(PresenceReadTest, EverythingAPresenceCarries) {
  const PresenceStatus status = Read(
      "<presence xmlns='jabber:client' from='bob@example.net/desk'><show>dnd</show>"
      "<status>In a meeting</status><priority> 5</priority>"
      "<x xmlns='vcard-temp:x:update'><photo>abc</photo></x>"
      "<c xmlns='http://jabber.org/protocol/caps' node='" + std::string(kCapsNode) +
      "' ver='1.2' ext='voice-v1  pmuc-v1 voice-v1 '/>"
      "<x xmlns='jabber:x:delay' stamp='20070301T14:05:09'/></presence>");
  EXPECT_EQ(status.address.ToString(), "bob@example.net/desk");
  EXPECT_TRUE(status.available);
  EXPECT_EQ(status.show, ShowState::kDnd);
  EXPECT_EQ(status.status, "In a meeting");
  EXPECT_EQ(status.priority, 5);
  EXPECT_TRUE(status.has_photo_update);
  EXPECT_TRUE(status.photo_hash_known);
  EXPECT_EQ(status.photo_hash, "abc");
  EXPECT_TRUE(status.has_caps);
  EXPECT_TRUE(status.caps_ver_known);
  EXPECT_EQ(status.caps_ver, "1.2");
  EXPECT_EQ(status.caps_ext, (std::set<std::string>{"pmuc-v1", "voice-v1"}));
  EXPECT_EQ(status.delay_stamp, "20070301T14:05:09");
}

TEST(PresenceReadTest, EdgeCases) {
  struct Case {
    const char* name;
    const char* children;
    ShowState show;
    int32_t priority;
    bool has_caps;
    bool caps_ver_known;
    bool has_photo_update;
    bool photo_hash_known;
  };
  const Case cases[] = {
      {"bare", "", ShowState::kOnline, 0, false, false, false, false},
      {"empty show", "<show></show>", ShowState::kOnline, 0, false, false, false, false},
      {"unknown show", "<show>busy</show>", ShowState::kOnline, 0, false, false, false, false},
      {"away", "<show>away</show>", ShowState::kAway, 0, false, false, false, false},
      {"xa", "<show>xa</show>", ShowState::kXa, 0, false, false, false, false},
      {"chat", "<show>chat</show>", ShowState::kChat, 0, false, false, false, false},
      {"negative priority", "<priority>-128</priority>", ShowState::kOnline, -128, false, false,
       false, false},
      {"priority out of range", "<priority>1000</priority>", ShowState::kOnline, 0, false, false,
       false, false},
      {"priority overflowing", "<priority>4294967297</priority>", ShowState::kOnline, 0, false,
       false, false, false},
      {"priority not a number", "<priority>high</priority>", ShowState::kOnline, 0, false, false,
       false, false},
      {"foreign caps node",
       "<c xmlns='http://jabber.org/protocol/caps' node='http://other/caps' ver='9' ext='a b'/>",
       ShowState::kOnline, 0, true, false, false, false},
      {"update without photo", "<x xmlns='vcard-temp:x:update'/>", ShowState::kOnline, 0, false,
       false, true, false},
      {"empty photo", "<x xmlns='vcard-temp:x:update'><photo/></x>", ShowState::kOnline, 0, false,
       false, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const PresenceStatus status =
        Read(std::string("<presence xmlns='jabber:client' from='bob@example.net/x'>") + c.children +
             "</presence>");
    EXPECT_TRUE(status.available);
    EXPECT_EQ(status.show, c.show);
    EXPECT_EQ(status.priority, c.priority);
    EXPECT_EQ(status.has_caps, c.has_caps);
    EXPECT_EQ(status.caps_ver_known, c.caps_ver_known);
    EXPECT_TRUE(status.caps_ver.empty() || c.caps_ver_known);
    EXPECT_EQ(status.has_photo_update, c.has_photo_update);
    EXPECT_EQ(status.photo_hash_known, c.photo_hash_known);
  }
  const PresenceStatus foreign = Read(
      "<presence xmlns='jabber:client'><c xmlns='http://jabber.org/protocol/caps' "
      "node='http://other/caps' ver='9' ext='a b'/></presence>");
  EXPECT_EQ(foreign.caps_ext, (std::set<std::string>{"a", "b"}));

  const PresenceStatus gone = Read(
      "<presence xmlns='jabber:client' type='unavailable' from='bob@example.net/x'>"
      "<show>dnd</show><status>later</status><priority>9</priority></presence>");
  EXPECT_FALSE(gone.available);
  EXPECT_EQ(gone.show, ShowState::kOnline);
  EXPECT_EQ(gone.status, "");
  EXPECT_EQ(gone.priority, 0);
}

TEST(PresenceReadTest, LongStatusIsCutAtACharacterBoundary) {
  // "€" is three bytes; 299 ASCII bytes put one across the 300-byte limit.
  const std::string euro = "\xE2\x82\xAC";
  struct Case {
    std::string text;
    std::string expected;
  };
  const Case cases[] = {
      {std::string(299, 'a') + euro + std::string(98, 'b'), std::string(299, 'a')},
      {std::string(298, 'a') + euro + std::string(99, 'b'), std::string(298, 'a')},
      {std::string(297, 'a') + euro + std::string(100, 'b'), std::string(297, 'a') + euro},
      {std::string(400, 'a'), std::string(300, 'a')},
      {std::string(300, 'a'), std::string(300, 'a')},
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE(i);
    const PresenceStatus status =
        Read("<presence xmlns='jabber:client'><status>" + cases[i].text + "</status></presence>");
    EXPECT_EQ(status.status, cases[i].expected);
    EXPECT_LE(status.status.size(), PresenceStatus::kMaxStatusBytes);
  }
  // A run of continuation bytes moves the cut back to the start.
  std::string odd(301, '\x80');
  PresenceStatus::CutUtf8(&odd, 300);
  EXPECT_EQ(odd, "");
}

TEST(PresenceReceiveTaskTest, ReportsAvailableAndUnavailableOnly) {
  SignedInConnection session;
  auto* task = new PresenceReceiveTask(session.connection());
  task->Start();
  std::vector<std::string> seen;
  SlotHost host;
  task->SignalPresence.Connect(&host, [&](const PresenceStatus& status) {
    seen.push_back(status.address.ToString() + (status.available ? " on" : " off"));
  });
  session.ServerSends(
      "<presence from='bob@example.net/a'><show>away</show></presence>"
      "<presence type='unavailable' from='carol@example.net/b'/>"
      "<presence type='error' from='dave@example.net'/>"
      "<presence type='probe' from='erin@example.net'/>"
      "<presence type='subscribe' from='frank@example.net'/>"
      "<message from='gina@example.net'><body>hi</body></message>");
  EXPECT_EQ(seen, (std::vector<std::string>{"bob@example.net/a on", "carol@example.net/b off"}));
}

TEST(PresenceProbeTaskTest, SendsOneProbe) {
  SignedInConnection session;
  auto* probe = new PresenceProbeTask(session.connection(), XmppAddress("bob@example.net"));
  probe->Start();
  EXPECT_EQ(session.TakeSent(), "<presence type=\"probe\" to=\"bob@example.net\"/>");
  EXPECT_EQ(session.runner.task_count(), 1u);

}

// Without a connection nothing can be sent: every sending task ends in error.
TEST(PresenceTasksTest, FailedSendEndsInError) {
  const std::function<StepTask*(StepTaskParent*)> makers[] = {
      [](StepTaskParent* p) { return new PresenceProbeTask(p, XmppAddress("bob@example.net")); },
      [](StepTaskParent* p) {
        auto* task = new PresenceOutTask(p);
        task->SetStatus(PresenceStatus());
        return task;
      },
  };
  for (const auto& make : makers) {
    QueueTaskRunner runner;
    make(&runner)->Start();
    for (int i = 0; i < 3; ++i) ThreadRegistry::Current()->RunFor(0);
    EXPECT_EQ(runner.task_count(), 0u);
    EXPECT_TRUE(runner.child_error());
  }
}

}  // namespace
}  // namespace vexalo
