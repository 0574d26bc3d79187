#pragma once

#include <string>

namespace vexalo {

// The answer to one incoming session iq: an acknowledgement or an error.
struct SessionResponse {
  enum Kind {
    KIND_ACK = 0,
    KIND_UNKNOWN_SESSION = 1,  // no such session, or not the sender's
    KIND_UNKNOWN_METHOD = 2,
    KIND_UNACCEPTABLE = 3,  // a malformed or over-limit message
  };

  Kind kind = KIND_ACK;
  std::string to;     // the "from" of the incoming iq
  std::string iq_id;  // its "id"
};

}  // namespace vexalo
