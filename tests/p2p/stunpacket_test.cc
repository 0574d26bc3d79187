#include "p2p/base/stunpacket.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "p2p/base/stunmessageview.h"
#include "p2p/base/wirebuffer.h"
#include "support/logcapture.h"

namespace vexalo {
namespace {

// Builds wire bytes by hand, so the tests do not trust the serialiser they check.
struct Bytes {
  std::string data;
  Bytes& U16(uint16_t v) {
    data.push_back(static_cast<char>(v >> 8));
    data.push_back(static_cast<char>(v));
    return *this;
  }
  Bytes& U32(uint32_t v) { return U16(static_cast<uint16_t>(v >> 16)).U16(static_cast<uint16_t>(v)); }
  Bytes& Raw(const std::string& s) {
    data += s;
    return *this;
  }
  Bytes& Header(uint16_t type, uint16_t length) {
    return U16(type).U16(length).Raw("ABCDEFGHIJKLMNOP");
  }
  Bytes& Attr(uint16_t type, const std::string& value) {
    return U16(type).U16(static_cast<uint16_t>(value.size())).Raw(value);
  }
};

std::string Address(uint8_t family, uint16_t port, uint32_t ip) {
  return Bytes().U16(family).U16(port).U32(ip).data;
}

bool ParseBytes(const std::string& bytes, StunPacket* packet) {
  WireBuffer reader(bytes.data(), bytes.size());
  return packet->Parse(&reader);
}

TEST(StunPacketTest, EmptyMessageParses) {
  StunPacket packet;
  ASSERT_TRUE(ParseBytes(Bytes().Header(STUN_BINDING_REQUEST, 0).data, &packet));
  EXPECT_EQ(packet.type(), STUN_BINDING_REQUEST);
  EXPECT_EQ(packet.transaction_id(), "ABCDEFGHIJKLMNOP");
  EXPECT_TRUE(packet.attributes().empty());
}

TEST(StunPacketTest, FreshPacket) {
  StunPacket packet;
  EXPECT_EQ(packet.type(), 0);
  EXPECT_EQ(packet.length(), 0);
  EXPECT_EQ(packet.transaction_id(), "0000000000000000");
  EXPECT_FALSE(packet.SetTransactionId("short"));
}

struct MalformedCase {
  const char* name;
  std::string bytes;
  bool logs_wrong_length;
};

// Every one of these is refused as a whole, without reading past the bytes given.
TEST(StunPacketTest, MalformedMessagesAreRefused) {
  std::string garbage(64 * 1024, '\0');
  for (size_t i = 0; i < garbage.size(); ++i) garbage[i] = static_cast<char>((i * 131 + 7) % 251);
  const std::vector<MalformedCase> cases = {
      {"zero-length input", "", false},
      {"truncated header", Bytes().Header(1, 0).data.substr(0, 19), false},
      {"length field beyond the bytes", Bytes().Header(1, 12).Attr(6, "abcd").data, false},
      {"attribute longer than the message",
       Bytes().Header(1, 8).U16(STUN_ATTR_DATA).U16(40).Raw("abcd").data, false},
      {"attribute running past the declared length",
       Bytes().Header(1, 8).Attr(STUN_ATTR_MAPPED_ADDRESS, Address(1, 1, 1)).data, true},
      {"attribute header cut", Bytes().Header(1, 2).U16(6).data, false},
      {"unknown mandatory type", Bytes().Header(1, 8).Attr(0x0014, "abcd").data, false},
      {"unknown mandatory after a good one",
       Bytes().Header(1, 16).Attr(6, "abcd").Attr(0x7FFF, "abcd").data, false},
      {"type 0 attribute", Bytes().Header(1, 4).Attr(0, "").data, false},
      {"odd USERNAME", Bytes().Header(1, 10).Attr(STUN_ATTR_USERNAME, "abcdef").data, false},
      {"short MESSAGE-INTEGRITY",
       Bytes().Header(1, 20).Attr(STUN_ATTR_MESSAGE_INTEGRITY, std::string(16, 'x')).data, false},
      {"address of 4 bytes", Bytes().Header(1, 8).Attr(STUN_ATTR_MAPPED_ADDRESS, "abcd").data,
       false},
      {"u32 of 8 bytes", Bytes().Header(1, 12).Attr(STUN_ATTR_LIFETIME, "abcdefgh").data, false},
      {"OPTIONS of 2 bytes", Bytes().Header(1, 6).Attr(STUN_ATTR_OPTIONS, "ab").data, false},
      {"ERROR-CODE of 3 bytes", Bytes().Header(1, 7).Attr(STUN_ATTR_ERROR_CODE, "abc").data, false},
      {"odd UNKNOWN-ATTRIBUTES",
       Bytes().Header(1, 7).Attr(STUN_ATTR_UNKNOWN_ATTRIBUTES, "abc").data, false},
      {"TRANSPORT-PREFERENCES with P but 4 bytes",
       Bytes().Header(1, 8).Attr(STUN_ATTR_TRANSPORT_PREFERENCES, Bytes().U32(4).data).data,
       false},
      {"TRANSPORT-PREFERENCES without P but 12 bytes",
       Bytes().Header(1, 16).Attr(STUN_ATTR_TRANSPORT_PREFERENCES,
                                  Bytes().U32(0).Raw(Address(1, 2, 3)).data).data,
       false},
      {"optional attribute longer than the bytes",
       Bytes().Header(1, 8).U16(0x8022).U16(200).Raw("abcd").data, false},
      {"64 KiB of garbage", garbage, false},
  };
  for (const MalformedCase& c : cases) {
    SCOPED_TRACE(c.name);
    LogCapture log(kError);
    StunPacket packet;
    EXPECT_FALSE(ParseBytes(c.bytes, &packet));
    EXPECT_EQ(log.Contains("wrong message length"), c.logs_wrong_length);
    StunMessageView view;
    EXPECT_EQ(view.Validate(c.bytes.data(), c.bytes.size()), 0u);
    EXPECT_EQ(view.ran_past_length(), c.logs_wrong_length);
  }
}

TEST(StunPacketTest, AttributeRunningPastLengthNamesBothRemainders) {
  LogCapture log(kError);
  StunPacket packet;
  EXPECT_FALSE(ParseBytes(
      Bytes().Header(1, 8).Attr(STUN_ATTR_MAPPED_ADDRESS, Address(1, 1, 1)).data, &packet));
  EXPECT_TRUE(log.Contains("wrong message length (4 != 0)")) << log.text();
}

TEST(StunPacketTest, OddDataIsFollowedDirectlyByTheNextAttribute) {
  StunPacket packet;
  ASSERT_TRUE(ParseBytes(Bytes()
                             .Header(STUN_SEND_REQUEST, 9 + 12)
                             .Attr(STUN_ATTR_DATA, "hello")
                             .Attr(STUN_ATTR_DESTINATION_ADDRESS, Address(1, 5000, 0x7F000001))
                             .data,
                         &packet));
  ASSERT_EQ(packet.attributes().size(), 2u);
  EXPECT_EQ(packet.FindBytes(STUN_ATTR_DATA)->bytes(), "hello");
  const AddressAttr* destination = packet.FindAddress(STUN_ATTR_DESTINATION_ADDRESS);
  ASSERT_NE(destination, nullptr);
  EXPECT_EQ(destination->port(), 5000);
  EXPECT_EQ(destination->ip(), 0x7F000001u);
}

TEST(StunPacketTest, ComprehensionOptionalAttributesAreSkipped) {
  // A server's software name, its declared length counting its padding.
  StunPacket packet;
  ASSERT_TRUE(ParseBytes(Bytes()
                             .Header(STUN_BINDING_RESPONSE, 16 + 12)
                             .Attr(0x8022, std::string("Coturn-4.6\0\0", 12))
                             .Attr(STUN_ATTR_MAPPED_ADDRESS, Address(1, 9, 0x0A000001))
                             .data,
                         &packet));
  ASSERT_EQ(packet.attributes().size(), 1u);
  EXPECT_NE(packet.FindAddress(STUN_ATTR_MAPPED_ADDRESS), nullptr);
}

// The in-place view finds what the full parse would, and nothing that it skips.
TEST(StunPacketTest, ViewFindsAttributesInPlace) {
  const std::string bytes = Bytes()
                                .Header(STUN_BINDING_RESPONSE, 12 + 12 + 12)
                                .Attr(0x8022, std::string("server\0\0", 8))
                                .Attr(STUN_ATTR_MAPPED_ADDRESS, Address(1, 9, 0x0A000001))
                                .Attr(STUN_ATTR_SOURCE_ADDRESS, Address(2, 9, 0x0A000001))
                                .Raw("tail")
                                .data;
  StunMessageView view;
  ASSERT_EQ(view.Validate(bytes.data(), bytes.size()), bytes.size() - 4);
  EXPECT_EQ(view.type(), STUN_BINDING_RESPONSE);
  EXPECT_EQ(view.transaction_id(), "ABCDEFGHIJKLMNOP");
  SocketAddress mapped;
  ASSERT_TRUE(view.FindIpv4Address(STUN_ATTR_MAPPED_ADDRESS, &mapped));
  EXPECT_EQ(mapped, SocketAddress(0x0A000001, 9));
  // Family 2 is not IPv4, and a skipped or absent attribute is not found.
  EXPECT_FALSE(view.FindIpv4Address(STUN_ATTR_SOURCE_ADDRESS, &mapped));
  std::string_view value;
  EXPECT_FALSE(view.Find(STUN_ATTR_USERNAME, &value));
  EXPECT_FALSE(view.FindIpv4Address(STUN_ATTR_USERNAME, &mapped));
}

TEST(StunPacketTest, BytesAfterTheMessageStayInTheReader) {
  std::string bytes = Bytes().Header(1, 0).Raw("tail").data;
  WireBuffer reader(bytes.data(), bytes.size());
  StunPacket packet;
  ASSERT_TRUE(packet.Parse(&reader));
  EXPECT_EQ(std::string(reader.Data(), reader.Length()), "tail");
}

TEST(StunPacketTest, ErrorCodeTravelsAsPlainNumber) {
  StunPacket packet;
  ASSERT_TRUE(ParseBytes(Bytes()
                             .Header(STUN_BINDING_ERROR_RESPONSE, 4 + 15)
                             .Attr(STUN_ATTR_ERROR_CODE, Bytes().U32(0x190).Raw("BAD REQUEST").data)
                             .data,
                         &packet));
  ASSERT_NE(packet.FindError(), nullptr);
  EXPECT_EQ(packet.FindError()->code(), 400);
  EXPECT_EQ(packet.FindError()->reason(), "BAD REQUEST");

  auto error = StunPacket::CreateError();
  error->SetCode(400);
  WireBuffer writer;
  error->WriteValue(&writer);
  EXPECT_EQ(std::string(writer.Data(), 4), Bytes().U32(0x190).data);
}

TEST(StunPacketTest, ValueWarningsDoNotFailTheParse) {
  LogCapture log(kError);
  StunPacket packet;
  ASSERT_TRUE(ParseBytes(
      Bytes()
          .Header(STUN_ALLOCATE_REQUEST, 8 + 16)
          .Attr(STUN_ATTR_ERROR_CODE, Bytes().U32(0x1190).data)
          .Attr(STUN_ATTR_TRANSPORT_PREFERENCES, Bytes().U32(4 | 3).Raw(Address(1, 7, 9)).data)
          .data,
      &packet));
  EXPECT_TRUE(log.Contains("error-code bits not zero"));
  EXPECT_TRUE(log.Contains("transport-preferences imcompatible P and Typ"));
  EXPECT_EQ(packet.FindError()->code(), 400);
}

TEST(StunPacketTest, FindersKeepToTheirKind) {
  StunPacket packet;
  packet.Append(StunPacket::CreateU32(STUN_ATTR_LIFETIME));
  EXPECT_EQ(packet.FindAddress(STUN_ATTR_LIFETIME), nullptr);
  EXPECT_EQ(packet.FindBytes(STUN_ATTR_LIFETIME), nullptr);
  EXPECT_NE(packet.FindU32(STUN_ATTR_LIFETIME), nullptr);
  EXPECT_EQ(StunPacket::CreateAddress(STUN_ATTR_USERNAME), nullptr);
  EXPECT_EQ(StunPacket::CreateBytes(STUN_ATTR_MAPPED_ADDRESS), nullptr);
  EXPECT_EQ(StunPacket::CreateU32(STUN_ATTR_DATA), nullptr);
}

TEST(StunPacketTest, EveryKindRoundTrips) {
  StunPacket packet;
  packet.SetType(STUN_ALLOCATE_REQUEST);
  ASSERT_TRUE(packet.SetTransactionId("0123456789abcdef"));
  auto mapped = StunPacket::CreateAddress(STUN_ATTR_MAPPED_ADDRESS);
  mapped->SetAddress(SocketAddress(0xC0A80001, 3478));
  packet.Append(std::move(mapped));
  auto lifetime = StunPacket::CreateU32(STUN_ATTR_LIFETIME);
  lifetime->SetValue(600);
  packet.Append(std::move(lifetime));
  auto data = StunPacket::CreateBytes(STUN_ATTR_DATA);
  data->CopyBytes("odd", 3);
  packet.Append(std::move(data));
  auto error = StunPacket::CreateError();
  error->SetCode(430);
  error->SetReason(STUN_ERROR_REASON_STALE_CREDENTIALS);
  packet.Append(std::move(error));
  auto unknown = std::make_unique<U16ListAttr>(STUN_ATTR_UNKNOWN_ATTRIBUTES);
  unknown->AddValue(0x14);
  unknown->AddValue(0x15);
  packet.Append(std::move(unknown));
  auto prefs = std::make_unique<TransportPrefsAttr>();
  auto preallocated = std::make_unique<AddressAttr>(STUN_ATTR_SOURCE_ADDRESS);
  preallocated->SetAddress(SocketAddress(0x01020304, 1));
  prefs->SetPreallocateAddress(std::move(preallocated));
  prefs->SetTransportType(1);
  packet.Append(std::move(prefs));

  WireBuffer writer;
  packet.Serialize(&writer);
  ASSERT_EQ(writer.Length(), StunPacket::kHeaderSize + packet.length());

  StunPacket parsed;
  WireBuffer reader(writer.Data(), writer.Length());
  ASSERT_TRUE(parsed.Parse(&reader));
  EXPECT_EQ(parsed.type(), STUN_ALLOCATE_REQUEST);
  EXPECT_EQ(parsed.transaction_id(), "0123456789abcdef");
  ASSERT_EQ(parsed.attributes().size(), 6u);
  EXPECT_EQ(parsed.FindAddress(STUN_ATTR_MAPPED_ADDRESS)->address(),
            SocketAddress(0xC0A80001, 3478));
  EXPECT_EQ(parsed.FindAddress(STUN_ATTR_MAPPED_ADDRESS)->family(), STUN_ADDRESS_IPV4);
  EXPECT_EQ(parsed.FindU32(STUN_ATTR_LIFETIME)->value(), 600u);
  EXPECT_EQ(parsed.FindBytes(STUN_ATTR_DATA)->bytes(), "odd");
  EXPECT_EQ(parsed.FindError()->code(), 430);
  EXPECT_EQ(parsed.FindError()->reason(), "STALE CREDENTIALS");
  const auto* list = static_cast<const U16ListAttr*>(parsed.attributes()[4].get());
  EXPECT_EQ(list->values(), (std::vector<uint16_t>{0x14, 0x15}));
  const auto* parsed_prefs = static_cast<const TransportPrefsAttr*>(parsed.attributes()[5].get());
  EXPECT_TRUE(parsed_prefs->preallocate());
  EXPECT_EQ(parsed_prefs->transport_type(), 1u);
  EXPECT_EQ(parsed_prefs->address()->address(), SocketAddress(0x01020304, 1));

  WireBuffer again;
  parsed.Serialize(&again);
  EXPECT_EQ(std::string(again.Data(), again.Length()),
            std::string(writer.Data(), writer.Length()));
}

TEST(StunPacketTest, AppendRefusesToOverflowTheLengthField) {
  StunPacket packet;
  auto big = StunPacket::CreateBytes(STUN_ATTR_DATA);
  ASSERT_TRUE(big->CopyBytes(std::string(65000, 'x')));
  ASSERT_TRUE(packet.Append(std::move(big)));
  auto more = StunPacket::CreateBytes(STUN_ATTR_DATA);
  ASSERT_TRUE(more->CopyBytes(std::string(1000, 'y')));
  EXPECT_FALSE(packet.Append(std::move(more)));
  EXPECT_EQ(packet.length(), 65004);
  EXPECT_FALSE(StunPacket::CreateBytes(STUN_ATTR_DATA)->CopyBytes(std::string(70000, 'z')));
}

TEST(StunPacketTest, ResponseAndErrorTypes) {
  const std::vector<std::tuple<uint16_t, uint16_t, uint16_t>> table = {
      {1, 0x0101, 0x0111}, {2, 0x0102, 0x0112}, {3, 0x0103, 0x0113},
      {4, 0x0104, 0x0114}, {0x0115, 0x0101, 0x0111}, {0, 0x0101, 0x0111}};
  for (const auto& [request, response, error] : table) {
    EXPECT_EQ(ResponseTypeFor(request), response) << request;
    EXPECT_EQ(ErrorTypeFor(request), error) << request;
  }
}

}  // namespace
}  // namespace vexalo
