#include "xmpp/server/externalservicestask.h"

#include <algorithm>
#include <ctime>

#include "base/runtime/logging.h"
#include "xmpp/server/externalservicesrequesttask.h"
#include "xmpp/stream/constants.h"
#include "xmpp/stream/serverpush.h"

namespace vexalo {
namespace {

constexpr int64_t kUnitsPerSecond = 10'000'000;  // runner time is in 100-ns units

}  // namespace

ExternalServicesTask::ExternalServicesTask(StepTaskParent* parent, WallClock clock)
    : StanzaTask(parent, kLevelThird), clock_(std::move(clock)) {}

int64_t ExternalServicesTask::WallNow() const {
  return clock_ ? clock_() : static_cast<int64_t>(std::time(nullptr));
}

void ExternalServicesTask::Request() {
  if (done() || connection() == nullptr || list_request_out_) return;
  list_request_out_ = true;
  refresh_at_ = -1;
  auto* request = new ExternalServicesRequestTask(
      this, std::make_unique<XmlElem>(kQnExtDiscoServices, true));
  request->Start();
}

bool ExternalServicesTask::HandleStanza(const XmlElem& stanza) {
  if (!MatchRequestIq(stanza, kStrSet, kQnExtDiscoServices)) return false;
  if (!ServerPush::IsFromOwnServerOrAccount(stanza, BoundAddress())) {
    LOG(kWarning) << "ExternalServicesTask::HandleStanza - push from "
                  << stanza.GetAttribute(kQnFrom) << " refused";
    return false;
  }
  QueueStanza(stanza);
  return true;
}

int ExternalServicesTask::ProcessStart() {
  bool pushed = false;
  while (const XmlElem* push = NextStanza()) {
    SendStanza(*MakeIqResult(*push));
    pushed = true;
  }
  // A push carries only what changed; the whole list is asked for again rather than merged.
  if (pushed) Request();
  return STATE_BLOCKED;
}

void ExternalServicesTask::Poll() {
  if (refresh_at_ >= 0 && ElapsedTime() >= refresh_at_) {
    LOG(kInfo) << "ExternalServicesTask: refreshing the service credentials";
    Request();
  }
}

void ExternalServicesTask::OnServices(const XmlElem& answer) {
  list_request_out_ = false;
  const XmlElem* list = answer.FindChild(kQnExtDiscoServices);
  if (answer.GetAttribute(kQnType) != kStrResult || list == nullptr) {
    LOG(kInfo) << "ExternalServicesTask: the server announces no external services";
    // A refresh that failed is tried again while the credentials in hand may still be good.
    if (!services_.empty()) refresh_at_ = ElapsedTime() + kMinRefreshSeconds * kUnitsPerSecond;
    return;
  }
  services_ = ExternalService::ParseList(*list);
  size_t asked = 0;
  for (const ExternalService& service : services_) {
    if (service.restricted && !service.HasCredentials() && asked < kMaxCredentialRequests) {
      AskCredentials(service);
      ++asked;
    }
  }
  ScheduleRefresh();
  SignalServices(services_);
}

void ExternalServicesTask::AskCredentials(const ExternalService& service) {
  auto payload = std::make_unique<XmlElem>(kQnExtDiscoCredentials, true);
  auto element = std::make_unique<XmlElem>(kQnExtDiscoService);
  element->SetAttribute(kQnType, service.type);
  element->SetAttribute(kQnHost, service.host);
  if (service.port != 0) element->SetAttribute(kQnPort, std::to_string(service.port));
  payload->AppendChild(std::move(element));
  auto* request = new ExternalServicesRequestTask(this, std::move(payload));
  request->Start();
}

void ExternalServicesTask::OnCredentials(const XmlElem& answer) {
  const XmlElem* list = answer.FindChild(kQnExtDiscoCredentials);
  if (answer.GetAttribute(kQnType) != kStrResult || list == nullptr) {
    LOG(kInfo) << "ExternalServicesTask: no credentials for a restricted service";
    return;
  }
  bool changed = false;
  // Credentials only fill in a service the list already has: an answer cannot add servers.
  for (const ExternalService& given : ExternalService::ParseList(*list)) {
    for (ExternalService& known : services_) {
      if (known.type == given.type && known.host == given.host && !known.HasCredentials() &&
          given.HasCredentials() && (given.port == 0 || given.port == known.port)) {
        known.username = given.username;
        known.password = given.password;
        known.expires = given.expires;
        changed = true;
      }
    }
  }
  if (!changed) return;
  ScheduleRefresh();
  SignalServices(services_);
}

void ExternalServicesTask::ScheduleRefresh() {
  int64_t earliest = 0;
  for (const ExternalService& service : services_) {
    if (service.expires != 0 && (earliest == 0 || service.expires < earliest)) {
      earliest = service.expires;
    }
  }
  if (earliest == 0) {
    refresh_at_ = -1;
    return;
  }
  const int64_t remaining = earliest - WallNow();
  const int64_t delay = std::clamp(remaining / 5 * 4, kMinRefreshSeconds, kMaxRefreshSeconds);
  refresh_at_ = ElapsedTime() + delay * kUnitsPerSecond;
}

}  // namespace vexalo
