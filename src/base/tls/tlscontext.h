#pragma once

#include <memory>
#include <string>

typedef struct ssl_ctx_st SSL_CTX;

namespace vexalo {

// The TLS client settings adapters share: TLS 1.2 or later, peer verification always on,
// trust in the system store plus an optional extra CA file (PEM, one or more certificates).
// Loading a trust store is costly, so one context per CA file is made and kept.
class TlsContext {
 public:
  ~TlsContext();
  TlsContext(const TlsContext&) = delete;
  TlsContext& operator=(const TlsContext&) = delete;

  // The process-wide extra CA file; an empty path means none. Until this is called, the
  // environment variable VEXALO_CA_FILE is used.
  static void SetExtraCaFile(const std::string& path);
  // Back to following the environment.
  static void ClearExtraCaFile();
  static std::string ExtraCaFile();

  // The shared context trusting the system store and `extra_ca_file` (none when empty). Null
  // with *error set (one of the kSec codes) when the file cannot be loaded: a configured
  // trust anchor that is silently missing would only turn into a puzzling failure later.
  static std::shared_ptr<TlsContext> Get(const std::string& extra_ca_file, int* error);

  SSL_CTX* ctx() const { return ctx_; }

 private:
  explicit TlsContext(SSL_CTX* ctx) : ctx_(ctx) {}

  SSL_CTX* ctx_;
};

}  // namespace vexalo
