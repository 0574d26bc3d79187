#pragma once

#include <string>

namespace vexalo {

// Names one session between two parties: the initiator's id for it and the initiator's full JID.
struct SessionId {
  std::string id;
  std::string initiator;

  bool operator==(const SessionId& other) const {
    return id == other.id && initiator == other.initiator;
  }
  // By initiator, then by id.
  bool operator<(const SessionId& other) const {
    if (initiator != other.initiator) return initiator < other.initiator;
    return id < other.id;
  }
};

}  // namespace vexalo
