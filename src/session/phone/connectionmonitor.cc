#include "session/phone/connectionmonitor.h"

#include <algorithm>

namespace vexalo {

ConnectionMonitor::ConnectionMonitor(P2PSocket* socket, EventQueue* poll_thread,
                                     EventQueue* report_thread, int interval_ms,
                                     Listener listener)
    : PollingMonitor(poll_thread, report_thread, std::max(interval_ms, kMinIntervalMs)),
      socket_(socket),
      listener_(std::move(listener)) {}

std::vector<ConnectionInfo> ConnectionMonitor::Describe(P2PSocket* socket) {
  std::vector<ConnectionInfo> infos;
  for (Connection* connection : socket->connections()) {
    ConnectionInfo info;
    info.best = connection == socket->best_connection();
    info.readable = connection->read_state() == Connection::STATE_READ_LIVE;
    info.writable = connection->write_state() == Connection::STATE_WRITE_CONFIRMED;
    info.timed_out = connection->write_state() == Connection::STATE_WRITE_FAILED;
    info.rtt = connection->rtt();
    info.bytes_sent = connection->bytes_sent();
    info.sent_rate = connection->sent_rate();
    info.bytes_received = connection->bytes_received();
    info.received_rate = connection->received_rate();
    info.local_candidate = connection->LocalCandidate();
    info.remote_candidate = connection->remote_candidate();
    infos.push_back(std::move(info));
  }
  return infos;
}

MessagePayload* ConnectionMonitor::Sample() {
  return new MessageData<std::vector<ConnectionInfo>>(Describe(socket_));
}

void ConnectionMonitor::Deliver(MessagePayload* sample) {
  listener_(static_cast<MessageData<std::vector<ConnectionInfo>>*>(sample)->value());
}

}  // namespace vexalo
