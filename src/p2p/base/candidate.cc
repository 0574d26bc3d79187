#include "p2p/base/candidate.h"

namespace vexalo {

namespace {
constexpr const char* kProtoNames[] = {"udp", "tcp", "ssltcp"};
}  // namespace

const char* ProtoToString(int proto) {
  if (proto < PROTO_UDP || proto > PROTO_SSLTCP) return nullptr;
  return kProtoNames[proto];
}

bool StringToProto(const std::string& name, ProtocolType* proto) {
  for (int i = PROTO_UDP; i <= PROTO_SSLTCP; ++i) {
    if (name == kProtoNames[i]) {
      *proto = static_cast<ProtocolType>(i);
      return true;
    }
  }
  return false;
}

bool Candidate::operator==(const Candidate& other) const {
  return name == other.name && protocol == other.protocol && address == other.address &&
         username == other.username && password == other.password && type == other.type &&
         generation == other.generation;
}

}  // namespace vexalo
