// Domain lookup: the server's answer, the web-mail rule on errors, and the time-out.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "xmpp/stream/constants.h"
#include "xmpp/server/domainlookuptask.h"
#include "base/runtime/loopthread.h"  // used by SignedInConnection::Pump
#include "support/signedinconnection.h"

namespace vexalo {
namespace {

class DomainLookupTest : public ::testing::Test {
 protected:
  DomainLookupTask* Lookup(const std::string& domain) {
    auto* task = new DomainLookupTask(session_.connection(), domain);
    task->SignalDomainResult.Connect(&host_, [this](const DomainResult& r) {
      results_.push_back(r.domain + (r.reachable ? "=yes" : "=no"));
    });
    task->Start();
    return task;
  }
  SignedInConnection session_;
  SlotHost host_;
  std::vector<std::string> results_;
};

TEST_F(DomainLookupTest, AsksOurServerAndReportsItsAnswer) {
  Lookup("partner.example");
  EXPECT_EQ(session_.TakeSent(),
            "<iq type=\"get\" to=\"alice@example.net\" id=\"2\"><domain-lookup xmlns=\"ombrix:domain\" "
            "dom:domain=\"partner.example\" xmlns:dom=\"ombrix:domain\"/></iq>");
  // Only our server's answer counts: not a contact's, not our own other resource's.
  const std::string answer = "><domain-result xmlns='ombrix:domain' xmpp-reachable='true'/></iq>";
  session_.ServerSends("<iq type='result' id='2' from='mallory@example.net'" + answer);
  session_.ServerSends("<iq type='result' id='2' from='alice@example.net/other'" + answer);
  EXPECT_TRUE(results_.empty());
  session_.ServerSends("<iq type='result' id='2' from='alice@example.net'" + answer);
  EXPECT_EQ(results_, std::vector<std::string>{"partner.example=yes"});

  struct Case {
    const char* answer;
    const char* expected;  // null: nothing reported
  } cases[] = {
      {"<domain-result xmlns='ombrix:domain' xmpp-reachable='false'/>", "=no"},
      {"<domain-result xmlns='ombrix:domain' xmpp-reachable='TRUE'/>", "=no"},
      {"<domain-result xmlns='ombrix:domain'/>", "=no"},
      {"", nullptr},
  };
  for (const Case& c : cases) {
    results_.clear();
    DomainLookupTask* task = Lookup("x.example");
    session_.TakeSent();
    session_.ServerSends("<iq type='result' id='" + task->task_id() + "'>" + c.answer + "</iq>");
    if (c.expected == nullptr) {
      EXPECT_TRUE(results_.empty()) << c.answer;
    } else {
      EXPECT_EQ(results_, std::vector<std::string>{std::string("x.example") + c.expected}) << c.answer;
    }
  }
}

TEST_F(DomainLookupTest, ErrorAnswerCountsOnlyTheWebMailDomainsAsReachable) {
  for (const std::string& domain : {std::string(kWebMailDomain), std::string(kWebMailAlternativeDomain),
                                   std::string("LETTRIO.com"), std::string("partner.example")}) {
    DomainLookupTask* task = Lookup(domain);
    session_.TakeSent();
    session_.ServerSends("<iq type='error' id='" + task->task_id() + "'><error type='cancel'>"
                         "<service-unavailable xmlns='urn:ietf:params:xml:ns:xmpp-stanzas'/></error></iq>");
  }
  EXPECT_EQ(results_, (std::vector<std::string>{std::string(kWebMailDomain) + "=yes",
                                                std::string(kWebMailAlternativeDomain) + "=yes",
                                                "LETTRIO.com=yes", "partner.example=no"}));
}

TEST_F(DomainLookupTest, NoAnswerInTimeIsNotReachableOnce) {
  DomainLookupTask* task = Lookup("slow.example");
  session_.TakeSent();
  EXPECT_EQ(task->state(), StepTask::STATE_RESPONSE);
  EXPECT_TRUE(results_.empty());
  task->SetTimeout(0);
  session_.runner.PollTasks();
  session_.Pump();
  EXPECT_EQ(results_, std::vector<std::string>{"slow.example=no"});
  // A late answer finds nobody waiting.
  session_.ServerSends("<iq type='result' id='2'><domain-result xmlns='ombrix:domain' xmpp-reachable='true'/></iq>");
  EXPECT_EQ(results_.size(), 1u);
}

}  // namespace
}  // namespace vexalo
