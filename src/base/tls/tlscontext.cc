#include "base/tls/tlscontext.h"

#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/stat.h>

#include <cstdlib>
#include <map>
#include <mutex>

#include "base/runtime/logging.h"
#include "base/tls/tlserrors.h"

namespace vexalo {
namespace {

std::mutex settings_lock;
bool extra_ca_set = false;
std::string extra_ca_file;

// Keyed by path, size and modification time, so that a CA file rewritten in place (a test CA
// made anew, an updated bundle) is loaded again rather than served stale.
std::mutex cache_lock;
std::map<std::string, std::shared_ptr<TlsContext>>* cache = nullptr;

std::string CacheKey(const std::string& path) {
  if (path.empty()) return std::string();
  struct stat info {};
  if (stat(path.c_str(), &info) != 0) return path;
  return path + '\n' + std::to_string(info.st_size) + '\n' +
         std::to_string(info.st_mtim.tv_sec) + '.' + std::to_string(info.st_mtim.tv_nsec);
}

std::string LastOpenSslError() {
  unsigned long code = ERR_peek_last_error();
  if (code == 0) return "no detail";
  char text[256];
  ERR_error_string_n(code, text, sizeof(text));
  return text;
}

}  // namespace

TlsContext::~TlsContext() { SSL_CTX_free(ctx_); }

void TlsContext::SetExtraCaFile(const std::string& path) {
  std::lock_guard<std::mutex> hold(settings_lock);
  extra_ca_set = true;
  extra_ca_file = path;
}

void TlsContext::ClearExtraCaFile() {
  std::lock_guard<std::mutex> hold(settings_lock);
  extra_ca_set = false;
  extra_ca_file.clear();
}

std::string TlsContext::ExtraCaFile() {
  {
    std::lock_guard<std::mutex> hold(settings_lock);
    if (extra_ca_set) return extra_ca_file;
  }
  const char* env = std::getenv("VEXALO_CA_FILE");
  return env ? env : "";
}

std::shared_ptr<TlsContext> TlsContext::Get(const std::string& extra_ca_file_path, int* error) {
  *error = kSecOk;
  const std::string key = CacheKey(extra_ca_file_path);
  std::lock_guard<std::mutex> hold(cache_lock);
  if (!cache) cache = new std::map<std::string, std::shared_ptr<TlsContext>>();
  auto it = cache->find(key);
  if (it != cache->end()) return it->second;

  ERR_clear_error();
  SSL_CTX* ctx = SSL_CTX_new(TLS_client_method());
  if (!ctx) {
    LOG(kError) << "TlsContext: cannot create a TLS context: " << LastOpenSslError();
    *error = kSecInternalError;
    return nullptr;
  }
  std::shared_ptr<TlsContext> context(new TlsContext(ctx));
  SSL_CTX_set_min_proto_version(ctx, TLS1_2_VERSION);
  SSL_CTX_set_verify(ctx, SSL_VERIFY_PEER, nullptr);
  // The system's hashed certificate folder is read lazily, one issuer at a time; parsing the
  // whole bundle file up front costs hundreds of milliseconds per process. The bundle named by
  // SSL_CERT_FILE is read only when there is no folder to use.
  const char* cert_dir = std::getenv(X509_get_default_cert_dir_env());
  const char* cert_file = std::getenv(X509_get_default_cert_file_env());
  bool trusted = SSL_CTX_load_verify_dir(ctx, cert_dir ? cert_dir : X509_get_default_cert_dir()) == 1;
  if (!trusted && cert_file != nullptr) trusted = SSL_CTX_load_verify_file(ctx, cert_file) == 1;
  if (!trusted && SSL_CTX_set_default_verify_paths(ctx) != 1) {
    // Not fatal: the extra CA file may be all that is trusted on a bare system.
    LOG(kWarning) << "TlsContext: no system trust store: " << LastOpenSslError();
  }
  if (!extra_ca_file_path.empty() &&
      SSL_CTX_load_verify_locations(ctx, extra_ca_file_path.c_str(), nullptr) != 1) {
    LOG(kError) << "TlsContext: cannot load CA file " << extra_ca_file_path << ": "
                << LastOpenSslError();
    ERR_clear_error();
    *error = kSecNoCredentials;
    return nullptr;
  }
  ERR_clear_error();
  cache->emplace(key, context);
  return context;
}

}  // namespace vexalo
