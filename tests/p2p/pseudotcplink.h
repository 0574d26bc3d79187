#pragma once

#include <algorithm>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "p2p/base/pseudotcp.h"

namespace vexalo {

// Two PseudoTcp ends joined by a scripted datagram link on a virtual clock: loss, duplication,
// reordering and delay come from a seeded generator or a per-packet filter, so every run of a
// scenario is the same. Each end reads everything readable and writes its outbox when writable.
class PseudoTcpLink {
 public:
  struct Impairment {
    double loss = 0;
    double duplicate = 0;
    double reorder = 0;  // share of packets held back by reorder_ms
    int64_t delay_ms = 0;
    int64_t reorder_ms = 30;
  };

  struct SentPacket {
    Tick time;
    uint32_t seq;
    uint32_t ack;
    uint8_t flags;
    uint16_t window;
    size_t payload;
    bool retransmission;
  };

  class End : public PseudoTcpOwner {
   public:
    End(PseudoTcpLink* link, int index) : link_(link), index_(index), tcp(this, 0, [link] { return link->now; }) {}

    void OnTcpOpen(PseudoTcp*) override {
      opened = true;
      Pump();
      Drain();
    }
    void OnTcpReadable(PseudoTcp*) override {
      ++readable_events;
      if (auto_read) Drain();
    }
    void OnTcpWriteable(PseudoTcp*) override { Pump(); }
    void OnTcpClosed(PseudoTcp*, int error) override {
      closed = true;
      close_error = error;
    }
    WriteResult TcpWritePacket(PseudoTcp*, const char* bytes, size_t length) override {
      if (write_result) {
        WriteResult forced = write_result(length);
        if (forced != WR_SUCCESS) return forced;
      }
      link_->Carry(index_, std::string(bytes, length));
      return WR_SUCCESS;
    }

    void Write(const std::string& data) {
      outbox += data;
      if (opened) Pump();
    }
    void Pump() {
      while (written < outbox.size()) {
        int n = tcp.Send(outbox.data() + written, outbox.size() - written);
        if (n <= 0) break;
        written += static_cast<size_t>(n);
      }
    }
    void Drain() {
      char buffer[4096];
      int n;
      while ((n = tcp.Recv(buffer, sizeof buffer)) > 0) received.append(buffer, static_cast<size_t>(n));
    }

    PseudoTcpLink* link_;
    int index_;
    PseudoTcp tcp;
    bool opened = false;
    bool closed = false;
    int close_error = 0;
    bool auto_read = true;
    int readable_events = 0;
    std::string outbox;
    size_t written = 0;
    std::string received;
    std::vector<SentPacket> sent;
    uint32_t highest_sent = 0;
    bool sent_data = false;
    std::function<WriteResult(size_t)> write_result;
  };

  PseudoTcpLink() : PseudoTcpLink(Impairment(), 1) {}
  PseudoTcpLink(Impairment impairment, uint32_t seed) : impairment_(impairment), random_(seed) {
    ends_[0] = std::make_unique<End>(this, 0);
    ends_[1] = std::make_unique<End>(this, 1);
  }

  End& a() { return *ends_[0]; }
  End& b() { return *ends_[1]; }

  // Runs the link until `done` holds or `limit_ms` of virtual time pass; true when done.
  bool RunUntil(const std::function<bool()>& done, int64_t limit_ms) {
    const Tick end = now + limit_ms;
    for (int steps = 0; steps < 10000000; ++steps) {
      if (done()) return true;
      Tick next = end;
      if (!in_flight_.empty()) next = std::min(next, in_flight_.begin()->first);
      for (auto& e : ends_) {
        int64_t timeout = 0;
        if (e->tcp.GetNextClock(now, &timeout)) next = std::min(next, now + std::max<int64_t>(timeout, 0));
      }
      if (next >= end) {
        now = end;
        return done();
      }
      now = next;
      while (!in_flight_.empty() && in_flight_.begin()->first <= now) {
        auto [to, bytes] = in_flight_.begin()->second;
        in_flight_.erase(in_flight_.begin());
        ends_[to]->tcp.NotifyPacket(bytes.data(), bytes.size());
      }
      for (auto& e : ends_) {
        int64_t timeout = 0;
        if (e->tcp.GetNextClock(now, &timeout) && timeout <= 0) e->tcp.NotifyClock(now);
      }
    }
    return false;
  }
  void Run(int64_t ms) {
    RunUntil([] { return false; }, ms);
  }

  // Decides the fate of a packet before the random impairment: false drops it.
  std::function<bool(int from, const SentPacket& packet)> filter;
  Tick now = 100000;
  int dropped_data = 0;

 private:
  void Carry(int from, std::string bytes) {
    End& sender = *ends_[from];
    SentPacket packet{now,
                      ReadBE32(bytes, 4),
                      ReadBE32(bytes, 8),
                      static_cast<uint8_t>(bytes[13]),
                      static_cast<uint16_t>((static_cast<uint8_t>(bytes[14]) << 8) | static_cast<uint8_t>(bytes[15])),
                      bytes.size() - PseudoTcp::kHeaderSize,
                      false};
    if (packet.payload > 0) {
      packet.retransmission =
          sender.sent_data && static_cast<int32_t>(packet.seq - sender.highest_sent) < 0;
      uint32_t end = packet.seq + static_cast<uint32_t>(packet.payload);
      if (!sender.sent_data || static_cast<int32_t>(end - sender.highest_sent) > 0) sender.highest_sent = end;
      sender.sent_data = true;
    }
    sender.sent.push_back(packet);
    if (filter && !filter(from, packet)) {
      if (packet.payload > 0) ++dropped_data;
      return;
    }
    std::uniform_real_distribution<double> chance(0, 1);
    if (chance(random_) < impairment_.loss) {
      if (packet.payload > 0) ++dropped_data;
      return;
    }
    int copies = chance(random_) < impairment_.duplicate ? 2 : 1;
    for (int i = 0; i < copies; ++i) {
      Tick at = now + impairment_.delay_ms;
      if (chance(random_) < impairment_.reorder) at += impairment_.reorder_ms;
      in_flight_.emplace(at, std::make_pair(1 - from, bytes));
    }
  }
  static uint32_t ReadBE32(const std::string& b, size_t at) {
    return (uint32_t{static_cast<uint8_t>(b[at])} << 24) | (uint32_t{static_cast<uint8_t>(b[at + 1])} << 16) |
           (uint32_t{static_cast<uint8_t>(b[at + 2])} << 8) | static_cast<uint8_t>(b[at + 3]);
  }

  Impairment impairment_;
  std::mt19937 random_;
  std::unique_ptr<End> ends_[2];
  std::multimap<Tick, std::pair<int, std::string>> in_flight_;
};

}  // namespace vexalo
