// The HTTP client against a scripted loopback server, for what real servers do not send:
// framing errors, bodies cut at odd places over time, missing Location, interim answers, and
// kept connections that the server drops.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/http/httpclient.h"
#include "base/runtime/logging.h"
#include "base/http/httpsocketfactory.h"
#include "base/http/memorystream.h"
#include "base/http/reusesocketpool.h"
#include "support/scriptedtcpserver.h"

namespace vexalo {
namespace {

// Posts a function to run after a delay on the current thread.
class Later : public MessageTarget {
 public:
  void Run(int delay_ms, std::function<void()> fn) {
    pending_.push_back(std::move(fn));
    ThreadRegistry::Current()->PostAfter(delay_ms, this, static_cast<uint32_t>(pending_.size() - 1));
  }
  void HandleMessage(QueuedMessage* msg) override { pending_[msg->id](); }

 private:
  std::vector<std::function<void()>> pending_;
};

// The length of the first whole request in `data` (headers and a Content-Length or chunked
// body), or 0 while it is incomplete.
size_t RequestLength(const std::string& data) {
  size_t end = data.find("\r\n\r\n");
  if (end == std::string::npos) return 0;
  size_t pos = end + 4;
  const std::string head = data.substr(0, pos);
  if (head.find("\r\nTransfer-Encoding: chunked\r\n") != std::string::npos) {
    for (;;) {
      size_t line = data.find("\r\n", pos);
      if (line == std::string::npos) return 0;
      size_t size = std::stoul(data.substr(pos, line - pos), nullptr, 16);
      pos = line + 2 + size + 2;
      if (pos > data.size()) return 0;
      if (size == 0) return pos;
    }
  }
  size_t length = head.find("\r\nContent-Length: ");
  if (length != std::string::npos) pos += std::stoul(head.substr(length + 18));
  return data.size() >= pos ? pos : 0;
}

// A body that cannot tell its size; `rewind` says whether it can start over.
class UnsizedBody : public MemoryStream {
 public:
  UnsizedBody(const std::string& data, bool rewind) : MemoryStream(data), rewind_(rewind) {}
  bool GetSize(size_t*) const override { return false; }
  bool Rewind() override { return rewind_ && MemoryStream::Rewind(); }

 private:
  bool rewind_;
};

struct Outcome : public HttpClientListener {
  void OnHttpClientComplete(HttpClient*, HttpError e) override {
    ++completions;
    error = e;
  }
  int completions = 0;
  HttpError error = HERR_NONE;
};

class HttpClientTest : public ::testing::Test {
 protected:
  HttpClientTest()
      : factory_(CurrentHub(), ProxySettings(), "Vexalo/test"),
        pool_(&factory_),
        client_("Vexalo/test", &pool_) {
    client_.set_listener(&outcome_);
  }

  HttpError Get(const std::string& path, HttpVerb verb = HV_GET,
                std::unique_ptr<DataStream> upload = nullptr, HttpVersion version = HVER_1_1) {
    client_.Reset();
    client_.request().verb = verb;
    client_.request().version = version;
    client_.request().path = path;
    client_.request().SetDocument(std::move(upload));
    auto document = std::make_unique<MemoryStream>();
    body_ = document.get();
    client_.response().SetDocument(std::move(document));
    outcome_.completions = 0;
    client_.Start("127.0.0.1", peer_.address().port());
    if (!RunUntil([&] { return outcome_.completions > 0; })) return HERR_CANCELLED;
    return outcome_.error;
  }

  // Answers each complete request (headers and body) with the next text of `answers`; an
  // answer of "CLOSE" closes the connection instead.
  void Answer(std::vector<std::string> answers, ScriptedTcpServer* peer = nullptr) {
    answers_ = std::move(answers);
    (peer ? peer : &peer_)->on_data = [this](size_t, ScriptedTcpServer::Connection* c) {
      size_t end;
      while ((end = RequestLength(c->received)) != 0) {
        requests_.push_back(c->received.substr(0, end));
        c->received.erase(0, end);
        std::string answer = next_ < answers_.size() ? answers_[next_++] : "CLOSE";
        if (answer == "CLOSE") {
          c->socket->Close();
          return;
        }
        c->Send(answer);
      }
    };
  }

  ScriptedTcpServer peer_;
  HttpSocketFactory factory_;
  ReuseSocketPool pool_;
  HttpClient client_;
  Outcome outcome_;
  MemoryStream* body_ = nullptr;
  std::vector<std::string> answers_;
  size_t next_ = 0;
  std::vector<std::string> requests_;
};

const std::string kKeep = "HTTP/1.1 200 OK\r\nConnection: keep-alive\r\nContent-Length: 2\r\n\r\nok";

TEST_F(HttpClientTest, FramingErrorsEndTheExchange) {
  struct Case {
    const char* name;
    std::string answer;
    HttpError error;
  } cases[] = {
      {"bad length", "HTTP/1.1 200 OK\r\nContent-Length: 1e3\r\n\r\n", HERR_PROTOCOL},
      {"bad chunk", "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n5x\r\nhello", HERR_PROTOCOL},
      {"oversize header", "HTTP/1.1 200 OK\r\nX-Big: " + std::string(8000, 'a'), HERR_OVERFLOW},
      {"redirect without Location", "HTTP/1.1 302 Found\r\nContent-Length: 0\r\n\r\n", HERR_PROTOCOL},
      {"redirect elsewhere", "HTTP/1.1 302 Found\r\nLocation: ftp://host/\r\nContent-Length: 0\r\n\r\n",
       HERR_REDIRECT},
      {"garbage", std::string("\x16\x03\x01\x02\x00\x01\xfc\x03\x03\r\n\r\n", 13), HERR_PROTOCOL},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Answer({c.answer});
    next_ = 0;
    EXPECT_EQ(Get("/"), c.error);
  }
}

TEST_F(HttpClientTest, BodyCutAtOddPlacesOverTimeAndClosedAtTheEnd) {
  Later later;
  const std::string answer =
      "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n"
      "1a\r\nabcdefghijklmnopqrstuvwxyz\r\n3\r\n123\r\n0\r\n\r\n";
  peer_.on_data = [&](size_t, ScriptedTcpServer::Connection* c) {
    if (c->received.find("\r\n\r\n") == std::string::npos) return;
    c->received.clear();
    // Cut inside the status line, inside CR LF pairs, inside a chunk size and a chunk.
    size_t cuts[] = {5, 17, 47, 48, 50, 60, 77, 78, 84, answer.size()};
    size_t from = 0;
    int delay = 0;
    for (size_t cut : cuts) {
      std::string piece = answer.substr(from, cut - from);
      from = cut;
      later.Run(delay += 5, [c, piece] { c->Send(piece); });
    }
  };
  EXPECT_EQ(Get("/"), HERR_NONE);
  EXPECT_EQ(body_->data(), "abcdefghijklmnopqrstuvwxyz123");

  // No length at all: the body runs until the server closes.
  peer_.on_data = [&](size_t, ScriptedTcpServer::Connection* c) {
    if (c->received.find("\r\n\r\n") == std::string::npos) return;
    c->received.clear();
    c->Send("HTTP/1.1 200 OK\r\n\r\npart one, ");
    later.Run(20, [c] {
      c->Send("part two");
      c->socket->Close();
    });
  };
  EXPECT_EQ(Get("/"), HERR_NONE);
  EXPECT_EQ(body_->data(), "part one, part two");
}

TEST_F(HttpClientTest, InterimAnswersHeadAndNoContentCarryNoBody) {
  Answer({"HTTP/1.1 100 Continue\r\n\r\n" + kKeep,
          "HTTP/1.1 200 OK\r\nConnection: keep-alive\r\nContent-Length: 1000\r\n\r\n",
          "HTTP/1.1 204 No Content\r\nConnection: keep-alive\r\nContent-Length: 7\r\n\r\n",
          kKeep});
  EXPECT_EQ(Get("/"), HERR_NONE);
  EXPECT_EQ(body_->data(), "ok");
  EXPECT_EQ(Get("/", HV_HEAD), HERR_NONE);
  EXPECT_EQ(client_.response().status, 200);
  EXPECT_EQ(Get("/"), HERR_NONE);
  EXPECT_EQ(client_.response().status, 204);
  // Nothing was taken as a body: the next answer on the same connection is read whole.
  EXPECT_EQ(Get("/"), HERR_NONE);
  EXPECT_EQ(body_->data(), "ok");
  EXPECT_EQ(peer_.connections().size(), 1u);
  EXPECT_EQ(requests_.size(), 4u);
  EXPECT_EQ(requests_[1].rfind("HEAD / HTTP/1.1\r\n", 0), 0u) << requests_[1];
}

TEST_F(HttpClientTest, DroppedKeptConnectionsAreReplaced) {
  // The server closes the idle connection: the pool notices and opens a new one.
  Answer({kKeep, "CLOSE"});
  ASSERT_EQ(Get("/a"), HERR_NONE);
  peer_.connections()[0]->socket->Close();
  RunUntil([&] { return pool_.socket() && pool_.socket()->GetState() == CONN_CLOSED; });
  answers_ = {kKeep};
  next_ = 0;
  EXPECT_EQ(Get("/b"), HERR_NONE);
  EXPECT_FALSE(client_.connection_reused());
  EXPECT_EQ(peer_.connections().size(), 2u);

  // The server closes it as the request arrives: one retry on a new connection.
  answers_ = {"CLOSE", kKeep};
  next_ = 0;
  EXPECT_EQ(Get("/c"), HERR_NONE);
  EXPECT_EQ(body_->data(), "ok");
  EXPECT_EQ(peer_.connections().size(), 3u);
  // But only one: a server that always drops the request fails the exchange.
  answers_ = {kKeep, "CLOSE", "CLOSE"};
  next_ = 0;
  EXPECT_EQ(Get("/d"), HERR_NONE);
  EXPECT_EQ(Get("/e"), HERR_DISCONNECTED);
}

TEST_F(HttpClientTest, UploadsAreFramedByWhatTheBodyKnowsOfItsSize) {
  std::string body;
  for (int i = 0; body.size() < 5000; ++i) body += std::to_string(i) + " ";
  body.resize(5000);
  const std::string host = "Host: 127.0.0.1:" + std::to_string(peer_.address().port()) + "\r\n";
  struct Case {
    const char* name;
    std::function<std::unique_ptr<DataStream>()> make;
    std::string framing;  // the headers that frame the body
    std::string sent;     // the body as it goes out
  } cases[] = {
      {"unsized: chunks", [&] { return std::make_unique<UnsizedBody>(body, false); },
       "Transfer-Encoding: chunked\r\n",
       "ff9\r\n" + body.substr(0, 4089) + "\r\n38f\r\n" + body.substr(4089) + "\r\n0\r\n\r\n"},
      {"unsized and empty: the last chunk alone",
       [] { return std::make_unique<UnsizedBody>("", false); }, "Transfer-Encoding: chunked\r\n",
       "0\r\n\r\n"},
      {"sized: its length", [] { return std::make_unique<MemoryStream>("a=bc"); },
       "Content-Length: 4\r\n", "a=bc"},
      {"no body", [] { return nullptr; }, "Content-Length: 0\r\n", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    requests_.clear();
    Answer({kKeep, kKeep});
    next_ = 0;
    ASSERT_EQ(Get("/up", HV_POST, c.make()), HERR_NONE);
    // The connection is still in step: the next request is read as one.
    ASSERT_EQ(Get("/after"), HERR_NONE);
    ASSERT_EQ(requests_.size(), 2u);
    EXPECT_EQ(requests_[0], "POST /up HTTP/1.1\r\nConnection: Keep-Alive\r\n" +
                                std::string(c.framing.starts_with("Content") ? c.framing : "") +
                                host +
                                std::string(c.framing.starts_with("Transfer") ? c.framing : "") +
                                "User-Agent: Vexalo/test\r\n\r\n" + c.sent);
    EXPECT_TRUE(requests_[1].starts_with("GET /after HTTP/1.1\r\n")) << requests_[1];
    EXPECT_TRUE(client_.connection_reused());
  }
  EXPECT_EQ(peer_.connections().size(), 1u);

  // HTTP/1.0 has no chunks: an unsized body cannot be sent, and nothing is.
  requests_.clear();
  EXPECT_EQ(Get("/old", HV_POST, std::make_unique<UnsizedBody>("x", true), HVER_1_0),
            HERR_STREAM);
  EXPECT_TRUE(requests_.empty());
}

TEST_F(HttpClientTest, BodyGoesAgainOnlyWhenItCanStartOver) {
  const std::string to_next =
      "HTTP/1.1 307 Temporary Redirect\r\nLocation: /next\r\nConnection: keep-alive\r\n"
      "Content-Length: 0\r\n\r\n";
  const std::string see_other =
      "HTTP/1.1 303 See Other\r\nLocation: /next\r\nConnection: keep-alive\r\n"
      "Content-Length: 0\r\n\r\n";
  const std::string chunked_body = "b\r\nhello world\r\n0\r\n\r\n";
  struct Case {
    const char* name;
    bool rewind;
    std::vector<std::string> answers;  // to GET /warm, then to the POST and what follows
    HttpError error;
    std::vector<std::string> then;  // the requests after the warm-up: leader line, body
  } cases[] = {
      {"kept connection lost, body rewinds", true, {kKeep, "CLOSE", kKeep}, HERR_NONE,
       {"POST /up", chunked_body, "POST /up", chunked_body}},
      {"kept connection lost, body cannot rewind", false, {kKeep, "CLOSE", kKeep},
       HERR_DISCONNECTED, {"POST /up", chunked_body}},
      {"307, body rewinds", true, {kKeep, to_next, kKeep}, HERR_NONE,
       {"POST /up", chunked_body, "POST /next", chunked_body}},
      {"307, body cannot rewind", false, {kKeep, to_next, kKeep}, HERR_STREAM,
       {"POST /up", chunked_body}},
      {"303 drops the body", false, {kKeep, see_other, kKeep}, HERR_NONE,
       {"POST /up", chunked_body, "GET /next", ""}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Answer(c.answers);
    next_ = 0;
    ASSERT_EQ(Get("/warm"), HERR_NONE);
    requests_.clear();
    EXPECT_EQ(Get("/up", HV_POST, std::make_unique<UnsizedBody>("hello world", c.rewind)),
              c.error);
    ASSERT_EQ(requests_.size() * 2, c.then.size());
    for (size_t i = 0; i < requests_.size(); ++i) {
      const std::string& request = requests_[i];
      EXPECT_TRUE(request.starts_with(c.then[2 * i] + " HTTP/1.1\r\n")) << request;
      EXPECT_EQ(request.substr(request.find("\r\n\r\n") + 4), c.then[2 * i + 1]);
      EXPECT_EQ(request.find("Transfer-Encoding") != std::string::npos,
                !c.then[2 * i + 1].empty())
          << request;
    }
  }
}

TEST_F(HttpClientTest, IPv6LiteralAddressesTheServerAndItsHostHeader) {
  SocketAddress any6;
  ASSERT_TRUE(SocketAddress::FromString("[::1]:0", &any6));
  ScriptedTcpServer peer6(any6);
  if (!peer6.listening()) GTEST_SKIP() << "no IPv6 loopback (::1) on this machine";
  const uint16_t port = peer6.address().port();
  EXPECT_EQ(peer6.address().ToString(), "[::1]:" + std::to_string(port));
  Answer({kKeep, kKeep}, &peer6);
  for (int i = 0; i < 2; ++i) {
    client_.Reset();
    auto document = std::make_unique<MemoryStream>();
    body_ = document.get();
    client_.response().SetDocument(std::move(document));
    outcome_.completions = 0;
    ASSERT_TRUE(client_.StartUrl("http://[0:0::1]:" + std::to_string(port) + "/p?q#frag"));
    ASSERT_TRUE(RunUntil([&] { return outcome_.completions > 0; }));
    EXPECT_EQ(outcome_.error, HERR_NONE);
    EXPECT_EQ(body_->data(), "ok");
    EXPECT_EQ(client_.host(), "::1");
    EXPECT_EQ(client_.connection_reused(), i == 1);
  }
  ASSERT_EQ(requests_.size(), 2u);
  EXPECT_TRUE(requests_[0].starts_with("GET /p?q HTTP/1.1\r\n")) << requests_[0];
  EXPECT_NE(requests_[0].find("\r\nHost: [::1]:" + std::to_string(port) + "\r\n"),
            std::string::npos)
      << requests_[0];
  ASSERT_EQ(peer6.connections().size(), 1u);
  SocketAddress remote = peer6.connections()[0]->socket->GetRemoteAddress();
  EXPECT_TRUE(remote.IsIPv6());
  EXPECT_TRUE(remote.IsLoopbackIP());
}

TEST_F(HttpClientTest, ProxiesAreToldIPv6LiteralsInBrackets) {
  struct Case {
    const char* name;
    ProxyType type;
    const char* url;
    std::string expected;  // the start of what the proxy hears after any greeting
  } cases[] = {
      {"HTTP proxy, plain request", PROXY_HTTPS, "http://[::1]:8080/x?y",
       "GET http://[::1]:8080/x?y HTTP/1.1\r\n"},
      {"HTTP proxy, tunnel", PROXY_HTTPS, "https://[2001:db8::5]/",
       "CONNECT [2001:db8::5]:443 HTTP/1.0\r\n"},
      {"SOCKS5", PROXY_SOCKS5, "http://[::1]:8080/",
       std::string("\x05\x01\x00\x04", 4) + std::string(15, '\0') + "\x01\x1f\x90"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedTcpServer proxy;
    std::string heard;
    proxy.on_data = [&](size_t, ScriptedTcpServer::Connection* conn) {
      if (c.type == PROXY_SOCKS5 && conn->received.size() >= 3 && heard.empty() &&
          conn->received[0] == 5) {
        conn->received.erase(0, 3);  // the greeting: no authentication
        conn->Send(std::string("\x05\x00", 2));
        heard = "greeted";
        return;
      }
      if (conn->received.size() >= c.expected.size()) {
        heard = conn->received;
        conn->socket->Close();
      }
    };
    ProxySettings settings;
    settings.type = c.type;
    settings.address = proxy.address();
    HttpSocketFactory factory(CurrentHub(), settings, "Vexalo/test");
    ReuseSocketPool pool(&factory);
    HttpClient client("Vexalo/test", &pool);
    Outcome outcome;
    client.set_listener(&outcome);
    ASSERT_TRUE(client.StartUrl(c.url));
    ASSERT_TRUE(RunUntil([&] { return outcome.completions > 0; }));
    EXPECT_NE(outcome.error, HERR_NONE);  // the proxy hangs up after listening
    ASSERT_TRUE(heard.starts_with(c.expected)) << PrintableText(heard, 300);
    if (c.type == PROXY_SOCKS5) continue;
    const std::string host = c.expected.starts_with("CONNECT") ? "[2001:db8::5]" : "[::1]:8080";
    EXPECT_NE(heard.find("\r\nHost: " + host + "\r\n"), std::string::npos) << heard;
  }
}

TEST(HttpUrlTest, ParsesOnlyUsableAddresses) {
  struct Case {
    const char* url;
    bool ok;
    bool secure;
    const char* host;
    int port;
    const char* path;
  } cases[] = {
      {"http://example.test", true, false, "example.test", 80, "/"},
      {"HTTPS://example.test/a?b#frag", true, true, "example.test", 443, "/a?b"},
      {"https://127.0.0.1:8443?q", true, true, "127.0.0.1", 8443, "/?q"},
      {"http://example.test:0/", false, false, "", 0, ""},
      {"http://example.test:65536/", false, false, "", 0, ""},
      {"http://example.test:+80/", false, false, "", 0, ""},
      {"http://user:pw@example.test/", false, false, "", 0, ""},
      {"http:///path", false, false, "", 0, ""},
      {"http://example.test/a b", false, false, "", 0, ""},
      {"http://example.test/a\r\nX: y", false, false, "", 0, ""},
      {"ftp://example.test/", false, false, "", 0, ""},
      {"http://[::1]:8080/path", true, false, "::1", 8080, "/path"},
      {"https://[2001:DB8:0:0::5]", true, true, "2001:db8::5", 443, "/"},
      {"http://[::ffff:192.0.2.1]?q", true, false, "::ffff:192.0.2.1", 80, "/?q"},
      {"http://[::1]:80/", true, false, "::1", 80, "/"},
      {"http://[::1", false, false, "", 0, ""},
      {"http://[::1/x]", false, false, "", 0, ""},
      {"http://[zz]/", false, false, "", 0, ""},
      {"http://[]/", false, false, "", 0, ""},
      {"http://[1.2.3.4]/", false, false, "", 0, ""},
      {"http://[::1]x/", false, false, "", 0, ""},
      {"http://[::1]:/", false, false, "", 0, ""},
      {"http://[::1]:99999/", false, false, "", 0, ""},
      {"http://[fe80::1%25eth0]/", false, false, "", 0, ""},
      {"http://::1/", false, false, "", 0, ""},
      {"http://[::1]]/", false, false, "", 0, ""},
      {"http://user@[::1]/", false, false, "", 0, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    HttpUrl url;
    std::string error;
    ASSERT_EQ(ParseHttpUrl(c.url, &url, &error), c.ok);
    if (!c.ok) {
      EXPECT_FALSE(error.empty());
      continue;
    }
    EXPECT_EQ(url.secure, c.secure);
    EXPECT_EQ(url.host, c.host);
    EXPECT_EQ(url.port, c.port);
    EXPECT_EQ(url.path, c.path);
    // Printed, it parses back to the same parts.
    HttpUrl again;
    ASSERT_TRUE(ParseHttpUrl(url.ToString(), &again)) << url.ToString();
    EXPECT_EQ(again.ToString(), url.ToString());
    EXPECT_EQ(again.host, url.host);
    EXPECT_EQ(again.port, url.port);
  }
}

TEST(HttpUrlTest, PrintsBracketsAndOnlyPortsThatAreNotTheSchemes) {
  struct Case {
    bool secure;
    const char* host;
    int port;
    const char* path;
    const char* url;
    const char* host_header;
  } cases[] = {
      {false, "::1", 8080, "/a", "http://[::1]:8080/a", "[::1]:8080"},
      {false, "::1", 80, "/", "http://[::1]/", "[::1]"},
      {true, "2001:db8::5", 443, "/?q", "https://[2001:db8::5]/?q", "[2001:db8::5]"},
      {true, "example.test", 80, "/", "https://example.test:80/", "example.test:80"},
      {false, "127.0.0.1", 8080, "/x", "http://127.0.0.1:8080/x", "127.0.0.1:8080"},
  };
  for (const Case& c : cases) {
    HttpUrl url;
    url.secure = c.secure;
    url.host = c.host;
    url.port = static_cast<uint16_t>(c.port);
    url.path = c.path;
    EXPECT_EQ(url.ToString(), c.url);
    EXPECT_EQ(HttpHostHeader(c.host, url.port, c.secure), c.host_header);
  }
  // The error says what is wrong with a literal.
  std::string error;
  HttpUrl url;
  EXPECT_FALSE(ParseHttpUrl("http://[::1", &url, &error));
  EXPECT_EQ(error, "IPv6 address without its closing ']'");
  EXPECT_FALSE(ParseHttpUrl("http://[zz]/", &url, &error));
  EXPECT_EQ(error, "no IPv6 address between '[' and ']'");
  EXPECT_FALSE(ParseHttpUrl("http://[::1]x", &url, &error));
  EXPECT_EQ(error, "text after the IPv6 address that is not a port");
}

}  // namespace
}  // namespace vexalo
