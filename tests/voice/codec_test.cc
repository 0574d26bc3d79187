#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "voice/codecregistry.h"
#include "voice/g711codec.h"
#include "support/voice/toneanalysis.h"

namespace vexalo {
namespace {

TEST(G711Codec, KnownCodesAndSmallRoundTripError) {
  EXPECT_EQ(G711Codec::EncodeMu(0), 0xFF);
  EXPECT_EQ(G711Codec::EncodeA(0), 0xD5);
  EXPECT_EQ(G711Codec::DecodeMu(0x00), -32124);
  EXPECT_EQ(G711Codec::DecodeMu(0x80), 32124);
  EXPECT_EQ(G711Codec::DecodeA(0x55), -8);
  for (int value = -32768; value <= 32767; value += 7) {
    const auto sample = static_cast<int16_t>(value);
    // Companding keeps the error within about 1/16 of the magnitude (plus the smallest step).
    const int bound = std::abs(value) / 16 + 16;
    EXPECT_NEAR(G711Codec::DecodeMu(G711Codec::EncodeMu(sample)), value, bound + 16) << value;
    EXPECT_NEAR(G711Codec::DecodeA(G711Codec::EncodeA(sample)), value, bound) << value;
  }
}

TEST(CodecRegistry, ListsPayloadTypesAndNames) {
  const struct {
    const char* name;
    int payload_type;
    int clock_rate;
  } expected[] = {{"opus", 111, 48000}, {"speex", 110, 8000}, {"PCMU", 0, 8000},
                  {"PCMA", 8, 8000},    {"CN", 13, 8000}};
  ASSERT_EQ(CodecRegistry::All().size(), std::size(expected));
  for (size_t i = 0; i < std::size(expected); ++i) {
    EXPECT_STREQ(CodecRegistry::All()[i].name, expected[i].name);
    EXPECT_EQ(CodecRegistry::All()[i].payload_type, expected[i].payload_type);
    EXPECT_EQ(CodecRegistry::All()[i].clock_rate, expected[i].clock_rate);
  }
  EXPECT_EQ(CodecRegistry::Create(*CodecRegistry::FindByName("CN")), nullptr);
}

// Every voice codec carries a 600 Hz tone at its level, and a lost frame is filled with
// something of the same tone rather than silence.
TEST(AudioCodec, CarriesToneAndConcealsLoss) {
  for (const char* name : {"opus", "speex", "PCMU", "PCMA"}) {
    SCOPED_TRACE(name);
    auto codec = CodecRegistry::Create(*CodecRegistry::FindByName(name));
    ASSERT_TRUE(codec);
    const int rate = codec->sample_rate();
    const auto frame = static_cast<size_t>(codec->frame_samples());
    auto tone = testing::MakeTone(600, 8000, 1.0, rate);
    std::vector<int16_t> decoded;
    int16_t pcm[AudioCodec::kMaxFrameSamples];
    uint8_t payload[AudioCodec::kMaxPayload];
    for (size_t at = 0; at + frame <= tone.size(); at += frame) {
      const int bytes = codec->Encode(tone.data() + at, payload, sizeof payload);
      ASSERT_GT(bytes, 0);
      const int samples = codec->Decode(std::span(payload, static_cast<size_t>(bytes)), pcm,
                                        std::size(pcm));
      ASSERT_EQ(samples, static_cast<int>(frame));
      decoded.insert(decoded.end(), pcm, pcm + samples);
    }
    const size_t tail = decoded.size() / 2;
    EXPECT_NEAR(testing::ToneAmplitude(decoded, tail, tail, 600, rate), 8000, 1600);
    const int concealed = codec->Conceal(pcm, std::size(pcm));
    ASSERT_EQ(concealed, static_cast<int>(frame));
    std::vector<int16_t> filler(pcm, pcm + concealed);
    EXPECT_GT(testing::ToneAmplitude(filler, 0, filler.size(), 600, rate), 1000);
    // Garbage never decodes to more than a frame's room.
    const uint8_t junk[] = {0xFF, 0xFF, 0xFF};
    EXPECT_LE(codec->Decode(junk, pcm, 8), 8);
  }
}

}  // namespace
}  // namespace vexalo
