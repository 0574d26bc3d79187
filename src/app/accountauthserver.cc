#include "app/accountauthserver.h"

namespace vexalo {

namespace {

std::string& Storage() {
  static std::string* server = new std::string();
  return *server;
}

}  // namespace

void AccountAuthServer::Set(std::string host_port) { Storage() = std::move(host_port); }

const std::string& AccountAuthServer::Get() { return Storage(); }

}  // namespace vexalo
