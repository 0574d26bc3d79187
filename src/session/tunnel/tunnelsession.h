#pragma once

#include <deque>
#include <memory>
#include <mutex>
#include <string>

#include "base/http/datastream.h"
#include "base/net/socketaddress.h"
#include "base/runtime/eventqueue.h"
#include "base/runtime/signal.h"
#include "p2p/base/pseudotcp.h"
#include "p2p/client/p2psocket.h"
#include "p2p/client/session.h"

namespace vexalo {

class TunnelSessionClient;
class TunnelStream;

// Binds one session, its P2P socket "tcp", one PseudoTcp and the application's stream. Session
// events come on the signalling thread, socket events and the clock on the worker, reads and
// writes on the stream's thread; one lock guards the tcp, the stream and the socket. The
// socket is only ever used on the worker: packets the tcp emits on another thread are handed
// to the worker to send.
class TunnelSession : public MessageTarget, public SlotHost, public PseudoTcpOwner {
 public:
  enum MessageId : uint32_t {
    kClockMessage = 1,      // worker
    kDestroyMessage = 2,    // signalling
    kTerminateMessage = 3,  // signalling
    kAttachMessage = 5,     // worker: takes the new socket's events
    kFlushMessage = 6,      // worker: sends packets emitted on other threads
  };
  // Packets waiting for the worker beyond this are dropped; the tcp resends them.
  static constexpr size_t kMaxPendingPackets = 256;

  TunnelSession(TunnelSessionClient* client, Session* session);
  ~TunnelSession() override;
  TunnelSession(const TunnelSession&) = delete;
  TunnelSession& operator=(const TunnelSession&) = delete;

  Session* session() const { return session_; }
  // Signalling thread: the application's stream, its events posted to `stream_thread`.
  std::unique_ptr<TunnelStream> AttachStream(EventQueue* stream_thread);
  // Signalling thread: the client or the session is going away; may post the destroy.
  void DetachClient();
  void DetachSession();

  void HandleMessage(QueuedMessage* msg) override;

  // The stream's calls, under the lock.
  StreamState GetStreamState() const;
  StreamResult ReadStream(char* buffer, size_t length, size_t* read, int* error);
  StreamResult WriteStream(const char* data, size_t length, size_t* written, int* error);
  void OnStreamClosed();

  // PseudoTcpOwner, under the lock.
  void OnTcpOpen(PseudoTcp* tcp) override;
  void OnTcpReadable(PseudoTcp* tcp) override;
  void OnTcpWriteable(PseudoTcp* tcp) override;
  void OnTcpClosed(PseudoTcp* tcp, int error) override;
  WriteResult TcpWritePacket(PseudoTcp* tcp, const char* bytes, size_t length) override;

 private:
  void OnSessionState(Session* session, Session::State state);
  void OnSocketState(P2PSocket* socket, P2PSocket::State state);
  void OnSocketRead(P2PSocket* socket, const char* data, size_t size);
  void OnBestConnection(P2PSocket* socket, const SocketAddress& address);
  void AttachSocket();
  void FlushPending();
  // Under the lock.
  void ArmClock();
  void PostStreamEvent(int events, int error);
  void CleanUp();

  TunnelSessionClient* client_;
  Session* session_;
  EventQueue* signaling_;
  EventQueue* worker_;
  std::shared_ptr<std::recursive_mutex> lock_;
  P2PSocket* socket_ = nullptr;
  std::unique_ptr<PseudoTcp> tcp_;
  TunnelStream* stream_ = nullptr;
  bool on_worker_ = false;
  bool initiator_ = false;
  bool close_posted_ = false;
  bool destroy_posted_ = false;
  std::deque<std::string> pending_packets_;
};

}  // namespace vexalo
