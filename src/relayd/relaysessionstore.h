#pragma once

#include <cstddef>
#include <map>
#include <string>
#include <string_view>

#include "relayd/relaysession.h"

namespace vexalo {

// The relay sessions handed out and not yet expired, bounded in number.
class RelaySessionStore {
 public:
  RelaySessionStore(size_t max_sessions, int lifetime_ms)
      : max_sessions_(max_sessions), lifetime_ms_(lifetime_ms) {}

  // Null when the store is full of live sessions.
  const RelaySession* Create(Tick now);
  // Null for an unknown or expired username.
  const RelaySession* Find(std::string_view username, Tick now) const;
  void Expire(Tick now);
  size_t size() const { return sessions_.size(); }

 private:
  size_t max_sessions_;
  int lifetime_ms_;
  std::map<std::string, RelaySession, std::less<>> sessions_;
};

}  // namespace vexalo
