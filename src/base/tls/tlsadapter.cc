#include "base/tls/tlsadapter.h"

#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "base/runtime/logging.h"
#include "base/runtime/loopthread.h"
#include "base/net/socketerrors.h"
#include "base/runtime/threadregistry.h"
#include "base/tls/tlscontext.h"
#include "base/tls/tlserrors.h"

namespace vexalo {
namespace {

// The largest plaintext one TLS record carries: a read of this size empties a record.
constexpr size_t kMaxRecordPlaintext = 16384;

bool IsIpLiteral(const std::string& host) {
  unsigned char address[16];
  return inet_pton(AF_INET, host.c_str(), address) == 1 ||
         inet_pton(AF_INET6, host.c_str(), address) == 1;
}

std::string OpenSslErrorText(unsigned long code) {
  if (code == 0) return "no detail";
  char text[256];
  ERR_error_string_n(code, text, sizeof(text));
  return text;
}

}  // namespace

TlsAdapter::TlsAdapter(EventSocket* socket) : SocketAdapter(socket) {}

TlsAdapter::~TlsAdapter() {
  *alive_ = false;
  FreeSession();
}

void TlsAdapter::FreeSession() {
  SSL_free(ssl_);  // also frees both memory BIOs
  ssl_ = nullptr;
  input_ = nullptr;
  output_ = nullptr;
  context_.reset();
  pending_.Release();
  readable_.Release();
}

int TlsAdapter::StartSSL(const std::string& host, bool restartable) {
  if (state_ != TLS_NONE) return kTlsAlreadyStarted;
  host_ = host;
  restartable_ = restartable;
  if (socket_->GetState() == CONN_CONNECTED) {
    state_ = TLS_CONNECTING;
    int error = BeginSSL();
    if (error != 0) {
      Error("BeginSSL", error, false);
      return error;
    }
  } else {
    state_ = TLS_WAIT;
  }
  return 0;
}

ConnState TlsAdapter::GetState() const {
  if (close_pending_) return CONN_CONNECTED;
  ConnState state = socket_->GetState();
  if (state == CONN_CONNECTED && (state_ == TLS_WAIT || state_ == TLS_CONNECTING)) {
    return CONN_CONNECTING;
  }
  return state;
}

int TlsAdapter::BeginSSL() {
  LOG(kInfo) << "BeginSSL: " << host_;
  // Without a name there is nothing to check the certificate against: any certificate from a
  // trusted authority would do, which is no authentication at all.
  if (host_.empty() || host_.find('\0') != std::string::npos) {
    LOG(kError) << "BeginSSL: no usable target name";
    return kSecTargetUnknown;
  }
  int error = 0;
  const std::string ca_file = ca_file_.empty() ? TlsContext::ExtraCaFile() : ca_file_;
  std::shared_ptr<TlsContext> context = TlsContext::Get(ca_file, &error);
  if (!context) {
    LOG(kError) << "AcquireCredentialsHandle error: " << TlsErrorName(error);
    return error;
  }
  FreeSession();
  ERR_clear_error();
  ssl_ = SSL_new(context->ctx());
  input_ = BIO_new(BIO_s_mem());
  output_ = BIO_new(BIO_s_mem());
  if (!ssl_ || !input_ || !output_) {
    LOG(kError) << "AcquireCredentialsHandle error: " << OpenSslErrorText(ERR_get_error());
    BIO_free(input_);
    BIO_free(output_);
    input_ = output_ = nullptr;
    FreeSession();
    return kSecInsufficientMemory;
  }
  context_ = std::move(context);
  SSL_set_bio(ssl_, input_, output_);
  SSL_set_connect_state(ssl_);
  bool named;
  if (IsIpLiteral(host_)) {
    // No SNI for addresses; the certificate must list the address itself.
    named = X509_VERIFY_PARAM_set1_ip_asc(SSL_get0_param(ssl_), host_.c_str()) == 1;
  } else {
    SSL_set_hostflags(ssl_, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
    named = SSL_set_tlsext_host_name(ssl_, host_.c_str()) == 1 &&
            SSL_set1_host(ssl_, host_.c_str()) == 1;
  }
  if (!named) {
    LOG(kError) << "BeginSSL: cannot use target name: " << OpenSslErrorText(ERR_get_error());
    ERR_clear_error();
    return kSecTargetUnknown;
  }
  ERR_clear_error();
  return ProcessHandshakeResult(SSL_do_handshake(ssl_));
}

int TlsAdapter::ContinueSSL() {
  LOG(kInfo) << "ContinueSSL";
  ERR_clear_error();
  return ProcessHandshakeResult(SSL_do_handshake(ssl_));
}

int TlsAdapter::ProcessHandshakeResult(int result) {
  if (result == 1) {
    LOG(kVerbose) << "InitializeSecurityContext error: " << TlsErrorName(kSecOk);
    LOG(kInfo) << "QueryContextAttributes";
    LOG(kInfo) << "TLS up with " << host_ << ": " << SSL_get_version(ssl_) << " "
               << SSL_get_cipher_name(ssl_);
    state_ = TLS_CONNECTED;
    // Emitted by DrainSocket, which decrypts what came behind the handshake afterwards.
    connect_due_ = true;
    return Flush();
  }
  const int ssl_error = SSL_get_error(ssl_, result);
  if (ssl_error == SSL_ERROR_WANT_READ) {
    LOG(kVerbose) << "InitializeSecurityContext error: " << TlsErrorName(kSecContinueNeeded);
    return Flush();
  }
  return EngineFailure(ssl_error);
}

int TlsAdapter::EngineFailure(int ssl_error) {
  const long verify = SSL_get_verify_result(ssl_);
  const unsigned long detail = ERR_peek_last_error();
  int code;
  if (verify != X509_V_OK) {
    LOG(kWarning) << "TlsAdapter: certificate of " << host_
                  << " refused: " << X509_verify_cert_error_string(verify);
    code = TlsErrorFromVerifyResult(verify);
  } else {
    LOG(kWarning) << "TlsAdapter: " << OpenSslErrorText(detail);
    if (ERR_GET_REASON(detail) == SSL_R_TLSV13_ALERT_CERTIFICATE_REQUIRED) {
      code = kSecIncompleteCredentials;  // the server wants a client certificate; we have none
    } else if (ERR_GET_REASON(detail) == ERR_R_MALLOC_FAILURE) {
      code = kSecInsufficientMemory;
    } else if (ssl_error == SSL_ERROR_SSL) {
      code = kSecInvalidToken;  // a protocol violation, a bad record or an alert from the peer
    } else {
      code = kSecInternalError;
    }
  }
  ERR_clear_error();
  Flush();  // the alert that tells the peer why, if the socket takes it
  return code;
}

int TlsAdapter::DecryptData() {
  while (readable_.size() < kMaxReadableBytes && !peer_closed_) {
    if (BIO_ctrl_pending(input_) == 0 && !SSL_has_pending(ssl_)) break;
    char* tail = readable_.PrepareAppend(kMaxRecordPlaintext);
    size_t count = 0;
    ERR_clear_error();
    int result = SSL_read_ex(ssl_, tail, kMaxRecordPlaintext, &count);
    if (result == 1) {
      readable_.CommitAppend(count);
      continue;
    }
    const int ssl_error = SSL_get_error(ssl_, result);
    if (ssl_error == SSL_ERROR_WANT_READ) break;  // an incomplete record: wait for the rest
    if (ssl_error == SSL_ERROR_ZERO_RETURN) {
      peer_closed_ = true;
      break;
    }
    return EngineFailure(ssl_error);
  }
  // Reading may have made records to send (a key update, a renegotiation answer).
  return Flush();
}

int TlsAdapter::Flush() {
  const size_t made = BIO_ctrl_pending(output_);
  if (made > 0) {
    int moved = BIO_read(output_, pending_.PrepareAppend(made), static_cast<int>(made));
    if (moved > 0) pending_.CommitAppend(static_cast<size_t>(moved));
  }
  while (!pending_.empty()) {
    const size_t chunk = std::min<size_t>(pending_.size(), INT_MAX);
    int sent = socket_->Send(pending_.data(), chunk);
    if (sent <= 0) {
      if (sent < 0 && !IsBlockingError(socket_->GetError())) return socket_->GetError();
      break;
    }
    pending_.Consume(static_cast<size_t>(sent));
  }
  return 0;
}

int TlsAdapter::Send(const void* data, size_t length) {
  switch (state_) {
    case TLS_NONE:
      return socket_->Send(data, length);
    case TLS_WAIT:
    case TLS_CONNECTING:
      SetError(kSocketWouldBlock);
      return -1;
    case TLS_ERROR:
      return -1;
    case TLS_CONNECTED:
      break;
  }
  if (pending_.size() >= kMaxPendingCiphertext) {
    SetError(kSocketWouldBlock);
    return -1;
  }
  if (length == 0) return 0;
  // One call takes at most the cap, so that no single Send can outgrow it many times over;
  // the caller sees a short count, as from any stream socket.
  length = std::min(length, kMaxPendingCiphertext);
  size_t written = 0;
  ERR_clear_error();
  if (SSL_write_ex(ssl_, data, length, &written) != 1) {
    LOG(kWarning) << "TlsAdapter: " << OpenSslErrorText(ERR_peek_last_error());
    ERR_clear_error();
    Error("EncryptMessage", kSecInternalError, false);
    return -1;
  }
  int error = Flush();
  if (error != 0) {
    state_ = TLS_ERROR;
    SetError(error);
    // The connection is dead and nothing reads its input any more, so the socket below may
    // never report its close (it holds it back behind unread data): report it ourselves, once
    // the caller is out of Send.
    if (!close_pending_) close_error_ = error;
    close_pending_ = true;
    PostToSelf();
    return -1;
  }
  return static_cast<int>(length);
}

int TlsAdapter::Recv(void* buffer, size_t size) {
  switch (state_) {
    case TLS_NONE:
      return socket_->Recv(buffer, size);
    case TLS_ERROR:
      return -1;
    case TLS_WAIT:
    case TLS_CONNECTING:
    case TLS_CONNECTED:
      break;
  }
  if (state_ != TLS_CONNECTED || readable_.empty()) {
    SetError(kSocketWouldBlock);
    return -1;
  }
  const size_t count = std::min({size, readable_.size(), static_cast<size_t>(INT_MAX)});
  std::memcpy(buffer, readable_.data(), count);
  readable_.Consume(count);
  // No socket event may come for what is already decrypted, for a close held back behind it,
  // or for a socket left unread while the reader was behind: post one to ourselves.
  if (!readable_.empty() || close_pending_ || paused_) PostToSelf();
  return static_cast<int>(count);
}

void TlsAdapter::PostToSelf() {
  if (message_posted_) return;
  LoopThread* thread = ThreadRegistry::Current();
  if (!thread) {
    LOG(kError) << "No thread context available for TlsAdapter";
    return;
  }
  message_posted_ = true;
  thread->Post(this);
}

void TlsAdapter::HandleMessage(QueuedMessage*) {
  if (!message_posted_) return;  // posted before a Close
  message_posted_ = false;
  if (state_ == TLS_CONNECTED && paused_ && !InputBlocked()) {
    paused_ = false;
    DrainSocket();
    return;
  }
  if (state_ == TLS_CONNECTED && !readable_.empty()) {
    ReadEvent.Emit(this);
  } else if (close_pending_ && !close_reported_) {
    close_pending_ = false;
    close_reported_ = true;
    CloseEvent.Emit(this, close_error_);
  }
}

int TlsAdapter::Close() {
  if (!readable_.empty()) LOG(kWarning) << "TlsAdapter::Close with readable data";
  if (state_ == TLS_CONNECTED) {
    // A clean close-notify, so that the server can tell our close from a truncation.
    ERR_clear_error();
    SSL_shutdown(ssl_);
    ERR_clear_error();
    Flush();
  }
  FreeSession();
  if (message_posted_) {
    if (LoopThread* thread = ThreadRegistry::Current()) thread->Clear(this);
  }
  close_pending_ = false;
  close_error_ = 0;
  message_posted_ = false;
  close_reported_ = false;
  peer_closed_ = false;
  connect_due_ = false;
  paused_ = false;
  state_ = restartable_ ? TLS_WAIT : TLS_NONE;
  ++epoch_;
  return socket_->Close();
}

void TlsAdapter::Error(const char* operation, int code, bool signal) {
  LOG(kWarning) << "TlsAdapter::Error(" << operation << ", " << TlsErrorName(code) << ")";
  state_ = TLS_ERROR;
  SetError(code);
  if (signal) {
    close_reported_ = true;
    CloseEvent.Emit(this, code);
  }
}

void TlsAdapter::OnConnectEvent(EventSocket*) {
  LOG(kInfo) << "TlsAdapter::OnConnectEvent";
  if (state_ == TLS_WAIT) {
    state_ = TLS_CONNECTING;
    int error = BeginSSL();
    if (error != 0) Error("BeginSSL", error, true);
    return;
  }
  ConnectEvent.Emit(this);
}

void TlsAdapter::OnReadEvent(EventSocket*) {
  if (state_ == TLS_NONE) {
    ReadEvent.Emit(this);
    return;
  }
  DrainSocket();
}

void TlsAdapter::DrainSocket() {
  for (;;) {
    // After an error nothing reads the input any more, so none is taken in.
    if (state_ != TLS_CONNECTING && state_ != TLS_CONNECTED) return;
    const char* operation = state_ == TLS_CONNECTING ? "ContinueSSL" : "DecryptData";
    int error = 0;
    if (state_ == TLS_CONNECTING) {
      if (BIO_ctrl_pending(input_) > 0) error = ContinueSSL();
    } else {
      error = DecryptData();
    }
    if (error != 0) {
      Error(operation, error, true);
      return;
    }
    if (connect_due_) {
      connect_due_ = false;
      Guard guard(this);
      ConnectEvent.Emit(this);
      if (!guard.ok()) return;
      continue;  // records may have come behind the handshake
    }
    if (peer_closed_) break;
    if (state_ == TLS_CONNECTED && InputBlocked()) {
      paused_ = true;
      break;
    }
    char block[kReadBlockSize];
    int count = socket_->Recv(block, sizeof(block));
    if (count <= 0) {
      const int read_error = socket_->GetError();
      if (count < 0 && !IsBlockingError(read_error)) {
        Error("Read", read_error, true);
        return;
      }
      break;
    }
    if (BIO_write(input_, block, count) != count) {
      Error("Read", kSecInsufficientMemory, true);
      return;
    }
  }

  Guard guard(this);
  if (state_ == TLS_CONNECTED && !readable_.empty()) {
    ReadEvent.Emit(this);
    if (!guard.ok()) return;
  }
  if (peer_closed_ && !close_pending_ && !close_reported_) {
    // The peer ended the TLS session: a close, reported once its data has been read.
    if (readable_.empty()) {
      close_reported_ = true;
      CloseEvent.Emit(this, 0);
    } else {
      close_pending_ = true;
      close_error_ = 0;
    }
  }
}

void TlsAdapter::OnWriteEvent(EventSocket*) {
  if (state_ == TLS_NONE) {
    WriteEvent.Emit(this);
    return;
  }
  if (state_ == TLS_ERROR || !ssl_) return;
  int error = Flush();
  if (error != 0) {
    Error("Flush", error, true);
    return;
  }
  if (state_ != TLS_CONNECTED) return;
  if (paused_ && !InputBlocked()) {
    Guard guard(this);
    paused_ = false;
    DrainSocket();
    if (!guard.ok() || state_ != TLS_CONNECTED) return;
  }
  if (!pending_.empty()) return;
  WriteEvent.Emit(this);
}

void TlsAdapter::OnCloseEvent(EventSocket*, int error) {
  if (state_ == TLS_NONE) {
    CloseEvent.Emit(this, error);
    return;
  }
  if (close_reported_ || close_pending_) return;
  if (error == 0 && (state_ == TLS_WAIT || state_ == TLS_CONNECTING)) {
    // A handshake cut short by the peer is a failure, not a clean close.
    LOG(kWarning) << "TlsAdapter: connection closed during the TLS handshake";
    error = kSocketConnectionReset;
  }
  if (state_ == TLS_CONNECTED && !readable_.empty()) {
    // Reported once the reader has taken the data (see Recv), with the error it came with.
    close_pending_ = true;
    close_error_ = error;
    return;
  }
  close_reported_ = true;
  CloseEvent.Emit(this, error);
}

}  // namespace vexalo
