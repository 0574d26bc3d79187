#pragma once

#include <glib.h>

#include <cstdint>
#include <functional>
#include <list>
#include <memory>
#include <string>

namespace vexalo {

// The receiving side of the hand-over socket, on a GLib main context: accepts connections of
// the same user, reads one record each without ever blocking, hands it to the handler and
// answers. Records longer than kMaxHandOverText, a wrong magic, a peer that stalls or too many
// peers at once only cost that peer its connection.
class HandOverServer {
 public:
  static constexpr size_t kMaxClients = 8;
  static constexpr int kClientTimeoutMs = 5000;

  // Returns true when the record was handled. Must not destroy the server.
  using Handler = std::function<bool(uint32_t code, const std::string& text)>;

  // `listen_fd` is a listening, non-blocking Unix socket; the caller keeps owning it and
  // outlives the server.
  // A peer that has not sent its whole record after `client_timeout_ms` is dropped.
  HandOverServer(int listen_fd, Handler handler, GMainContext* context = nullptr,
                 int client_timeout_ms = kClientTimeoutMs);
  ~HandOverServer();
  HandOverServer(const HandOverServer&) = delete;
  HandOverServer& operator=(const HandOverServer&) = delete;

  size_t client_count() const { return clients_.size(); }

 private:
  struct Client {
    HandOverServer* server;
    int fd;
    std::string data;
    GSource* watch = nullptr;
    GSource* timeout = nullptr;
  };

  static gboolean OnListenReady(gint fd, GIOCondition condition, gpointer self);
  static gboolean OnClientReady(gint fd, GIOCondition condition, gpointer client);
  static gboolean OnClientTimeout(gpointer client);
  void Accept();
  // False once the client is finished (answered or dropped).
  bool Serve(Client* client);
  void Answer(Client* client, uint32_t result);
  void Drop(Client* client);

  int listen_fd_;
  Handler handler_;
  GMainContext* context_;
  int client_timeout_ms_;
  GSource* listen_watch_;
  std::list<std::unique_ptr<Client>> clients_;
};

}  // namespace vexalo
