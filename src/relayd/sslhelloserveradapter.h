#pragma once

#include "base/net/bufferedreadadapter.h"

namespace vexalo {

// The server side of the "ssltcp" greeting: waits for the fixed client hello, answers with
// the fixed server hello, and then lets bytes pass. A wrong hello closes the connection.
class SslHelloServerAdapter : public BufferedReadAdapter {
 public:
  explicit SslHelloServerAdapter(EventSocket* socket);

  bool greeted() const { return !buffering(); }

 protected:
  void ProcessInput(char* buffer, size_t* length) override;
};

}  // namespace vexalo
