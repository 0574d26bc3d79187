#pragma once

// Test certificates made at run time and a TLS server on a thread of its own listening on
// 127.0.0.1, for the TLS adapter's tests and benchmark. The server runs a script per
// accepted connection over blocking I/O; its TLS engine works over memory buffers, so a
// script can also send raw bytes, cut records or stay silent.

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/rand.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <string_view>
#include <thread>

#include "support/testfiles.h"

namespace vexalo::tlstest {

struct Credentials {
  std::shared_ptr<X509> cert;
  std::shared_ptr<EVP_PKEY> key;
};

struct CertOptions {
  std::string common_name = "localhost";
  std::string alt_names = "DNS:localhost,IP:127.0.0.1";  // empty: no extension
  long not_before = -3600;                               // seconds from now
  long not_after = 86400;
  bool ca = false;
};

inline std::shared_ptr<EVP_PKEY> MakeKey() {
  EVP_PKEY* key = EVP_EC_gen("P-256");
  if (!key) throw std::runtime_error("EC key generation failed");
  return std::shared_ptr<EVP_PKEY>(key, EVP_PKEY_free);
}

inline void AddExtension(X509* cert, X509V3_CTX* ctx, int nid, const std::string& value) {
  X509_EXTENSION* ext = X509V3_EXT_conf_nid(nullptr, ctx, nid, value.c_str());
  if (!ext) throw std::runtime_error("bad certificate extension " + value);
  X509_add_ext(cert, ext, -1);
  X509_EXTENSION_free(ext);
}

// A certificate for `key`, signed by `issuer` (self-signed when it is empty).
inline Credentials MakeCredentials(const CertOptions& options,
                                   const Credentials* issuer = nullptr) {
  Credentials result;
  result.key = MakeKey();
  X509* cert = X509_new();
  result.cert = std::shared_ptr<X509>(cert, X509_free);
  X509_set_version(cert, 2);
  uint64_t serial = 0;
  RAND_bytes(reinterpret_cast<unsigned char*>(&serial), sizeof(serial));
  ASN1_INTEGER_set_uint64(X509_get_serialNumber(cert), serial >> 1);
  X509_gmtime_adj(X509_getm_notBefore(cert), options.not_before);
  X509_gmtime_adj(X509_getm_notAfter(cert), options.not_after);
  X509_set_pubkey(cert, result.key.get());
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(options.common_name.c_str()),
                             -1, -1, 0);
  X509* issuer_cert = issuer ? issuer->cert.get() : cert;
  X509_set_issuer_name(cert, X509_get_subject_name(issuer_cert));
  X509V3_CTX ctx;
  X509V3_set_ctx_nodb(&ctx);
  X509V3_set_ctx(&ctx, issuer_cert, cert, nullptr, nullptr, 0);
  AddExtension(cert, &ctx, NID_basic_constraints, options.ca ? "critical,CA:TRUE" : "CA:FALSE");
  AddExtension(cert, &ctx, NID_key_usage,
               options.ca ? "critical,keyCertSign,cRLSign" : "critical,digitalSignature");
  AddExtension(cert, &ctx, NID_subject_key_identifier, "hash");
  if (issuer) AddExtension(cert, &ctx, NID_authority_key_identifier, "keyid");
  if (!options.ca) AddExtension(cert, &ctx, NID_ext_key_usage, "serverAuth");
  if (!options.alt_names.empty()) AddExtension(cert, &ctx, NID_subject_alt_name, options.alt_names);
  EVP_PKEY* signer = issuer ? issuer->key.get() : result.key.get();
  if (X509_sign(cert, signer, EVP_sha256()) == 0) throw std::runtime_error("signing failed");
  return result;
}

inline void WritePem(const std::string& path, X509* cert) {
  FILE* file = std::fopen(path.c_str(), "w");
  if (!file) throw std::runtime_error("cannot write " + path);
  PEM_write_X509(file, cert);
  std::fclose(file);
}

// A test CA whose certificate is written to ca.pem in a temporary folder.
class TestPki {
 public:
  TestPki() : ca_(MakeCredentials(CertOptions{"Vexalo Test CA", "", -3600, 86400, true})) {
    ca_file_ = dir_.path() + "/ca.pem";
    WritePem(ca_file_, ca_.cert.get());
  }
  const std::string& ca_file() const { return ca_file_; }
  const std::string& dir() const { return dir_.path(); }
  Credentials Issue(const CertOptions& options) const { return MakeCredentials(options, &ca_); }

 private:
  TempDir dir_;
  Credentials ca_;
  std::string ca_file_;
};

// A one-shot signal between threads. Wait gives up after a while so that a failed test
// cannot hang the server thread for ever.
class Gate {
 public:
  void Open() {
    std::lock_guard<std::mutex> hold(lock_);
    open_ = true;
    changed_.notify_all();
  }
  bool Wait() {
    std::unique_lock<std::mutex> hold(lock_);
    return changed_.wait_for(hold, std::chrono::seconds(20), [this] { return open_; });
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  bool open_ = false;
};

struct ServerOptions {
  Credentials credentials;
  int max_version = 0;  // e.g. TLS1_2_VERSION; 0: the library's newest
  bool require_client_certificate = false;
};

// The server side of one accepted connection.
class ServerConnection {
 public:
  static constexpr int kGates = 4;

  ServerConnection(int fd, SSL_CTX* ctx, Gate* gates) : fd_(fd), gates_(gates) {
    ssl_ = SSL_new(ctx);
    in_ = BIO_new(BIO_s_mem());
    out_ = BIO_new(BIO_s_mem());
    SSL_set_bio(ssl_, in_, out_);
    SSL_set_accept_state(ssl_);
  }
  ~ServerConnection() {
    SSL_free(ssl_);
    CloseTcp();
  }
  ServerConnection(const ServerConnection&) = delete;
  ServerConnection& operator=(const ServerConnection&) = delete;

  // Waits until the test opens gate `index` of the server (or the server stops).
  bool WaitGate(int index) { return gates_[index].Wait(); }

  bool Handshake() {
    for (;;) {
      ERR_clear_error();
      int result = SSL_do_handshake(ssl_);
      bool flushed = FlushOut();
      if (result == 1) {
        const char* name = SSL_get_servername(ssl_, TLSEXT_NAMETYPE_host_name);
        sni_ = name ? name : "";
        return flushed;
      }
      if (SSL_get_error(ssl_, result) != SSL_ERROR_WANT_READ || !FillIn()) {
        RecordError();
        return false;
      }
    }
  }

  bool Write(std::string_view data) {
    size_t written = 0;
    if (SSL_write_ex(ssl_, data.data(), data.size(), &written) != 1) return false;
    return FlushOut();
  }

  // Up to `length` bytes; fewer when the connection ends first.
  std::string Read(size_t length) {
    std::string data;
    char buffer[16384];
    while (data.size() < length) {
      size_t count = 0;
      ERR_clear_error();
      size_t want = std::min(sizeof(buffer), length - data.size());
      if (SSL_read_ex(ssl_, buffer, want, &count) == 1) {
        data.append(buffer, count);
        continue;
      }
      int error = SSL_get_error(ssl_, 0);
      if (error == SSL_ERROR_ZERO_RETURN) {
        got_close_notify_ = true;
        break;
      }
      if (error != SSL_ERROR_WANT_READ || !FlushOut() || !FillIn()) break;
    }
    return data;
  }

  // Reads until the peer's close-notify (true) or the end of the connection without one.
  bool ReadUntilClose(std::string* data) {
    for (;;) {
      std::string chunk = Read(1 << 20);
      if (data) data->append(chunk);
      if (got_close_notify_) return true;
      if (chunk.empty()) return false;
    }
  }

  void SendCloseNotify() {
    SSL_shutdown(ssl_);
    FlushOut();
  }

  // The records that carry `plaintext`, made but not sent.
  std::string Records(std::string_view plaintext) {
    size_t written = 0;
    SSL_write_ex(ssl_, plaintext.data(), plaintext.size(), &written);
    return TakeOutput();
  }

  bool RawWrite(std::string_view data) {
    while (!data.empty()) {
      ssize_t sent = send(fd_, data.data(), data.size(), MSG_NOSIGNAL);
      if (sent <= 0) return false;
      data.remove_prefix(static_cast<size_t>(sent));
    }
    return true;
  }

  // Exactly `length` bytes, fewer when the connection ends first.
  std::string RawRead(size_t length) {
    std::string data(length, '\0');
    size_t got = 0;
    while (got < length) {
      ssize_t n = recv(fd_, data.data() + got, length - got, 0);
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    data.resize(got);
    return data;
  }

  void CloseTcp() {
    if (fd_ >= 0) close(fd_);
    fd_ = -1;
  }

  int fd() const { return fd_; }
  const std::string& sni() const { return sni_; }
  const std::string& error() const { return error_; }
  bool got_close_notify() const { return got_close_notify_; }
  SSL* ssl() const { return ssl_; }

 private:
  std::string TakeOutput() {
    std::string data(BIO_ctrl_pending(out_), '\0');
    if (!data.empty()) BIO_read(out_, data.data(), static_cast<int>(data.size()));
    return data;
  }
  bool FlushOut() {
    std::string data = TakeOutput();
    return RawWrite(data);
  }
  bool FillIn() {
    char buffer[16384];
    ssize_t n = recv(fd_, buffer, sizeof(buffer), 0);
    if (n <= 0) return false;
    BIO_write(in_, buffer, static_cast<int>(n));
    return true;
  }
  void RecordError() {
    char text[256];
    ERR_error_string_n(ERR_peek_last_error(), text, sizeof(text));
    error_ = text;
  }

  int fd_;
  Gate* gates_;
  SSL* ssl_;
  BIO* in_;
  BIO* out_;
  std::string sni_;
  std::string error_;
  bool got_close_notify_ = false;
};

// Accepts connections on 127.0.0.1 one after the other and runs the script on each; the
// connection is closed when the script returns.
class TlsTestServer {
 public:
  using Script = std::function<void(ServerConnection&)>;

  TlsTestServer(const ServerOptions& options, Script script) : script_(std::move(script)) {
    ctx_ = SSL_CTX_new(TLS_server_method());
    if (options.credentials.cert) {
      SSL_CTX_use_certificate(ctx_, options.credentials.cert.get());
      SSL_CTX_use_PrivateKey(ctx_, options.credentials.key.get());
    }
    SSL_CTX_set_num_tickets(ctx_, 0);  // nothing arrives after the handshake unasked
    if (options.max_version) SSL_CTX_set_max_proto_version(ctx_, options.max_version);
    if (options.require_client_certificate) {
      SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
    }
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof(one));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof(addr)) != 0 ||
        listen(listen_fd_, 16) != 0 || pipe2(wake_, O_CLOEXEC) != 0) {
      throw std::runtime_error("test server cannot listen");
    }
    socklen_t len = sizeof(addr);
    getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len);
    port_ = ntohs(addr.sin_port);
    thread_ = std::thread([this] { Run(); });
  }

  ~TlsTestServer() {
    Stop();
    close(listen_fd_);
    close(wake_[0]);
    close(wake_[1]);
    SSL_CTX_free(ctx_);
  }
  TlsTestServer(const TlsTestServer&) = delete;
  TlsTestServer& operator=(const TlsTestServer&) = delete;

  uint16_t port() const { return port_; }
  int connections() const { return connections_.load(); }
  // Lets a script waiting in WaitGate(index) go on.
  void Open(int index) { gates_[index].Open(); }

  // Ends the connection in progress (its script sees the socket fail) and the thread.
  void Stop() {
    if (!thread_.joinable()) return;
    stopping_ = true;
    for (Gate& gate : gates_) gate.Open();
    char byte = 0;
    (void)!write(wake_[1], &byte, 1);
    {
      std::lock_guard<std::mutex> hold(active_lock_);
      if (active_fd_ >= 0) shutdown(active_fd_, SHUT_RDWR);
    }
    thread_.join();
  }

 private:
  void Run() {
    while (!stopping_) {
      pollfd fds[2] = {{listen_fd_, POLLIN, 0}, {wake_[0], POLLIN, 0}};
      if (poll(fds, 2, -1) < 0) continue;
      if (stopping_ || (fds[1].revents & POLLIN)) break;
      int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
      if (fd < 0) continue;
      ++connections_;
      {
        std::lock_guard<std::mutex> hold(active_lock_);
        active_fd_ = fd;
      }
      // A stop that came between poll and here must still end this connection.
      if (stopping_) shutdown(fd, SHUT_RDWR);
      ServerConnection connection(fd, ctx_, gates_);
      script_(connection);
      std::lock_guard<std::mutex> hold(active_lock_);
      active_fd_ = -1;
      connection.CloseTcp();
    }
  }

  Script script_;
  Gate gates_[ServerConnection::kGates];
  SSL_CTX* ctx_ = nullptr;
  int listen_fd_ = -1;
  int wake_[2] = {-1, -1};
  uint16_t port_ = 0;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  std::atomic<int> connections_{0};
  std::mutex active_lock_;
  int active_fd_ = -1;
};

}  // namespace vexalo::tlstest
