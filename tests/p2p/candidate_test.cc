#include "p2p/base/candidate.h"

#include <gtest/gtest.h>

namespace vexalo {
namespace {

TEST(CandidateTest, IdentityLeavesOutPreferenceAndNetwork) {
  Candidate a;
  a.name = "rtp";
  a.protocol = "udp";
  a.address = SocketAddress(0x7F000001, 5000);
  a.username = "user";
  a.password = "pass";
  a.type = "local";
  a.generation = 1;
  Candidate b = a;
  b.preference = 0.5f;
  b.network_name = "eth1";
  EXPECT_EQ(a, b);
  for (auto change : {+[](Candidate* c) { c->protocol = "tcp"; },
                      +[](Candidate* c) { c->address.SetPort(5001); },
                      +[](Candidate* c) { c->password = "other"; },
                      +[](Candidate* c) { c->generation = 2; }}) {
    Candidate c = a;
    change(&c);
    EXPECT_NE(a, c);
  }
}

TEST(CandidateTest, ProtocolNumbers) {
  ProtocolType proto;
  for (int i = PROTO_UDP; i <= PROTO_SSLTCP; ++i) {
    ASSERT_TRUE(StringToProto(ProtoToString(i), &proto));
    EXPECT_EQ(proto, i);
  }
  EXPECT_STREQ(ProtoToString(2), "ssltcp");
  EXPECT_EQ(ProtoToString(3), nullptr);
  EXPECT_FALSE(StringToProto("UDP", &proto));
  EXPECT_FALSE(StringToProto("", &proto));
}

}  // namespace
}  // namespace vexalo
