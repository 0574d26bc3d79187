#include "session/phone/codecnegotiator.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "session/phone/codecpreference.h"

namespace vexalo {
namespace {

// What our engine reports, in its order.
const std::vector<Codec> kOurEngine = {
    {111, "opus", 0}, {110, "speex", 0}, {0, "PCMU", 0}, {8, "PCMA", 0}, {13, "CN", 0}};

std::vector<std::string> Names(const PhoneDescription& description) {
  std::vector<std::string> names;
  for (const Codec& codec : description.codecs()) names.push_back(codec.name);
  return names;
}

std::vector<Codec> Offer(const std::vector<std::string>& names) {
  std::vector<Codec> codecs;
  for (const std::string& name : names) codecs.push_back({0, name, 0});
  return codecs;
}

TEST(CodecNegotiator, PreferencesPutOpusAboveEveryListedName) {
  EXPECT_EQ(CodecPreference("opus"), 8);
  EXPECT_EQ(CodecPreference("ISAC"), 7);
  EXPECT_EQ(CodecPreference("PCMU"), 2);
  EXPECT_EQ(CodecPreference("iLBC"), 1);
  EXPECT_EQ(CodecPreference("speex"), -1);
  EXPECT_EQ(CodecPreference("pcmu"), -1);  // names are case-sensitive
}

TEST(CodecNegotiator, OfferHasEveryLocalCodecBestFirstStably) {
  CodecNegotiator ours(kOurEngine);
  PhoneDescription offer = ours.CreateOffer();
  EXPECT_EQ(Names(offer), (std::vector<std::string>{"opus", "PCMU", "PCMA", "CN", "speex"}));
  EXPECT_EQ(offer.codecs()[0].id, 111);
  EXPECT_EQ(offer.codecs()[0].preference, 8);
}

// Answers only ever hold codecs both sides list, whatever the offer's order.
TEST(CodecNegotiator, AnswersWithCodecsBothSidesList) {
  const struct {
    const char* name;
    std::vector<Codec> local;
    std::vector<std::string> offered;
    std::vector<std::string> answer;
  } cases[] = {
      {"two of ours", kOurEngine, {"PCMU", "opus", "CN"}, {"opus", "PCMU", "CN"}},
      {"peer without opus", kOurEngine, {"ISAC", "PCMU", "PCMA", "CN", "iLBC"},
       {"PCMU", "PCMA", "CN"}},
      {"old peer's two", kOurEngine, {"ISAC", "PCMU"}, {"PCMU"}},
      {"nothing in common", kOurEngine, {"G723", "iLBC"}, {}},
      {"names are case-sensitive", kOurEngine, {"Opus", "pcmu"}, {}},
      {"ISAC sorted before PCMU", {{0, "PCMU", 0}, {103, "ISAC", 0}}, {"PCMU", "ISAC"},
       {"ISAC", "PCMU"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    CodecNegotiator negotiator(c.local);
    EXPECT_EQ(Names(negotiator.CreateAnswer(PhoneDescription(Offer(c.offered)))), c.answer);
  }
}

TEST(CodecNegotiator, AnswerCarriesOurPayloadTypes) {
  CodecNegotiator ours(kOurEngine);
  PhoneDescription answer = ours.CreateAnswer(PhoneDescription({{96, "opus", 0}}));
  ASSERT_EQ(answer.codecs().size(), 1u);
  EXPECT_EQ(answer.codecs()[0].id, 111);
}

TEST(CodecNegotiator, SendCodecIsTheFirstRemoteVoiceCodecWeHave) {
  const struct {
    const char* name;
    std::vector<std::string> remote;
    std::string chosen;
  } cases[] = {
      {"first in the remote list", {"PCMA", "opus"}, "PCMA"},
      {"unknown names skipped", {"ISAC", "iLBC", "opus"}, "opus"},
      {"only codecs we lack", {"ISAC", "G723"}, "PCMU"},
      {"empty list", {}, "PCMU"},
      {"comfort noise alone cannot carry a call", {"CN", "speex"}, "speex"},
  };
  CodecNegotiator ours(kOurEngine);
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ours.ChooseSendCodec(Offer(c.remote)), c.chosen);
  }
}

TEST(CodecNegotiator, OnlyVoiceCodecsCount) {
  EXPECT_FALSE(CodecNegotiator::HasVoiceCodec(PhoneDescription()));
  EXPECT_FALSE(CodecNegotiator::HasVoiceCodec(PhoneDescription({{13, "CN", 2}})));
  EXPECT_TRUE(CodecNegotiator::HasVoiceCodec(PhoneDescription({{13, "CN", 2}, {0, "PCMU", 2}})));
}

}  // namespace
}  // namespace vexalo
