// Sequential keep-alive GETs of a 1 KiB file from a real nginx on 127.0.0.1: HttpClient
// against libcurl's easy interface on the same server in the same run.
#include <benchmark/benchmark.h>
#include <curl/curl.h>

#include <cstdlib>
#include <memory>
#include <string>

#include "base/http/httpclient.h"
#include "base/http/httpsocketfactory.h"
#include "base/runtime/loopthread.h"
#include "base/http/memorystream.h"
#include "base/net/physicalsocketserver.h"
#include "base/http/reusesocketpool.h"
#include "base/runtime/threadregistry.h"
#include "support/peers/nginxpeer.h"

namespace vexalo {
namespace {

// One server for both benchmarks; stopped when the program exits.
NginxPeer& Server() {
  static NginxPeer nginx;
  if (!nginx.started()) {
    std::fprintf(stderr, "nginx did not start: %s\n", nginx.error().c_str());
    std::exit(1);
  }
  return nginx;
}

// Ends the loop's run as soon as the exchange is over.
struct StopOnComplete : public HttpClientListener {
  void OnHttpClientComplete(HttpClient*, HttpError e) override {
    done = true;
    error = e;
    ThreadRegistry::Current()->Stop();
  }
  bool done = false;
  HttpError error = HERR_NONE;
};

void BM_HttpClientKeepAliveGet(benchmark::State& state) {
  const std::string url = Server().http("/small.txt");
  LoopThread* self = ThreadRegistry::Current();
  HttpSocketFactory factory(self->hub(), ProxySettings(), "Vexalo/bench");
  ReuseSocketPool pool(&factory);
  HttpClient client("Vexalo/bench", &pool);
  StopOnComplete listener;
  client.set_listener(&listener);
  int64_t bytes = 0;
  for (auto _ : state) {
    client.Reset();
    auto document = std::make_unique<MemoryStream>();
    MemoryStream* body = document.get();
    client.response().SetDocument(std::move(document));
    listener.done = false;
    self->Restart();
    client.StartUrl(url);
    while (!listener.done) self->RunFor(1000);
    if (listener.error != HERR_NONE || body->data().size() != NginxPeer::kSmallSize) {
      state.SkipWithError("request failed");
      break;
    }
    bytes += static_cast<int64_t>(body->data().size());
  }
  self->Restart();
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(bytes);
  state.SetLabel("requests");
}
BENCHMARK(BM_HttpClientKeepAliveGet)->UseRealTime()->MinTime(2.0);

size_t Append(char* data, size_t size, size_t count, void* user) {
  static_cast<std::string*>(user)->append(data, size * count);
  return size * count;
}

void BM_CurlEasyKeepAliveGet(benchmark::State& state) {
  const std::string url = Server().http("/small.txt");
  CURL* curl = curl_easy_init();
  std::string body;
  curl_easy_setopt(curl, CURLOPT_URL, url.c_str());
  curl_easy_setopt(curl, CURLOPT_WRITEFUNCTION, Append);
  curl_easy_setopt(curl, CURLOPT_WRITEDATA, &body);
  curl_easy_setopt(curl, CURLOPT_USERAGENT, "curl/bench");
  curl_easy_setopt(curl, CURLOPT_PROXY, "");  // same path as ours: straight to the server
  int64_t bytes = 0;
  for (auto _ : state) {
    body.clear();
    if (curl_easy_perform(curl) != CURLE_OK || body.size() != NginxPeer::kSmallSize) {
      state.SkipWithError("request failed");
      break;
    }
    bytes += static_cast<int64_t>(body.size());
  }
  curl_easy_cleanup(curl);
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(bytes);
  state.SetLabel("requests");
}
BENCHMARK(BM_CurlEasyKeepAliveGet)->UseRealTime()->MinTime(2.0);

}  // namespace
}  // namespace vexalo

BENCHMARK_MAIN();
