#include "session/tunnel/tunneldescriptionformat.h"

#include <gtest/gtest.h>

#include <string>

#include "session/tunnel/tunneldescription.h"
#include "xml/xmlelem.h"
#include "xml/xmlwriter.h"

namespace vexalo {
namespace {

const std::string kNs = "http://example.test/vexalo/tunnel";
const std::string kHash(64, 'a');

std::shared_ptr<const TunnelDescription> Parse(const std::string& inner) {
  TunnelDescriptionFormat format(kNs);
  auto element = XmlElem::ParseFromString("<description xmlns='" + kNs + "'>" + inner + "</description>");
  if (!element) return nullptr;
  return std::dynamic_pointer_cast<const TunnelDescription>(format.ParseDescription(*element));
}

TEST(TunnelDescriptionFormat, WrittenDescriptionsParseBackTheSame) {
  TunnelDescriptionFormat format(kNs);
  TunnelDescription plain("chat");
  TunnelDescription file("file-transfer", FileOffer{"report <final>.pdf", 123456789012ull, kHash});
  for (const TunnelDescription* original : {&plain, &file}) {
    auto element = format.WriteDescription(*original);
    auto reparsed = XmlElem::ParseFromString(XmlWriter::ToString(*element));
    ASSERT_NE(reparsed, nullptr);
    auto parsed = std::dynamic_pointer_cast<const TunnelDescription>(format.ParseDescription(*reparsed));
    ASSERT_NE(parsed, nullptr);
    EXPECT_EQ(parsed->type(), original->type());
    ASSERT_EQ(parsed->file().has_value(), original->file().has_value());
    if (original->file()) {
      EXPECT_EQ(parsed->file()->name, original->file()->name);
      EXPECT_EQ(parsed->file()->size, original->file()->size);
      EXPECT_EQ(parsed->file()->sha256, original->file()->sha256);
    }
  }
}

TEST(TunnelDescriptionFormat, MalformedDescriptionsAreRefused) {
  const std::string file_type = "<type>file-transfer</type>";
  struct Case {
    const char* name;
    std::string inner;
  } cases[] = {
      {"no type", ""},
      {"type in another namespace", "<type xmlns='urn:other'>x</type>"},
      {"overlong type", "<type>" + std::string(300, 't') + "</type>"},
      {"file without name", file_type + "<file size='1' sha256='" + kHash + "'/>"},
      {"file with empty name", file_type + "<file name='' size='1' sha256='" + kHash + "'/>"},
      {"overlong name", file_type + "<file name='" + std::string(2000, 'n') + "' size='1' sha256='" + kHash + "'/>"},
      {"negative size", file_type + "<file name='a' size='-1' sha256='" + kHash + "'/>"},
      {"size with sign", file_type + "<file name='a' size='+1' sha256='" + kHash + "'/>"},
      {"size beyond 64 bits", file_type + "<file name='a' size='99999999999999999999' sha256='" + kHash + "'/>"},
      {"size not a number", file_type + "<file name='a' size='1e9' sha256='" + kHash + "'/>"},
      {"short hash", file_type + "<file name='a' size='1' sha256='abc'/>"},
      {"hash not hex", file_type + "<file name='a' size='1' sha256='" + std::string(64, 'g') + "'/>"},
      {"upper-case hash", file_type + "<file name='a' size='1' sha256='" + std::string(64, 'A') + "'/>"},
  };
  for (const Case& c : cases) EXPECT_EQ(Parse(c.inner), nullptr) << c.name;
  EXPECT_NE(Parse("<type>x</type>"), nullptr);
}

}  // namespace
}  // namespace vexalo
