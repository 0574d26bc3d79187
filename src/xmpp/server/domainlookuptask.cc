#include "xmpp/server/domainlookuptask.h"

#include <memory>

#include "base/runtime/logging.h"
#include "xmpp/stream/constants.h"

namespace vexalo {
namespace {

bool EqualsIgnoringAsciiCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    char x = a[i], y = b[i];
    if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
    if (x != y) return false;
  }
  return true;
}

}  // namespace

DomainLookupTask::DomainLookupTask(StepTaskParent* parent, std::string_view domain)
    : StanzaTask(parent, kLevelFirst), domain_(domain) {}

bool DomainLookupTask::IsWebMailDomain(std::string_view domain) {
  return EqualsIgnoringAsciiCase(domain, kWebMailDomain) ||
         EqualsIgnoringAsciiCase(domain, kWebMailAlternativeDomain);
}

bool DomainLookupTask::HandleStanza(const XmlElem& stanza) {
  if (!MatchResponseIq(stanza, kEmptyAddress, task_id())) return false;
  const std::string& type = stanza.GetAttribute(kQnType);
  if (type != kStrResult && type != kStrError) return false;
  QueueStanza(stanza);
  return true;
}

int DomainLookupTask::ProcessStart() {
  std::unique_ptr<XmlElem> iq = MakeIq(kStrGet, BoundAddress().WithoutResource(), task_id());
  XmlElem* lookup = iq->AppendChild(std::make_unique<XmlElem>(kQnDomainLookup, true));
  lookup->AppendAttribute(kQnDomain, domain_);
  if (SendStanza(*iq) != EngineResult::kOk) return STATE_ERROR;
  return STATE_RESPONSE;
}

int DomainLookupTask::ProcessResponse() {
  if (const XmlElem* answer = NextStanza()) {
    if (answer->GetAttribute(kQnType) == kStrError) {
      Report(IsWebMailDomain(domain_));
    } else if (const XmlElem* result = answer->FindChild(kQnDomainResult)) {
      Report(result->GetAttribute(kQnXmppReachable) == "true");
    }
    return STATE_DONE;
  }
  if (ElapsedTime() >= timeout_) {
    LOG(kInfo) << "DomainLookupTask::ProcessResponse - no answer for " << domain_;
    Report(false);
    return STATE_DONE;
  }
  return STATE_BLOCKED;
}

void DomainLookupTask::Poll() {
  if (state() == STATE_RESPONSE && ElapsedTime() >= timeout_) Wake();
}

void DomainLookupTask::Report(bool reachable) {
  SignalDomainResult(DomainResult{domain_, reachable});
}

}  // namespace vexalo
