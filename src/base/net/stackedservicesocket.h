#pragma once

#include <memory>
#include <string>
#include <vector>

#include "base/proxy/proxysettings.h"
#include "base/net/servicesocket.h"

namespace vexalo {

class EventSocket;
class PhysicalSocketServer;
class RuleFilteringHub;
class TlsAdapter;

// The service socket of the XMPP connection: an event socket of the calling thread's hub with
// the adapters the connection needs stacked on it (network-simulation filter, proxy, "ssltcp"
// framing, TLS in pass-through until StartTls), plus output buffering. On the UI thread its
// events arrive through the main loop.
class StackedServiceSocket : public ServiceSocket, public SlotHost {
 public:
  enum Protocol { PROTO_TCP = 1, PROTO_SSLTCP = 2 };

  // Output that may wait for the connection before Write refuses more.
  static constexpr size_t kMaxBufferedOutput = 4 << 20;

  StackedServiceSocket(Protocol protocol, const ProxySettings& proxy,
                       const std::string& user_agent);
  ~StackedServiceSocket() override;

  // Network simulation: sockets are made through this filtering hub (not owned).
  void SetSimulationHub(RuleFilteringHub* hub) { simulation_hub_ = hub; }
  // An extra CA file trusted for TLS, besides the system's.
  void SetCaFile(const std::string& path) { ca_file_ = path; }

  State GetState() const override { return state_; }
  Error GetError() const override { return error_; }
  int GetSocketError() const override { return socket_error_; }
  bool Connect(const SocketAddress& address) override;
  bool Read(char* buffer, size_t size, size_t* count) override;
  bool Write(const char* data, size_t length) override;
  bool Close() override;
  bool StartTls(const std::string& domain) override;

  // The proxy refused the configured credentials (emitted before Closed).
  Signal<> ProxyAuthenticationRequired;

 private:
  bool IsOpen() const { return state_ == STATE_OPEN || state_ == STATE_TLS_OPEN; }
  void SetError(Error error, int socket_error = 0);
  bool Flush();
  void NotifyClose();
  void DestroyStack();
  void OnConnectEvent(EventSocket* socket);
  void OnReadEvent(EventSocket* socket);
  void OnWriteEvent(EventSocket* socket);
  void OnCloseEvent(EventSocket* socket, int error);

  Protocol protocol_;
  ProxySettings proxy_;
  std::string user_agent_;
  std::string ca_file_;
  RuleFilteringHub* simulation_hub_ = nullptr;
  State state_ = STATE_CLOSED;
  Error error_ = ERROR_NONE;
  int socket_error_ = 0;
  EventSocket* stack_ = nullptr;  // the top adapter; owns the rest
  TlsAdapter* tls_ = nullptr;     // inside the stack
  std::vector<char> output_;
};

}  // namespace vexalo
