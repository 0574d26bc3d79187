#include "session/phone/phonedescriptionformat.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "xml/xmlwriter.h"

namespace vexalo {
namespace {

const std::string kPhoneNs = "http://example.test/session/phone";

std::vector<Codec> ParseText(const std::string& inner) {
  auto element = XmlElem::ParseFromString("<description xmlns='" + kPhoneNs + "'>" + inner +
                                          "</description>");
  EXPECT_NE(element, nullptr);
  PhoneDescriptionFormat format(kPhoneNs);
  return format.Parse(*element).codecs();
}

TEST(PhoneDescriptionFormat, ParsesPayloadTypesAsOnTheWire) {
  const std::vector<Codec> kOldPeer = {{103, "ISAC", 1}, {0, "PCMU", 0}};
  const struct {
    const char* name;
    std::string inner;
    std::vector<Codec> codecs;
  } cases[] = {
      {"in order", "<payload-type id='111' name='opus'/><payload-type id='0' name='PCMU'/>",
       {{111, "opus", 0}, {0, "PCMU", 0}}},
      {"no payload types: the old two", "", kOldPeer},
      {"other children only", "<foo id='1' name='x'/>", kOldPeer},
      {"payload type in another namespace", "<payload-type xmlns='urn:x' id='0' name='PCMU'/>",
       kOldPeer},
      {"no name: skipped, still listed", "<payload-type id='3'/>", {}},
      {"no id: skipped", "<payload-type name='PCMA'/><payload-type id='8' name='PCMA'/>",
       {{8, "PCMA", 0}}},
      {"leading digits", "<payload-type id='8x' name='PCMA'/><payload-type id='' name='PCMU'/>",
       {{8, "PCMA", 0}, {0, "PCMU", 0}}},
      {"beyond RTP's seven bits", "<payload-type id='128' name='a'/>"
                                  "<payload-type id='99999999999999999999' name='b'/>"
                                  "<payload-type id='127' name='c'/>",
       {{127, "c", 0}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ParseText(c.inner), c.codecs);
  }
}

TEST(PhoneDescriptionFormat, KeepsABoundedNumberOfCodecs) {
  std::string inner;
  for (int i = 0; i < 1000; ++i) inner += "<payload-type id='" + std::to_string(i % 128) + "' name='x'/>";
  EXPECT_EQ(ParseText(inner).size(), PhoneDescriptionFormat::kMaxCodecs);
}

TEST(PhoneDescriptionFormat, WritesIdAndNameOnlyAndReadsItBack) {
  PhoneDescriptionFormat format(kPhoneNs);
  PhoneDescription description({{111, "opus", 8}, {0, "PCMU", 2}, {13, "CN", 2}});
  auto element = format.WriteDescription(description);
  EXPECT_EQ(XmlWriter::ToString(*element),
            "<description xmlns=\"" + kPhoneNs +
                "\"><payload-type id=\"111\" name=\"opus\"/><payload-type id=\"0\" "
                "name=\"PCMU\"/><payload-type id=\"13\" name=\"CN\"/></description>");
  auto parsed = format.ParseDescription(*element);
  const auto* phone = dynamic_cast<const PhoneDescription*>(parsed.get());
  ASSERT_NE(phone, nullptr);
  EXPECT_EQ(phone->codecs(), (std::vector<Codec>{{111, "opus", 0}, {0, "PCMU", 0}, {13, "CN", 0}}));
}

}  // namespace
}  // namespace vexalo
