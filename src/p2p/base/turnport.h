#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>

#include "p2p/base/port.h"
#include "p2p/base/turnmessage.h"

namespace vexalo {

// A relay candidate from a standard TURN server (UDP, long-term credentials): one
// allocation, a permission per peer address, data in Send and Data indications. Peers see a
// plain relay candidate and need nothing new.
class TurnPort : public Port {
 public:
  static constexpr uint32_t kRetransmitMessage = 100;
  static constexpr uint32_t kRefreshMessage = 101;
  static constexpr uint32_t kPermissionMessage = 102;
  static constexpr int kMaxSends = 6;
  static constexpr int kFirstRetransmitMs = 250;
  // Permissions last five minutes on the server; renewed well before.
  static constexpr int kPermissionRefreshMs = 240000;

  TurnPort(EventQueue* thread, SocketHub* factory, const Network& network,
           const SocketAddress& local_address, const SocketAddress& server,
           const std::string& username, const std::string& password);
  ~TurnPort() override;

  void HandleMessage(QueuedMessage* msg) override;
  void PrepareAddress() override;
  Connection* CreateConnection(const Candidate& remote, CandidateOrigin origin) override;
  int SendTo(const char* data, size_t size, const SocketAddress& address,
             bool is_payload) override;
  int SetOption(SocketOption option, int value) override;
  int GetError() override { return error_; }

  bool allocated() const { return allocated_; }
  const SocketAddress& relayed_address() const { return relayed_; }

 private:
  struct Request {
    uint16_t method;
    SocketAddress peer;  // CreatePermission only
    std::string bytes;
    int sends = 0;
  };

  void SendRequest(uint16_t method, const SocketAddress& peer);
  TurnMessage Build(uint16_t method, const SocketAddress& peer) const;
  void Transmit(const std::string& id);
  void OnReadPacket(const char* data, size_t size, const SocketAddress& from,
                    PacketSocket* socket);
  void OnResponse(const TurnMessage& message, const char* raw, size_t size);

  SocketAddress server_;
  std::string turn_username_;
  std::string turn_password_;
  std::unique_ptr<PacketSocket> socket_;
  std::string realm_;
  std::string nonce_;
  std::string key_;
  bool allocated_ = false;
  SocketAddress relayed_;
  std::map<std::string, Request> requests_;
  std::set<uint32_t> permissions_;  // peer IPv4 addresses asked for
  int error_ = 0;
};

}  // namespace vexalo
