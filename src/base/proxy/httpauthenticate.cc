#include "base/proxy/httpauthenticate.h"

#include <glib.h>
#include <gssapi/gssapi.h>
#include <gssapi/gssapi_ext.h>
#include <openssl/evp.h>
#include <sys/random.h>

#include <cstring>
#include <string_view>

#include "base/runtime/logging.h"
#include "text/asciitext.h"

namespace vexalo {
namespace {

std::string Base64(const void* data, size_t size) {
  gchar* encoded = g_base64_encode(static_cast<const guchar*>(data), size);
  std::string result(encoded);
  g_free(encoded);
  return result;
}

std::string Base64Decode(const std::string& text) {
  gsize size = 0;
  guchar* decoded = g_base64_decode(text.c_str(), &size);
  std::string result(reinterpret_cast<char*>(decoded), size);
  g_free(decoded);
  return result;
}

std::string Hex(const unsigned char* bytes, size_t size) {
  static const char kHex[] = "0123456789abcdef";
  std::string out;
  for (size_t i = 0; i < size; ++i) {
    out.push_back(kHex[bytes[i] >> 4]);
    out.push_back(kHex[bytes[i] & 15]);
  }
  return out;
}

std::string RandomHex(size_t bytes) {
  unsigned char buffer[32];
  bytes = std::min(bytes, sizeof(buffer));
  if (getrandom(buffer, bytes, 0) != static_cast<ssize_t>(bytes)) {
    for (size_t i = 0; i < bytes; ++i) buffer[i] = static_cast<unsigned char>(g_random_int());
  }
  return Hex(buffer, bytes);
}

// The security context of an NTLM or Negotiate exchange, through GSSAPI.
class GssAuthContext : public HttpAuthContext {
 public:
  GssAuthContext(const std::string& mechanism, bool explicit_credentials)
      : HttpAuthContext(mechanism), explicit_credentials_(explicit_credentials) {}
  ~GssAuthContext() override {
    OM_uint32 minor;
    if (context_ != GSS_C_NO_CONTEXT) gss_delete_sec_context(&minor, &context_, GSS_C_NO_BUFFER);
    if (credentials_ != GSS_C_NO_CREDENTIAL) gss_release_cred(&minor, &credentials_);
    if (target_ != GSS_C_NO_NAME) gss_release_name(&minor, &target_);
  }

  bool explicit_credentials() const { return explicit_credentials_; }
  int retries = 0;

  gss_OID_desc mechanism_oid;
  gss_cred_id_t credentials_ = GSS_C_NO_CREDENTIAL;
  gss_ctx_id_t context_ = GSS_C_NO_CONTEXT;
  gss_name_t target_ = GSS_C_NO_NAME;

 private:
  bool explicit_credentials_;
};

// SPNEGO for "Negotiate", NTLMSSP for "NTLM".
gss_OID_desc MechanismOid(const std::string& mechanism) {
  static const char kSpnego[] = "\x2b\x06\x01\x05\x05\x02";
  static const char kNtlm[] = "\x2b\x06\x01\x04\x01\x82\x37\x02\x02\x0a";
  if (EqualsNoCase(mechanism, "ntlm")) {
    return gss_OID_desc{sizeof(kNtlm) - 1, const_cast<char*>(kNtlm)};
  }
  return gss_OID_desc{sizeof(kSpnego) - 1, const_cast<char*>(kSpnego)};
}

std::string GssErrorText(OM_uint32 major, OM_uint32 minor) {
  std::string text;
  for (int pass = 0; pass < 2; ++pass) {
    OM_uint32 code = pass == 0 ? major : minor;
    int type = pass == 0 ? GSS_C_GSS_CODE : GSS_C_MECH_CODE;
    OM_uint32 context = 0, ignored;
    do {
      gss_buffer_desc message = GSS_C_EMPTY_BUFFER;
      if (gss_display_status(&ignored, code, type, GSS_C_NO_OID, &context, &message) != 0) break;
      if (!text.empty()) text += "; ";
      text.append(static_cast<char*>(message.value), message.length);
      gss_release_buffer(&ignored, &message);
    } while (context != 0);
  }
  return text;
}

// Makes the credentials and target of a fresh exchange. False (with a log line) when the
// mechanism cannot be used here.
bool StartGssContext(GssAuthContext* context, const SocketAddress& server,
                     const std::string& username, const SecretText& password) {
  OM_uint32 major, minor;
  context->mechanism_oid = MechanismOid(context->mechanism());
  std::string service = "HTTP@" + server.IPAsString();
  gss_buffer_desc service_buffer{service.size(), service.data()};
  major = gss_import_name(&minor, &service_buffer, GSS_C_NT_HOSTBASED_SERVICE, &context->target_);
  if (GSS_ERROR(major)) {
    LOG(kError) << "gss_import_name error: " << GssErrorText(major, minor);
    return false;
  }
  if (!context->explicit_credentials()) {
    LOG(kVerbose) << "Negotiate protocol: Using default credentials";
    return true;
  }
  LOG(kVerbose) << "Negotiate protocol: Using specified credentials";
  // "DOMAIN\user" names the domain first, as the proxy expects.
  gss_buffer_desc user_buffer{username.size(), const_cast<char*>(username.data())};
  gss_name_t user = GSS_C_NO_NAME;
  major = gss_import_name(&minor, &user_buffer, GSS_C_NT_USER_NAME, &user);
  if (GSS_ERROR(major)) {
    LOG(kError) << "AcquireCredentialsHandle error: " << GssErrorText(major, minor);
    return false;
  }
  ScopedClearText clear(password);
  gss_buffer_desc password_buffer{clear.size(), const_cast<char*>(clear.data())};
  gss_OID_set_desc mechanisms{1, &context->mechanism_oid};
  major = gss_acquire_cred_with_password(&minor, user, &password_buffer, GSS_C_INDEFINITE,
                                         &mechanisms, GSS_C_INITIATE, &context->credentials_,
                                         nullptr, nullptr);
  OM_uint32 ignored;
  gss_release_name(&ignored, &user);
  if (GSS_ERROR(major)) {
    LOG(kError) << "AcquireCredentialsHandle error: " << GssErrorText(major, minor);
    return false;
  }
  return true;
}

// One step of the exchange; the token to send, or false on failure.
bool StepGssContext(GssAuthContext* context, const std::string& input, std::string* output) {
  OM_uint32 minor;
  gss_buffer_desc in{input.size(), const_cast<char*>(input.data())};
  gss_buffer_desc out = GSS_C_EMPTY_BUFFER;
  OM_uint32 major = gss_init_sec_context(
      &minor, context->credentials_, &context->context_, context->target_,
      &context->mechanism_oid, GSS_C_CONF_FLAG | GSS_C_REPLAY_FLAG | GSS_C_SEQUENCE_FLAG, 0,
      GSS_C_NO_CHANNEL_BINDINGS, input.empty() ? GSS_C_NO_BUFFER : &in, nullptr, &out, nullptr,
      nullptr);
  if (GSS_ERROR(major)) {
    LOG(kError) << "InitializeSecurityContext returned: " << GssErrorText(major, minor);
    return false;
  }
  output->assign(static_cast<char*>(out.value), out.length);
  OM_uint32 ignored;
  gss_release_buffer(&ignored, &out);
  return true;
}

AuthResult AuthenticateGss(const HttpChallenge& parsed, const SocketAddress& server,
                           const std::string& username, const SecretText& password,
                           std::unique_ptr<HttpAuthContext>* context, std::string* response) {
  std::string output;
  int retries = 0;
  bool use_explicit = !username.empty();
  if (*context) {
    auto* gss = static_cast<GssAuthContext*>(context->get());
    if (++gss->retries > 9) {
      LOG(kWarning) << "AsyncHttpsProxySocket::Authenticate(Negotiate) too many retries";
      return AR_ERROR;
    }
    auto token = parsed.params.find("");
    if (token != parsed.params.end() && !token->second.empty()) {
      if (!StepGssContext(gss, Base64Decode(token->second), &output)) return AR_ERROR;
      *response = parsed.mechanism + " " + Base64(output.data(), output.size());
      return AR_RESPONSE;
    }
    // No token: the proxy turned the last attempt down.
    if (!gss->explicit_credentials()) return AR_CREDENTIALS;
    retries = gss->retries;
    use_explicit = false;
    context->reset();
  }
  const bool falling_back = retries > 0;
  auto fresh = std::make_unique<GssAuthContext>(parsed.mechanism, use_explicit);
  if (!StartGssContext(fresh.get(), server, username, password) ||
      !StepGssContext(fresh.get(), std::string(), &output)) {
    // After the proxy refused the configured credentials, having no usable default ones is a
    // credentials problem, not an incompatible proxy.
    return falling_back ? AR_CREDENTIALS : AR_IGNORE;
  }
  fresh->retries = retries;
  *context = std::move(fresh);
  *response = parsed.mechanism + " " + Base64(output.data(), output.size());
  return AR_RESPONSE;
}

}  // namespace

std::string Md5Hex(const std::string& text) {
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int size = 0;
  EVP_Digest(text.data(), text.size(), digest, &size, EVP_md5(), nullptr);
  return Hex(digest, size);
}

std::string DigestQuote(const std::string& text) {
  std::string out = "\"";
  for (char c : text) {
    if (c == '"' || c == '\\') out.push_back('\\');
    out.push_back(c);
  }
  out.push_back('"');
  return out;
}

HttpChallenge ParseHttpChallenge(const std::string& challenge) {
  HttpChallenge parsed;
  size_t pos = 0;
  const size_t end = challenge.size();
  auto is_space = [](char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; };
  while (pos < end && is_space(challenge[pos])) ++pos;
  size_t start = pos;
  while (pos < end && !is_space(challenge[pos])) ++pos;
  parsed.mechanism = challenge.substr(start, pos - start);
  for (;;) {
    while (pos < end && is_space(challenge[pos])) ++pos;
    if (pos >= end) break;
    start = pos;
    // A name runs up to white space, or up to an "=" followed by a real value character.
    while (pos < end && !is_space(challenge[pos])) {
      if (challenge[pos] == '=' && pos + 1 < end && !is_space(challenge[pos + 1]) &&
          challenge[pos + 1] != '=') {
        break;
      }
      ++pos;
    }
    std::string name = challenge.substr(start, pos - start);
    std::string value;
    if (pos >= end || challenge[pos] != '=') {
      parsed.params.emplace("", name);  // a bare token
    } else {
      ++pos;  // '='
      if (pos < end && challenge[pos] == '"') {
        ++pos;
        while (pos < end && challenge[pos] != '"') {
          if (challenge[pos] == '\\' && pos + 1 < end) ++pos;
          value.push_back(challenge[pos++]);
        }
        if (pos < end) ++pos;  // closing quote
      } else {
        start = pos;
        while (pos < end && !is_space(challenge[pos]) && challenge[pos] != ',') ++pos;
        value = challenge.substr(start, pos - start);
      }
      parsed.params.emplace(name, value);
    }
    if (pos < end && challenge[pos] == ',') ++pos;
  }
  return parsed;
}

AuthResult HttpAuthenticate(const std::string& challenge, const SocketAddress& server,
                            const std::string& method, const std::string& uri,
                            const std::string& username, const SecretText& password,
                            std::unique_ptr<HttpAuthContext>* context, std::string* response,
                            std::string* mechanism) {
  HttpChallenge parsed = ParseHttpChallenge(challenge);
  *mechanism = parsed.mechanism;
  if (*context && (*context)->mechanism() != parsed.mechanism) return AR_IGNORE;

  if (EqualsNoCase(parsed.mechanism, "basic")) {
    if (*context || username.empty()) return AR_CREDENTIALS;
    *context = std::make_unique<HttpAuthContext>(parsed.mechanism);
    ScopedClearText clear(password);
    std::string credentials = username + ":" + std::string(clear.data(), clear.size());
    *response = parsed.mechanism + " " + Base64(credentials.data(), credentials.size());
    SecureZero(credentials.data(), credentials.size());
    return AR_RESPONSE;
  }

  if (EqualsNoCase(parsed.mechanism, "digest")) {
    if (*context || username.empty()) return AR_CREDENTIALS;
    *context = std::make_unique<HttpAuthContext>(parsed.mechanism);
    const std::string& realm = parsed.params["realm"];
    const std::string& nonce = parsed.params["nonce"];
    const std::string cnonce = RandomHex(16);
    const std::string nc = "00000001";
    std::string ha1;
    {
      ScopedClearText clear(password);
      std::string secret = username + ":" + realm + ":" + std::string(clear.data(), clear.size());
      ha1 = Md5Hex(secret);
      SecureZero(secret.data(), secret.size());
    }
    const std::string ha2 = Md5Hex(method + ":" + uri);
    const bool has_qop = parsed.params.count("qop") > 0;
    const std::string digest =
        has_qop ? Md5Hex(ha1 + ":" + nonce + ":" + nc + ":" + cnonce + ":auth:" + ha2)
                : Md5Hex(ha1 + ":" + nonce + ":" + ha2);
    std::string text = parsed.mechanism + " username=" + DigestQuote(username) +
                       ", realm=" + DigestQuote(realm) + ", nonce=" + DigestQuote(nonce) +
                       ", uri=" + DigestQuote(uri);
    if (has_qop) text += ", qop=auth, nc=" + nc + ", cnonce=" + DigestQuote(cnonce);
    text += ", response=\"" + digest + "\"";
    auto opaque = parsed.params.find("opaque");
    if (opaque != parsed.params.end()) text += ", opaque=" + DigestQuote(opaque->second);
    *response = text;
    return AR_RESPONSE;
  }

  if (EqualsNoCase(parsed.mechanism, "negotiate") || EqualsNoCase(parsed.mechanism, "ntlm")) {
    return AuthenticateGss(parsed, server, username, password, context, response);
  }
  return AR_IGNORE;
}

}  // namespace vexalo
