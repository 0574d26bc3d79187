// The HTTP client against a real nginx on 127.0.0.1: keep-alive, chunked bodies, redirects
// (limits, schemes, ports, methods), HTTPS with a test CA, what reaches the log, and the
// background request job.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/http/asynchttprequest.h"
#include "base/http/httpclient.h"
#include "base/http/httpsocketfactory.h"
#include "base/runtime/logging.h"
#include "base/runtime/loopthread.h"
#include "base/runtime/secrettext.h"
#include "base/runtime/threadregistry.h"
#include "base/http/memorystream.h"
#include "base/http/reusesocketpool.h"
#include "support/scriptedtcpserver.h"
#include "base/tls/tlscontext.h"
#include "support/peers/nginxpeer.h"

namespace vexalo {
namespace {

struct Outcome : public HttpClientListener {
  void OnHttpClientComplete(HttpClient*, HttpError e) override {
    ++completions;
    error = e;
  }
  int completions = 0;
  HttpError error = HERR_NONE;
};

// One client with its pool and factory, as a component would hold them.
class Fixture {
 public:
  explicit Fixture(const std::string& ca_file = "")
      : factory_(CurrentHub(), ProxySettings(), "Vexalo/test"),
        pool_(&factory_),
        client_("Vexalo/test", &pool_) {
    factory_.SetCaFile(ca_file);
    client_.set_listener(&outcome_);
  }

  // Runs one exchange; the body arrives in `body`.
  HttpError Fetch(const std::string& url, HttpVerb verb = HV_GET,
                  std::unique_ptr<DataStream> upload = nullptr) {
    client_.Reset();
    client_.request().verb = verb;
    if (upload) client_.request().SetContent("application/x-www-form-urlencoded", std::move(upload));
    auto document = std::make_unique<MemoryStream>();
    body_ = document.get();
    client_.response().SetDocument(std::move(document));
    outcome_.completions = 0;
    if (!client_.StartUrl(url)) return HERR_PROTOCOL;
    if (!RunUntil([&] { return outcome_.completions > 0; })) return HERR_CANCELLED;
    EXPECT_EQ(outcome_.completions, 1);
    return outcome_.error;
  }

  std::string body() const { return body_ ? body_->data() : std::string(); }
  HttpClient& client() { return client_; }
  HttpSocketFactory& factory() { return factory_; }

 private:
  HttpSocketFactory factory_;
  ReuseSocketPool pool_;
  HttpClient client_;
  Outcome outcome_;
  MemoryStream* body_ = nullptr;
};

// A body that cannot be read twice.
class OneShotStream : public MemoryStream {
 public:
  explicit OneShotStream(const std::string& data) : MemoryStream(data) {}
  bool Rewind() override { return false; }
};

// A body that cannot tell its size, so it goes in chunks.
class UnsizedStream : public MemoryStream {
 public:
  explicit UnsizedStream(const std::string& data, bool rewind = true)
      : MemoryStream(data), rewind_(rewind) {}
  bool GetSize(size_t*) const override { return false; }
  bool Rewind() override { return rewind_ && MemoryStream::Rewind(); }

 private:
  bool rewind_;
};

// Bytes that show a shifted, dropped or repeated piece anywhere in a long body.
std::string Pattern(size_t size) {
  std::string out(size, '\0');
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<char>('a' + (i * 7 + i / 4093) % 26);
  return out;
}

// A body produced while it is sent: `piece` more bytes of Pattern(total) every few
// milliseconds, reads would-block in between; no size.
class TrickleStream : public DataStream, public MessageTarget {
 public:
  TrickleStream(size_t total, size_t piece) : data_(Pattern(total)), piece_(piece) {
    ThreadRegistry::Current()->PostAfter(2, this);
  }
  StreamState GetState() const override { return STREAM_OPEN; }
  StreamResult Read(void* buffer, size_t length, size_t* read, int*) override {
    if (position_ == produced_) return produced_ == data_.size() ? SR_EOS : SR_BLOCK;
    size_t count = std::min(length, produced_ - position_);
    std::memcpy(buffer, data_.data() + position_, count);
    position_ += count;
    if (read) *read = count;
    return SR_SUCCESS;
  }
  StreamResult Write(const void*, size_t, size_t*, int*) override { return SR_ERROR; }
  void Close() override {}
  void HandleMessage(QueuedMessage*) override {
    produced_ = std::min(data_.size(), produced_ + piece_);
    ++pieces;
    if (produced_ < data_.size()) ThreadRegistry::Current()->PostAfter(2, this);
    StreamEvent.Emit(this, SE_READ, 0);
  }
  int pieces = 0;

 private:
  std::string data_;
  size_t piece_;
  size_t produced_ = 0;
  size_t position_ = 0;
};

class PeerNginxTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (getenv("VEXALO_TEST_LOG")) LogToDebug(kVerbose);
    ASSERT_TRUE(nginx_.started()) << nginx_.error();
  }
  tlstest::TestPki pki_;
  NginxPeer nginx_{&pki_};
};

TEST_F(PeerNginxTest, KeptAliveConnectionServesTheNextRequests) {
  Fixture f;
  ASSERT_EQ(f.Fetch(nginx_.http("/conn")), HERR_NONE);
  const std::string first = f.body();
  EXPECT_FALSE(f.client().connection_reused());
  for (int i = 0; i < 3; ++i) {
    ASSERT_EQ(f.Fetch(nginx_.http("/conn")), HERR_NONE);
    EXPECT_EQ(f.body(), first) << "nginx saw another connection";
    EXPECT_TRUE(f.client().connection_reused());
  }
  // Without "Connection: keep-alive" in the answer the next request opens a new connection.
  ASSERT_EQ(f.Fetch(nginx_.http("/close")), HERR_NONE);
  const std::string closing = f.body();
  ASSERT_EQ(f.Fetch(nginx_.http("/close")), HERR_NONE);
  EXPECT_NE(f.body(), closing);
  EXPECT_FALSE(f.client().connection_reused());
  // Another server (here: the same nginx by another name) gets its own connection too.
  ASSERT_EQ(f.Fetch("http://localhost:" + std::to_string(nginx_.http_port()) + "/conn"),
            HERR_NONE);
  EXPECT_FALSE(f.client().connection_reused());
}

TEST_F(PeerNginxTest, ChunkedBodyArrivesWhole) {
  Fixture f;
  ASSERT_EQ(f.Fetch(nginx_.http("/chunked/big.txt")), HERR_NONE);
  std::string coding;
  EXPECT_TRUE(f.client().response().HasHeader("Transfer-Encoding", &coding));
  EXPECT_EQ(coding, "chunked");
  EXPECT_EQ(f.body(), nginx_.big());
  // The connection is still good for a plain one afterwards.
  ASSERT_EQ(f.Fetch(nginx_.http("/small.txt")), HERR_NONE);
  EXPECT_TRUE(f.client().connection_reused());
  EXPECT_EQ(f.body(), nginx_.small());
}

TEST_F(PeerNginxTest, RedirectsFollowSchemePortAndLimits) {
  Fixture f(pki_.ca_file());
  const std::string last_hop = "/hop/" + std::to_string(HttpClient::kMaxRedirects - 1);
  const std::string one_too_many = "/hop/" + std::to_string(HttpClient::kMaxRedirects);
  struct Case {
    std::string url;
    HttpError error;
    int status;
    int redirects;
    bool secure_at_end;
  } cases[] = {
      {nginx_.http(last_hop), HERR_NONE, 200, HttpClient::kMaxRedirects, false},
      {nginx_.http(one_too_many), HERR_REDIRECT, 302, HttpClient::kMaxRedirects, false},
      {nginx_.http("/to-https"), HERR_NONE, 200, 1, true},
      {nginx_.https("/to-http"), HERR_REDIRECT, 302, 0, true},
      {nginx_.http("/relative"), HERR_NONE, 200, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.url);
    EXPECT_EQ(f.Fetch(c.url), c.error);
    EXPECT_EQ(f.client().response().status, c.status);
    EXPECT_EQ(f.client().redirects(), c.redirects);
    EXPECT_EQ(f.client().secure(), c.secure_at_end);
    EXPECT_EQ(f.client().port(), c.secure_at_end ? nginx_.https_port() : nginx_.http_port());
    if (c.status == 200) {
      EXPECT_EQ(f.body(), nginx_.small());
    }
  }
}

TEST_F(PeerNginxTest, RedirectedPostKeepsOrDropsItsBody) {
  Fixture f;
  ASSERT_EQ(f.Fetch(nginx_.http("/post303"), HV_POST, std::make_unique<MemoryStream>("a=bc")),
            HERR_NONE);
  EXPECT_EQ(f.body(), "GET 0");
  ASSERT_EQ(f.Fetch(nginx_.http("/post307"), HV_POST, std::make_unique<MemoryStream>("a=bc")),
            HERR_NONE);
  EXPECT_EQ(f.body(), "POST 4");
  EXPECT_EQ(f.Fetch(nginx_.http("/post307"), HV_POST, std::make_unique<OneShotStream>("a=bc")),
            HERR_STREAM);
}

TEST_F(PeerNginxTest, UnsizedUploadsArriveByteForByte) {
  Fixture f;
  struct Case {
    const char* name;
    std::function<std::unique_ptr<DataStream>()> make;
    std::string expected;
  } cases[] = {
      {"empty", [] { return std::make_unique<UnsizedStream>(""); }, ""},
      {"small", [] { return std::make_unique<UnsizedStream>("hello\r\n0\r\n\r\n"); },
       "hello\r\n0\r\n\r\n"},
      {"five megabytes", [] { return std::make_unique<UnsizedStream>(Pattern(5 << 20)); },
       Pattern(5 << 20)},
      {"produced while sent", [] { return std::make_unique<TrickleStream>(300000, 16384); },
       Pattern(300000)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ASSERT_EQ(f.Fetch(nginx_.http("/upload/") + c.name[0] + ".bin", HV_PUT, c.make()),
              HERR_NONE);
    EXPECT_EQ(f.client().response().status, 201);
    std::string coding;
    EXPECT_TRUE(f.client().request().HasHeader("Transfer-Encoding", &coding));
    EXPECT_EQ(coding, "chunked");
    EXPECT_FALSE(f.client().request().HasHeader("Content-Length"));
    const std::string stored = nginx_.uploaded(std::string(1, c.name[0]) + ".bin");
    EXPECT_EQ(stored.size(), c.expected.size());
    EXPECT_TRUE(stored == c.expected) << "the stored body differs";
  }
}

TEST_F(PeerNginxTest, ChunkedPostIsReadWholeAndTheConnectionStaysInStep) {
  Fixture f;
  ASSERT_EQ(f.Fetch(nginx_.http("/coding"), HV_POST, std::make_unique<UnsizedStream>("a=bc")),
            HERR_NONE);
  EXPECT_TRUE(f.body().starts_with("POST ") && f.body().ends_with(" chunked")) << f.body();
  ASSERT_EQ(f.Fetch(nginx_.http("/length"), HV_POST,
                    std::make_unique<UnsizedStream>(Pattern(2 << 20))),
            HERR_NONE);
  EXPECT_EQ(f.body(), std::to_string(2 << 20));
  ASSERT_EQ(f.Fetch(nginx_.http("/coding"), HV_POST, std::make_unique<MemoryStream>("a=bc")),
            HERR_NONE);
  EXPECT_EQ(f.body(), "POST 4 ");
  // Nothing of the chunked bodies was left over: the kept connection reads the next request.
  ASSERT_EQ(f.Fetch(nginx_.http("/small.txt")), HERR_NONE);
  EXPECT_TRUE(f.client().connection_reused());
  EXPECT_EQ(f.body(), nginx_.small());
  // A redirect that keeps the method sends the chunked body again from its start.
  ASSERT_EQ(f.Fetch(nginx_.http("/to-length"), HV_POST, std::make_unique<UnsizedStream>("a=bc")),
            HERR_NONE);
  EXPECT_EQ(f.client().redirects(), 1);
  EXPECT_EQ(f.body(), "4");
  EXPECT_EQ(f.Fetch(nginx_.http("/to-length"), HV_POST,
                    std::make_unique<UnsizedStream>("a=bc", false)),
            HERR_STREAM);
}

TEST_F(PeerNginxTest, IPv6LiteralAddressReachesTheServer) {
  if (!nginx_.ipv6()) GTEST_SKIP() << "no IPv6 loopback (::1) on this machine";
  Fixture f;
  const std::string port = std::to_string(nginx_.http_port());
  ASSERT_EQ(f.Fetch(nginx_.http6("/whoami")), HERR_NONE);
  EXPECT_EQ(f.body(), "::1 [::1]:" + port);
  ASSERT_EQ(f.Fetch(nginx_.http6("/conn")), HERR_NONE);
  EXPECT_TRUE(f.client().connection_reused());
  // nginx makes the relative redirect absolute with the Host it was given: brackets and all.
  ASSERT_EQ(f.Fetch(nginx_.http6("/relative")), HERR_NONE);
  EXPECT_EQ(f.client().redirects(), 1);
  EXPECT_EQ(f.client().host(), "::1");
  EXPECT_EQ(f.body(), nginx_.small());
  // The IPv4 server is another connection.
  ASSERT_EQ(f.Fetch(nginx_.http("/whoami")), HERR_NONE);
  EXPECT_EQ(f.body(), "127.0.0.1 127.0.0.1:" + port);
  EXPECT_FALSE(f.client().connection_reused());
  // Uploads go the same way.
  ASSERT_EQ(f.Fetch(nginx_.http6("/upload/v6.bin"), HV_PUT,
                    std::make_unique<UnsizedStream>(Pattern(100000))),
            HERR_NONE);
  EXPECT_TRUE(nginx_.uploaded("v6.bin") == Pattern(100000));
}

TEST_F(PeerNginxTest, HttpsVerifiesTheServer) {
  Fixture trusted(pki_.ca_file());
  ASSERT_EQ(trusted.Fetch(nginx_.https("/small.txt")), HERR_NONE);
  EXPECT_EQ(trusted.body(), nginx_.small());
  ASSERT_EQ(trusted.Fetch(nginx_.https("/small.txt")), HERR_NONE);
  EXPECT_TRUE(trusted.client().connection_reused());
  // Only the system store: the test CA is unknown.
  Fixture untrusted;
  EXPECT_EQ(untrusted.Fetch(nginx_.https("/small.txt")), HERR_CERT);
  // TLS to a plain HTTP port fails cleanly.
  EXPECT_NE(trusted.Fetch("https://127.0.0.1:" + std::to_string(nginx_.http_port()) + "/"),
            HERR_NONE);
}

TEST_F(PeerNginxTest, SecretsStayOutOfTheLogAndOnTheirServer) {
  std::vector<std::string> lines;
  SetLogConsoleSink([&](std::string_view line) { lines.emplace_back(line); });
  LogToDebug(kSensitive);
  {
    Fixture f(pki_.ca_file());
    f.factory().SetTrafficLog("http", kSensitive);
    f.client().request().AddHeader("Authorization", "Basic c2VjcmV0LXRva2Vu");
    f.client().request().AddHeader("Cookie", "session=cookie-secret");
    auto form = std::make_unique<MemoryStream>("user=alice&password=form-secret");
    ASSERT_EQ(f.Fetch(nginx_.http("/method"), HV_POST, std::move(form)), HERR_NONE);
    EXPECT_EQ(f.body(), "POST 31");
    // A redirect to another server does not take the credentials along.
    f.client().Reset();
    f.client().request().AddHeader("Authorization", "Basic c2VjcmV0LXRva2Vu");
    f.client().request().AddHeader("Cookie", "session=cookie-secret");
    auto document = std::make_unique<MemoryStream>();
    MemoryStream* body = document.get();
    f.client().response().SetDocument(std::move(document));
    Outcome outcome;
    f.client().set_listener(&outcome);
    ASSERT_TRUE(f.client().StartUrl(nginx_.http("/to-https-headers")));
    ASSERT_TRUE(RunUntil([&] { return outcome.completions > 0; }));
    EXPECT_EQ(outcome.error, HERR_NONE);
    EXPECT_EQ(body->data(), "auth= cookie=");
  }
  ResetLogging();
  std::string all;
  for (const auto& line : lines) all += line + "\n";
  EXPECT_NE(all.find("[http] >> POST /method HTTP/1.1"), std::string::npos) << all;
  for (const char* secret : {"c2VjcmV0LXRva2Vu", "cookie-secret", "form-secret"}) {
    EXPECT_EQ(all.find(secret), std::string::npos) << secret << " in\n" << all;
  }
}

// The owner side of a background request: the completion message lands here.
class Owner : public MessageTarget {
 public:
  void HandleMessage(QueuedMessage* msg) override {
    done = true;
    delete msg->payload;
  }
  bool done = false;
};

AsyncHttpRequest* RunJob(Owner* owner, const std::function<void(AsyncHttpRequest::Params&)>& set,
                         int wait_ms = 10000) {
  auto* job = new AsyncHttpRequest(owner, 1);
  job->params().user_agent = "Vexalo/test";
  set(job->params());
  job->Start();
  LoopThread* self = ThreadRegistry::Current();
  for (int i = 0; i < wait_ms / 10 && !owner->done; ++i) self->RunFor(10);
  return job;
}

TEST_F(PeerNginxTest, BackgroundRequestReportsToItsOwner) {
  Owner owner;
  AsyncHttpRequest* job = RunJob(&owner, [&](AsyncHttpRequest::Params& p) {
    p.secure = true;
    p.host = "localhost";
    p.port = nginx_.https_port();
    p.path = "/to-https";  // a redirect on the same server first
    p.ca_file = pki_.ca_file();
    p.verb = "GET";
  });
  ASSERT_TRUE(owner.done);
  EXPECT_EQ(job->result().outcome, AsyncHttpRequest::Outcome::kCompleted);
  EXPECT_EQ(job->result().status, 200);
  ASSERT_TRUE(job->result().response);
  EXPECT_EQ(job->result().response->data(), nginx_.small());
  job->Release();

  // fail_redirect: the 3xx comes back with its Location.
  Owner owner2;
  job = RunJob(&owner2, [&](AsyncHttpRequest::Params& p) {
    p.host = "127.0.0.1";
    p.port = nginx_.http_port();
    p.path = "/post303";
    p.verb = "POST";
    p.extra_headers = "Content-Type: text/plain\r\nX-Extra: 1";
    p.body = std::make_unique<MemoryStream>("hello");
    p.fail_redirect = true;
  });
  ASSERT_TRUE(owner2.done);
  EXPECT_EQ(job->result().outcome, AsyncHttpRequest::Outcome::kCompleted);
  EXPECT_EQ(job->result().status, 303);
  EXPECT_EQ(job->result().location, nginx_.http("/method"));
  job->Release();
}

TEST_F(PeerNginxTest, BackgroundRequestUploadsAnUnsizedBody) {
  Owner owner;
  const bool v6 = nginx_.ipv6();
  AsyncHttpRequest* job = RunJob(&owner, [&](AsyncHttpRequest::Params& p) {
    p.host = v6 ? "[::1]" : "127.0.0.1";
    p.port = nginx_.http_port();
    p.path = "/length";
    p.verb = "POST";
    p.body = std::make_unique<UnsizedStream>(Pattern(100000), false);
  });
  ASSERT_TRUE(owner.done);
  EXPECT_EQ(job->result().outcome, AsyncHttpRequest::Outcome::kCompleted);
  EXPECT_EQ(job->result().status, 200);
  ASSERT_TRUE(job->result().response);
  EXPECT_EQ(job->result().response->data(), "100000");
  job->Release();
}

TEST(PeerBackgroundRequestTest, ProxyChallengeResendsOnlyABodyThatCanStartOver) {
  // A proxy that asks for credentials once, then answers with what it was sent.
  ScriptedTcpServer proxy;
  std::vector<std::string> heard;
  proxy.on_data = [&](size_t, ScriptedTcpServer::Connection* c) {
    size_t end = c->received.find("0\r\n\r\n");
    if (end == std::string::npos) return;
    heard.push_back(c->received.substr(0, end + 5));
    c->received.erase(0, end + 5);
    if (heard.back().find("Proxy-Authorization: Basic ") == std::string::npos) {
      c->Send("HTTP/1.1 407 Proxy Authentication Required\r\n"
              "Proxy-Authenticate: Basic realm=\"test\"\r\nConnection: keep-alive\r\n"
              "Content-Length: 0\r\n\r\n");
    } else {
      c->Send("HTTP/1.1 200 OK\r\nConnection: keep-alive\r\nContent-Length: 2\r\n\r\nok");
    }
  };
  for (bool rewind : {true, false}) {
    SCOPED_TRACE(rewind ? "rewinds" : "cannot rewind");
    heard.clear();
    Owner owner;
    AsyncHttpRequest* job = RunJob(&owner, [&](AsyncHttpRequest::Params& p) {
      p.proxy.type = PROXY_HTTPS;
      p.proxy.address = proxy.address();
      p.proxy.username = "user";
      p.proxy.password = SecretText::FromClearText("secret");
      p.host = "upload.test";
      p.path = "/in";
      p.verb = "POST";
      p.body = std::make_unique<UnsizedStream>("the body", rewind);
    });
    ASSERT_TRUE(owner.done);
    const std::string framed = "8\r\nthe body\r\n0\r\n\r\n";
    if (rewind) {
      EXPECT_EQ(job->result().outcome, AsyncHttpRequest::Outcome::kCompleted);
      EXPECT_EQ(job->result().status, 200);
      ASSERT_EQ(heard.size(), 2u);
      EXPECT_TRUE(heard[1].ends_with("\r\n\r\n" + framed)) << heard[1];
    } else {
      // Sending the body again would send nothing of it: the job fails instead.
      EXPECT_EQ(job->result().outcome, AsyncHttpRequest::Outcome::kFailed);
      EXPECT_EQ(job->result().http_error, HERR_STREAM);
      EXPECT_EQ(heard.size(), 1u);
    }
    EXPECT_TRUE(heard[0].ends_with("\r\n\r\n" + framed)) << heard[0];
    job->Release();
  }
}

TEST(PeerBackgroundRequestTest, TimesOutAgainstASilentServer) {
  ScriptedTcpServer silent;  // accepts and never answers
  Owner owner;
  AsyncHttpRequest* job = RunJob(&owner, [&](AsyncHttpRequest::Params& p) {
    p.host = "127.0.0.1";
    p.port = silent.address().port();
    p.timeout_ms = 300;
  });
  ASSERT_TRUE(owner.done);
  EXPECT_EQ(job->result().outcome, AsyncHttpRequest::Outcome::kTimedOut);
  job->Release();
}

}  // namespace
}  // namespace vexalo
