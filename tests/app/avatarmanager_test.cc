// Contacts' pictures over a scripted server: which presences ask for a vCard, what the answers
// do to the cache and its index, and when asking stops.
#include "app/avatarmanager.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "support/signedinconnection.h"
#include "support/testfiles.h"
#include "xml/xmlelem.h"
#include "xmpp/presence/presencestatus.h"
#include "xmpp/vcard/avatarhash.h"
#include "xmpp/vcard/vcard.h"

namespace vexalo {
namespace {

const std::string kPicture = "\x89PNG\r\n\x1a\n picture bytes";

class AvatarManagerTest : public ::testing::Test {
 protected:
  AvatarManagerTest() : cache_(dir_.path(), nullptr) {
    EXPECT_TRUE(cache_.Open());
    Restart();
  }
  void Restart() {
    manager_ = std::make_unique<AvatarManager>(session_.connection(), &cache_,
                                               XmppAddress("alice@example.net/desk"));
    manager_->SignalPicture.Connect(&host_,
                                    [this](const XmppAddress& who, const std::string& hash) {
                                      pictures_.emplace_back(who.ToString(), hash);
                                    });
  }
  void Presence(const std::string& from, const std::string& photo_element) {
    auto stanza =
        XmlElem::ParseFromString("<presence from='" + from + "'><x xmlns='vcard-temp:x:update'>" +
                                 photo_element + "</x></presence>");
    manager_->OnPresence(PresenceStatus::FromStanza(*stanza));
    session_.Pump();
  }
  // The ids of the vCard requests written since the last call, each checked for its target.
  std::vector<std::string> TakeRequests(const std::string& to) {
    std::vector<std::string> ids;
    const std::string sent = session_.TakeSent();
    for (size_t at = sent.find("<iq"); at != std::string::npos; at = sent.find("<iq", at + 1)) {
      const std::string iq = sent.substr(at, sent.find("</iq>", at) - at);
      EXPECT_NE(iq.find("vcard-temp"), std::string::npos) << iq;
      EXPECT_NE(iq.find("to=\"" + to + "\""), std::string::npos) << iq;
      const size_t id = iq.find("id=\"") + 4;
      ids.push_back(iq.substr(id, iq.find('"', id) - id));
    }
    return ids;
  }
  void AnswerCard(const std::string& from, const std::string& id, const std::string& picture) {
    session_.ServerSends("<iq type='result' from='" + from + "' id='" + id +
                         "'><vCard xmlns='vcard-temp'><PHOTO><BINVAL>" +
                         VCard::EncodeBase64(picture) + "</BINVAL></PHOTO></vCard></iq>");
  }
  void AnswerError(const std::string& from, const std::string& id) {
    session_.ServerSends("<iq type='error' from='" + from + "' id='" + id +
                         "'><error type='cancel'><item-not-found "
                         "xmlns='urn:ietf:params:xml:ns:xmpp-stanzas'/></error></iq>");
  }

  TempDir dir_;
  SignedInConnection session_;
  AvatarCache cache_;
  SlotHost host_;
  std::unique_ptr<AvatarManager> manager_;
  std::vector<std::pair<std::string, std::string>> pictures_;
};

TEST_F(AvatarManagerTest, NewPictureIsFetchedOnceStoredAndRemembered) {
  const std::string hash = AvatarHash(kPicture);
  Presence("bob@example.net/home", "<photo>" + hash + "</photo>");
  // A second resource announcing the same picture while the request is out asks nothing more.
  Presence("bob@example.net/work", "<photo>" + hash + "</photo>");
  const auto ids = TakeRequests("bob@example.net");
  ASSERT_EQ(ids.size(), 1u);
  AnswerCard("bob@example.net", ids[0], kPicture);
  ASSERT_EQ(pictures_.size(), 1u);
  EXPECT_EQ(pictures_[0], std::make_pair(std::string("bob@example.net"), hash));
  EXPECT_EQ(cache_.LoadOriginal(hash), kPicture);

  // Known now: the next presence asks nothing, and a new session finds it in the index.
  Presence("bob@example.net/home", "<photo>" + hash + "</photo>");
  EXPECT_TRUE(TakeRequests("bob@example.net").empty());
  Restart();
  EXPECT_EQ(manager_->HashOf(XmppAddress("bob@example.net/any")), hash);

  // An empty photo element: the contact has no picture any more.
  Presence("bob@example.net/home", "<photo/>");
  EXPECT_EQ(pictures_.back(), std::make_pair(std::string("bob@example.net"), std::string()));
  Restart();
  EXPECT_EQ(manager_->HashOf(XmppAddress("bob@example.net")), "");
}

TEST_F(AvatarManagerTest, RequestsStopAfterRepeatedFailures) {
  const std::string hash = AvatarHash("a picture nobody delivers");
  // Errors, and a card holding another picture than announced, count as failures.
  for (int i = 0; i < AvatarCache::kMaxFailures + 1; ++i) {
    Presence("carol@example.net/r", "<photo>" + hash + "</photo>");
    const auto ids = TakeRequests("carol@example.net");
    ASSERT_EQ(ids.size(), 1u) << "request " << i;
    if (i == 0) {
      AnswerCard("carol@example.net", ids[0], kPicture);
    } else {
      AnswerError("carol@example.net", ids[0]);
    }
  }
  Presence("carol@example.net/r", "<photo>" + hash + "</photo>");
  EXPECT_TRUE(TakeRequests("carol@example.net").empty());
  // What the card held is shown all the same.
  ASSERT_FALSE(pictures_.empty());
  EXPECT_EQ(pictures_.front().second, AvatarHash(kPicture));
}

TEST_F(AvatarManagerTest, PresencesWithoutAUsableHashAskNothing) {
  for (const char* photo : {"", "<photo>../../etc/passwd</photo>", "<photo>abc</photo>"}) {
    Presence("dave@example.net/r", photo);
  }
  // Our own other resources: our picture comes from our own card.
  Presence("alice@example.net/phone", "<photo>" + AvatarHash(kPicture) + "</photo>");
  EXPECT_TRUE(session_.TakeSent().empty());
  EXPECT_TRUE(pictures_.empty());
}

TEST_F(AvatarManagerTest, OwnCardGivesOwnPicture) {
  std::vector<std::string> own;
  manager_->SignalOwnPicture.Connect(&host_, [&](const std::string& hash) { own.push_back(hash); });
  manager_->RequestOwn();
  session_.Pump();
  const std::string sent = session_.TakeSent();
  ASSERT_NE(sent.find("vcard-temp"), std::string::npos);
  EXPECT_EQ(sent.find("to="), std::string::npos) << sent;
  const size_t id = sent.find("id=\"") + 4;
  session_.ServerSends("<iq type='result' id='" + sent.substr(id, sent.find('"', id) - id) +
                       "'><vCard xmlns='vcard-temp'><PHOTO><BINVAL>" +
                       VCard::EncodeBase64(kPicture) + "</BINVAL></PHOTO></vCard></iq>");
  EXPECT_EQ(own, std::vector<std::string>{AvatarHash(kPicture)});
  Restart();
  EXPECT_EQ(manager_->own_hash(), AvatarHash(kPicture));
}

}  // namespace
}  // namespace vexalo
