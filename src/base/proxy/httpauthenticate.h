#pragma once

#include <map>
#include <memory>
#include <string>

#include "base/runtime/secrettext.h"
#include "base/net/socketaddress.h"

namespace vexalo {

enum AuthResult {
  AR_RESPONSE = 0,     // a response header value was produced
  AR_IGNORE = 1,       // mechanism not usable: look at the next challenge
  AR_CREDENTIALS = 2,  // credentials missing or rejected
  AR_ERROR = 3,
};

// What an authentication exchange keeps between challenges: the mechanism, and for NTLM and
// Negotiate the GSSAPI credentials and security context.
class HttpAuthContext {
 public:
  explicit HttpAuthContext(std::string mechanism) : mechanism_(std::move(mechanism)) {}
  virtual ~HttpAuthContext() = default;
  const std::string& mechanism() const { return mechanism_; }

 private:
  std::string mechanism_;
};

// A challenge split into its mechanism and parameters. A bare token (an NTLM or Negotiate
// blob, with its "=" padding) is stored under the empty name; the first value of a name wins.
struct HttpChallenge {
  std::string mechanism;
  std::map<std::string, std::string> params;
};
HttpChallenge ParseHttpChallenge(const std::string& challenge);

// Answers one "Proxy-Authenticate"/"WWW-Authenticate" challenge with Basic, Digest (MD5,
// qop=auth), NTLM or Negotiate (through GSSAPI: the user's default credentials, or the given
// ones). `context` carries the exchange from one challenge to the next.
AuthResult HttpAuthenticate(const std::string& challenge, const SocketAddress& server,
                            const std::string& method, const std::string& uri,
                            const std::string& username, const SecretText& password,
                            std::unique_ptr<HttpAuthContext>* context, std::string* response,
                            std::string* mechanism);

// Digest helpers, exposed for tests: the lower-case hex MD5 of `text`, and the quoting that
// Digest parameters use.
std::string Md5Hex(const std::string& text);
std::string DigestQuote(const std::string& text);

}  // namespace vexalo
