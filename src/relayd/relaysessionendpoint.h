#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <string>

#include "base/net/eventsocket.h"
#include "base/runtime/eventqueue.h"
#include "relayd/relaysessionstore.h"

typedef struct ssl_st SSL;
typedef struct ssl_ctx_st SSL_CTX;

namespace vexalo {

// What "/create_session" tells a client besides its credentials.
struct RelayAnnouncement {
  std::string relay_ip;  // dotted IPv4 or a host name
  int udp_port = 0;      // 0: not offered
  int tcp_port = 0;
  int ssltcp_port = 0;
  std::string stun_ip;  // empty: not announced
  int stun_port = 0;
};

// The HTTP endpoint that hands out relay sessions: "GET /create_session" with the relay
// token in "X-Ombrix-Relay-Auth" or "X-Vexalo-Ombrix-Relay-Auth" answers with key=value
// lines. One request per connection; requests are bounded in size and time.
class RelaySessionEndpoint : public MessageTarget, public SlotHost {
 public:
  static constexpr size_t kMaxRequestBytes = 8192;
  static constexpr size_t kMaxConnections = 64;
  static constexpr int kRequestTimeoutMs = 10000;

  RelaySessionEndpoint(EventQueue* queue, RelaySessionStore* sessions, std::string token,
                       RelayAnnouncement announcement);
  ~RelaySessionEndpoint() override;

  // Serves HTTPS from now on with the PEM certificate chain and key; false (with the
  // reason in `error`) when they cannot be used.
  bool UseTls(const std::string& cert_file, const std::string& key_file, std::string* error);
  // Port 0 picks a free one. False on a bind failure.
  bool Start(uint32_t listen_ip, int port);
  int port() const { return port_; }

  void HandleMessage(QueuedMessage* msg) override;

  // The status and body for one complete request head (request line and headers).
  int Answer(const std::string& head, std::string* body);

 private:
  struct Client {
    std::unique_ptr<EventSocket> socket;
    std::string input;
    Tick since = 0;
    SSL* tls = nullptr;  // owned; null for plain HTTP
  };

  void OnAccept(EventSocket* listener);
  void OnRead(EventSocket* socket);
  void OnClose(EventSocket* socket, int error);
  void Finish(EventSocket* socket, int status, const std::string& body);
  void Drop(EventSocket* socket);
  bool TokenMatches(const std::string& value) const;
  // TLS: feeds received bytes in and appends the plaintext to the client's input; false when
  // the handshake failed.
  bool Decrypt(Client* client, const char* data, size_t size);
  void FlushTls(Client* client);

  EventQueue* queue_;
  RelaySessionStore* sessions_;
  std::string token_;
  RelayAnnouncement announcement_;
  SSL_CTX* tls_context_ = nullptr;
  std::unique_ptr<EventSocket> listener_;
  int port_ = 0;
  std::map<EventSocket*, Client> clients_;
  std::map<EventSocket*, std::unique_ptr<EventSocket>> closing_;
};

}  // namespace vexalo
