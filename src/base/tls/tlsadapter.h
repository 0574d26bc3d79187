#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "base/runtime/queuedmessage.h"
#include "base/net/socketadapter.h"
#include "base/tls/tlsbuffer.h"

typedef struct ssl_st SSL;
typedef struct bio_st BIO;

namespace vexalo {

class TlsContext;

enum TlsState {
  TLS_NONE = 0,        // pass-through
  TLS_WAIT = 1,        // TLS requested, waiting for the TCP connection
  TLS_CONNECTING = 2,  // handshake
  TLS_CONNECTED = 3,
  TLS_ERROR = 4,
};

// A socket adapter that can switch its connection to TLS at any moment: before the TCP
// connection exists, or later, as STARTTLS needs. Until StartSSL it passes everything through.
// The TLS engine is OpenSSL over memory buffers; the adapter moves the bytes between them and
// the wrapped socket. The server certificate is always verified (system trust store plus an
// optional extra CA file) and must match the target host name or IP address.
//
// Errors reach the owner as CloseEvent with one of the kSec codes of tlserrors.h, for example
// kSecUntrustedRoot for a certificate from an unknown authority.
class TlsAdapter : public SocketAdapter, public MessageTarget {
 public:
  // While this much decrypted data waits for the reader, the wrapped socket is not read: a
  // peer that sends faster than the owner reads is held back by TCP instead of our memory.
  static constexpr size_t kMaxReadableBytes = 1 << 20;
  // Ciphertext waiting for the wrapped socket beyond which Send would-blocks; a WriteEvent
  // follows once it has drained.
  static constexpr size_t kMaxPendingCiphertext = 4 << 20;
  // Bytes taken from the wrapped socket per Recv: two full records, so that bulk data costs
  // few system calls (4 KiB reads cost about 40% more CPU per byte in tls_bench).
  static constexpr size_t kReadBlockSize = 32768;

  // Takes ownership of `socket`.
  explicit TlsAdapter(EventSocket* socket);
  ~TlsAdapter() override;

  // Once TLS is up, takes all of `data` (at most kMaxPendingCiphertext bytes per call), or
  // nothing with a would-block while that much ciphertext still waits for the socket.
  int Send(const void* data, size_t length) override;
  int Recv(void* buffer, size_t size) override;
  // Sends a close-notify when TLS is up, forgets the TLS session and closes the wrapped
  // socket. A restartable adapter goes back to waiting: its next Connect runs a fresh
  // handshake with the same host name.
  int Close() override;
  ConnState GetState() const override;

  // Starts TLS towards `host` (a DNS name, or an IPv4/IPv6 literal matched against the
  // certificate's IP addresses): at once when the wrapped socket is connected, otherwise when
  // it connects. 0, kTlsAlreadyStarted when TLS was started before, or the failure code.
  virtual int StartSSL(const std::string& host, bool restartable);

  // The extra CA file trusted by this adapter's next handshakes, in place of the process-wide
  // TlsContext setting; an empty path goes back to that setting.
  void SetCaFile(const std::string& path) { ca_file_ = path; }

  TlsState tls_state() const { return state_; }
  // Decrypted data not yet read.
  size_t readable_bytes() const { return readable_.size(); }
  // Ciphertext not yet taken by the wrapped socket.
  size_t pending_ciphertext_bytes() const { return pending_.size(); }
  // True while the socket is left unread because kMaxReadableBytes wait for the reader, or
  // kMaxPendingCiphertext for the socket (answers the engine makes to what it reads, such as
  // key updates, must not pile up either).
  bool reading_paused() const { return paused_; }

 protected:
  void OnConnectEvent(EventSocket* socket) override;
  void OnReadEvent(EventSocket* socket) override;
  void OnWriteEvent(EventSocket* socket) override;
  void OnCloseEvent(EventSocket* socket, int error) override;
  void HandleMessage(QueuedMessage* msg) override;

 private:
  // Tells whether the adapter still exists and was not closed since the guard was made, for
  // code that goes on after emitting a signal whose handlers may close or delete it.
  class Guard {
   public:
    explicit Guard(const TlsAdapter* adapter)
        : adapter_(adapter), alive_(adapter->alive_), epoch_(adapter->epoch_) {}
    bool ok() const { return *alive_ && adapter_->epoch_ == epoch_; }

   private:
    const TlsAdapter* adapter_;
    std::shared_ptr<bool> alive_;
    uint64_t epoch_;
  };

  int BeginSSL();
  int ContinueSSL();
  int ProcessHandshakeResult(int result);
  int EngineFailure(int ssl_error);
  int DecryptData();
  int Flush();
  // Takes input from the wrapped socket and runs it through the handshake or decryption
  // until the socket would block, decrypted data reaches kMaxReadableBytes or the peer closed
  // the TLS session; then reports what came of it.
  void DrainSocket();
  bool InputBlocked() const {
    return readable_.size() >= kMaxReadableBytes || pending_.size() >= kMaxPendingCiphertext;
  }
  void PostToSelf();
  void Error(const char* operation, int code, bool signal);
  void FreeSession();

  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  uint64_t epoch_ = 0;

  TlsState state_ = TLS_NONE;
  std::string host_;
  bool restartable_ = false;
  bool close_pending_ = false;
  int close_error_ = 0;
  bool message_posted_ = false;
  // The owner heard of the close already (an error was signalled or the peer's close was
  // reported); the wrapped socket's own close that follows is not reported again.
  bool close_reported_ = false;
  bool peer_closed_ = false;  // close-notify received
  bool connect_due_ = false;  // handshake done, ConnectEvent not yet emitted
  bool paused_ = false;
  std::string ca_file_;

  // The TLS session: made by BeginSSL, dropped by Close.
  std::shared_ptr<TlsContext> context_;
  SSL* ssl_ = nullptr;
  BIO* input_ = nullptr;   // received ciphertext not yet consumed (owned by ssl_)
  BIO* output_ = nullptr;  // ciphertext made by the engine, moved to pending_ (owned by ssl_)
  TlsBuffer pending_;      // ciphertext not yet taken by the wrapped socket
  TlsBuffer readable_;     // decrypted data not yet read by the owner
};

}  // namespace vexalo
