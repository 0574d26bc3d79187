#pragma once

#include <string>

namespace vexalo {

// The process-wide override of the account-token server ("/idmoraserver host:port"), set at
// start-up and read by the account-token step of signing in.
class AccountAuthServer {
 public:
  static void Set(std::string host_port);
  // Empty when no override was given.
  static const std::string& Get();
};

}  // namespace vexalo
