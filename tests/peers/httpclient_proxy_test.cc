// The HTTP client through a real squid on 127.0.0.1 in front of nginx: plain HTTP goes to the
// proxy with absolute request targets, HTTPS through a CONNECT tunnel, and the background
// request answers the proxy's Basic challenge.
#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "base/http/asynchttprequest.h"
#include "base/http/httpclient.h"
#include "base/http/httpsocketfactory.h"
#include "base/runtime/logging.h"
#include "base/runtime/loopthread.h"
#include "base/http/memorystream.h"
#include "base/http/reusesocketpool.h"
#include "base/runtime/threadregistry.h"
#include "support/peers/nginxpeer.h"
#include "support/peers/proxypeers.h"

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

HttpError Fetch(HttpClient* client, const std::string& url, MemoryStream** body) {
  Outcome outcome;
  client->set_listener(&outcome);
  client->Reset();
  auto document = std::make_unique<MemoryStream>();
  *body = document.get();
  client->response().SetDocument(std::move(document));
  if (!client->StartUrl(url)) return HERR_PROTOCOL;
  if (!RunUntil([&] { return outcome.completions > 0; })) return HERR_CANCELLED;
  client->set_listener(nullptr);
  return outcome.error;
}

TEST(PeerHttpProxyTest, PlainHttpByAbsoluteTargetAndHttpsThroughATunnel) {
  if (getenv("VEXALO_TEST_LOG")) LogToDebug(kVerbose);
  tlstest::TestPki pki;
  NginxPeer nginx(&pki);
  ASSERT_TRUE(nginx.started()) << nginx.error();
  SquidPeer squid("");
  ASSERT_TRUE(squid.started()) << squid.error();
  ProxySettings proxy;
  proxy.type = PROXY_HTTPS;
  proxy.address = squid.address();
  HttpSocketFactory factory(CurrentHub(), proxy, "Vexalo/test");
  factory.SetCaFile(pki.ca_file());
  ReuseSocketPool pool(&factory);
  HttpClient client("Vexalo/test", &pool);
  MemoryStream* body = nullptr;

  ASSERT_EQ(Fetch(&client, nginx.http("/small.txt"), &body), HERR_NONE);
  EXPECT_EQ(body->data(), nginx.small());
  EXPECT_EQ(client.request().path, nginx.http("/small.txt"));  // absolute target
  std::string via;
  EXPECT_TRUE(client.response().HasHeader("Via", &via)) << "not through the proxy";
  EXPECT_NE(via.find("squid"), std::string::npos) << via;
  // The proxy connection is kept for the next request.
  ASSERT_EQ(Fetch(&client, nginx.http("/chunked/big.txt"), &body), HERR_NONE);
  EXPECT_EQ(body->data(), nginx.big());
  EXPECT_TRUE(client.connection_reused());

  ASSERT_EQ(Fetch(&client, nginx.https("/small.txt"), &body), HERR_NONE);
  EXPECT_EQ(body->data(), nginx.small());
  EXPECT_EQ(client.request().path, "/small.txt");  // origin form inside the tunnel
  EXPECT_FALSE(client.response().HasHeader("Via"));
  // An http page redirecting to https: from the proxy to the tunnel.
  ASSERT_EQ(Fetch(&client, nginx.http("/to-https"), &body), HERR_NONE);
  EXPECT_EQ(body->data(), nginx.small());
  EXPECT_TRUE(client.secure());
}

class Owner : public MessageTarget {
 public:
  void HandleMessage(QueuedMessage* msg) override {
    done = true;
    delete msg->payload;
  }
  bool done = false;
};

TEST(PeerHttpProxyTest, BackgroundRequestAnswersTheProxyChallenge) {
  if (getenv("VEXALO_TEST_LOG")) LogToDebug(kVerbose);
  NginxPeer nginx;
  ASSERT_TRUE(nginx.started()) << nginx.error();
  SquidPeer squid("basic");
  ASSERT_TRUE(squid.started()) << squid.error();
  struct Case {
    const char* password;
    int status;
  } cases[] = {{"wonderland", 200}, {"wrong", 407}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.password);
    Owner owner;
    auto* job = new AsyncHttpRequest(&owner, 1);
    AsyncHttpRequest::Params& p = job->params();
    p.proxy.type = PROXY_HTTPS;
    p.proxy.address = squid.address();
    p.proxy.username = "alice";
    p.proxy.password = SecretText::FromClearText(c.password);
    p.host = "127.0.0.1";
    p.port = nginx.http_port();
    p.path = "/small.txt";
    p.user_agent = "Vexalo/test";
    p.timeout_ms = 10000;
    job->Start();
    LoopThread* self = ThreadRegistry::Current();
    for (int i = 0; i < 1200 && !owner.done; ++i) self->RunFor(10);
    ASSERT_TRUE(owner.done);
    EXPECT_EQ(job->result().outcome, AsyncHttpRequest::Outcome::kCompleted);
    EXPECT_EQ(job->result().status, c.status);
    if (c.status == 200) {
      ASSERT_TRUE(job->result().response);
      EXPECT_EQ(job->result().response->data(), nginx.small());
    }
    job->Release();
  }
}

}  // namespace
}  // namespace vexalo
