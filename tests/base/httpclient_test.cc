// The HTTP client against a scripted loopback server, for what real servers do not send:
// framing errors, bodies cut at odd places over time, missing Location, interim answers, and
// kept connections that the server drops.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/httpclient.h"
#include "base/httpsocketfactory.h"
#include "base/memorystream.h"
#include "base/reusesocketpool.h"
#include "base/scriptedpeer.h"

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

  HttpError Get(const std::string& path, HttpVerb verb = HV_GET) {
    client_.Reset();
    client_.request().verb = verb;
    client_.request().path = path;
    auto document = std::make_unique<MemoryStream>();
    body_ = document.get();
    client_.response().SetDocument(std::move(document));
    outcome_.completions = 0;
    client_.Start("127.0.0.1", peer_.address().port());
    if (!RunUntil([&] { return outcome_.completions > 0; })) return HERR_CANCELLED;
    return outcome_.error;
  }

  // Answers each complete request (up to its empty line) with the next text of `answers`;
  // an answer of "CLOSE" closes the connection instead.
  void Answer(std::vector<std::string> answers) {
    answers_ = std::move(answers);
    peer_.on_data = [this](size_t, ScriptedPeer::Connection* c) {
      size_t end;
      while ((end = c->received.find("\r\n\r\n")) != std::string::npos) {
        requests_.push_back(c->received.substr(0, end + 4));
        c->received.erase(0, end + 4);
        std::string answer = next_ < answers_.size() ? answers_[next_++] : "CLOSE";
        if (answer == "CLOSE") {
          c->socket->Close();
          return;
        }
        c->Send(answer);
      }
    };
  }

  ScriptedPeer peer_;
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
  peer_.on_data = [&](size_t, ScriptedPeer::Connection* c) {
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
  peer_.on_data = [&](size_t, ScriptedPeer::Connection* c) {
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
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    HttpUrl url;
    ASSERT_EQ(ParseHttpUrl(c.url, &url), c.ok);
    if (!c.ok) continue;
    EXPECT_EQ(url.secure, c.secure);
    EXPECT_EQ(url.host, c.host);
    EXPECT_EQ(url.port, c.port);
    EXPECT_EQ(url.path, c.path);
  }
}

}  // namespace
}  // namespace vexalo
