// Parses arbitrary text as an XMPP address. Nothing may crash; a valid address prints to
// text that parses to the same address, its parts hold no byte that preparation refuses, and
// building it from its parts gives the same address again.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "xmpp/stream/xmppaddress.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string text(reinterpret_cast<const char*>(data), size);
  vexalo::XmppAddress address(text);
  if (!address.IsValid()) {
    if (!address.ToString().empty() || address != vexalo::kEmptyAddress) abort();
    return 0;
  }
  if (address.DomainPart().empty()) abort();
  for (char c : address.NodePart()) {
    if ((c >= 'A' && c <= 'Z') || c == '@' || c == '/' || c == ':') abort();
  }
  for (char c : address.DomainPart()) {
    if ((c >= 'A' && c <= 'Z') || c == '@' || c == '/' || c == '_') abort();
  }
  vexalo::XmppAddress again(address.ToString());
  if (again != address || again.Compare(address) != 0 || again.Hash() != address.Hash()) abort();
  vexalo::XmppAddress parts(address.NodePart(), address.DomainPart(), address.ResourcePart());
  if (parts != address) abort();
  if (!address.WithoutResource().IsBareAddress()) abort();
  if (!address.WithoutResource().SameAccount(address)) abort();
  return 0;
}
