#pragma once

#include <string>
#include <vector>

#include "base/runtime/signal.h"
#include "xmpp/presence/presencestatus.h"
#include "xmpp/presence/sharedstatus.h"

namespace vexalo {

class StepTaskParent;

// The user's recent status texts per show, kept by the service for all of the user's clients:
// read at sign-in, followed through the service's pushes, and extended whenever the user
// sets a status. A server without the service keeps no history and is sent nothing.
class SharedStatusHistory : public SlotHost {
 public:
  // Asks for the shared status at once; `tasks` is the signed-in connection.
  explicit SharedStatusHistory(StepTaskParent* tasks);

  // Whether the service answered.
  bool known() const { return known_; }
  const SharedStatus& shared() const { return status_; }
  // The recent texts of the current show, newest first.
  std::vector<std::string> Recent() const;
  // The user set this status: its text goes to the front of its show's list (once), within
  // the service's limits, and the service stores it. Invisible is not shared.
  void Record(ShowState show, bool invisible, const std::string& text);

  Signal<> SignalChanged;

 private:
  static std::string ShowName(ShowState show);
  void Take(const SharedStatus& status);

  StepTaskParent* tasks_;
  SharedStatus status_;
  bool known_ = false;
};

}  // namespace vexalo
