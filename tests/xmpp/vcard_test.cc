// vCards: the record, its picture, the picture hash, and the get and set tasks from stanza
// transcripts.
#include "xmpp/vcard/vcard.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "xmpp/vcard/avatarhash.h"
#include "xmpp/stream/constants.h"
#include "support/signedinconnection.h"
#include "xmpp/vcard/vcardgettask.h"
#include "xmpp/vcard/vcardsettask.h"

namespace vexalo {
namespace {

VCard CardFrom(const std::string& xml) {
  std::unique_ptr<XmlElem> element = XmlElem::ParseFromString(xml);
  EXPECT_NE(element, nullptr) << xml;
  return element ? VCard(*element) : VCard();
}

TEST(AvatarHashTest, IsLowerCaseSha1AndOnlyExactHashesPass) {
  EXPECT_EQ(AvatarHash("abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
  EXPECT_EQ(AvatarHash(""), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
  struct Case {
    const char* text;
    const char* normalized;  // empty: not a hash
  } cases[] = {
      {"a9993e364706816aba3e25717850c26c9cd0d89d", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"A9993E364706816ABA3E25717850C26C9CD0D89D", "a9993e364706816aba3e25717850c26c9cd0d89d"},
      {"a9993e364706816aba3e25717850c26c9cd0d89", ""},    // 39
      {"a9993e364706816aba3e25717850c26c9cd0d89d0", ""},  // 41
      {"g9993e364706816aba3e25717850c26c9cd0d89d", ""},
      {"../../../../../../../../../../../etc/pass", ""},  // 40 characters, a path
      {"a9993e364706816aba3e25717850c26c9cd0d89 ", ""},
      {"", ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(NormalizeAvatarHash(c.text), c.normalized) << c.text;
    EXPECT_EQ(IsAvatarHash(c.text), *c.normalized != '\0') << c.text;
  }
}

TEST(VCardTest, Base64Decoding) {
  struct Case {
    const char* text;
    bool ok;
    const char* bytes;
  } cases[] = {
      {"", true, ""},
      {"TWFu", true, "Man"},
      {"TWE=", true, "Ma"},
      {"TWE", true, "Ma"},
      {"TQ==", true, "M"},
      {"TQ", true, "M"},
      {"TW\r\nFu\n TWE=\n", true, "ManMa"},
      {"T", false, ""},
      {"TWFu=", false, ""},
      {"TQ=", false, ""},
      {"TQ===", false, ""},
      {"TQ==TWFu", false, ""},
      {"TW-u", false, ""},
      {"TWFu\x01", false, ""},
  };
  for (const Case& c : cases) {
    std::string out;
    EXPECT_EQ(VCard::DecodeBase64(c.text, 100, &out), c.ok) << c.text;
    if (c.ok) {
      EXPECT_EQ(out, c.bytes) << c.text;
    }
  }
  // Bounded output, to the byte.
  std::string out;
  EXPECT_TRUE(VCard::DecodeBase64("TWFuTWE=", 5, &out));
  EXPECT_FALSE(VCard::DecodeBase64("TWFuTWE=", 4, &out));
  EXPECT_FALSE(VCard::DecodeBase64("TWFuTWFu", 5, &out));
  // Encoding round-trips every length of a tail.
  std::string bytes;
  for (int i = 0; i < 64; ++i) {
    bytes.push_back(static_cast<char>(i * 37));
    ASSERT_TRUE(VCard::DecodeBase64(VCard::EncodeBase64(bytes), 1000, &out));
    EXPECT_EQ(out, bytes);
  }
}

TEST(VCardTest, ReadsNamePictureAndModifiedMark) {
  const VCard card = CardFrom(
      "<vCard xmlns='vcard-temp'><FN>Bob Builder</FN><PHOTO><TYPE>image/png</TYPE>"
      "<BINVAL>iVBO\nRw==</BINVAL></PHOTO></vCard>");
  EXPECT_EQ(card.FullName(), "Bob Builder");
  EXPECT_EQ(card.Photo(), std::string("\x89PNG", 4));
  EXPECT_TRUE(card.IsModified());

  struct Case {
    const char* xml;
    bool modified;
  } cases[] = {
      {"<vCard xmlns='vcard-temp' xmlns:a='ombrix:avatar' a:modified='false'/>", false},
      {"<vCard xmlns='vcard-temp' xmlns:a='ombrix:avatar' a:modified='true'/>", true},
      {"<vCard xmlns='vcard-temp' xmlns:a='ombrix:avatar' a:modified='FALSE'/>", true},
      // Not in the avatar namespace.
      {"<vCard xmlns='vcard-temp' modified='false'/>", true},
      {"<vCard xmlns='vcard-temp'/>", true},
  };
  for (const Case& c : cases) {
    const VCard other = CardFrom(c.xml);
    EXPECT_EQ(other.IsModified(), c.modified) << c.xml;
    EXPECT_EQ(other.FullName(), "");
    EXPECT_EQ(other.Photo(), "");
  }
  EXPECT_TRUE(VCard().IsModified());

  // A picture that is no Base64, or too large, is no picture.
  EXPECT_EQ(
      CardFrom("<vCard xmlns='vcard-temp'><PHOTO><BINVAL>%%%</BINVAL></PHOTO></vCard>").Photo(),
      "");
  const std::string huge = VCard::EncodeBase64(std::string(kMaxAvatarBytes + 1, 'x'));
  EXPECT_EQ(VCard::WithPhotoBase64(huge).Photo(), "");
  const std::string largest = VCard::EncodeBase64(std::string(kMaxAvatarBytes, 'x'));
  EXPECT_EQ(VCard::WithPhotoBase64(largest).Photo().size(), kMaxAvatarBytes);
}

class VCardTaskTest : public ::testing::Test {
 protected:
  VCardGetTask* StartGet(const XmppAddress& target, const std::string& hash) {
    auto* task = new VCardGetTask(session_.connection());
    task->SetTarget(target);
    task->SetKnownHash(hash);
    task->SignalVCard.Connect(&host_, [this](const XmppAddress& who, const VCard& card) {
      got_.push_back(who.ToString() + "|" + card.FullName() + "|" + card.Photo() + "|" +
                     (card.IsModified() ? "modified" : "unchanged"));
    });
    task->Start();
    return task;
  }

  SignedInConnection session_;
  SlotHost host_;
  std::vector<std::string> got_;
};

TEST_F(VCardTaskTest, GetAsksWithTheKnownHashAndTakesTheAnswerOnlyFromTheTarget) {
  const std::string hash = "a9993e364706816aba3e25717850c26c9cd0d89d";
  StartGet(XmppAddress("bob@example.net"), hash);
  EXPECT_EQ(session_.TakeSent(),
            "<iq type=\"get\" to=\"bob@example.net\" id=\"2\"><vCard xmlns=\"vcard-temp\" "
            "ava:hash=\"" +
                hash + "\" xmlns:ava=\"ombrix:avatar\"/></iq>");
  // Answers with our id from anybody but bob, or from nobody, are not his card.
  for (const char* from : {"mallory@example.net", "bob@example.net/pda", "example.net", ""}) {
    const std::string from_attribute = *from ? std::string(" from='") + from + "'" : "";
    session_.ServerSends("<iq type='result' id='2'" + from_attribute +
                         "><vCard xmlns='vcard-temp'><FN>Fake</FN></vCard></iq>");
    session_.TakeSent();
    EXPECT_TRUE(got_.empty()) << from;
  }
  session_.ServerSends(
      "<iq type='result' id='2' from='bob@example.net'><vCard xmlns='vcard-temp' "
      "xmlns:a='ombrix:avatar' a:modified='false'><FN>Bob</FN></vCard></iq>");
  EXPECT_EQ(got_, std::vector<std::string>{"bob@example.net|Bob||unchanged"});
  EXPECT_EQ(session_.runner.task_count(), 1u);
}

TEST_F(VCardTaskTest, GetLeavesOutHashesThatAreNoHashes) {
  StartGet(XmppAddress("bob@example.net"), "../../x");
  EXPECT_EQ(session_.TakeSent(),
            "<iq type=\"get\" to=\"bob@example.net\" id=\"2\"><vCard xmlns=\"vcard-temp\"/></iq>");
}

TEST_F(VCardTaskTest, OwnCardComesFromOurServer) {
  StartGet(kEmptyAddress, "");
  EXPECT_EQ(session_.TakeSent(), "<iq type=\"get\" id=\"2\"><vCard xmlns=\"vcard-temp\"/></iq>");
  session_.ServerSends(
      "<iq type='result' id='2'><vCard xmlns='vcard-temp'><FN>Me</FN></vCard></iq>");
  EXPECT_EQ(got_, std::vector<std::string>{"|Me||modified"});

  got_.clear();
  StartGet(XmppAddress("alice@example.net"), "");
  EXPECT_EQ(
      session_.TakeSent(),
      "<iq type=\"get\" to=\"alice@example.net\" id=\"3\"><vCard xmlns=\"vcard-temp\"/></iq>");
  session_.ServerSends(
      "<iq type='result' id='3'><vCard xmlns='vcard-temp'><FN>Me</FN></vCard></iq>");
  EXPECT_EQ(got_, std::vector<std::string>{"alice@example.net|Me||modified"});
}

TEST_F(VCardTaskTest, ErrorsAndAnswersWithoutCardEndSilently) {
  for (const char* answer :
       {"<iq type='error' from='bob@example.net' id='ID'><vCard xmlns='vcard-temp'/><error "
        "type='cancel'><item-not-found xmlns='urn:ietf:params:xml:ns:xmpp-stanzas'/></error></iq>",
        "<iq type='result' from='bob@example.net' id='ID'/>"}) {
    VCardGetTask* task = StartGet(XmppAddress("bob@example.net"), "");
    std::string text = answer;
    text.replace(text.find("ID"), 2, task->task_id());
    session_.TakeSent();
    session_.ServerSends(text);
    EXPECT_TRUE(got_.empty()) << answer;
    EXPECT_EQ(session_.runner.task_count(), 1u) << answer;
  }
}

TEST_F(VCardTaskTest, SetPublishesThePictureAndReportsTheAnswer) {
  for (const char* type : {"result", "error"}) {
    auto* task = new VCardSetTask(session_.connection());
    const std::string id = task->task_id();
    EXPECT_TRUE(task->SetPhoto("TWFu"));
    EXPECT_FALSE(task->SetPhoto("not base64!"));
    EXPECT_FALSE(task->SetPhoto(VCard::EncodeBase64(std::string(kMaxAvatarBytes + 1, 'x'))));
    std::vector<std::string> results;
    task->SignalVCardSet.Connect(&host_, [&](bool ok, const VCard& card) {
      results.push_back(std::string(ok ? "ok" : "failed") + "|" + card.Photo());
    });
    task->Start();
    EXPECT_EQ(session_.TakeSent(), "<iq type=\"set\" id=\"" + id +
                                       "\"><vCard xmlns=\"vcard-temp\"><PHOTO><BINVAL>TWFu</BINVAL>"
                                       "</PHOTO></vCard></iq>");
    session_.ServerSends("<iq type='" + std::string(type) + "' id='" + id +
                         "' from='mallory@example.net'/>");
    session_.TakeSent();
    EXPECT_TRUE(results.empty());
    session_.ServerSends("<iq type='" + std::string(type) + "' id='" + id + "'/>");
    EXPECT_EQ(results,
              std::vector<std::string>{std::string(type) == "result" ? "ok|Man" : "failed|Man"});
  }
  // Without a picture: an empty card.
  auto* task = new VCardSetTask(session_.connection());
  task->Start();
  EXPECT_EQ(session_.TakeSent(),
            "<iq type=\"set\" id=\"" + task->task_id() + "\"><vCard xmlns=\"vcard-temp\"/></iq>");
}

}  // namespace
}  // namespace vexalo
