#pragma once

#include "xml/xmlelem.h"

namespace vexalo {

// The login run inside a StreamEngine from Connect until the session is established (or the
// login fails). While it exists, every stream header and stanza from the server goes to it
// instead of the handlers, and stanzas sent by others are handed to it to be queued. It acts
// on the engine through the engine's login operations (OpenStream, PrintStanza, StartTls,
// OnBound, FailLogin).
class StreamLogin {
 public:
  virtual ~StreamLogin() = default;
  // Runs until it must wait for input or has finished. `stanza` is null for the first step
  // (from Connect); `is_header` tells a stream header from a stanza. Valid during the call only.
  virtual void Step(const XmlElem* stanza, bool is_header) = 0;
  // Finished, successfully or not; the engine then destroys it.
  virtual bool IsDone() const = 0;
  // Keeps a copy of a stanza sent during login, to print right after the session is up.
  virtual void QueueStanza(const XmlElem& stanza) = 0;
};

}  // namespace vexalo
