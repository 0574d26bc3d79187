// Mail notification: parsing mailboxes and conversations, the query, the bookkeeping of what
// was seen, pushes and suspension, from stanza transcripts.
#include <gtest/gtest.h>
#include <unistd.h>

#include <optional>
#include <string>
#include <vector>

#include "xmpp/stream/constants.h"
#include "xmpp/mail/mailbox.h"
#include "xmpp/mail/mailnotifytask.h"
#include "xmpp/mail/mailnumber.h"
#include "xmpp/mail/mailquerytask.h"
#include "xmpp/mail/mailthread.h"
#include "support/signedinconnection.h"

namespace vexalo {
namespace {

std::string Thread(const std::string& tid, const std::string& extra = "",
                   const std::string& attributes = "date='1000' messages='2' participation='1'") {
  return "<mail-thread-info tid='" + tid + "' " + attributes +
         "><senders><sender address='a@example.net' name='A' originator='1' unread='1'/>"
         "</senders><labels>^u|^i</labels><subject>S" +
         tid + "</subject>" + (extra == "nosnippet" ? "" : "<snippet>N</snippet>") +
         "</mail-thread-info>";
}

std::optional<Mailbox> ParseMailbox(const std::string& attributes, const std::string& children) {
  std::unique_ptr<XmlElem> element = XmlElem::ParseFromString(
      "<mailbox xmlns='ombrix:mail:notify' " + attributes + ">" + children + "</mailbox>");
  EXPECT_NE(element, nullptr);
  return element ? Mailbox::Parse(*element) : std::nullopt;
}

TEST(MailParseTest, Numbers) {
  struct Case {
    const char* text;
    bool ok;
    int64_t value;
  } cases[] = {
      {"0", true, 0},
      {"42", true, 42},
      {"-7", true, -7},
      {"9223372036854775807", true, INT64_MAX},
      {"9223372036854775808", false, 0},  // would overflow
      {"", false, 0},
      {"+1", false, 0},
      {" 1", false, 0},
      {"1 ", false, 0},
      {"12abc", false, 0},
      {"0x10", false, 0},
  };
  for (const Case& c : cases) {
    int64_t value = -1;
    EXPECT_EQ(ParseMailNumber(c.text, INT64_MIN, INT64_MAX, &value), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(value, c.value) << c.text;
    }
  }
  int64_t value = 0;
  EXPECT_FALSE(ParseMailNumber("2147483648", 0, kMaxMailCount, &value));
  EXPECT_FALSE(ParseMailNumber("-1", 0, kMaxMailCount, &value));
}

TEST(MailParseTest, Labels) {
  using Labels = std::set<std::string>;
  EXPECT_EQ(MailThread::ParseLabels("^u|^i|a\\|b|"), (Labels{"^u", "^i", "a|b"}));
  EXPECT_EQ(MailThread::ParseLabels(""), Labels{});
  EXPECT_EQ(MailThread::ParseLabels("||x||x"), Labels{"x"});
  EXPECT_EQ(MailThread::ParseLabels("a\\\\b|c\\"), (Labels{"a\\b", "c"}));
  EXPECT_EQ(MailThread::ParseLabels("\\"), Labels{});
  std::string many;
  for (int i = 0; i < 500; ++i) many += std::to_string(i) + "|";
  EXPECT_EQ(MailThread::ParseLabels(many).size(), MailThread::kMaxLabels);
}

TEST(MailParseTest, MailboxAndThreads) {
  std::optional<Mailbox> box =
      ParseMailbox("total-matched='3' total-estimate='1' first-index='0' result-time='5000'",
                   Thread("5") + Thread("9") + Thread("7", "nosnippet") +
                       "<mail-thread-info tid='3' date='1'/>");
  ASSERT_TRUE(box);
  EXPECT_EQ(box->total_matched, 3);
  EXPECT_TRUE(box->total_estimate);
  EXPECT_EQ(box->result_time, 5000);
  ASSERT_EQ(box->threads.size(), 2u);
  EXPECT_EQ(box->max_tid, 9);
  const MailThread& t = box->threads[0];
  EXPECT_EQ(t.tid, 5);
  EXPECT_EQ(t.date, 1000);
  EXPECT_EQ(t.messages, 2);
  EXPECT_EQ(t.participation, 1);
  EXPECT_EQ(t.senders, (std::vector<MailSender>{{"A", "a@example.net", true, true}}));
  EXPECT_EQ(t.labels, (std::set<std::string>{"^u", "^i"}));
  EXPECT_EQ(t.subject, "S5");
  EXPECT_EQ(t.snippet, "N");

  // Defaults, and values out of range taken as absent.
  box = ParseMailbox("total-matched='0' result-time='99999999999999999'", "");
  ASSERT_TRUE(box);
  EXPECT_FALSE(box->total_estimate);
  EXPECT_EQ(box->first_index, 0);
  EXPECT_EQ(box->result_time, 0);
  EXPECT_EQ(box->max_tid, 0);

  // Unusable mailboxes.
  for (const char* attributes : {"", "total-matched=''", "total-matched='x'", "total-matched='-1'",
                                 "total-matched='4294967296'"}) {
    EXPECT_FALSE(ParseMailbox(attributes, "")) << attributes;
  }
  std::unique_ptr<XmlElem> other = XmlElem::ParseFromString("<mailbox total-matched='1'/>");
  EXPECT_FALSE(Mailbox::Parse(*other));
}

TEST(MailParseTest, ThreadsWithBadPartsAreSkipped) {
  const char* attribute_cases[] = {
      "date='1000' messages='2'",                               // no participation
      "date='-5' messages='2' participation='1'",               // before 1970
      "date='253402300800000' messages='2' participation='1'",  // after 9999
      "date='1000' messages='99999999999' participation='1'",   // count overflow
      "date='1000' messages='2' participation='one'",
  };
  for (const char* attributes : attribute_cases) {
    std::optional<Mailbox> box = ParseMailbox("total-matched='1'", Thread("1", "", attributes));
    ASSERT_TRUE(box);
    EXPECT_TRUE(box->threads.empty()) << attributes;
  }
  std::optional<Mailbox> box = ParseMailbox(
      "total-matched='1'",
      "<mail-thread-info tid='1' date='1' messages='1' participation='0'><senders>"
      "<sender name='no address'/><other address='x@y'/><sender address='b@example.net' "
      "originator='zero'/></senders><labels/><subject/><snippet/></mail-thread-info>");
  ASSERT_TRUE(box);
  ASSERT_EQ(box->threads.size(), 1u);
  EXPECT_EQ(box->threads[0].senders,
            (std::vector<MailSender>{{"", "b@example.net", false, false}}));
  // Negative tids compare as signed numbers.
  box = ParseMailbox("total-matched='2'", Thread("-3") + Thread("-8"));
  ASSERT_TRUE(box);
  EXPECT_EQ(box->max_tid, -3);

  std::string many;
  for (size_t i = 0; i < Mailbox::kMaxThreads + 5; ++i) many += Thread(std::to_string(i + 1));
  box = ParseMailbox("total-matched='2000'", many);
  ASSERT_TRUE(box);
  EXPECT_EQ(box->threads.size(), Mailbox::kMaxThreads);
}

class MailTaskTest : public ::testing::Test {
 protected:
  MailNotifyTask* StartNotify() {
    auto* task = new MailNotifyTask(session_.connection());
    task->SignalMailbox.Connect(&host_, [this](const Mailbox* box, bool timed_out) {
      got_.push_back(box == nullptr ? (timed_out ? "timeout" : "none")
                                    : "threads:" + std::to_string(box->threads.size()));
    });
    task->Start();
    session_.Pump();
    return task;
  }
  // The id of the query just sent, after checking its attributes.
  std::string TakeQuery(const std::string& newer_than) {
    const std::string sent = session_.TakeSent();
    const size_t id_start = sent.find("id=\"") + 4;
    const std::string id = sent.substr(id_start, sent.find('"', id_start) - id_start);
    EXPECT_EQ(sent, "<iq type=\"get\" id=\"" + id + "\"><query xmlns=\"ombrix:mail:notify\"" +
                        newer_than + " q=\"" + std::string(kStrMailSearchQuery) + "\"/></iq>");
    return id;
  }
  void Answer(const std::string& id, const std::string& mailbox_attributes,
              const std::string& threads) {
    session_.ServerSends("<iq type='result' id='" + id + "'><mailbox xmlns='ombrix:mail:notify' " +
                         mailbox_attributes + ">" + threads + "</mailbox></iq>");
  }

  SignedInConnection session_;
  SlotHost host_;
  std::vector<std::string> got_;
};

TEST_F(MailTaskTest, NewerThanValuesOnlyGrow) {
  MailNotifyTask* task = StartNotify();
  task->CheckMail();
  std::string id = TakeQuery("");
  Answer(id, "total-matched='2' result-time='1000'", Thread("5") + Thread("9"));
  EXPECT_EQ(got_, std::vector<std::string>{"threads:2"});

  task->CheckMail();
  id = TakeQuery(" newer-than-time=\"1000\" newer-than-tid=\"9\"");
  // Someone else answering with the query's id is ignored.
  session_.ServerSends("<iq type='result' id='" + id +
                       "' from='mallory@example.net'><mailbox "
                       "xmlns='ombrix:mail:notify' total-matched='0' result-time='99999'/></iq>");
  session_.TakeSent();
  EXPECT_EQ(got_.size(), 1u);
  Answer(id, "total-matched='1' result-time='900'", Thread("4"));
  task->CheckMail();
  TakeQuery(" newer-than-time=\"1000\" newer-than-tid=\"9\"");
  EXPECT_EQ(task->checker().newer_than_time(), 1000);

  // An error or an unusable mailbox: reported as none, values kept.
  task->CheckMail();
  id = TakeQuery(" newer-than-time=\"1000\" newer-than-tid=\"9\"");
  session_.ServerSends("<iq type='error' id='" + id +
                       "'><query xmlns='ombrix:mail:notify'/>"
                       "<error type='cancel'><service-unavailable "
                       "xmlns='urn:ietf:params:xml:ns:xmpp-stanzas'/></error></iq>");
  EXPECT_EQ(got_.back(), "none");

  task->ResetAndCheck();
  TakeQuery("");
}

TEST_F(MailTaskTest, PushesFromOurServerStartAQueryAndAreAcknowledged) {
  StartNotify();
  session_.ServerSends(
      "<iq type='set' id='n1' from='alice@example.net'><new-mail "
      "xmlns='ombrix:mail:notify'/></iq>");
  std::string sent = session_.TakeSent();
  EXPECT_TRUE(sent.starts_with("<iq type=\"result\" to=\"alice@example.net\" id=\"n1\"/>")) << sent;
  EXPECT_NE(sent.find("ombrix:mail:notify"), std::string::npos);

  for (const char* from : {" from='example.net'", "", " from='alice@example.net/other'"}) {
    session_.ServerSends(std::string("<iq type='set' id='n2'") + from +
                         "><new-mail xmlns='ombrix:mail:notify'/></iq>");
    EXPECT_NE(session_.TakeSent().find("<query xmlns=\"ombrix:mail:notify\""), std::string::npos)
        << from;
  }
  // Nobody else can make us query: not taken, the engine refuses it.
  for (const char* from : {"mallory@example.net", "other.example", "@@"}) {
    session_.ServerSends(std::string("<iq type='set' id='n3' from='") + from +
                         "'><new-mail xmlns='ombrix:mail:notify'/></iq>");
    sent = session_.TakeSent();
    EXPECT_EQ(sent.find("<query"), std::string::npos) << from;
    EXPECT_NE(sent.find("type=\"error\""), std::string::npos) << from;
  }
}

TEST_F(MailTaskTest, ASecondPushReplacesTheQueryInFlight) {
  StartNotify();
  session_.ServerSends("<iq type='set' id='n1'><new-mail xmlns='ombrix:mail:notify'/></iq>");
  const std::string first = session_.TakeSent();
  session_.ServerSends("<iq type='set' id='n2'><new-mail xmlns='ombrix:mail:notify'/></iq>");
  const std::string second = session_.TakeSent();
  ASSERT_NE(first.find("<query"), std::string::npos);
  ASSERT_NE(second.find("<query"), std::string::npos);
  auto id_of_query = [](const std::string& sent) {
    const size_t at = sent.find("<iq type=\"get\" id=\"") + 19;
    return sent.substr(at, sent.find('"', at) - at);
  };
  Answer(id_of_query(first), "total-matched='1'", Thread("1"));
  session_.TakeSent();
  EXPECT_TRUE(got_.empty());
  Answer(id_of_query(second), "total-matched='1'", Thread("2") + Thread("3"));
  EXPECT_EQ(got_, std::vector<std::string>{"threads:2"});

  // Pushes that arrive together leave one query on the wire.
  session_.ServerSends(
      "<iq type='set' id='n3'><new-mail xmlns='ombrix:mail:notify'/></iq>"
      "<iq type='set' id='n4'><new-mail xmlns='ombrix:mail:notify'/></iq>");
  const std::string both = session_.TakeSent();
  EXPECT_NE(both.find("<query"), std::string::npos);
  EXPECT_EQ(both.find("<query", both.find("<query") + 1), std::string::npos) << both;
}

TEST_F(MailTaskTest, SuspensionDefersChecksToOneAfterResuming) {
  MailNotifyTask* task = StartNotify();
  task->CheckMail();
  const std::string aborted = TakeQuery("");
  task->SetSuspended(true);
  EXPECT_FALSE(task->checker().query_in_flight());
  session_.ServerSends(
      "<iq type='set' id='n1'><new-mail xmlns='ombrix:mail:notify'/></iq>"
      "<iq type='set' id='n2'><new-mail xmlns='ombrix:mail:notify'/></iq>");
  EXPECT_EQ(session_.TakeSent().find("<query"), std::string::npos);
  Answer(aborted, "total-matched='1'", Thread("1"));
  session_.TakeSent();
  EXPECT_TRUE(got_.empty());
  task->SetSuspended(false);
  TakeQuery("");
  task->SetSuspended(false);
  EXPECT_EQ(session_.TakeSent(), "");
}

TEST_F(MailTaskTest, QueryTimesOut) {
  MailNotifyTask* task = StartNotify();
  task->checker().SetQueryTimeout(1);  // 100 ns
  task->CheckMail();
  TakeQuery("");
  usleep(1000);
  session_.runner.PollTasks();
  session_.Pump();
  EXPECT_EQ(got_, std::vector<std::string>{"timeout"});
  EXPECT_FALSE(task->checker().query_in_flight());
  EXPECT_EQ(task->checker().newer_than_time(), 0);
}

}  // namespace
}  // namespace vexalo
