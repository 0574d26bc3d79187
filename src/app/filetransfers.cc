#include "app/filetransfers.h"

#include <sys/stat.h>

#include <utility>

#include "app/incomingfile.h"
#include "app/outgoingfile.h"
#include "app/sha256digest.h"
#include "base/runtime/logging.h"
#include "p2p/client/sessionregistry.h"
#include "session/tunnel/plainfilename.h"
#include "session/tunnel/tunnelstream.h"
#include "xmpp/stream/xmppaddress.h"

namespace vexalo {

FileTransfers::FileTransfers(SessionRegistry* registry, const std::string& local_jid, Options options)
    : options_(std::move(options)),
      thread_(registry->signaling_thread()),
      format_(options_.tunnel_namespace),
      client_(registry, options_.session_namespace, &format_, local_jid) {
  client_.IncomingTunnel.Connect(this, &FileTransfers::OnIncomingTunnel);
  registry->SessionDestroyed.Connect(this, &FileTransfers::OnSessionDestroyed);
}

FileTransfers::~FileTransfers() {
  // Transfers in progress end here: their temporary files go with them.
  incoming_.clear();
  outgoing_.clear();
}

std::string FileTransfers::SendFile(const std::string& jid, const std::string& path, std::string* error) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) {
    *error = "not a readable file: " + path;
    return "";
  }
  FileOffer offer;
  if (!Sha256Digest::OfFile(path, &offer.sha256, &offer.size)) {
    *error = "cannot read " + path;
    return "";
  }
  size_t slash = path.find_last_of('/');
  offer.name = PlainFileName(slash == std::string::npos ? path : path.substr(slash + 1));
  std::string id = NextId();
  auto job = std::make_unique<OutgoingFile>(id, path, offer.size, thread_);
  if (!job->Open(error)) return "";
  auto description = std::make_shared<TunnelDescription>(kFileTunnelType, std::move(offer));
  std::unique_ptr<TunnelStream> stream = client_.CreateTunnel(jid, std::move(description), thread_);
  if (!stream) {
    *error = "cannot start a session";
    return "";
  }
  job->Attach(std::move(stream));
  Watch(job.get());
  outgoing_[id] = std::move(job);
  return id;
}

bool FileTransfers::AcceptFile(const std::string& id, const std::string& folder, std::string* error) {
  auto it = offers_.find(id);
  if (it == offers_.end()) {
    *error = "no such file offer: " + id;
    return false;
  }
  Offer offer = it->second;
  auto job = std::make_unique<IncomingFile>(id, offer.file, folder.empty() ? options_.download_folder : folder, thread_);
  if (!job->Open(error)) return false;
  offers_.erase(it);
  std::unique_ptr<TunnelStream> stream =
      client_.AcceptTunnel(offer.session, std::make_shared<TunnelDescription>(kFileTunnelType, offer.file), thread_);
  if (!stream) {
    *error = "the offer is no longer open";
    return false;
  }
  job->Attach(std::move(stream));
  Watch(job.get());
  incoming_[id] = std::move(job);
  return true;
}

bool FileTransfers::RejectFile(const std::string& id, std::string* error) {
  auto it = offers_.find(id);
  if (it == offers_.end()) {
    *error = "no such file offer: " + id;
    return false;
  }
  Session* session = it->second.session;
  offers_.erase(it);
  client_.RejectTunnel(session);
  return true;
}

void FileTransfers::OnIncomingTunnel(TunnelSessionClient*, const std::string& from,
                                     std::shared_ptr<const TunnelDescription> description, Session* session) {
  if (!description || description->type() != kFileTunnelType || !description->file()) {
    // Not ours to answer: the peer gives up on its own.
    LOG(kInfo) << "FileTransfers - leaving a tunnel of another kind unanswered";
    return;
  }
  const FileOffer& file = *description->file();
  if (!options_.is_contact || !options_.is_contact(XmppAddress(from).WithoutResource())) {
    LOG(kInfo) << "FileTransfers - refusing a file from a non-contact";
    client_.RejectTunnel(session);
    return;
  }
  if (file.size > options_.max_size) {
    LOG(kInfo) << "FileTransfers - refusing a file of " << file.size << " bytes";
    client_.RejectTunnel(session);
    return;
  }
  std::string id = NextId();
  offers_[id] = Offer{session, from, file};
  FileOffered(from, id, PlainFileName(file.name), file.size);
}

void FileTransfers::OnSessionDestroyed(Session* session) {
  for (auto it = offers_.begin(); it != offers_.end(); ++it) {
    if (it->second.session == session) {
      std::string id = it->first;
      offers_.erase(it);
      FileFailed(id, "the offer was withdrawn");
      return;
    }
  }
}

template <typename Job>
void FileTransfers::Watch(Job* job) {
  job->Progress.Connect(this, [this](const std::string& id, uint64_t bytes, uint64_t total) {
    FileProgress(id, bytes, total);
  });
  job->Done.Connect(this, [this](const std::string& id, const std::string& path) {
    thread_->Post(this, kSweepMessage);
    FileDone(id, path);
  });
  job->Failed.Connect(this, [this](const std::string& id, const std::string& reason) {
    thread_->Post(this, kSweepMessage);
    FileFailed(id, reason);
  });
}

void FileTransfers::HandleMessage(QueuedMessage* msg) {
  if (msg->id != kSweepMessage) return;
  std::erase_if(incoming_, [](const auto& entry) { return entry.second->finished(); });
  std::erase_if(outgoing_, [](const auto& entry) { return entry.second->finished(); });
}

}  // namespace vexalo
