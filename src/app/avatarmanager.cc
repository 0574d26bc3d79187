#include "app/avatarmanager.h"

#include <memory>

#include "app/avatarrequest.h"
#include "xmpp/presence/presencestatus.h"
#include "xmpp/vcard/avatarhash.h"
#include "xmpp/vcard/vcard.h"

namespace vexalo {
namespace {

// The vCard tasks have no time-out of their own; without one, a contact whose server never
// answers would never be asked again in this session.
constexpr int64_t kRequestTimeout100ns = 60LL * 10'000'000;

}  // namespace

AvatarManager::AvatarManager(StepTaskParent* tasks, AvatarCache* cache, const XmppAddress& self)
    : tasks_(tasks), cache_(cache), self_(self.WithoutResource()), index_(cache->LoadIndex()) {
  own_hash_ = HashOf(self_);
}

AvatarManager::~AvatarManager() = default;

std::string AvatarManager::HashOf(const XmppAddress& contact) const {
  const auto it = index_.find(contact.WithoutResource().ToString());
  if (it == index_.end() || !cache_->HasOriginal(it->second)) return {};
  return it->second;
}

void AvatarManager::OnPresence(const PresenceStatus& presence) {
  if (!presence.photo_hash_known) return;
  const XmppAddress contact = presence.address.WithoutResource();
  // Our other resources announce our picture; our own card is the one we go by.
  if (contact == self_ || !contact.IsValid()) return;
  if (presence.photo_hash.empty()) {
    SetHash(contact, {});
    return;
  }
  const std::string hash = NormalizeAvatarHash(presence.photo_hash);
  if (hash.empty()) return;
  if (cache_->HasOriginal(hash)) {
    SetHash(contact, hash);
  } else {
    Request(contact, hash);
  }
}

void AvatarManager::RequestOwn() { Request(self_, {}); }

void AvatarManager::Request(const XmppAddress& contact, const std::string& expected_hash) {
  const std::string key = contact.ToString();
  if (pending_.count(key) != 0) return;
  if (!expected_hash.empty() && !cache_->ShouldRequest(expected_hash)) return;
  auto* task = new AvatarRequest(tasks_);
  task->SetTarget(contact == self_ ? kEmptyAddress : contact);
  task->SetTimeout(kRequestTimeout100ns);
  auto answered = std::make_shared<bool>(false);
  task->SignalVCard.Connect(
      this, [this, contact, expected_hash, answered](const XmppAddress&, const VCard& card) {
        *answered = true;
        OnVCard(contact, expected_hash, card);
      });
  task->SignalEnded.Connect(this, [this, key, expected_hash, answered] {
    pending_.erase(key);
    if (!*answered && !expected_hash.empty()) cache_->RecordFailure(expected_hash);
  });
  pending_.insert(key);
  task->Start();
}

void AvatarManager::OnVCard(const XmppAddress& contact, const std::string& expected_hash,
                            const VCard& card) {
  const std::string photo = card.Photo();
  if (photo.empty()) {
    if (!expected_hash.empty()) cache_->RecordFailure(expected_hash);
    SetHash(contact, {});
    return;
  }
  const std::string hash = cache_->StoreOriginal(photo);
  // A card whose picture is not the one announced counts against the announced hash, so a
  // contact that keeps announcing a picture it does not publish is not asked for ever.
  if (hash != expected_hash && !expected_hash.empty()) cache_->RecordFailure(expected_hash);
  if (!hash.empty()) SetHash(contact, hash);
}

void AvatarManager::SetHash(const XmppAddress& contact, const std::string& hash) {
  const std::string key = contact.ToString();
  const auto it = index_.find(key);
  const std::string old = it == index_.end() ? std::string() : it->second;
  if (contact == self_) own_hash_ = hash;
  if (old == hash) return;
  if (hash.empty()) {
    index_.erase(key);
  } else {
    index_[key] = hash;
  }
  cache_->SaveIndex(index_);
  if (contact == self_) {
    SignalOwnPicture(hash);
  } else {
    SignalPicture(contact, hash);
  }
}

}  // namespace vexalo
