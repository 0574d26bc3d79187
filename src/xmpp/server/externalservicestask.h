#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "base/runtime/signal.h"
#include "xmpp/server/externalservice.h"
#include "xmpp/stream/stanzatask.h"

namespace vexalo {

// The STUN and TURN services the user's own server announces (external service discovery),
// for accounts whose server has none of the service's relays. Asked for with Request; asked
// again before the TURN credentials expire, and when the server pushes a change. A restricted
// service announced without credentials gets them with a credentials request. Lives as long
// as the connection.
class ExternalServicesTask : public StanzaTask {
 public:
  // Seconds since 1970 (UTC): the credentials' expiry is an absolute time.
  using WallClock = std::function<int64_t()>;

  // Credentials are refreshed at four fifths of their remaining lifetime, but never sooner
  // than this after an answer: a server handing out credentials that expire at once (or a
  // clock far off) must not make the client ask in a loop.
  static constexpr int64_t kMinRefreshSeconds = 60;
  // And at least daily, however long they are said to last.
  static constexpr int64_t kMaxRefreshSeconds = 86400;
  // At most this many credentials requests per answer.
  static constexpr size_t kMaxCredentialRequests = 4;

  explicit ExternalServicesTask(StepTaskParent* parent, WallClock clock = {});

  // Asks the server; the list arrives as SignalServices. A server without the service
  // answers with an error, which reports nothing. A request already out is not repeated.
  void Request();

  bool HandleStanza(const XmlElem& stanza) override;
  int ProcessStart() override;
  void Poll() override;

  // The whole current list, after every answer that changed it.
  Signal<const std::vector<ExternalService>&> SignalServices;

 private:
  friend class ExternalServicesRequestTask;
  void OnServices(const XmlElem& answer);
  void OnCredentials(const XmlElem& answer);
  void AskCredentials(const ExternalService& service);
  void ScheduleRefresh();
  int64_t WallNow() const;

  WallClock clock_;
  std::vector<ExternalService> services_;
  bool list_request_out_ = false;
  int64_t refresh_at_ = -1;  // in ElapsedTime units; -1: none
};

}  // namespace vexalo
