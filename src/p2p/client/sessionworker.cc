#include "p2p/client/sessionworker.h"

#include <sys/resource.h>
#include <unistd.h>

#include "base/runtime/logging.h"

namespace vexalo {

SessionWorker::SessionWorker() { SetName("session worker"); }

SessionWorker::~SessionWorker() { Stop(); }

void SessionWorker::Run(int ms) {
  // On Linux the niceness of a thread is set through its thread id.
  if (setpriority(PRIO_PROCESS, static_cast<id_t>(gettid()), kNiceness) == 0) {
    raised_ = true;
  } else {
    LOG(kInfo) << "Session worker keeps normal priority";
  }
  LoopThread::Run(ms);
}

}  // namespace vexalo
