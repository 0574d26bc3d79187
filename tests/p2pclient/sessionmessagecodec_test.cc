#include "p2p/client/sessionmessagecodec.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "p2p/client/xmldescription.h"
#include "p2p/client/xmldescriptionformat.h"
#include "support/logcapture.h"
#include "xml/xmlwriter.h"

namespace vexalo {
namespace {

const std::string kNs = "http://example.test/session";
const std::string kTestNs = "http://example.test/session/test";

std::string Iq(const std::string& type, const std::string& inner,
               const std::string& iq_type = "set") {
  return "<iq xmlns='jabber:client' type='" + iq_type +
         "' id='7' from='bob@example.test/b' to='alice@example.test/a'>"
         "<session xmlns='" + kNs + "' " + (type.empty() ? "" : "type='" + type + "' ") +
         "id='42' initiator='bob@example.test/b'>" + inner + "</session></iq>";
}
// As on the stream, where "jabber:client" is the default namespace already.
const std::string_view kPredeclared[] = {"", "jabber:client"};
std::string Print(const XmlElem& element) { return XmlWriter::ToString(element, kPredeclared); }

const std::string kDescription = "<description xmlns='" + kTestNs + "'><x/></description>";

std::string Candidate(const std::string& address, const std::string& extra = "generation='0'") {
  return "<candidate name='rtp' address='" + address +
         "' port='5000' username='u' preference='1' protocol='udp' " + extra + "/>";
}

class SessionMessageCodecTest : public ::testing::Test {
 protected:
  SessionMessageCodec::ParseResult Parse(const std::string& text) {
    message_ = SessionMessage();
    return codec_.Parse(*XmlElem::ParseFromString(text), &message_);
  }

  LogCapture log_{kError};
  XmlDescriptionFormat format_{kTestNs};
  SessionMessageCodec codec_{kNs, &format_};
  SessionMessage message_;
};

// Which stanzas the session client takes, and how it reads them.
TEST_F(SessionMessageCodecTest, FilterAndParseTranscripts) {
  using R = SessionMessageCodec::ParseResult;
  struct Case {
    const char* what;
    std::string stanza;
    R result;
    size_t candidates;
  } cases[] = {
      {"initiate with description", Iq("initiate", kDescription), R::PARSE_OK, 0},
      {"accept with description", Iq("accept", kDescription), R::PARSE_OK, 0},
      {"modify without description", Iq("modify", ""), R::PARSE_NOT_OURS, 0},
      {"terminate carrying a description", Iq("terminate", kDescription), R::PARSE_NOT_OURS, 0},
      {"terminate", Iq("terminate", ""), R::PARSE_OK, 0},
      {"reject", Iq("reject", ""), R::PARSE_OK, 0},
      {"unknown type", Iq("transfer", ""), R::PARSE_NOT_OURS, 0},
      {"missing type is ours, answered as an unknown method", Iq("", ""),
       R::PARSE_UNKNOWN_METHOD, 0},
      {"iq get", Iq("terminate", "", "get"), R::PARSE_NOT_OURS, 0},
      {"iq result", Iq("terminate", "", "result"), R::PARSE_NOT_OURS, 0},
      {"description of another client",
       Iq("initiate", "<description xmlns='urn:other'/>"), R::PARSE_NOT_OURS, 0},
      {"session in another namespace",
       "<iq xmlns='jabber:client' type='set' id='1' from='x@y/z'><session xmlns='urn:x' "
       "type='terminate' id='1' initiator='x@y/z'/></iq>",
       R::PARSE_NOT_OURS, 0},
      {"three candidates, the second without generation",
       Iq("candidates", Candidate("10.0.0.1") + Candidate("10.0.0.2", "") +
                            Candidate("10.0.0.3")),
       R::PARSE_OK, 2},
      {"bad candidates are skipped, not fatal",
       Iq("candidates", Candidate("127.0.0.1") + Candidate("evil.example") +
                            Candidate("10.0.0.3")),
       R::PARSE_OK, 1},
      {"redirect without target", Iq("redirect", ""), R::PARSE_UNACCEPTABLE, 0},
      {"no session id",
       "<iq xmlns='jabber:client' type='set' id='1' from='x@y/z'><session xmlns='" + kNs +
           "' type='terminate' initiator='x@y/z'/></iq>",
       R::PARSE_UNACCEPTABLE, 0},
      {"no sender",
       "<iq xmlns='jabber:client' type='set' id='1'><session xmlns='" + kNs +
           "' type='terminate' id='1' initiator='x@y/z'/></iq>",
       R::PARSE_UNACCEPTABLE, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(codec_.IsSessionStanza(*XmlElem::ParseFromString(c.stanza)),
              c.result != R::PARSE_NOT_OURS);
    EXPECT_EQ(Parse(c.stanza), c.result);
    EXPECT_EQ(message_.candidates.size(), c.candidates);
  }
}

TEST_F(SessionMessageCodecTest, ReadsIdsSenderAndDescription) {
  ASSERT_EQ(Parse(Iq("initiate", kDescription)), SessionMessageCodec::PARSE_OK);
  EXPECT_EQ(message_.type, SessionMessage::TYPE_INITIATE);
  EXPECT_EQ(message_.iq_id, "7");
  EXPECT_EQ(message_.from, "bob@example.test/b");
  EXPECT_EQ(message_.to, "alice@example.test/a");
  EXPECT_EQ(message_.session_id.id, "42");
  EXPECT_EQ(message_.session_id.initiator, "bob@example.test/b");
  EXPECT_EQ(message_.description_namespace, kTestNs);
  auto description = std::dynamic_pointer_cast<const XmlDescription>(message_.description);
  ASSERT_NE(description, nullptr);
  EXPECT_NE(description->element().FindChild(XmlName(kTestNs, "x")), nullptr);
  ASSERT_NE(message_.stanza, nullptr);
}

TEST_F(SessionMessageCodecTest, OversizedCandidateListIsRefusedWhole) {
  std::string many;
  for (size_t i = 0; i <= SessionMessageCodec::kMaxCandidatesPerMessage; ++i) {
    many += Candidate("10.0.0." + std::to_string(i + 1));
  }
  EXPECT_EQ(Parse(Iq("candidates", many)), SessionMessageCodec::PARSE_UNACCEPTABLE);
  EXPECT_TRUE(message_.candidates.empty());
}

// Every message type written, read back by the same codec, and written again to equal bytes.
TEST_F(SessionMessageCodecTest, EveryTypeRoundTrips) {
  for (int t = SessionMessage::TYPE_INITIATE; t <= SessionMessage::TYPE_TERMINATE; ++t) {
    SCOPED_TRACE(SessionMessage::TypeName(static_cast<SessionMessage::Type>(t)));
    SessionMessage out;
    out.type = static_cast<SessionMessage::Type>(t);
    out.to = "bob@example.test/b";
    out.session_id = {"42", "alice@example.test/a"};
    if (SessionMessage::CarriesDescription(out.type)) {
      out.description = format_.ParseDescription(*XmlElem::ParseFromString(kDescription));
    }
    if (out.type == SessionMessage::TYPE_CANDIDATES) {
      vexalo::Candidate c;
      c.name = "rtp";
      c.address = SocketAddress(0x0A000001, 5000);
      c.username = "u";
      c.preference = 0.9f;
      c.protocol = "udp";
      out.candidates = {c, c};
    }
    if (out.type == SessionMessage::TYPE_REDIRECT) out.redirect_target = "carol@example.test/c";
    std::unique_ptr<XmlElem> iq = codec_.Write(out, "alice@example.test/a");
    iq->SetAttribute(XmlName("", "from"), "alice@example.test/a");
    iq->SetAttribute(XmlName("", "id"), "9");
    const std::string text = XmlWriter::ToString(*iq);
    ASSERT_EQ(Parse(text), SessionMessageCodec::PARSE_OK) << text;
    EXPECT_EQ(message_.type, out.type);
    EXPECT_EQ(message_.session_id, out.session_id);
    EXPECT_EQ(message_.candidates.size(), out.candidates.size());
    message_.to = out.to;
    std::unique_ptr<XmlElem> again = codec_.Write(message_, "alice@example.test/a");
    again->SetAttribute(XmlName("", "from"), "alice@example.test/a");
    again->SetAttribute(XmlName("", "id"), "9");
    EXPECT_EQ(XmlWriter::ToString(*again), text);
  }
}

TEST_F(SessionMessageCodecTest, RedirectCarriesCookieOrRegarding) {
  SessionMessage redirect;
  redirect.type = SessionMessage::TYPE_REDIRECT;
  redirect.to = "bob@example.test/b";
  redirect.session_id = {"42", "bob@example.test/b"};
  redirect.redirect_target = "carol@example.test/c";
  EXPECT_EQ(Print(*codec_.Write(redirect, "alice@example.test/a")),
            "<iq to=\"bob@example.test/b\" type=\"set\">"
            "<session xmlns=\"" + kNs + "\" type=\"redirect\" id=\"42\" "
            "initiator=\"bob@example.test/b\"><target name=\"carol@example.test/c\"/>"
            "<cookie><regarding name=\"alice@example.test/a\"/></cookie></session></iq>");

  // The initiate that follows a redirect carries the cookie's children beside the description.
  std::unique_ptr<XmlElem> sent = codec_.Write(redirect, "alice@example.test/a");
  sent->SetAttribute(XmlName("", "from"), "alice@example.test/a");
  ASSERT_EQ(Parse(XmlWriter::ToString(*sent)), SessionMessageCodec::PARSE_OK);
  SessionMessage initiate;
  initiate.type = SessionMessage::TYPE_INITIATE;
  initiate.to = "carol@example.test/c";
  initiate.session_id = {"42", "bob@example.test/b"};
  initiate.cookie = std::move(message_.cookie);
  const std::string text = Print(*codec_.Write(initiate, "bob@example.test/b"));
  EXPECT_NE(text.find("<description xmlns=\"" + kTestNs +
                      "\"/><regarding name=\"alice@example.test/a\"/></session>"),
            std::string::npos)
      << text;
}

TEST_F(SessionMessageCodecTest, RepliesAreResultsOrSessionErrors) {
  SessionResponse response{SessionResponse::KIND_ACK, "bob@example.test/b", "7"};
  EXPECT_EQ(Print(*codec_.WriteResponse(response)),
            "<iq to=\"bob@example.test/b\" id=\"7\" type=\"result\"/>");
  response.kind = SessionResponse::KIND_UNKNOWN_SESSION;
  EXPECT_EQ(Print(*codec_.WriteResponse(response)),
            "<iq to=\"bob@example.test/b\" id=\"7\" type=\"error\">"
            "<error type=\"cancel\"><item-not-found "
            "xmlns=\"urn:ietf:params:xml:ns:xmpp-stanzas\"/><unknown-session xmlns=\"" +
                kNs + "\"/></error></iq>");
  response.kind = SessionResponse::KIND_UNACCEPTABLE;
  EXPECT_NE(Print(*codec_.WriteResponse(response)).find("unacceptable-options"),
            std::string::npos);
}

}  // namespace
}  // namespace vexalo
