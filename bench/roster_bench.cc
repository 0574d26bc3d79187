// A 5,000-item roster result, one 100,000-item result (about 6 MB in one stanza; run it
// alone, --benchmark_filter=100000, for its peak RSS), and a burst of 5,000 presences, from the server's bytes (handed
// to a signed-in connection's stream engine in the 4096-byte reads the connection makes,
// parsed, dispatched to the services) to the applied roster and presence tables and the
// signals that filled them. Also the heap held per applied roster item (mallinfo2 before and
// after one result).
#include <benchmark/benchmark.h>
#include <malloc.h>
#include <sys/resource.h>

#include <algorithm>
#include <string>
#include <unordered_map>

#include "xmpp/stream/constants.h"
#include "xmpp/presence/presencereceivetask.h"
#include "xmpp/roster/rostertask.h"
#include "support/signedinconnection.h"

namespace vexalo {
namespace {

constexpr int kItems = 5000;

// What the connection does with each read from its socket, without the test socket's own
// copying of a multi-megabyte input buffer; then the tasks run.
void Feed(SignedInConnection& session, const std::string& bytes) {
  XmppConnection* connection = session.connection();
  if (connection == nullptr) return;
  StreamEngine* engine = connection->engine();
  for (size_t offset = 0; offset < bytes.size(); offset += XmppConnection::kReadChunk) {
    engine->HandleInput(bytes.data() + offset,
                        std::min(XmppConnection::kReadChunk, bytes.size() - offset));
  }
  session.Pump();
}

// The application's side: what the signals are applied to.
class AppliedRoster : public SlotHost {
 public:
  explicit AppliedRoster(RosterTask* roster) {
    roster->SignalRosterBegin.Connect(this, [this] { items.clear(); });
    roster->SignalRosterEnd.Connect(this, [this] { ++results; });
    roster->SignalItemUpdated.Connect(this,
                                      [this](const RosterItem& item) { items[item.address] = item; });
    roster->SignalItemRemoved.Connect(this,
                                      [this](const RosterItem& item) { items.erase(item.address); });
  }
  std::unordered_map<XmppAddress, RosterItem> items;
  int results = 0;
};

std::string RosterResult(const std::string& id, int count = kItems) {
  static const char* const kGroups[] = {"Friends", "Work", "Family", "Chess club", "Neighbours"};
  std::string xml = "<iq type='result' id='" + id +
                    "' to='alice@example.net/desk'><query xmlns='jabber:iq:roster' "
                    "xmlns:gr='ombrix:roster' gr:ext='2'>";
  for (int i = 0; i < count; ++i) {
    const std::string n = std::to_string(i);
    xml += "<item jid='contact" + n + "@example.com' name='Contact " + n +
           "' subscription='both' gr:w='" + std::to_string(i % 97) + "' gr:mc='" +
           std::to_string(i % 13) + "'";
    if (i % 10 == 0) xml += " gr:t='H'";
    xml += "><group>" + std::string(kGroups[i % 5]) + "</group>";
    if (i % 3 == 0) xml += "<group>" + std::string(kGroups[(i + 1) % 5]) + "</group>";
    xml += "</item>";
  }
  return xml + "</query></iq>";
}

// The query id the refresh used, read from what the client sent.
std::string SentId(const std::string& sent) {
  const size_t at = sent.find("id=\"") + 4;
  return sent.substr(at, sent.find('"', at) - at);
}

void BM_RosterResult5000(benchmark::State& state) {
  SignedInConnection session;
  auto* roster = new RosterTask(session.connection());
  roster->Start();
  AppliedRoster applied(roster);
  for (auto _ : state) {
    state.PauseTiming();
    roster->Refresh();
    const std::string bytes = RosterResult(SentId(session.TakeSent()));
    state.ResumeTiming();
    Feed(session, bytes);
    if (applied.items.size() != kItems) state.SkipWithError("roster not applied");
  }
  // Heap held by one applied roster: what a fresh result leaves allocated once the engine's
  // transient buffers are gone.
  roster->Refresh();
  const std::string bytes = RosterResult(SentId(session.TakeSent()));
  applied.items.clear();
  const size_t before = mallinfo2().uordblks;
  Feed(session, bytes);
  const size_t after = mallinfo2().uordblks;
  state.counters["bytes_per_item"] = static_cast<double>(after - before) / kItems;
  state.counters["result_bytes"] = static_cast<double>(bytes.size());
}
BENCHMARK(BM_RosterResult5000)->Unit(benchmark::kMillisecond);

// A roster of 100,000 contacts in one result, from its bytes to the applied table. Peak RSS
// is the whole process's high-water mark (the test input included).
void BM_RosterResult100000(benchmark::State& state) {
  constexpr int kLargeRoster = 100000;
  SignedInConnection session;
  auto* roster = new RosterTask(session.connection());
  roster->Start();
  AppliedRoster applied(roster);
  size_t result_bytes = 0;
  for (auto _ : state) {
    state.PauseTiming();
    applied.items.clear();
    roster->Refresh();
    const std::string bytes = RosterResult(SentId(session.TakeSent()), kLargeRoster);
    result_bytes = bytes.size();
    state.ResumeTiming();
    Feed(session, bytes);
    if (applied.items.size() != kLargeRoster) state.SkipWithError("roster not applied");
  }
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  state.counters["peak_rss_mb"] = static_cast<double>(usage.ru_maxrss) / 1024.0;
  state.counters["result_bytes"] = static_cast<double>(result_bytes);
}
BENCHMARK(BM_RosterResult100000)->Unit(benchmark::kMillisecond)->Iterations(1);

std::string PresenceBurst(int round) {
  static const char* const kShows[] = {"", "away", "dnd", "xa", "chat"};
  std::string xml;
  for (int i = 0; i < kItems; ++i) {
    const std::string n = std::to_string(i);
    const char* show = kShows[(i + round) % 5];
    xml += "<presence from='contact" + n + "@example.com/phone" + std::to_string(round % 3) + "'>";
    if (*show) xml += std::string("<show>") + show + "</show>";
    xml += "<status>Status message number " + n +
           "</status><priority>1</priority>"
           "<x xmlns='vcard-temp:x:update'><photo>da39a3ee5e6b4b0d3255bfef95601890afd8" +
           std::to_string(1000 + i % 9000) +
           "</photo></x><c xmlns='http://jabber.org/protocol/caps' node='" +
           std::string(kCapsNode) +
           "' ver='1.0.0.104' ext='pmuc-v1 voice-v1'/></presence>";
  }
  return xml;
}

void BM_PresenceBurst5000(benchmark::State& state) {
  SignedInConnection session;
  auto* presence = new PresenceReceiveTask(session.connection());
  presence->Start();
  SlotHost host;
  std::unordered_map<XmppAddress, PresenceStatus> table;
  size_t seen = 0;
  presence->SignalPresence.Connect(&host, [&](const PresenceStatus& status) {
    table[status.address] = status;
    ++seen;
  });
  int round = 0;
  for (auto _ : state) {
    state.PauseTiming();
    const std::string bytes = PresenceBurst(round++);
    seen = 0;
    state.ResumeTiming();
    Feed(session, bytes);
    if (seen != kItems) state.SkipWithError("presences not all delivered");
  }
}
BENCHMARK(BM_PresenceBurst5000)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace vexalo

BENCHMARK_MAIN();
