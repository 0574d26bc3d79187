#include "platform/handoverserver.h"

#include <errno.h>
#include <glib-unix.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>

#include "base/runtime/logging.h"
#include "platform/runninginstance.h"

namespace vexalo {

namespace {

uint32_t GetLe32(const std::string& data, size_t offset) {
  const auto* in = reinterpret_cast<const unsigned char*>(data.data() + offset);
  return static_cast<uint32_t>(in[0]) | static_cast<uint32_t>(in[1]) << 8 |
         static_cast<uint32_t>(in[2]) << 16 | static_cast<uint32_t>(in[3]) << 24;
}

GSource* AddFdWatch(int fd, GUnixFDSourceFunc func, gpointer data, GMainContext* context) {
  GSource* source = g_unix_fd_source_new(fd, G_IO_IN);
  g_source_set_callback(source, reinterpret_cast<GSourceFunc>(reinterpret_cast<void (*)()>(func)),
                        data, nullptr);
  g_source_attach(source, context);
  return source;
}

void RemoveSource(GSource** source) {
  if (*source) {
    g_source_destroy(*source);
    g_source_unref(*source);
    *source = nullptr;
  }
}

}  // namespace

HandOverServer::HandOverServer(int listen_fd, Handler handler, GMainContext* context,
                               int client_timeout_ms)
    : listen_fd_(listen_fd),
      handler_(std::move(handler)),
      context_(context),
      client_timeout_ms_(client_timeout_ms) {
  listen_watch_ = AddFdWatch(listen_fd_, &HandOverServer::OnListenReady, this, context_);
}

HandOverServer::~HandOverServer() {
  RemoveSource(&listen_watch_);
  while (!clients_.empty()) Drop(clients_.front().get());
}

gboolean HandOverServer::OnListenReady(gint, GIOCondition, gpointer self) {
  static_cast<HandOverServer*>(self)->Accept();
  return G_SOURCE_CONTINUE;
}

void HandOverServer::Accept() {
  for (;;) {
    const int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) {
      if (errno != EAGAIN && errno != EINTR) LOG_ERRNO(kWarning) << "HandOverServer - accept";
      return;
    }
    ucred peer = {};
    socklen_t size = sizeof(peer);
    if (getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || peer.uid != geteuid()) {
      LOG(kWarning) << "HandOverServer - refused a connection of another user";
      close(fd);
      continue;
    }
    if (clients_.size() >= kMaxClients) {
      LOG(kWarning) << "HandOverServer - too many connections at once; one refused";
      close(fd);
      continue;
    }
    auto client = std::make_unique<Client>();
    client->server = this;
    client->fd = fd;
    client->watch = AddFdWatch(fd, &HandOverServer::OnClientReady, client.get(), context_);
    client->timeout = g_timeout_source_new(static_cast<guint>(client_timeout_ms_));
    g_source_set_callback(client->timeout, &HandOverServer::OnClientTimeout, client.get(), nullptr);
    g_source_attach(client->timeout, context_);
    clients_.push_back(std::move(client));
  }
}

gboolean HandOverServer::OnClientReady(gint, GIOCondition, gpointer data) {
  auto* client = static_cast<Client*>(data);
  if (!client->server->Serve(client)) client->server->Drop(client);
  return G_SOURCE_CONTINUE;
}

gboolean HandOverServer::OnClientTimeout(gpointer data) {
  auto* client = static_cast<Client*>(data);
  LOG(kWarning) << "HandOverServer - a peer sent no complete record in time";
  client->server->Drop(client);
  return G_SOURCE_CONTINUE;
}

bool HandOverServer::Serve(Client* client) {
  char buffer[4096];
  for (;;) {
    size_t wanted = kHandOverHeaderBytes;
    if (client->data.size() >= kHandOverHeaderBytes) {
      if (memcmp(client->data.data(), kHandOverMagic, sizeof(kHandOverMagic)) != 0) {
        LOG(kWarning) << "HandOverServer - not a hand-over record";
        return false;
      }
      const uint32_t length = GetLe32(client->data, 8);
      if (length > kMaxHandOverText) {
        LOG(kWarning) << "HandOverServer - record of " << length << " bytes refused";
        Answer(client, kHandOverRejected);
        return false;
      }
      wanted = kHandOverHeaderBytes + length;
    }
    if (client->data.size() >= kHandOverHeaderBytes && client->data.size() == wanted) {
      const uint32_t code = GetLe32(client->data, 4);
      const std::string text = client->data.substr(kHandOverHeaderBytes);
      const bool handled = handler_(code, text);
      Answer(client, handled ? kHandOverHandled : kHandOverRejected);
      return false;
    }
    const size_t room = std::min(sizeof(buffer), wanted - client->data.size());
    const ssize_t got = recv(client->fd, buffer, room, 0);
    if (got > 0) {
      client->data.append(buffer, static_cast<size_t>(got));
      continue;
    }
    if (got < 0 && errno == EINTR) continue;
    if (got < 0 && errno == EAGAIN) return true;
    return false;  // the peer went away before its record was complete
  }
}

void HandOverServer::Answer(Client* client, uint32_t result) {
  char answer[4];
  for (int i = 0; i < 4; ++i) answer[i] = static_cast<char>((result >> (8 * i)) & 0xff);
  // Four bytes into an empty socket buffer: this never blocks or writes partly.
  if (send(client->fd, answer, sizeof(answer), MSG_NOSIGNAL | MSG_DONTWAIT) != 4) {
    LOG_ERRNO(kInfo) << "HandOverServer - the peer left before the answer";
  }
}

void HandOverServer::Drop(Client* client) {
  RemoveSource(&client->watch);
  RemoveSource(&client->timeout);
  close(client->fd);
  clients_.remove_if([client](const std::unique_ptr<Client>& c) { return c.get() == client; });
}

}  // namespace vexalo
