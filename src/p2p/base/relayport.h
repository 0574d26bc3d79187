#pragma once

#include <deque>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "p2p/base/port.h"
#include "p2p/base/protocoladdress.h"

namespace vexalo {

class RelayEntry;

// Reaches peers through the service's relay server when no direct path works. Each entry is
// a connection to the relay with its own allocation; data goes out in Send Requests and
// comes back in Data Indications until the relay locks an entry to its destination, after
// which packets pass unframed both ways.
class RelayPort : public Port {
 public:
  static constexpr uint32_t kDeleteSocketsMessage = 100;
  // The cookie of the early relay protocol, used when the session names none.
  static constexpr char kDefaultMagicCookie[] = "\x72\xC6\x4B\xC6";

  RelayPort(EventQueue* thread, SocketHub* factory, const Network& network,
            const SocketAddress& local_address, const std::string& username,
            const std::string& password, const std::string& magic_cookie);
  ~RelayPort() override;

  void HandleMessage(QueuedMessage* msg) override;

  // An SSL-TCP server is tried first behind an HTTPS proxy, where it is the likeliest to pass.
  void AddServerAddress(const ProtocolAddress& address);
  // A provisional candidate at a relay server's own address.
  void AddExternalAddress(const ProtocolAddress& address);

  void PrepareAddress() override;
  Connection* CreateConnection(const Candidate& remote, CandidateOrigin origin) override;
  int SendTo(const char* data, size_t size, const SocketAddress& address,
             bool is_payload) override;
  int SetOption(SocketOption option, int value) override;
  int GetError() override { return error_; }

  const std::deque<ProtocolAddress>& server_addresses() const { return servers_; }
  const std::string& magic_cookie() const { return magic_cookie_; }
  const SocketAddress& local_address() const { return local_address_; }
  bool ready() const { return ready_; }
  const std::vector<std::unique_ptr<RelayEntry>>& entries() const { return entries_; }

  // For the entries.
  const ProtocolAddress* ServerAddress(size_t index) const;
  PacketSocket* CreateEntrySocket(int protocol);
  void ApplyOptions(PacketSocket* socket);
  // The entry's old socket is deleted later: it may be the one whose callback is running.
  void ReleaseSocket(std::unique_ptr<PacketSocket> socket);
  void OnAllocated(const SocketAddress& mapped);
  // Hands relayed bytes to the connection of `from`, or treats them as from a stranger.
  void OnReadPacket(const char* data, size_t size, const SocketAddress& from);

 private:
  SocketAddress local_address_;
  std::deque<ProtocolAddress> servers_;
  std::vector<std::unique_ptr<RelayEntry>> entries_;
  std::vector<std::pair<SocketOption, int>> options_;
  std::vector<std::unique_ptr<PacketSocket>> released_sockets_;
  std::string magic_cookie_;
  bool ready_ = false;
  int error_ = 0;
};

}  // namespace vexalo
