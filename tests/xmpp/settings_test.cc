// The user's server-side settings: query, set and pushes.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "xml/xmlwriter.h"
#include "xmpp/stream/constants.h"
#include "xmpp/server/settingspushtask.h"
#include "xmpp/server/settingsquerytask.h"
#include "xmpp/server/settingssettask.h"
#include "base/runtime/loopthread.h"  // used by SignedInConnection::Pump
#include "support/signedinconnection.h"
#include "xmpp/server/usersetting.h"

namespace vexalo {
namespace {

using Settings = std::vector<std::pair<std::string, UserSettingValue>>;

TEST(UserSettingTest, ValuesAreTwoWordsAndEverythingElse) {
  EXPECT_EQ(UserSetting::ParseValue("false"), UserSettingValue::kFalse);
  EXPECT_EQ(UserSetting::ParseValue("true"), UserSettingValue::kTrue);
  for (const char* other : {"", "TRUE", "1", "yes", "true "}) {
    EXPECT_EQ(UserSetting::ParseValue(other), UserSettingValue::kOther) << other;
  }
}

TEST(UserSettingTest, SetElementListsOnlyTheSetThreeValuedSettingsInOrder) {
  struct Case {
    UserSettingChanges changes;
    const char* expected;
  } cases[] = {
      {{std::nullopt, true, false, std::nullopt},
       "<usersetting xmlns=\"ombrix:setting\"><autoacceptrequests value=\"true\"/>"
       "<mailnotifications value=\"false\"/></usersetting>"},
      {{false, false, true, true},
       "<usersetting xmlns=\"ombrix:setting\"><autoacceptsuggestions value=\"false\"/>"
       "<autoacceptrequests value=\"false\"/><mailnotifications value=\"true\"/>"
       "<archivingenabled value=\"true\"/></usersetting>"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(XmlWriter::ToString(*UserSetting::MakeSetElement(c.changes)), c.expected);
  }
}

class SettingsTest : public ::testing::Test {
 protected:
  template <typename Task>
  void Collect(Task* task) {
    task->SignalSetting.Connect(&host_, [this](const std::string& name, UserSettingValue value) {
      settings_.emplace_back(name, value);
    });
  }
  SignedInConnection session_;
  SlotHost host_;
  Settings settings_;
};

TEST_F(SettingsTest, QueryReportsEverySettingOfTheResult) {
  auto* query = new SettingsQueryTask(session_.connection());
  Collect(query);
  query->Start();
  EXPECT_EQ(session_.TakeSent(),
            "<iq type=\"get\" to=\"alice@example.net\" id=\"2\"><usersetting xmlns=\"ombrix:setting\"/></iq>");
  // Somebody else's answer with our id is not taken.
  session_.ServerSends("<iq type='result' id='2' from='mallory@example.net'><usersetting "
                       "xmlns='ombrix:setting'><autoacceptrequests value='true'/></usersetting></iq>");
  EXPECT_TRUE(settings_.empty());
  session_.ServerSends("<iq type='result' id='2' from='alice@example.net'><usersetting xmlns='ombrix:setting'>"
                       "<autoacceptrequests value='true'/><mailnotifications value='false'/>"
                       "<archivingenabled value='maybe'/><futuresetting/></usersetting></iq>");
  EXPECT_EQ(settings_, (Settings{{"autoacceptrequests", UserSettingValue::kTrue},
                                 {"mailnotifications", UserSettingValue::kFalse},
                                 {"archivingenabled", UserSettingValue::kOther},
                                 {"futuresetting", UserSettingValue::kOther}}));
  // One answer only: a second is not consumed by the finished task.
  session_.ServerSends("<iq type='result' id='2'><usersetting xmlns='ombrix:setting'>"
                       "<autoacceptrequests value='false'/></usersetting></iq>");
  EXPECT_EQ(settings_.size(), 4u);
}

TEST_F(SettingsTest, QueryAnswersWithoutSettingsEndQuietly) {
  for (const char* answer :
       {"<iq type='error' id='ID'><error type='cancel'><service-unavailable "
        "xmlns='urn:ietf:params:xml:ns:xmpp-stanzas'/></error></iq>",
        "<iq type='result' id='ID' from='example.net'/>"}) {
    auto* query = new SettingsQueryTask(session_.connection());
    Collect(query);
    query->Start();
    session_.TakeSent();
    std::string stanza(answer);
    stanza.replace(stanza.find("ID"), 2, query->task_id());
    session_.ServerSends(stanza);
    EXPECT_EQ(session_.TakeSent(), "");  // no retry, no error of ours
  }
  EXPECT_TRUE(settings_.empty());
  EXPECT_TRUE(session_.open());
}

TEST_F(SettingsTest, SetSendsTheChangesAndReportsTheAnswer) {
  std::vector<bool> done;
  for (const char* type : {"result", "error"}) {
    UserSettingChanges changes;
    changes.auto_accept_requests = true;
    changes.archiving_enabled = false;
    auto* set = new SettingsSetTask(session_.connection(), changes);
    set->SignalDone.Connect(&host_, [&](bool ok) { done.push_back(ok); });
    set->Start();
    EXPECT_EQ(session_.TakeSent(),
              "<iq type=\"set\" to=\"alice@example.net\" id=\"" + set->task_id() +
                  "\"><usersetting xmlns=\"ombrix:setting\"><autoacceptrequests value=\"true\"/>"
                  "<mailnotifications value=\"true\"/><archivingenabled value=\"false\"/>"
                  "</usersetting></iq>");
    session_.ServerSends("<iq type='" + std::string(type) + "' id='" + set->task_id() +
                         "' from='alice@example.net'/>");
  }
  EXPECT_EQ(done, (std::vector<bool>{true, false}));
}

TEST_F(SettingsTest, PushesFromOurServerOrAccountAreAcknowledgedAndReported) {
  auto* push = new SettingsPushTask(session_.connection());
  Collect(push);
  push->Start();
  struct Case {
    const char* from;  // null: no "from"
    bool accepted;
  } cases[] = {
      {nullptr, true},
      {"example.net", true},
      {"alice@example.net", true},
      {"alice@example.net/laptop", true},
      {"mallory@example.net/x", false},
      {"other.example", false},
      {"sub.example.net", false},
      {"", false},
  };
  for (const Case& c : cases) {
    settings_.clear();
    std::string stanza = "<iq type='set' id='p1'";
    if (c.from != nullptr) stanza += " from='" + std::string(c.from) + "'";
    session_.ServerSends(stanza + "><usersetting xmlns='ombrix:setting'>"
                                  "<mailnotifications value='true'/></usersetting></iq>");
    const std::string sent = session_.TakeSent();
    const std::string from = c.from == nullptr ? "(none)" : c.from;
    if (c.accepted) {
      const std::string to = c.from == nullptr ? "" : " to=\"" + from + "\"";
      EXPECT_EQ(sent, "<iq type=\"result\"" + to + " id=\"p1\"><usersetting xmlns=\"ombrix:setting\"/></iq>")
          << from;
      EXPECT_EQ(settings_, (Settings{{"mailnotifications", UserSettingValue::kTrue}})) << from;
    } else {
      EXPECT_NE(sent.find("type=\"error\""), std::string::npos) << from << ": " << sent;
      EXPECT_TRUE(settings_.empty()) << from;
    }
  }
}

TEST_F(SettingsTest, ManySettingsInOneAnswerAreCapped) {
  auto* push = new SettingsPushTask(session_.connection());
  Collect(push);
  push->Start();
  std::string stanza = "<iq type='set' id='p1'><usersetting xmlns='ombrix:setting'>";
  for (int i = 0; i < 5000; ++i) stanza += "<s" + std::to_string(i) + " value='true'/>";
  session_.ServerSends(stanza + "</usersetting></iq>");
  EXPECT_EQ(settings_.size(), UserSetting::kMaxEntries);
}

}  // namespace
}  // namespace vexalo
