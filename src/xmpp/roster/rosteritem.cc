#include "xmpp/roster/rosteritem.h"

#include <limits>

#include "text/asciitext.h"
#include "xmpp/stream/constants.h"

namespace vexalo {
namespace {

RosterSubscription SubscriptionFromText(std::string_view text) {
  if (text == kStrTo) return RosterSubscription::kTo;
  if (text == kStrFrom) return RosterSubscription::kFrom;
  if (text == kStrBoth) return RosterSubscription::kBoth;
  if (text == kStrRemove) return RosterSubscription::kRemove;
  return RosterSubscription::kNone;
}

RosterListMode ListModeFromText(std::string_view text) {
  if (text == "H") return RosterListMode::kHidden;
  if (text == "B") return RosterListMode::kBlocked;
  return RosterListMode::kNormal;
}

}  // namespace

int32_t RosterItem::ReadCounter(std::string_view text) {
  int32_t value = 0;
  ReadLeadingDecimal(text, 0, std::numeric_limits<int32_t>::max(), &value);
  return value;
}

bool RosterItem::Parse(const XmlElem& item, RosterItem* out) {
  XmppAddress address(item.GetAttribute(kQnJid));
  if (!address.IsValid()) return false;
  out->address = std::move(address);
  out->name = item.GetAttribute(kQnName);
  out->groups.clear();
  for (const XmlElem* group = item.FindChild(kQnRosterGroup); group != nullptr;
       group = group->FindNextSibling(kQnRosterGroup)) {
    out->groups.push_back(group->OnlyText());
  }
  out->subscription = SubscriptionFromText(item.GetAttribute(kQnSubscription));
  out->ask_subscribe = item.GetAttribute(kQnAsk) == kStrSubscribe;
  out->list_mode = ListModeFromText(item.GetAttribute(kQnGrT));
  const std::string& emc = item.GetAttribute(kQnGrEmc);
  out->weight = ReadCounter(emc.empty() ? item.GetAttribute(kQnGrW) : emc);
  out->message_count = ReadCounter(item.GetAttribute(kQnGrMc));
  out->rejected = item.GetAttribute(kQnGrRejected) == "true";
  out->auto_subscribe = item.GetAttribute(kQnGrAutosub) == "true";
  out->alias_for = item.HasAttribute(kQnGrAliasFor) ? XmppAddress(item.GetAttribute(kQnGrAliasFor))
                                                    : XmppAddress();
  return true;
}

}  // namespace vexalo
