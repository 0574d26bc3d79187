#include "p2p/client/candidateelement.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "support/logcapture.h"
#include "xml/xmlwriter.h"

namespace vexalo {
namespace {

const char kNs[] = "http://example.test/session";
const XmlName kCandidateName(kNs, "candidate");

std::unique_ptr<XmlElem> Element(const std::string& attributes) {
  return XmlElem::ParseFromString("<candidate xmlns='" + std::string(kNs) + "' " + attributes +
                                  "/>");
}

std::string With(const std::string& address, const std::string& port,
                 const std::string& username = "abcDEF09+/") {
  return "name='rtp' address='" + address + "' port='" + port + "' username='" + username +
         "' preference='0.9' protocol='udp' generation='1'";
}

struct RuleCase {
  const char* what;
  std::string attributes;
  const char* error;  // empty: accepted
};

TEST(CandidateElementTest, AcceptanceRules) {
  const RuleCase cases[] = {
      {"port 443 on a private address", With("192.168.1.5", "443"),
       "Candidate has port of 80 or 443 with private IP address"},
      {"port 80 on 172.16/12", With("172.31.0.1", "80"),
       "Candidate has port of 80 or 443 with private IP address"},
      {"port 80 just outside 172.16/12", With("172.32.0.1", "80"), ""},
      {"port 443 on a public address", With("8.8.8.8", "443"), ""},
      {"port 1023", With("8.8.8.8", "1023"), "Candidate has port below 1024, not 80 or 443"},
      {"port 1024 on a private address", With("10.1.2.3", "1024"), ""},
      {"port 65535", With("10.1.2.3", "65535"), ""},
      {"port 65536 does not wrap", With("10.1.2.3", "65536"), "Candidate has bad port"},
      {"port 66560 would wrap to 1024", With("10.1.2.3", "66560"), "Candidate has bad port"},
      {"port 0", With("10.1.2.3", "0"), "Candidate has bad port"},
      {"negative port", With("10.1.2.3", "-5000"), "Candidate has bad port"},
      {"port with trailing text", With("10.1.2.3", "5000x"), "Candidate has bad port"},
      {"address 0", With("0.0.0.0", "5000"), "Candidate has address 0"},
      {"host name is never looked up", With("localhost", "5000"), "Candidate has address 0"},
      {"IPv6 literal", With("::1", "5000"), "Candidate has address 0"},
      {"short dotted form", With("10.1", "5000"), "Candidate has address 0"},
      {"loopback", With("127.0.0.2", "5000"), "Candidate has local IP address"},
      {"loopback on 443", With("127.0.0.1", "443"), "Candidate has local IP address"},
      {"16-character username", With("10.0.0.1", "5000", "ABCDEFGHIJKLMNOP"), ""},
      {"17 base64 characters", With("10.0.0.1", "5000", "ABCDEFGHIJKLMNOPQ"),
       "Candidate username is too long"},
      {"16 characters with a dash", With("10.0.0.1", "5000", "ABCDEFGHIJKLMNO-"),
       "Candidate username has non-base64 encoded characters"},
      {"missing generation",
       "name='a' address='10.0.0.1' port='5000' username='u' preference='1' protocol='udp'",
       "Candidate missing required attribute"},
      {"missing preference",
       "name='a' address='10.0.0.1' port='5000' username='u' protocol='udp' generation='0'",
       "Candidate missing required attribute"},
      {"NaN preference",
       "name='a' address='10.0.0.1' port='5000' username='u' preference='nan' protocol='udp' "
       "generation='0'",
       "Candidate has bad preference"},
      {"generation past 32 bits",
       "name='a' address='10.0.0.1' port='5000' username='u' preference='1' protocol='udp' "
       "generation='4294967296'",
       "Candidate has bad generation"},
  };
  for (const RuleCase& c : cases) {
    SCOPED_TRACE(c.what);
    LogCapture log(kError);
    Candidate candidate;
    std::string error;
    bool accepted = CandidateElement::Parse(*Element(c.attributes), &candidate, &error);
    EXPECT_EQ(accepted, std::string(c.error).empty());
    EXPECT_EQ(error, c.error);
    if (!accepted) {
      EXPECT_NE(log.text().find(c.error), std::string::npos);
    }
  }
}

TEST(CandidateElementTest, TakesEveryFieldAndOptionalOnesMayBeMissing) {
  Candidate candidate;
  ASSERT_TRUE(CandidateElement::Parse(
      *Element("name='video' address='203.0.113.7' port='40000' username='u1' "
               "preference='0.75' protocol='tcp' generation='3' type='stun' network='eth0' "
               "password='pw'"),
      &candidate, nullptr));
  EXPECT_EQ(candidate.name, "video");
  EXPECT_EQ(candidate.address, SocketAddress(0xCB007107, 40000));
  EXPECT_FLOAT_EQ(candidate.preference, 0.75f);
  EXPECT_EQ(candidate.protocol, "tcp");
  EXPECT_EQ(candidate.generation, 3u);
  EXPECT_EQ(candidate.type, "stun");
  EXPECT_EQ(candidate.network_name, "eth0");
  EXPECT_EQ(candidate.password, "pw");

  ASSERT_TRUE(CandidateElement::Parse(*Element(With("203.0.113.7", "40000")), &candidate, nullptr));
  EXPECT_EQ(candidate.password, "");
  EXPECT_EQ(candidate.type, "");
}

TEST(CandidateElementTest, WritesEveryAttributeInOrderAndReadsBack) {
  Candidate candidate;
  candidate.name = "rtp";
  candidate.address = SocketAddress(0xCB007107, 40000);
  candidate.username = "abc+/";
  candidate.preference = 1.0f;
  candidate.protocol = "udp";
  candidate.type = "local";
  candidate.generation = 7;
  const std::string text = XmlWriter::ToString(*CandidateElement::Write(candidate, kCandidateName));
  EXPECT_EQ(text,
            "<ses:candidate name=\"rtp\" address=\"203.0.113.7\" port=\"40000\" "
            "username=\"abc+/\" password=\"\" preference=\"1\" protocol=\"udp\" "
            "type=\"local\" network=\"\" generation=\"7\" "
            "xmlns:ses=\"http://example.test/session\"/>");
  Candidate back;
  ASSERT_TRUE(CandidateElement::Parse(*XmlElem::ParseFromString(text), &back, nullptr));
  EXPECT_EQ(back, candidate);
}

TEST(CandidateElementTest, PreferenceHasSixSignificantDigits) {
  EXPECT_EQ(CandidateElement::FormatPreference(1.0f), "1");
  EXPECT_EQ(CandidateElement::FormatPreference(0.9f), "0.9");
  EXPECT_EQ(CandidateElement::FormatPreference(0.123456789f), "0.123457");
  EXPECT_EQ(CandidateElement::FormatPreference(0.0f), "0");
}

}  // namespace
}  // namespace vexalo
