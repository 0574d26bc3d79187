#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "xml/xmlelem.h"

namespace vexalo {

// The caps ext key under which the voice feature is announced and answered.
inline constexpr std::string_view kVoiceCapsExt = "voice-v1";

// A prepared disco#info <query/> answered for one caps key (the part of a caps node after
// '#'). The builders make the queries that the client announces.
class FeatureBundle {
 public:
  FeatureBundle(std::string_view key, const XmlElem& query);
  FeatureBundle(const FeatureBundle& other);
  FeatureBundle& operator=(const FeatureBundle&) = delete;

  const std::string& key() const { return key_; }
  const XmlElem& query() const { return *query_; }

  // An empty <query xmlns="http://jabber.org/protocol/disco#info"/>.
  static std::unique_ptr<XmlElem> MakeQuery();
  // The client's own bundle (under its version key): identity client/pc, disco#info and
  // kFeatureSession.
  static std::unique_ptr<XmlElem> MakeClientQuery();
  // A query with one feature.
  static std::unique_ptr<XmlElem> MakeFeatureQuery(std::string_view var);
  // The feature var of a plug-in capability: BASE/xmpp/protocol/CAPABILITY.
  static std::string PluginFeature(std::string_view base_uri, std::string_view capability);

 private:
  std::string key_;
  std::unique_ptr<XmlElem> query_;
};

}  // namespace vexalo
