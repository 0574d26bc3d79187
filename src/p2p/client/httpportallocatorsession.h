#pragma once

#include <string>
#include <vector>

#include "p2p/client/allocatorsession.h"

namespace vexalo {

class AsyncHttpRequest;
class HTTPPortAllocator;

// A session of the HTTP allocator: its configuration comes from a relay session request,
// tried on the relay hosts in turn, at most five times, each within five seconds.
class HTTPPortAllocatorSession : public AllocatorSession {
 public:
  static constexpr uint32_t kRequestTimeoutMessage = 100;
  static constexpr uint32_t kRequestDoneMessage = 101;
  static constexpr int kMaxRequests = 5;
  static constexpr int kRequestTimeoutMs = 5000;

  HTTPPortAllocatorSession(HTTPPortAllocator* allocator, std::string name, int generation);
  ~HTTPPortAllocatorSession() override;

  void HandleMessage(QueuedMessage* msg) override;
  int requests_made() const { return static_cast<int>(requests_.size()); }

 protected:
  void GetPortConfigurations() override;

 private:
  struct Request {
    int number;
    bool done;
    AsyncHttpRequest* http;
  };

  // Goes on with the STUN host and TURN servers alone: no relay of the service.
  void ConfigureWithoutServiceRelay();
  void OnTimeout(int number);
  void OnCompleted(AsyncHttpRequest* http);
  bool IsLatest(int number) const { return number == static_cast<int>(requests_.size()); }

  HTTPPortAllocator* http_allocator_;
  std::vector<Request> requests_;
};

}  // namespace vexalo
