#pragma once

#include <map>
#include <string>
#include <string_view>

#include "xmpp/server/featurebundle.h"
#include "xmpp/stream/stanzatask.h"

namespace vexalo {

// Answers disco#info queries for our caps nodes (kCapsNode#KEY) from the feature bundles
// registered under their keys; unknown keys get item-not-found.
class DiscoInfoResponder : public StanzaTask {
 public:
  explicit DiscoInfoResponder(StepTaskParent* parent);

  // Registers (or replaces) the bundle answered for kCapsNode#key.
  void AddBundle(const FeatureBundle& bundle);
  void AddBundle(std::string_view key, const XmlElem& query) { AddBundle(FeatureBundle(key, query)); }
  // The two bundles the client announces: its own under `version_key`, and voice.
  void AddClientBundles(std::string_view version_key);
  bool HasBundle(std::string_view key) const { return bundles_.find(key) != bundles_.end(); }

  bool HandleStanza(const XmlElem& stanza) override;
  int ProcessStart() override;

  static constexpr std::string_view kNotFoundText = "feature bundle not found";

 private:
  void Answer(const XmlElem& request);

  std::map<std::string, FeatureBundle, std::less<>> bundles_;
};

}  // namespace vexalo
