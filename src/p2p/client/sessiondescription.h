#pragma once

namespace vexalo {

// What a session client negotiates (codecs of a call, the file of a tunnel). Each client
// derives its own; the session layer only carries it.
class SessionDescription {
 public:
  virtual ~SessionDescription() = default;
};

}  // namespace vexalo
