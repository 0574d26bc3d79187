#include "xmpp/server/featurebundle.h"

#include "xmpp/stream/constants.h"

namespace vexalo {

FeatureBundle::FeatureBundle(std::string_view key, const XmlElem& query)
    : key_(key), query_(std::make_unique<XmlElem>(query)) {}

FeatureBundle::FeatureBundle(const FeatureBundle& other)
    : key_(other.key_), query_(std::make_unique<XmlElem>(*other.query_)) {}

std::unique_ptr<XmlElem> FeatureBundle::MakeQuery() {
  return std::make_unique<XmlElem>(kQnDiscoInfoQuery, true);
}

std::unique_ptr<XmlElem> FeatureBundle::MakeClientQuery() {
  std::unique_ptr<XmlElem> query = MakeQuery();
  XmlElem* identity = query->AppendChild(std::make_unique<XmlElem>(kQnDiscoIdentity));
  identity->AppendAttribute(kQnCategory, "client");
  identity->AppendAttribute(kQnType, "pc");
  query->AppendChild(std::make_unique<XmlElem>(kQnDiscoFeature))->AppendAttribute(kQnVar, kNsDiscoInfo);
  query->AppendChild(std::make_unique<XmlElem>(kQnDiscoFeature))->AppendAttribute(kQnVar, kFeatureSession);
  return query;
}

std::unique_ptr<XmlElem> FeatureBundle::MakeFeatureQuery(std::string_view var) {
  std::unique_ptr<XmlElem> query = MakeQuery();
  query->AppendChild(std::make_unique<XmlElem>(kQnDiscoFeature))->AppendAttribute(kQnVar, var);
  return query;
}

std::string FeatureBundle::PluginFeature(std::string_view base_uri, std::string_view capability) {
  std::string var(base_uri);
  var.append("/xmpp/protocol/").append(capability);
  return var;
}

}  // namespace vexalo
