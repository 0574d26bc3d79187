#include "xmpp/presence/sharedstatus.h"

#include <string_view>

#include "text/asciitext.h"
#include "xmpp/stream/constants.h"
#include "xmpp/presence/presencestatus.h"
#include "xmpp/roster/rosteritem.h"

namespace vexalo {
namespace {

int32_t ReadLimit(const XmlElem& query, const XmlName& name, int32_t fallback, int32_t ceiling) {
  int32_t value = 0;
  if (!query.HasAttribute(name) ||
      !ReadLeadingDecimal(query.GetAttribute(name), 0, INT32_MAX, &value)) {
    return fallback;
  }
  return value < ceiling ? value : ceiling;
}

std::string ShowFromWire(std::string_view show) {
  return show == kStrDefault ? std::string() : std::string(show);
}

std::string TextOf(const XmlElem& elem) {
  std::string text = elem.OnlyText();
  PresenceStatus::CutUtf8(&text, SharedStatus::kCeilingStatusMax);
  return text;
}

}  // namespace

SharedStatus SharedStatus::Parse(const XmlElem& query) {
  SharedStatus shared;
  shared.status_max = ReadLimit(query, kQnStatusMax, kDefaultStatusMax, kCeilingStatusMax);
  shared.status_list_max =
      ReadLimit(query, kQnStatusListMax, kDefaultStatusListMax, kCeilingStatusListMax);
  shared.status_list_contents_max = ReadLimit(query, kQnStatusListContentsMax,
                                              kDefaultStatusListContentsMax,
                                              kCeilingStatusListContentsMax);
  if (const XmlElem* status = query.FindChild(kQnSharedStatus)) shared.status = TextOf(*status);
  if (const XmlElem* show = query.FindChild(kQnSharedStatusShow)) {
    shared.show = ShowFromWire(TextOf(*show));
  }
  for (const XmlElem* list = query.FindChild(kQnSharedStatusList);
       list != nullptr && shared.lists.size() < static_cast<size_t>(kCeilingStatusListMax);
       list = list->FindNextSibling(kQnSharedStatusList)) {
    StatusList entry(ShowFromWire(list->GetAttribute(kQnShowAttribute)), {});
    for (const XmlElem* status = list->FindChild(kQnSharedStatus);
         status != nullptr &&
         entry.second.size() < static_cast<size_t>(kCeilingStatusListContentsMax);
         status = status->FindNextSibling(kQnSharedStatus)) {
      entry.second.push_back(TextOf(*status));
    }
    shared.lists.push_back(std::move(entry));
  }
  return shared;
}

std::unique_ptr<XmlElem> SharedStatus::MakeQuery() const {
  auto query = std::make_unique<XmlElem>(kQnSharedStatusQuery, true);
  query->AppendChild(std::make_unique<XmlElem>(kQnSharedStatus))->AppendText(status);
  query->AppendChild(std::make_unique<XmlElem>(kQnSharedStatusShow))->AppendText(show);
  for (const StatusList& list : lists) {
    XmlElem* elem = query->AppendChild(std::make_unique<XmlElem>(kQnSharedStatusList));
    elem->AppendAttribute(kQnShowAttribute, list.first.empty() ? kStrDefault : list.first);
    for (const std::string& text : list.second) {
      elem->AppendChild(std::make_unique<XmlElem>(kQnSharedStatus))->AppendText(text);
    }
  }
  return query;
}

}  // namespace vexalo
