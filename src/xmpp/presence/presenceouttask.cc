#include "xmpp/presence/presenceouttask.h"

#include <string>

#include "xmpp/stream/constants.h"

namespace vexalo {

PresenceOutTask::PresenceOutTask(StepTaskParent* parent) : StanzaTask(parent, kLevelNone) {}

EngineResult PresenceOutTask::SetStatus(const PresenceStatus& status) {
  if (sent_ || done()) return EngineResult::kBadState;
  stanza_ = MakePresence(status, std::time(nullptr));
  return EngineResult::kOk;
}

std::unique_ptr<XmlElem> PresenceOutTask::MakePresence(const PresenceStatus& status,
                                                       std::time_t now) {
  auto presence = std::make_unique<XmlElem>(kQnPresence);
  if (!status.available) {
    presence->AppendAttribute(kQnType, kStrUnavailable);
    return presence;
  }
  // Invisibility is a presence type of the service; the rest of the stanza is unchanged.
  if (status.invisible) presence->AppendAttribute(kQnType, kStrInvisible);

  std::string_view show;
  switch (status.show) {
    case ShowState::kOnline:
    case ShowState::kOffline:
      break;
    case ShowState::kXa:
      show = kStrXa;
      break;
    case ShowState::kDnd:
      show = kStrDnd;
      break;
    case ShowState::kChat:
      show = kStrChat;
      break;
    default:
      show = kStrAway;
      break;
  }
  if (!show.empty()) presence->AppendChild(std::make_unique<XmlElem>(kQnShow))->AppendText(show);

  XmlElem* update = presence->AppendChild(std::make_unique<XmlElem>(kQnVcardUpdateX, true));
  if (status.photo_hash_known) {
    update->AppendChild(std::make_unique<XmlElem>(kQnVcardUpdatePhoto))
        ->AppendText(status.photo_hash);
  }
  presence->AppendChild(std::make_unique<XmlElem>(kQnStatus))->AppendText(status.status);
  presence->AppendChild(std::make_unique<XmlElem>(kQnPriority))
      ->AppendText(std::to_string(status.priority));

  if (status.has_caps && status.caps_ver_known) {
    std::string ext;
    for (const std::string& name : status.caps_ext) {
      if (!ext.empty()) ext += ' ';
      ext += name;
    }
    XmlElem* caps = presence->AppendChild(std::make_unique<XmlElem>(kQnCapsC, true));
    caps->AppendAttribute(kQnNode, kCapsNode);
    caps->AppendAttribute(kQnVer, status.caps_ver);
    caps->AppendAttribute(kQnExt, ext);
  }

  std::tm utc{};
  gmtime_r(&now, &utc);
  char stamp[32];
  const size_t length = std::strftime(stamp, sizeof(stamp), "%Y%m%dT%H:%M:%S", &utc);
  XmlElem* delay = presence->AppendChild(std::make_unique<XmlElem>(kQnDelayX, true));
  delay->AppendAttribute(kQnStamp, std::string_view(stamp, length));
  return presence;
}

int PresenceOutTask::ProcessStart() {
  sent_ = true;
  if (stanza_ == nullptr) return STATE_DONE;
  return SendStanza(*stanza_) == EngineResult::kOk ? STATE_DONE : STATE_ERROR;
}

}  // namespace vexalo
