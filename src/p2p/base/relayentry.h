#pragma once

#include <cstddef>
#include <memory>

#include "base/net/packetsocket.h"
#include "base/runtime/signal.h"
#include "p2p/base/stuntransactiontable.h"

namespace vexalo {

class RelayPort;

// One connection to the relay server with its own allocation, serving one destination (or
// none yet). Moves to the port's next server address when the connection or the allocation
// fails.
class RelayEntry : public SlotHost {
 public:
  RelayEntry(RelayPort* port, const SocketAddress& destination);
  ~RelayEntry() override;
  RelayEntry(const RelayEntry&) = delete;
  RelayEntry& operator=(const RelayEntry&) = delete;

  RelayPort* port() const { return port_; }
  const SocketAddress& destination() const { return destination_; }
  void SetDestination(const SocketAddress& destination) { destination_ = destination; }
  size_t server_index() const { return server_index_; }
  void SetServerIndex(size_t index) { server_index_ = index; }
  bool allocated() const { return allocated_; }
  bool locked() const { return locked_; }
  PacketSocket* socket() const { return socket_.get(); }
  StunTransactionTable* transactions() { return &transactions_; }
  // The error of the last failed send.
  int error() const { return error_; }

  // Connects to the current server address and allocates.
  void Connect();
  void FailOver();
  void SendAllocate(int delay_ms);
  void OnAllocated() { allocated_ = true; }
  // -1 with the socket's error on failure.
  int SendTo(const char* data, size_t size, const SocketAddress& address);

 private:
  int SendRaw(const char* data, size_t size);
  void SendPacketBytes(const char* data, size_t size) { SendRaw(data, size); }
  void OnConnect(PacketSocket* socket);
  void OnClose(PacketSocket* socket, int error);
  void OnReadPacket(const char* data, size_t size, const SocketAddress& from,
                    PacketSocket* socket);
  void OnRelayMessage(const char* data, size_t size);

  RelayPort* port_;
  SocketAddress destination_;
  size_t server_index_ = 0;
  std::unique_ptr<PacketSocket> socket_;
  bool allocated_ = false;
  bool locked_ = false;
  int error_ = 0;
  StunTransactionTable transactions_;
};

}  // namespace vexalo
