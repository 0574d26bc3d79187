// The stream parser against the limit (raw expat with empty handlers on the same bytes) and,
// through a loopback socket, against libstrophe's stream parser; element building and printing.
// Allocations are counted by replacing the global operator new in this program (expat's own buffers
// use malloc and are reused across stanzas).
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <expat.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <new>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#ifdef VEXALO_HAVE_STROPHE
#include <strophe.h>
#endif

#include "xml/stanzasplitter.h"
#include "xml/xmlelem.h"
#include "xml/xmlwriter.h"
#include "xmpp/stream/constants.h"

// GCC sees the free() in our replacement delete as mismatched with inlined new-expressions.
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"

namespace {

uint64_t g_allocations = 0;

}  // namespace

void* operator new(size_t size) {
  ++g_allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void* operator new[](size_t size) {
  ++g_allocations;
  if (void* p = std::malloc(size == 0 ? 1 : size)) return p;
  throw std::bad_alloc();
}
void operator delete(void* p) noexcept { std::free(p); }
void operator delete[](void* p) noexcept { std::free(p); }
void operator delete(void* p, size_t) noexcept { std::free(p); }
void operator delete[](void* p, size_t) noexcept { std::free(p); }

namespace vexalo {
namespace {

constexpr size_t kStreamBytes = 10 * 1024 * 1024;
constexpr size_t kReadSize = 4096;

struct SyntheticStream {
  std::string bytes;
  std::vector<std::string> stanzas;  // each stanza's text, for per-stanza parsers
};

// Messages, presences and roster results of the sizes a busy account sees.
const SyntheticStream& Stream() {
  static const SyntheticStream* stream = [] {
    auto* s = new SyntheticStream;
    s->bytes =
        "<?xml version='1.0' encoding='UTF-8'?><stream:stream from='example.com' id='3A5F09' "
        "version='1.0' xmlns:stream='http://etherx.jabber.org/streams' "
        "xmlns='jabber:client'>";
    uint32_t random = 12345;
    auto next = [&random](uint32_t range) {
      random = random * 1103515245u + 12345u;
      return (random >> 16) % range;
    };
    const char* words[] = {"hello", "are",      "you",   "coming", "tonight",     "call",
                           "me",    "when",     "&amp;", "ok",     "caf\xC3\xA9", "&lt;3",
                           "meet",  "tomorrow", "at",    "nine"};
    for (int i = 0; s->bytes.size() < kStreamBytes; ++i) {
      std::string stanza;
      const std::string peer = "contact" + std::to_string(next(500)) + "@example.com";
      uint32_t kind = next(40);
      if (kind < 24) {
        stanza = "<message to='me@example.com/vexalo' from='" + peer + "/phone' type='chat' id='m" +
                 std::to_string(i) + "'><body>";
        for (uint32_t w = 0, n = 3 + next(30); w < n; ++w) {
          if (w > 0) stanza += ' ';
          stanza += words[next(16)];
        }
        stanza += "</body>";
        if (next(3) == 0) stanza += "<thread>t" + std::to_string(next(100000)) + "</thread>";
        stanza += "<active xmlns='http://jabber.org/protocol/chatstates'/></message>";
      } else if (kind < 39) {
        stanza = "<presence from='" + peer + "/desktop' to='me@example.com/vexalo'>";
        if (next(2) == 0) stanza += "<show>away</show>";
        stanza += "<status>In a meeting until " + std::to_string(next(12) + 1) +
                  "</status><priority>5</priority>"
                  "<c xmlns='http://jabber.org/protocol/caps' node='http://vexalo.example/caps' "
                  "ver='1.0' ext='voice-v1 pmuc-v1'/>"
                  "<x xmlns='vcard-temp:x:update'><photo>"
                  "2b1c35e1a7ed0c32c0a5e0a6f1dbe3f61e6d17b4</photo></x></presence>";
      } else {
        stanza = "<iq to='me@example.com/vexalo' type='result' id='r" + std::to_string(i) +
                 "'><query xmlns='jabber:iq:roster' xmlns:gr='ombrix:roster' gr:ext='2'>";
        for (int item = 0; item < 20; ++item) {
          stanza += "<item jid='friend" + std::to_string(item) +
                    "@example.com' subscription='both' name='Friend " + std::to_string(item) +
                    "' gr:t='A'><group>Friends</group></item>";
        }
        stanza += "</query></iq>";
      }
      s->bytes += stanza;
      if (next(4) == 0) s->bytes += ' ';  // keep-alive whitespace between stanzas
      s->stanzas.push_back(std::move(stanza));
    }
    return s;
  }();
  return *stream;
}

class CountingOwner : public StanzaSplitter::Owner {
 public:
  void StreamStarted(const XmlElem&) override {}
  void StanzaReceived(const XmlElem& stanza) override {
    ++stanzas;
    benchmark::DoNotOptimize(stanza.FirstNode());
  }
  void StreamEnded() override {}
  void StreamXmlError(const XmlError&) override { failed = true; }

  int64_t stanzas = 0;
  bool failed = false;
};

void ReportRates(benchmark::State& state, int64_t stanzas, uint64_t allocations) {
  const SyntheticStream& stream = Stream();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * stream.bytes.size()));
  state.counters["stanzas/s"] =
      benchmark::Counter(static_cast<double>(stanzas), benchmark::Counter::kIsRate);
  state.counters["allocs/stanza"] =
      stanzas == 0 ? 0 : static_cast<double>(allocations) / static_cast<double>(stanzas);
}

// Bytes to finished stanza trees, as the stream engine gets them.
void BM_StreamParserToTrees(benchmark::State& state) {
  const SyntheticStream& stream = Stream();
  int64_t stanzas = 0;
  uint64_t allocations = 0;
  for (auto _ : state) {
    CountingOwner owner;
    StanzaSplitter splitter(&owner);
    uint64_t before = g_allocations;
    for (size_t at = 0; at < stream.bytes.size(); at += kReadSize) {
      size_t length = std::min(kReadSize, stream.bytes.size() - at);
      splitter.Parse(stream.bytes.data() + at, length);
    }
    allocations += g_allocations - before;
    if (owner.failed || owner.stanzas != static_cast<int64_t>(stream.stanzas.size())) {
      state.SkipWithError("the stream did not parse");
      return;
    }
    stanzas += owner.stanzas;
  }
  ReportRates(state, stanzas, allocations);
}
BENCHMARK(BM_StreamParserToTrees)->Unit(benchmark::kMillisecond);

// The limit: expat tokenising the same bytes with empty handlers.
void BM_RawExpatEmptyHandlers(benchmark::State& state) {
  const SyntheticStream& stream = Stream();
  int64_t stanzas = 0;
  for (auto _ : state) {
    XML_Parser parser = XML_ParserCreate(nullptr);
    XML_SetElementHandler(
        parser, [](void*, const char*, const char**) {}, [](void*, const char*) {});
    XML_SetCharacterDataHandler(parser, [](void*, const char*, int) {});
    for (size_t at = 0; at < stream.bytes.size(); at += kReadSize) {
      size_t length = std::min(kReadSize, stream.bytes.size() - at);
      if (XML_Parse(parser, stream.bytes.data() + at, static_cast<int>(length), XML_FALSE) !=
          XML_STATUS_OK) {
        state.SkipWithError("expat failed");
        break;
      }
    }
    XML_ParserFree(parser);
    stanzas += static_cast<int64_t>(stream.stanzas.size());
  }
  ReportRates(state, stanzas, 0);
}
BENCHMARK(BM_RawExpatEmptyHandlers)->Unit(benchmark::kMillisecond);

// Serves the synthetic stream once on a loopback port: the parsers that can only read from a
// connection get the same bytes as ours, through the same kind of socket.
class LoopbackStreamServer {
 public:
  LoopbackStreamServer() {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t length = sizeof(address);
    if (listener_ < 0 || bind(listener_, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
        listen(listener_, 1) != 0 ||
        getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
      return;
    }
    port_ = ntohs(address.sin_port);
    writer_ = std::thread([this] {
      int peer = accept(listener_, nullptr, nullptr);
      if (peer < 0) return;
      const std::string& bytes = Stream().bytes;
      for (size_t at = 0; at < bytes.size();) {
        ssize_t sent = send(peer, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
        if (sent <= 0) break;
        at += static_cast<size_t>(sent);
      }
      // Closing with the client's stream header still unread would reset the connection and
      // drop what the client has not read yet: end our side, then wait for the client's end.
      shutdown(peer, SHUT_WR);
      char ignored[512];
      while (recv(peer, ignored, sizeof(ignored), 0) > 0) {
      }
      close(peer);
    });
  }
  ~LoopbackStreamServer() {
    if (writer_.joinable()) writer_.join();
    if (listener_ >= 0) close(listener_);
  }

  uint16_t port() const { return port_; }

 private:
  int listener_ = -1;
  uint16_t port_ = 0;
  std::thread writer_;
};

// Our parser fed by 4,096-byte reads from a loopback socket: the partner of the libstrophe run.
void BM_StreamParserOverLoopback(benchmark::State& state) {
  const SyntheticStream& stream = Stream();
  int64_t stanzas = 0;
  for (auto _ : state) {
    LoopbackStreamServer server;
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(server.port());
    if (server.port() == 0 ||
        connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) {
      close(fd);
      state.SkipWithError("no loopback connection");
      return;
    }
    CountingOwner owner;
    StanzaSplitter splitter(&owner);
    char buffer[kReadSize];
    for (ssize_t got; (got = recv(fd, buffer, sizeof(buffer), 0)) > 0;) {
      splitter.Parse(buffer, static_cast<size_t>(got));
    }
    close(fd);
    if (owner.failed || owner.stanzas != static_cast<int64_t>(stream.stanzas.size())) {
      state.SkipWithError("the stream did not parse");
      return;
    }
    stanzas += owner.stanzas;
  }
  ReportRates(state, stanzas, 0);
}
BENCHMARK(BM_StreamParserOverLoopback)->Unit(benchmark::kMillisecond)->UseRealTime();

#ifdef VEXALO_HAVE_STROPHE
struct StropheRun {
  int64_t stanzas = 0;
  bool ended = false;
};

// libstrophe parses a stream only inside a connection: a raw connection (no login) to the
// loopback server, its stream opened, every stanza counted by a catch-all handler.
void BM_LibstropheStreamOverLoopback(benchmark::State& state) {
  const SyntheticStream& stream = Stream();
  xmpp_initialize();
  xmpp_ctx_t* ctx = xmpp_ctx_new(nullptr, nullptr);
  int64_t stanzas = 0;
  for (auto _ : state) {
    LoopbackStreamServer server;
    StropheRun run;
    xmpp_conn_t* conn = xmpp_conn_new(ctx);
    xmpp_conn_set_jid(conn, "me@example.com");
    xmpp_handler_add(
        conn,
        [](xmpp_conn_t*, xmpp_stanza_t*, void* data) {
          ++static_cast<StropheRun*>(data)->stanzas;
          return 1;
        },
        nullptr, nullptr, nullptr, &run);
    auto on_event = [](xmpp_conn_t* c, xmpp_conn_event_t event, int, xmpp_stream_error_t*,
                       void* data) {
      if (event == XMPP_CONN_RAW_CONNECT) {
        xmpp_conn_open_stream_default(c);
      } else if (event == XMPP_CONN_DISCONNECT || event == XMPP_CONN_FAIL) {
        static_cast<StropheRun*>(data)->ended = true;
      }
    };
    if (server.port() == 0 ||
        xmpp_connect_raw(conn, "127.0.0.1", server.port(), on_event, &run) != XMPP_EOK) {
      xmpp_conn_release(conn);
      state.SkipWithError("libstrophe could not connect");
      break;
    }
    while (!run.ended) xmpp_run_once(ctx, 10);
    xmpp_conn_release(conn);
    if (run.stanzas != static_cast<int64_t>(stream.stanzas.size())) {
      state.SkipWithError("libstrophe did not deliver every stanza");
      break;
    }
    stanzas += run.stanzas;
  }
  xmpp_ctx_free(ctx);
  xmpp_shutdown();
  ReportRates(state, stanzas, 0);
}
BENCHMARK(BM_LibstropheStreamOverLoopback)->Unit(benchmark::kMillisecond)->UseRealTime();

// A different measurement, kept for reference: each stanza, already cut out, parsed from a
// string by a parser made for it.
void BM_LibstropheStanzaFromStringPreSplit(benchmark::State& state) {
  const SyntheticStream& stream = Stream();
  xmpp_initialize();
  xmpp_ctx_t* ctx = xmpp_ctx_new(nullptr, nullptr);
  int64_t stanzas = 0;
  for (auto _ : state) {
    for (const std::string& text : stream.stanzas) {
      xmpp_stanza_t* stanza = xmpp_stanza_new_from_string(ctx, text.c_str());
      if (stanza == nullptr) {
        state.SkipWithError("libstrophe failed");
        break;
      }
      xmpp_stanza_release(stanza);
    }
    stanzas += static_cast<int64_t>(stream.stanzas.size());
  }
  xmpp_ctx_free(ctx);
  xmpp_shutdown();
  ReportRates(state, stanzas, 0);
}
BENCHMARK(BM_LibstropheStanzaFromStringPreSplit)->Unit(benchmark::kMillisecond);
#endif

const std::string_view kPredeclared[] = {"stream", kNsStream, "", kNsClient};

void BM_BuildAndPrintMessage(benchmark::State& state) {
  std::string out;
  uint64_t before = g_allocations;
  for (auto _ : state) {
    XmlElem message(kQnMessage);
    message.SetAttribute(kQnTo, "contact42@example.com/phone");
    message.SetAttribute(kQnType, "chat");
    message.SetAttribute(kQnId, "m1234");
    message.AppendChild(std::make_unique<XmlElem>(kQnBody))
        ->AppendText("are you coming tonight? call me when you're <there> & ready");
    message.AppendChild(std::make_unique<XmlElem>(kQnChatStateActive, true));
    out.clear();
    XmlWriter::Print(out, message, kPredeclared);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["allocs/stanza"] =
      static_cast<double>(g_allocations - before) / static_cast<double>(state.iterations());
  state.counters["stanzas/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BuildAndPrintMessage);

void BM_BuildAndPrintRosterResult20(benchmark::State& state) {
  std::string out;
  std::vector<std::string> jids;
  for (int i = 0; i < 20; ++i) jids.push_back("friend" + std::to_string(i) + "@example.com");
  uint64_t before = g_allocations;
  for (auto _ : state) {
    XmlElem iq(kQnIq);
    iq.SetAttribute(kQnType, kStrResult);
    iq.SetAttribute(kQnId, "r7");
    XmlElem* query = iq.AppendChild(std::make_unique<XmlElem>(kQnRosterQuery, true));
    query->SetAttribute(kQnXmlnsGr, kNsOmbrixRoster);
    query->SetAttribute(kQnGrExt, "2");
    for (const std::string& jid : jids) {
      XmlElem* item = query->AppendChild(std::make_unique<XmlElem>(kQnRosterItem));
      item->SetAttribute(kQnJid, jid);
      item->SetAttribute(kQnSubscription, kStrBoth);
      item->SetAttribute(kQnName, "Friend");
      item->AppendChild(std::make_unique<XmlElem>(kQnRosterGroup))->AppendText("Friends");
    }
    out.clear();
    XmlWriter::Print(out, iq, kPredeclared);
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["allocs/stanza"] =
      static_cast<double>(g_allocations - before) / static_cast<double>(state.iterations());
  state.counters["stanzas/s"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_BuildAndPrintRosterResult20);

}  // namespace
}  // namespace vexalo

BENCHMARK_MAIN();
