// Parses arbitrary text as a relay-information query (and as a settings answer). Nothing may
// crash, and whatever comes out must have passed the checks: bounded lists, valid host names,
// ports in range, a token fit for a request header.
#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string_view>

#include "xml/xmlelem.h"
#include "xmpp/server/relayinfo.h"
#include "xmpp/server/usersetting.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using vexalo::RelayInfo;
  std::unique_ptr<vexalo::XmlElem> query = vexalo::XmlElem::ParseFromString(
      std::string_view(reinterpret_cast<const char*>(data), size));
  if (query == nullptr) return 0;
  RelayInfo info = RelayInfo::Parse(*query);
  if (info.stun_servers.size() > RelayInfo::kMaxServers || info.relay_hosts.size() > RelayInfo::kMaxServers ||
      !RelayInfo::IsValidToken(info.token)) {
    abort();
  }
  for (const vexalo::SocketAddress& server : info.stun_servers) {
    if (server.port() == 0 || !RelayInfo::IsValidHostName(server.hostname())) abort();
  }
  for (const std::string& host : info.relay_hosts) {
    if (!RelayInfo::IsValidHostName(host)) abort();
  }
  if (vexalo::UserSetting::ParseAll(*query).size() > vexalo::UserSetting::kMaxEntries) abort();
  return 0;
}
