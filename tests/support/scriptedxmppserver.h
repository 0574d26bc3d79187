#pragma once

// A scripted XMPP server on 127.0.0.1 for tests that must send exact bytes at exact moments:
// each accepted connection runs a test's script, which can take the client through STARTTLS,
// SASL and bind like a real server, then write any bytes (in one TLS record, so that the
// client reads them at once), stay silent, or drop the connection.

#include <regex>
#include <string>
#include <string_view>

#include "support/tlstestpeer.h"

namespace vexalo {

class XmppScript {
 public:
  explicit XmppScript(tlstest::ServerConnection& connection) : connection_(connection) {}

  static constexpr std::string_view kStreamHeader =
      "<?xml version='1.0'?><stream:stream xmlns='jabber:client' "
      "xmlns:stream='http://etherx.jabber.org/streams' from='localhost' id='s1' version='1.0'>";
  static constexpr std::string_view kTlsFeatures =
      "<stream:features><starttls xmlns='urn:ietf:params:xml:ns:xmpp-tls'><required/>"
      "</starttls></stream:features>";
  static constexpr std::string_view kSaslFeatures =
      "<stream:features><mechanisms xmlns='urn:ietf:params:xml:ns:xmpp-sasl'>"
      "<mechanism>PLAIN</mechanism></mechanisms></stream:features>";
  static constexpr std::string_view kBindFeatures =
      "<stream:features><bind xmlns='urn:ietf:params:xml:ns:xmpp-bind'/>"
      "<session xmlns='urn:ietf:params:xml:ns:xmpp-session'/></stream:features>";

  // Reads the client's bytes until `needle` (after TLS: decrypted); false when the connection
  // ends first. What was read up to the needle is in last_read().
  bool ReadUntil(std::string_view needle) {
    for (;;) {
      const size_t found = buffer_.find(needle);
      if (found != std::string::npos) {
        last_read_ = buffer_.substr(0, found + needle.size());
        buffer_.erase(0, found + needle.size());
        return true;
      }
      const std::string byte = tls_ ? connection_.Read(1) : connection_.RawRead(1);
      if (byte.empty()) return false;
      buffer_ += byte;
    }
  }
  // The next stanza's id attribute among what the client sends, read up to the stanza's end.
  std::string ReadIqId(std::string_view needle) {
    if (!ReadUntil(needle)) return {};
    static const std::regex kId("<iq[^>]* id=\"([^\"]*)\"");
    std::string seen = last_read_;
    std::string id;
    for (std::sregex_iterator it(seen.begin(), seen.end(), kId), end; it != end; ++it) {
      id = (*it)[1];
    }
    return id;
  }
  bool Send(std::string_view bytes) {
    return tls_ ? connection_.Write(bytes) : connection_.RawWrite(bytes);
  }

  // The login up to STARTTLS's handshake.
  bool StartTls() {
    if (!ReadUntil(">") || !Send(std::string(kStreamHeader) + std::string(kTlsFeatures)) ||
        !ReadUntil("<starttls") || !ReadUntil(">") ||
        !Send("<proceed xmlns='urn:ietf:params:xml:ns:xmpp-tls'/>")) {
      return false;
    }
    buffer_.clear();
    if (!connection_.Handshake()) return false;
    tls_ = true;
    return true;
  }
  // SASL PLAIN accepted at once.
  bool Authenticate() {
    return ReadUntil("<stream:stream") && ReadUntil(">") &&
           Send(std::string(kStreamHeader) + std::string(kSaslFeatures)) &&
           ReadUntil("</auth>") && Send("<success xmlns='urn:ietf:params:xml:ns:xmpp-sasl'/>");
  }
  // Binds `jid` and establishes the session.
  bool Bind(std::string_view jid) {
    if (!ReadUntil("<stream:stream") || !ReadUntil(">") ||
        !Send(std::string(kStreamHeader) + std::string(kBindFeatures))) {
      return false;
    }
    const std::string bind_id = ReadIqId("</iq>");
    if (bind_id.empty() ||
        !Send("<iq type='result' id='" + bind_id +
              "'><bind xmlns='urn:ietf:params:xml:ns:xmpp-bind'><jid>" + std::string(jid) +
              "</jid></bind></iq>")) {
      return false;
    }
    const std::string session_id = ReadIqId("</iq>");
    return !session_id.empty() && Send("<iq type='result' id='" + session_id + "'/>");
  }
  // The whole login; the client is signed in as `jid` when this returns true.
  bool SignIn(std::string_view jid = "alice@localhost/desk") {
    return StartTls() && Authenticate() && Bind(jid);
  }
  // Answers the client's roster request with `items` (the query's inner XML).
  bool AnswerRoster(std::string_view items) {
    if (!ReadUntil("jabber:iq:roster")) return false;
    const size_t start = last_read_.rfind("<iq");
    std::smatch match;
    static const std::regex kId("id=\"([^\"]*)\"");
    const std::string tag = start == std::string::npos ? std::string() : last_read_.substr(start);
    if (!std::regex_search(tag, match, kId)) return false;
    return Send("<iq type='result' id='" + match[1].str() +
                "'><query xmlns='jabber:iq:roster'>" + std::string(items) + "</query></iq>");
  }

  const std::string& last_read() const { return last_read_; }
  tlstest::ServerConnection& connection() { return connection_; }

 private:
  tlstest::ServerConnection& connection_;
  bool tls_ = false;
  std::string buffer_;
  std::string last_read_;
};

}  // namespace vexalo
