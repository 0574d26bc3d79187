#include "app/linux/srvlookup.h"

#include <gio/gio.h>

#include "base/runtime/logging.h"

namespace vexalo {

SrvLookup::SrvLookup(std::string domain) : domain_(std::move(domain)) {
  WorkDone.Connect(this, [this](SignalThread*) { SignalDone(this); });
}

void SrvLookup::DoWork() {
  GResolver* resolver = g_resolver_get_default();
  GError* error = nullptr;
  GList* records =
      g_resolver_lookup_service(resolver, "xmpp-client", "tcp", domain_.c_str(), nullptr, &error);
  if (records == nullptr) {
    LOG(kInfo) << "No XMPP service records for " << domain_ << ": "
               << (error != nullptr ? error->message : "none");
    if (error != nullptr) g_error_free(error);
    g_object_unref(resolver);
    return;
  }
  // GIO returns them sorted by priority with weights applied.
  for (GList* item = records; item != nullptr && targets_.size() < kMaxTargets;
       item = item->next) {
    auto* target = static_cast<GSrvTarget*>(item->data);
    const char* host = g_srv_target_get_hostname(target);
    const guint16 port = g_srv_target_get_port(target);
    // "." means the domain explicitly offers no such service.
    if (host == nullptr || std::string(host) == "." || port == 0) continue;
    targets_.emplace_back(host, port, false);
  }
  g_resolver_free_targets(records);
  g_object_unref(resolver);
}

}  // namespace vexalo
