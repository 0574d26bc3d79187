// Our own presence names our picture once it is known, so that contacts fetch our card.
#include <gtest/gtest.h>

#include <string>

#include "app/chatsession.h"
#include "support/signedinconnection.h"

namespace vexalo {
namespace {

TEST(ChatSessionPictureTest, PresenceAnnouncesThePictureOnceKnown) {
  SignedInConnection connection;
  ChatSession session(connection.connection());
  connection.TakeSent();
  session.SetStatus(ShowState::kOnline, false, "here");
  std::string sent = connection.TakeSent();
  // Not known yet: an empty update element ("not ready"), no photo.
  EXPECT_NE(sent.find("vcard-temp:x:update"), std::string::npos) << sent;
  EXPECT_EQ(sent.find("<photo"), std::string::npos) << sent;

  // Known now: a presence with the status as it was goes out at once, and later ones keep it.
  const std::string hash(40, 'a');
  session.SetPictureHash(hash);
  sent = connection.TakeSent();
  EXPECT_NE(sent.find("<photo>" + hash + "</photo>"), std::string::npos) << sent;
  EXPECT_NE(sent.find("<status>here</status>"), std::string::npos) << sent;
  session.SetPictureHash(hash);
  EXPECT_EQ(connection.TakeSent(), "");
  session.SetStatus(ShowState::kAway, false, "out");
  sent = connection.TakeSent();
  EXPECT_NE(sent.find("<photo>" + hash + "</photo>"), std::string::npos) << sent;

  // Known to be none: an empty photo element.
  session.SetPictureHash("");
  sent = connection.TakeSent();
  EXPECT_NE(sent.find("<photo/>"), std::string::npos) << sent;
  EXPECT_NE(sent.find("<status>out</status>"), std::string::npos) << sent;
}

}  // namespace
}  // namespace vexalo
