#include "relayd/relaysessionendpoint.h"

#include <openssl/crypto.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include "base/runtime/logging.h"
#include "text/asciitext.h"

namespace vexalo {

namespace {
constexpr uint32_t kSweepMessage = 1;
constexpr uint32_t kDropClosedMessage = 2;
constexpr int kSweepIntervalMs = 1000;
constexpr char kPath[] = "/create_session";



const char* StatusText(int status) {
  switch (status) {
    case 200: return "OK";
    case 400: return "Bad Request";
    case 403: return "Forbidden";
    case 404: return "Not Found";
    case 405: return "Method Not Allowed";
    case 431: return "Request Header Fields Too Large";
    default: return "Service Unavailable";
  }
}
}  // namespace

RelaySessionEndpoint::RelaySessionEndpoint(EventQueue* queue, RelaySessionStore* sessions,
                                           std::string token, RelayAnnouncement announcement)
    : queue_(queue),
      sessions_(sessions),
      token_(std::move(token)),
      announcement_(std::move(announcement)) {}

RelaySessionEndpoint::~RelaySessionEndpoint() {
  for (auto& [socket, client] : clients_) SSL_free(client.tls);
  clients_.clear();
  closing_.clear();
  SSL_CTX_free(tls_context_);
}

bool RelaySessionEndpoint::UseTls(const std::string& cert_file, const std::string& key_file,
                                  std::string* error) {
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  if (!context) return false;
  SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
  if (SSL_CTX_use_certificate_chain_file(context, cert_file.c_str()) != 1 ||
      SSL_CTX_use_PrivateKey_file(context, key_file.c_str(), SSL_FILETYPE_PEM) != 1 ||
      SSL_CTX_check_private_key(context) != 1) {
    char text[256];
    ERR_error_string_n(ERR_get_error(), text, sizeof(text));
    *error = std::string("cannot use the TLS certificate or key: ") + text;
    SSL_CTX_free(context);
    return false;
  }
  SSL_CTX_free(tls_context_);
  tls_context_ = context;
  return true;
}

bool RelaySessionEndpoint::Decrypt(Client* client, const char* data, size_t size) {
  BIO_write(SSL_get_rbio(client->tls), data, static_cast<int>(size));
  char plain[2048];
  while (true) {
    const int n = SSL_read(client->tls, plain, sizeof(plain));
    if (n > 0) {
      client->input.append(plain, static_cast<size_t>(n));
      if (client->input.size() > kMaxRequestBytes) break;
      continue;
    }
    const int reason = SSL_get_error(client->tls, n);
    FlushTls(client);
    return reason == SSL_ERROR_WANT_READ || reason == SSL_ERROR_WANT_WRITE;
  }
  FlushTls(client);
  return true;
}

void RelaySessionEndpoint::FlushTls(Client* client) {
  BIO* out = SSL_get_wbio(client->tls);
  char buffer[4096];
  int n;
  while ((n = BIO_read(out, buffer, sizeof(buffer))) > 0) {
    client->socket->Send(buffer, static_cast<size_t>(n));
  }
}

bool RelaySessionEndpoint::Start(uint32_t listen_ip, int port) {
  listener_.reset(queue_->hub()->CreateEventSocket(kStreamSocket));
  if (!listener_) return false;
  if (listener_->Bind(SocketAddress(listen_ip, static_cast<uint16_t>(port))) < 0 ||
      listener_->Listen(16) < 0) {
    LOG_ERR(kError, static_cast<uint32_t>(listener_->GetError())) << "listen on port " << port;
    return false;
  }
  port_ = listener_->GetLocalAddress().port();
  listener_->ReadEvent.Connect(this, &RelaySessionEndpoint::OnAccept);
  queue_->PostAfter(kSweepIntervalMs, this, kSweepMessage);
  LOG(kInfo) << "Relay sessions served on port " << port_;
  return true;
}

void RelaySessionEndpoint::HandleMessage(QueuedMessage* msg) {
  if (msg->id == kDropClosedMessage) {
    closing_.clear();
    return;
  }
  std::vector<EventSocket*> stale;
  for (const auto& [socket, client] : clients_) {
    if (TickDiff(queue_->Now(), client.since) >= kRequestTimeoutMs) stale.push_back(socket);
  }
  for (EventSocket* socket : stale) Drop(socket);
  queue_->PostAfter(kSweepIntervalMs, this, kSweepMessage);
}

void RelaySessionEndpoint::OnAccept(EventSocket* listener) {
  SocketAddress from;
  EventSocket* accepted = listener->Accept(&from);
  if (!accepted) return;
  if (clients_.size() >= kMaxConnections) {
    delete accepted;
    return;
  }
  accepted->ReadEvent.Connect(this, &RelaySessionEndpoint::OnRead);
  accepted->CloseEvent.Connect(this, &RelaySessionEndpoint::OnClose);
  Client client{std::unique_ptr<EventSocket>(accepted), std::string(), queue_->Now(), nullptr};
  if (tls_context_) {
    client.tls = SSL_new(tls_context_);
    SSL_set_bio(client.tls, BIO_new(BIO_s_mem()), BIO_new(BIO_s_mem()));
    SSL_set_accept_state(client.tls);
  }
  clients_[accepted] = std::move(client);
}

void RelaySessionEndpoint::OnRead(EventSocket* socket) {
  auto it = clients_.find(socket);
  if (it == clients_.end()) return;
  char buffer[2048];
  while (true) {
    int read = socket->Recv(buffer, sizeof(buffer));
    if (read <= 0) break;
    if (it->second.tls) {
      if (!Decrypt(&it->second, buffer, static_cast<size_t>(read))) {
        Drop(socket);
        return;
      }
    } else {
      it->second.input.append(buffer, static_cast<size_t>(read));
    }
    const size_t end = it->second.input.find("\r\n\r\n");
    if (end != std::string::npos) {
      std::string body;
      const int status = Answer(it->second.input.substr(0, end + 2), &body);
      Finish(socket, status, body);
      return;
    }
    if (it->second.input.size() > kMaxRequestBytes) {
      Finish(socket, 431, std::string());
      return;
    }
  }
}

void RelaySessionEndpoint::OnClose(EventSocket* socket, int error) {
  (void)error;
  Drop(socket);
}

void RelaySessionEndpoint::Finish(EventSocket* socket, int status, const std::string& body) {
  std::string reply = "HTTP/1.1 " + std::to_string(status) + " " + StatusText(status) +
                      "\r\nContent-Type: text/plain\r\nContent-Length: " +
                      std::to_string(body.size()) +
                      "\r\nCache-Control: no-store\r\nConnection: close\r\n\r\n" + body;
  auto it = clients_.find(socket);
  if (it != clients_.end() && it->second.tls) {
    SSL_write(it->second.tls, reply.data(), static_cast<int>(reply.size()));
    FlushTls(&it->second);
  } else {
    socket->Send(reply.data(), reply.size());
  }
  Drop(socket);
}

void RelaySessionEndpoint::Drop(EventSocket* socket) {
  auto it = clients_.find(socket);
  if (it == clients_.end()) return;
  socket->ReadEvent.Disconnect(this);
  socket->CloseEvent.Disconnect(this);
  socket->Close();
  SSL_free(it->second.tls);
  closing_[socket] = std::move(it->second.socket);
  clients_.erase(it);
  queue_->Post(this, kDropClosedMessage);
}

bool RelaySessionEndpoint::TokenMatches(const std::string& value) const {
  return !token_.empty() && value.size() == token_.size() &&
         CRYPTO_memcmp(value.data(), token_.data(), value.size()) == 0;
}

int RelaySessionEndpoint::Answer(const std::string& head, std::string* body) {
  const size_t line_end = head.find("\r\n");
  const std::string request_line = head.substr(0, line_end);
  const size_t space1 = request_line.find(' ');
  const size_t space2 = request_line.find(' ', space1 == std::string::npos ? 0 : space1 + 1);
  if (space1 == std::string::npos || space2 == std::string::npos) return 400;
  const std::string method = request_line.substr(0, space1);
  const std::string target = request_line.substr(space1 + 1, space2 - space1 - 1);
  if (target != kPath) return 404;
  if (method != "GET") return 405;

  bool authorized = false;
  size_t at = line_end == std::string::npos ? head.size() : line_end + 2;
  while (at < head.size()) {
    size_t end = head.find("\r\n", at);
    if (end == std::string::npos) end = head.size();
    const std::string line = head.substr(at, end - at);
    at = end + 2;
    const size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    const std::string_view name = Trim(std::string_view(line).substr(0, colon));
    if (EqualsNoCase(name, "X-Ombrix-Relay-Auth") ||
        EqualsNoCase(name, "X-Vexalo-Ombrix-Relay-Auth")) {
      authorized |= TokenMatches(std::string(Trim(std::string_view(line).substr(colon + 1))));
    }
  }
  if (!authorized) {
    LOG(kWarning) << "Relay session refused: missing or wrong token";
    return 403;
  }
  const RelaySession* session = sessions_->Create(queue_->Now());
  if (!session) {
    LOG(kWarning) << "Relay session refused: session table full";
    return 503;
  }
  std::string out;
  out += "relay.ip=" + announcement_.relay_ip + "\r\n";
  if (announcement_.udp_port) out += "relay.udp_port=" + std::to_string(announcement_.udp_port) + "\r\n";
  if (announcement_.tcp_port) out += "relay.tcp_port=" + std::to_string(announcement_.tcp_port) + "\r\n";
  if (announcement_.ssltcp_port) {
    out += "relay.ssltcp_port=" + std::to_string(announcement_.ssltcp_port) + "\r\n";
  }
  if (!announcement_.stun_ip.empty()) {
    out += "stun.ip=" + announcement_.stun_ip + "\r\n";
    out += "stun.port=" + std::to_string(announcement_.stun_port) + "\r\n";
  }
  out += "username=" + session->username + "\r\n";
  out += "password=" + session->password + "\r\n";
  out += "magic_cookie=" + session->magic_cookie + "\r\n";
  *body = std::move(out);
  LOG(kInfo) << "Relay session created (" << sessions_->size() << " live)";
  return 200;
}

}  // namespace vexalo
