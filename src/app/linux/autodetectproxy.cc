#include "app/linux/autodetectproxy.h"

#include <algorithm>
#include <string_view>

#include "app/linux/proxydetect.h"
#include "app/productidentity.h"
#include "base/runtime/eventqueue.h"
#include "base/net/eventsocket.h"
#include "base/runtime/logging.h"
#include "base/runtime/loopthread.h"
#include "base/net/socketerrors.h"
#include "base/net/sockethub.h"
#include "base/runtime/threadregistry.h"

namespace vexalo {
namespace {

// The kinds probed in turn; PROXY_UNKNOWN ends the list. The one HTTPS probe also draws a
// SOCKS5 proxy's answer, so a single connection tells both apart.
constexpr ProxyType kProbeList[] = {PROXY_HTTPS, PROXY_UNKNOWN};

}  // namespace

AutoDetectProxy::AutoDetectProxy(const ProxyOptions& options, const SocketAddress& server)
    : owner_(ThreadRegistry::Current()) {
  WorkDone.Connect(this, [this](SignalThread*) { SignalDetected(this); });
  if (options.autodetect) {
    target_ = "https://" + server.IPAsString() + ":" + std::to_string(server.port()) + "/";
  } else if (!options.host.empty()) {
    // Named proxies are resolved by the probe's connect (or the caller's), never here: this
    // is the owner's thread, which must not block on DNS.
    proxy_.type = PROXY_UNKNOWN;
    proxy_.address.SetIP(options.host, false);
    proxy_.address.SetPort(options.port);
  }
  if (options.use_auth) {
    proxy_.username = options.username;
    proxy_.password = options.password;
  }
}

AutoDetectProxy::~AutoDetectProxy() = default;

void AutoDetectProxy::Start() {
  if (target_.empty()) {
    OnWorkDone();
  } else {
    SignalThread::Start();
  }
}

void AutoDetectProxy::Cancel() {
  SignalThread::Cancel();
  cancelled_ = true;
  if (probing_) StopProbe();
}

void AutoDetectProxy::DoWork() { GetProxySettingsForUrl(target_, &proxy_, true); }

void AutoDetectProxy::OnWorkDone() {
  // Users type "http://host" into the proxy field, and some configurations hold URLs.
  ProxyUrl prefixed = ProxyUrl::Parse(proxy_.address.IPAsString());
  if (!prefixed.host.empty()) {
    LOG(kWarning) << "AutoDetectProxy removing http prefix on proxy host";
    uint16_t port = proxy_.address.port();
    proxy_.address.SetIP(prefixed.host, false);
    proxy_.address.SetPort(port);
  }
  if (proxy_.type == PROXY_UNKNOWN && !cancelled_) {
    probe_index_ = 0;
    probing_ = true;
    Probe();
  } else {
    SignalThread::OnWorkDone();
  }
}

void AutoDetectProxy::HandleMessage(QueuedMessage* msg) {
  if (msg->id == kMessageProbeTimeout) {
    delete msg->payload;
    msg->payload = nullptr;
    OnProbeClose(probe_socket_.get(), kSocketTimedOut);
  } else if (msg->id == kMessageNextProbe) {
    delete msg->payload;
    msg->payload = nullptr;
    if (probing_) Probe();
  } else {
    SignalThread::HandleMessage(msg);
  }
}

std::string AutoDetectProxy::ProbeMessage(ProxyType type) {
  if (type == PROXY_SOCKS5) return std::string("\x05\x01\x00", 3);
  if (type != PROXY_HTTPS) return std::string();
  const std::string host(kMakerWebHost);
  // 0x05 0x01 first: a SOCKS5 proxy reads a greeting offering one method ('C', which it
  // refuses with 0x05 0xFF); an HTTP proxy reads a malformed request line and answers with a
  // status line.
  return std::string("\x05\x01", 2) + "CONNECT " + host + ":443 HTTP/1.0\r\n" +
         "User-Agent: " + ProductIdentity::FromBuild().product_name + "\r\n" + "Host: " + host +
         "\r\n" +
         "Content-Length: 0\r\n"
         "Proxy-Connection: Keep-Alive\r\n"
         "\r\n";
}

void AutoDetectProxy::Probe() {
  if (kProbeList[probe_index_] == PROXY_UNKNOWN) {
    Finish(PROXY_UNKNOWN);
    return;
  }
  // Never inside the old socket's own event: probes advance through a posted message.
  probe_socket_.reset(owner_->hub()->CreateEventSocket(kStreamSocket));
  reply_.clear();
  if (!probe_socket_) {
    OnProbeClose(nullptr, kSocketTooManyFiles);
    return;
  }
  probe_socket_->ConnectEvent.Connect(this, &AutoDetectProxy::OnProbeConnect);
  probe_socket_->ReadEvent.Connect(this, &AutoDetectProxy::OnProbeRead);
  probe_socket_->CloseEvent.Connect(this, &AutoDetectProxy::OnProbeClose);
  owner_->PostAfter(kProbeTimeoutMs, this, kMessageProbeTimeout);
  if (probe_socket_->Connect(proxy_.address) != 0) {
    int error = probe_socket_->GetError();
    // A connect that fails at once gets no event: report it as this probe's close.
    if (!IsBlockingError(error)) OnProbeClose(probe_socket_.get(), error);
  }
}

void AutoDetectProxy::NextProbe() {
  StopProbe();
  probing_ = true;
  ++probe_index_;
  owner_->Post(this, kMessageNextProbe);
}

void AutoDetectProxy::OnProbeConnect(EventSocket* socket) {
  if (!probing_ || socket != probe_socket_.get()) return;
  ProxyType type = kProbeList[probe_index_];
  std::string probe = ProbeMessage(type);
  LOG(kInfo) << "AutoDetectProxy probing type " << static_cast<int>(type);
  socket->Send(probe.data(), probe.size());
}

void AutoDetectProxy::OnProbeRead(EventSocket* socket) {
  if (!probing_ || socket != probe_socket_.get()) return;
  char buffer[kMaxProbeReply];
  while (reply_.size() < kMaxProbeReply) {
    int n = socket->Recv(buffer, kMaxProbeReply - reply_.size());
    if (n <= 0) break;
    reply_.append(buffer, static_cast<size_t>(n));
  }
  switch (Judge()) {
    case Verdict::kWait:
      break;
    case Verdict::kFound:
      Finish(kProbeList[probe_index_]);
      break;
    case Verdict::kSocks5:
      Finish(PROXY_SOCKS5);
      break;
    case Verdict::kNext:
      NextProbe();
      break;
  }
}

AutoDetectProxy::Verdict AutoDetectProxy::Judge() const {
  if (reply_.empty()) return Verdict::kWait;
  bool socks_reply = reply_[0] == '\x05';
  if (kProbeList[probe_index_] == PROXY_HTTPS) {
    if (socks_reply) return reply_.size() >= 2 ? Verdict::kSocks5 : Verdict::kWait;
    constexpr std::string_view kStatus = "HTTP/";
    // A status line may arrive in pieces; wait while what came could still be one.
    size_t n = std::min(reply_.size(), kStatus.size());
    if (reply_.compare(0, n, kStatus.substr(0, n)) != 0) return Verdict::kNext;
    return reply_.size() >= kStatus.size() ? Verdict::kFound : Verdict::kWait;
  }
  if (socks_reply) return reply_.size() >= 2 ? Verdict::kFound : Verdict::kWait;
  return Verdict::kNext;
}

void AutoDetectProxy::OnProbeClose(EventSocket* socket, int error) {
  if (!probing_ || socket != probe_socket_.get()) return;
  LOG(kInfo) << "AutoDetectProxy Closed with error: " << error;
  NextProbe();
}

void AutoDetectProxy::Finish(ProxyType type) {
  StopProbe();
  proxy_.type = type;
  if (type == PROXY_UNKNOWN) LOG(kError) << "AutoDetectProxy could not determine proxy type";
  SignalThread::OnWorkDone();
}

void AutoDetectProxy::StopProbe() {
  probing_ = false;
  owner_->Clear(this, kMessageProbeTimeout);
  owner_->Clear(this, kMessageNextProbe);
  if (probe_socket_) probe_socket_->Close();
}

}  // namespace vexalo
