#include "app/contactrecord.h"

#include <algorithm>

namespace vexalo {
namespace {

// Away and extended away rank below every other show.
int AvailabilityRank(ShowState show) {
  return show == ShowState::kXa || show == ShowState::kAway ? 0 : 1;
}

bool HasVoice(const PresenceStatus& status) {
  return status.caps_ext.count(ContactRecord::kVoiceCapability) != 0;
}

}  // namespace

void ContactRecord::UpdatePresence(const PresenceStatus& status) {
  auto it = std::find_if(resources.begin(), resources.end(), [&](const PresenceStatus& known) {
    return known.address == status.address;
  });
  if (!status.available) {
    if (it != resources.end()) resources.erase(it);
    return;
  }
  if (it != resources.end()) {
    *it = status;
  } else {
    resources.push_back(status);
  }
}

const PresenceStatus* ContactRecord::Resource(const XmppAddress& full) const {
  for (const PresenceStatus& status : resources) {
    if (status.address == full) return &status;
  }
  return nullptr;
}

bool ContactRecord::OffersVoice(const XmppAddress& full) const {
  const PresenceStatus* status = Resource(full);
  return status != nullptr && HasVoice(*status);
}

bool ContactRecord::Subscribed() const {
  return in_roster &&
         (item.subscription == RosterSubscription::kTo ||
          item.subscription == RosterSubscription::kBoth);
}

XmppAddress ContactRecord::ChooseResource(bool voice_required) const {
  const PresenceStatus* best = nullptr;
  for (const PresenceStatus& candidate : resources) {
    if (candidate.priority < 0) continue;
    if (voice_required && !HasVoice(candidate)) continue;
    if (best != nullptr && !Beats(candidate, *best)) continue;
    best = &candidate;
  }
  return best != nullptr ? best->address : XmppAddress();
}

bool ContactRecord::Beats(const PresenceStatus& candidate, const PresenceStatus& best) {
  const int rank = AvailabilityRank(candidate.show);
  const int best_rank = AvailabilityRank(best.show);
  if (rank != best_rank) return rank > best_rank;
  if (candidate.delay_stamp != best.delay_stamp) return candidate.delay_stamp > best.delay_stamp;
  const bool has_text = !candidate.status.empty();
  if (has_text != !best.status.empty()) return has_text;
  // Among full ties the greatest address wins, and among equal ones the later.
  return candidate.address.Compare(best.address) >= 0;
}

void ContactRecord::DropVoice(const XmppAddress& full) {
  for (PresenceStatus& status : resources) {
    if (status.address == full) status.caps_ext.erase(kVoiceCapability);
  }
}

}  // namespace vexalo
