#include "relayd/relaysessionstore.h"

#include "p2p/base/randomgenerator.h"

namespace vexalo {

namespace {
constexpr size_t kUsernameLength = 16;
constexpr size_t kPasswordLength = 16;
// The cookie travels as an attribute whose length must be a multiple of 4.
constexpr size_t kCookieLength = 16;
}  // namespace

const RelaySession* RelaySessionStore::Create(Tick now) {
  if (sessions_.size() >= max_sessions_) Expire(now);
  if (sessions_.size() >= max_sessions_) return nullptr;
  RelaySession session;
  session.username = RandomGenerator::RandomString(kUsernameLength);
  session.password = RandomGenerator::RandomString(kPasswordLength);
  session.magic_cookie = RandomGenerator::RandomString(kCookieLength);
  session.expires = now + lifetime_ms_;
  auto [it, added] = sessions_.emplace(session.username, session);
  return added ? &it->second : nullptr;
}

const RelaySession* RelaySessionStore::Find(std::string_view username, Tick now) const {
  auto it = sessions_.find(username);
  if (it == sessions_.end() || TickDiff(it->second.expires, now) <= 0) return nullptr;
  return &it->second;
}

void RelaySessionStore::Expire(Tick now) {
  for (auto it = sessions_.begin(); it != sessions_.end();) {
    it = TickDiff(it->second.expires, now) <= 0 ? sessions_.erase(it) : std::next(it);
  }
}

}  // namespace vexalo
