#include "app/sharedstatushistory.h"

#include <algorithm>

#include "xmpp/presence/sharedstatuspushtask.h"
#include "xmpp/presence/sharedstatusquerytask.h"
#include "xmpp/presence/sharedstatussettask.h"

namespace vexalo {

SharedStatusHistory::SharedStatusHistory(StepTaskParent* tasks) : tasks_(tasks) {
  auto* push = new SharedStatusPushTask(tasks);
  push->SignalSharedStatus.Connect(this, &SharedStatusHistory::Take);
  push->Start();
  auto* query = new SharedStatusQueryTask(tasks);
  query->SignalSharedStatus.Connect(this, &SharedStatusHistory::Take);
  query->Start();
}

void SharedStatusHistory::Take(const SharedStatus& status) {
  status_ = status;
  known_ = true;
  SignalChanged();
}

std::string SharedStatusHistory::ShowName(ShowState show) {
  switch (show) {
    case ShowState::kAway:
    case ShowState::kXa:
      return "away";
    case ShowState::kDnd:
      return "dnd";
    default:
      return {};  // "default" on the wire
  }
}

std::vector<std::string> SharedStatusHistory::Recent() const {
  for (const auto& [show, texts] : status_.lists) {
    if (show == status_.show) return texts;
  }
  return {};
}

void SharedStatusHistory::Record(ShowState show, bool invisible, const std::string& text) {
  if (!known_ || invisible) return;
  std::string cut = text;
  PresenceStatus::CutUtf8(&cut, static_cast<size_t>(std::max(status_.status_max, 0)));
  status_.show = ShowName(show);
  status_.status = cut;
  if (!cut.empty()) {
    auto list =
        std::find_if(status_.lists.begin(), status_.lists.end(),
                     [this](const SharedStatus::StatusList& l) { return l.first == status_.show; });
    if (list == status_.lists.end() &&
        status_.lists.size() < static_cast<size_t>(std::max(status_.status_list_max, 0))) {
      list = status_.lists.insert(status_.lists.end(), {status_.show, {}});
    }
    if (list != status_.lists.end()) {
      std::vector<std::string>& texts = list->second;
      texts.erase(std::remove(texts.begin(), texts.end(), cut), texts.end());
      texts.insert(texts.begin(), cut);
      texts.resize(std::min(texts.size(),
                            static_cast<size_t>(std::max(status_.status_list_contents_max, 0))));
    }
  }
  (new SharedStatusSetTask(tasks_, status_))->Start();
  SignalChanged();
}

}  // namespace vexalo
