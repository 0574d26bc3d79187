// TLS through the adapter against plain OpenSSL on the same machine: bulk download from a
// server thread (blocking SSL_write over its socket) read by a TlsAdapter on the bench thread's
// loop, or by a blocking SSL_read client (the limit); and full handshakes per second.
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>
#include <vector>

#include "base/runtime/loopthread.h"
#include "base/net/physicalsocketserver.h"
#include "base/net/socketerrors.h"
#include "base/runtime/threadregistry.h"
#include "base/tls/tlsadapter.h"
#include "base/tls/tlscontext.h"
#include "support/tlstestpeer.h"

namespace vexalo {
namespace {

using tlstest::Credentials;
using tlstest::ServerConnection;
using tlstest::ServerOptions;
using tlstest::TestPki;
using tlstest::TlsTestServer;

constexpr size_t kBytesPerIteration = 16 << 20;
constexpr size_t kServerWrite = 64 * 1024;

TestPki& Pki() {
  static TestPki* pki = new TestPki();
  return *pki;
}

const Credentials& ServerCredentials() {
  static Credentials* credentials = new Credentials(Pki().Issue(tlstest::CertOptions{}));
  return *credentials;
}

// A plain OpenSSL server context over the test credentials.
SSL_CTX* ServerContext() {
  static SSL_CTX* ctx = [] {
    SSL_CTX* c = SSL_CTX_new(TLS_server_method());
    SSL_CTX_use_certificate(c, ServerCredentials().cert.get());
    SSL_CTX_use_PrivateKey(c, ServerCredentials().key.get());
    SSL_CTX_set_num_tickets(c, 0);
    return c;
  }();
  return ctx;
}

// Streams until the client goes, with SSL_write straight to the socket.
std::unique_ptr<TlsTestServer> StartStreamingServer() {
  return std::make_unique<TlsTestServer>(ServerOptions{}, [](ServerConnection& c) {
    SSL* ssl = SSL_new(ServerContext());
    SSL_set_fd(ssl, c.fd());
    if (SSL_accept(ssl) == 1) {
      std::vector<char> block(kServerWrite, 'x');
      while (SSL_write(ssl, block.data(), static_cast<int>(block.size())) > 0) {
      }
    }
    SSL_free(ssl);
  });
}

// Completes each handshake and waits for the client's close.
std::unique_ptr<TlsTestServer> StartHandshakeServer() {
  return std::make_unique<TlsTestServer>(ServerOptions{}, [](ServerConnection& c) {
    SSL* ssl = SSL_new(ServerContext());
    SSL_set_fd(ssl, c.fd());
    if (SSL_accept(ssl) == 1) {
      char byte;
      SSL_read(ssl, &byte, 1);
    }
    SSL_free(ssl);
  });
}

SocketAddress Loopback(uint16_t port) { return SocketAddress(0x7F000001u, port); }

// Wakes the bench loop out of Get once the awaited event has happened.
class Waker : public MessageTarget {
 public:
  void HandleMessage(QueuedMessage*) override {}
};

void RunUntil(const bool& done) {
  LoopThread* thread = ThreadRegistry::Current();
  while (!done) {
    QueuedMessage msg;
    if (thread->Get(&msg, 1000)) thread->Dispatch(&msg);
  }
}

class AdapterClient : public SlotHost {
 public:
  explicit AdapterClient(uint16_t port) {
    auto* hub = static_cast<PhysicalSocketServer*>(ThreadRegistry::Current()->hub());
    tls_ = std::make_unique<TlsAdapter>(hub->CreateEventSocket(kStreamSocket));
    tls_->SetCaFile(Pki().ca_file());
    tls_->ConnectEvent.Connect(this, &AdapterClient::OnConnect);
    tls_->ReadEvent.Connect(this, &AdapterClient::OnRead);
    tls_->CloseEvent.Connect(this, &AdapterClient::OnClose);
    tls_->StartSSL("localhost", false);
    tls_->Connect(Loopback(port));
  }

  bool WaitConnected() {
    RunUntil(done_);
    done_ = false;
    return connected_;
  }

  void Receive(size_t bytes) {
    target_ = received_ + bytes;
    OnRead(nullptr);
    RunUntil(done_);
    done_ = false;
  }

  bool failed() const { return failed_; }
  void Close() { tls_->Close(); }

 private:
  void OnConnect(EventSocket*) {
    connected_ = true;
    Finish();
  }
  void OnRead(EventSocket*) {
    int count;
    while (received_ < target_ && (count = tls_->Recv(buffer_, sizeof(buffer_))) > 0) {
      received_ += static_cast<size_t>(count);
    }
    if (received_ >= target_ && target_ != 0) Finish();
  }
  void OnClose(EventSocket*, int) {
    failed_ = true;
    Finish();
  }
  void Finish() {
    done_ = true;
    ThreadRegistry::Current()->Post(&waker_);
  }

  std::unique_ptr<TlsAdapter> tls_;
  Waker waker_;
  bool done_ = false;
  bool connected_ = false;
  bool failed_ = false;
  size_t received_ = 0;
  size_t target_ = 0;
  char buffer_[65536];
};

void BM_TlsDownloadAdapter(benchmark::State& state) {
  auto server = StartStreamingServer();
  AdapterClient client(server->port());
  if (!client.WaitConnected()) {
    state.SkipWithError("handshake failed");
    return;
  }
  for (auto _ : state) {
    client.Receive(kBytesPerIteration);
    if (client.failed()) {
      state.SkipWithError("connection failed");
      break;
    }
  }
  client.Close();
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytesPerIteration));
}
BENCHMARK(BM_TlsDownloadAdapter)->UseRealTime()->Unit(benchmark::kMillisecond);

// A blocking OpenSSL client with the same verification settings as the adapter.
SSL* ConnectPlainClient(uint16_t port, int* fd_out) {
  int error = 0;
  std::shared_ptr<TlsContext> context = TlsContext::Get(Pki().ca_file(), &error);
  int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(port);
  if (!context || connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0) {
    close(fd);
    return nullptr;
  }
  SSL* ssl = SSL_new(context->ctx());
  SSL_set_fd(ssl, fd);
  SSL_set_tlsext_host_name(ssl, "localhost");
  SSL_set1_host(ssl, "localhost");
  if (SSL_connect(ssl) != 1) {
    SSL_free(ssl);
    close(fd);
    return nullptr;
  }
  *fd_out = fd;
  return ssl;
}

void BM_TlsDownloadPlainOpenSsl(benchmark::State& state) {
  auto server = StartStreamingServer();
  int fd = -1;
  SSL* ssl = ConnectPlainClient(server->port(), &fd);
  if (!ssl) {
    state.SkipWithError("handshake failed");
    return;
  }
  std::vector<char> buffer(65536);
  for (auto _ : state) {
    size_t received = 0;
    while (received < kBytesPerIteration) {
      int count = SSL_read(ssl, buffer.data(), static_cast<int>(buffer.size()));
      if (count <= 0) {
        state.SkipWithError("connection failed");
        break;
      }
      received += static_cast<size_t>(count);
    }
  }
  SSL_shutdown(ssl);
  SSL_free(ssl);
  close(fd);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * kBytesPerIteration));
}
BENCHMARK(BM_TlsDownloadPlainOpenSsl)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_TlsHandshakeAdapter(benchmark::State& state) {
  auto server = StartHandshakeServer();
  for (auto _ : state) {
    AdapterClient client(server->port());
    if (!client.WaitConnected()) {
      state.SkipWithError("handshake failed");
      break;
    }
    client.Close();
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  state.SetLabel("handshakes");
}
BENCHMARK(BM_TlsHandshakeAdapter)->UseRealTime()->Unit(benchmark::kMicrosecond);

void BM_TlsHandshakePlainOpenSsl(benchmark::State& state) {
  auto server = StartHandshakeServer();
  for (auto _ : state) {
    int fd = -1;
    SSL* ssl = ConnectPlainClient(server->port(), &fd);
    if (!ssl) {
      state.SkipWithError("handshake failed");
      break;
    }
    SSL_shutdown(ssl);
    SSL_free(ssl);
    close(fd);
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()));
  state.SetLabel("handshakes");
}
BENCHMARK(BM_TlsHandshakePlainOpenSsl)->UseRealTime()->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace vexalo

BENCHMARK_MAIN();
