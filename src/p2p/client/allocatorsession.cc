#include "p2p/client/allocatorsession.h"

#include <utility>

namespace vexalo {

AllocatorSession::AllocatorSession(std::string name, int generation)
    : name_(std::move(name)), generation_(generation) {}

AllocatorSession::~AllocatorSession() = default;

}  // namespace vexalo
