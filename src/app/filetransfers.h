#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

#include "base/runtime/eventqueue.h"
#include "base/runtime/queuedmessage.h"
#include "base/runtime/signal.h"
#include "session/tunnel/tunneldescriptionformat.h"
#include "session/tunnel/tunnelsessionclient.h"
#include "xmpp/stream/xmppaddress.h"

namespace vexalo {

class IncomingFile;
class OutgoingFile;
class SessionRegistry;

// Files sent and received over tunnels for one signed-in connection: owns the tunnel client
// (registered with the session stack), offers files, announces the offers of contacts and
// answers them as the user says. Tunnels of any other kind are left unanswered. Runs on the
// connection's (signalling) thread.
class FileTransfers : public MessageTarget, public SlotHost {
 public:
  static constexpr const char* kFileTunnelType = "file-transfer";
  static constexpr uint32_t kSweepMessage = 1;

  struct Options {
    std::string session_namespace;
    std::string tunnel_namespace;
    std::string download_folder;
    uint64_t max_size = 0;
    // Whether a bare address is on the user's contact list.
    std::function<bool(const XmppAddress&)> is_contact;
  };

  // Register client() with the connection's session stack to take its tunnel iqs.
  FileTransfers(SessionRegistry* registry, const std::string& local_jid, Options options);
  ~FileTransfers() override;
  FileTransfers(const FileTransfers&) = delete;
  FileTransfers& operator=(const FileTransfers&) = delete;

  // The transfer's id, or empty with a reason.
  std::string SendFile(const std::string& jid, const std::string& path, std::string* error);
  // An empty folder means the download folder.
  bool AcceptFile(const std::string& id, const std::string& folder, std::string* error);
  bool RejectFile(const std::string& id, std::string* error);

  TunnelSessionClient* client() { return &client_; }
  void HandleMessage(QueuedMessage* msg) override;

  Signal<const std::string&, const std::string&, const std::string&, uint64_t> FileOffered;  // jid, id, name, size
  Signal<const std::string&, uint64_t, uint64_t> FileProgress;  // id, bytes, total
  Signal<const std::string&, const std::string&> FileDone;      // id, path
  Signal<const std::string&, const std::string&> FileFailed;    // id, reason

 private:
  struct Offer {
    Session* session;
    std::string from;
    FileOffer file;
  };

  void OnIncomingTunnel(TunnelSessionClient* client, const std::string& from,
                        std::shared_ptr<const TunnelDescription> description, Session* session);
  void OnSessionDestroyed(Session* session);
  template <typename Job>
  void Watch(Job* job);
  std::string NextId() { return "f" + std::to_string(++last_id_); }

  Options options_;
  EventQueue* thread_;
  TunnelDescriptionFormat format_;
  TunnelSessionClient client_;
  std::map<std::string, Offer> offers_;
  std::map<std::string, std::unique_ptr<IncomingFile>> incoming_;
  std::map<std::string, std::unique_ptr<OutgoingFile>> outgoing_;
  int last_id_ = 0;
};

}  // namespace vexalo
