#include "xmpp/stream/constants.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "xml/xmlelem.h"
#include "xml/xmlwriter.h"

namespace vexalo {
namespace {

TEST(ConstantsTest, ParsedNamesShareTheRecordsOfTheConstants) {
  std::unique_ptr<XmlElem> iq = XmlElem::ParseFromString(
      "<iq xmlns='jabber:client' type='result' id='1'>"
      "<query xmlns='jabber:iq:roster' xmlns:gr='ombrix:roster' gr:ext='2'>"
      "<item jid='a@d' subscription='both'><group>g</group></item></query>"
      "<error><bad-request xmlns='urn:ietf:params:xml:ns:xmpp-stanzas'/></error></iq>");
  ASSERT_NE(iq, nullptr);
  EXPECT_TRUE(iq->Name().SharesRecordWith(kQnIq));
  const XmlElem* query = iq->FindChild(kQnRosterQuery);
  ASSERT_NE(query, nullptr);
  EXPECT_TRUE(query->Name().SharesRecordWith(kQnRosterQuery));
  EXPECT_EQ(query->GetAttribute(kQnGrExt), "2");
  EXPECT_TRUE(query->FirstAttribute()->Name().SharesRecordWith(kQnXmlns));
  EXPECT_TRUE(query->FirstAttribute()->NextAttribute()->Name().SharesRecordWith(kQnXmlnsGr));
  const XmlElem* item = query->FindChild(kQnRosterItem);
  ASSERT_NE(item, nullptr);
  EXPECT_TRUE(item->FirstAttribute()->Name().SharesRecordWith(kQnJid));
  EXPECT_EQ(item->ChildText(kQnRosterGroup), "g");
  const XmlElem* error = iq->FindChild(kQnError);
  ASSERT_NE(error, nullptr);
  EXPECT_TRUE(error->FirstChildElement()->Name().SharesRecordWith(kQnStanzaBadRequest));
}

TEST(ConstantsTest, EveryConstantHoldsAnInternedSlot) {
  // A run-time name equal to a constant shares its record only if the constant got a table
  // slot; a full table would silently fall back to private records.
  const XmlName* samples[] = {&kQnMessage,
                              &kQnStreamFeatures,
                              &kQnStanzaText,
                              &kQnVcardBinval,
                              &kQnGrInvitesRemaining,
                              &kQnMailNewMail,
                              &kQnRelayInfoToken,
                              &kQnPluginCapability,
                              &kQnStatusListContentsMax,
                              &kQnEncoding,
                              &kQnXmlLang,
                              &kQnXmlnsGr};
  for (const XmlName* constant : samples) {
    XmlName runtime(constant->NamespaceUri(), constant->LocalName());
    EXPECT_TRUE(runtime.SharesRecordWith(*constant)) << constant->LocalName();
  }
}

TEST(ConstantsTest, BuiltStanzaPrintsWithTheServiceNamespaces) {
  XmlElem iq(kQnIq);
  iq.SetAttribute(kQnType, kStrGet);
  iq.SetAttribute(kQnId, "5");
  iq.AppendChild(std::make_unique<XmlElem>(kQnRelayInfoQuery, true));
  const std::string_view predeclared[] = {"stream", kNsStream, "", kNsClient};
  EXPECT_EQ(XmlWriter::ToString(iq, predeclared),
            "<iq type=\"get\" id=\"5\"><query xmlns=\"ombrix:relayinfo\"/></iq>");
  XmlElem roster(kQnRosterQuery, true);
  roster.SetAttribute(kQnXmlnsGr, kNsOmbrixRoster);
  roster.SetAttribute(kQnGrExt, "2");
  EXPECT_EQ(XmlWriter::ToString(roster),
            "<query xmlns=\"jabber:iq:roster\" xmlns:gr=\"ombrix:roster\" gr:ext=\"2\"/>");
}

}  // namespace
}  // namespace vexalo
