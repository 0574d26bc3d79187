// NTLM proxy authentication end to end: our client side (GSSAPI with the NTLM mechanism) against
// a scripted proxy whose acceptor is the same real NTLM implementation, checking the password.
#include <gssapi/gssapi.h>
#include <gtest/gtest.h>
#include <glib.h>
#include <stdlib.h>

#include <map>
#include <memory>
#include <string>

#include "base/proxy/asynchttpsproxysocket.h"
#include "base/net/socketerrors.h"
#include "support/scriptedtcpserver.h"

namespace vexalo {
namespace {

std::string FromBase64(const std::string& text) {
  gsize size = 0;
  guchar* bytes = g_base64_decode(text.c_str(), &size);
  std::string result(reinterpret_cast<char*>(bytes), size);
  g_free(bytes);
  return result;
}

std::string ToBase64(const std::string& bytes) {
  gchar* text = g_base64_encode(reinterpret_cast<const guchar*>(bytes.data()), bytes.size());
  std::string result(text);
  g_free(text);
  return result;
}

// The proxy's side of NTLM: a GSSAPI acceptor that knows one user from NTLM_USER_FILE.
class NtlmAcceptor {
 public:
  NtlmAcceptor(const std::string& user_file, bool spnego) {
    setenv("NTLM_USER_FILE", user_file.c_str(), 1);
    static const char kNtlm[] = "\x2b\x06\x01\x04\x01\x82\x37\x02\x02\x0a";
    static const char kSpnego[] = "\x2b\x06\x01\x05\x05\x02";
    oid_ = spnego ? gss_OID_desc{sizeof(kSpnego) - 1, const_cast<char*>(kSpnego)}
                  : gss_OID_desc{sizeof(kNtlm) - 1, const_cast<char*>(kNtlm)};
    gss_OID_set_desc mechanisms{1, &oid_};
    OM_uint32 minor;
    ok_ = !GSS_ERROR(gss_acquire_cred(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, &mechanisms,
                                      GSS_C_ACCEPT, &credentials_, nullptr, nullptr));
  }
  ~NtlmAcceptor() {
    OM_uint32 minor;
    if (context_ != GSS_C_NO_CONTEXT) gss_delete_sec_context(&minor, &context_, GSS_C_NO_BUFFER);
    if (credentials_ != GSS_C_NO_CREDENTIAL) gss_release_cred(&minor, &credentials_);
  }
  bool ok() const { return ok_; }

  // One step: the answer token, `complete` when authenticated; false when refused.
  bool Step(const std::string& token, std::string* answer, bool* complete) {
    OM_uint32 minor;
    gss_buffer_desc in{token.size(), const_cast<char*>(token.data())};
    gss_buffer_desc out = GSS_C_EMPTY_BUFFER;
    OM_uint32 major = gss_accept_sec_context(&minor, &context_, credentials_, &in,
                                             GSS_C_NO_CHANNEL_BINDINGS, nullptr, nullptr, &out,
                                             nullptr, nullptr, nullptr);
    answer->assign(static_cast<char*>(out.value), out.length);
    gss_release_buffer(&minor, &out);
    *complete = major == GSS_S_COMPLETE;
    return !GSS_ERROR(major);
  }

 private:
  gss_OID_desc oid_;
  gss_cred_id_t credentials_ = GSS_C_NO_CREDENTIAL;
  gss_ctx_id_t context_ = GSS_C_NO_CONTEXT;
  bool ok_ = false;
};

std::string AuthorizationToken(const std::string& request, const std::string& mechanism) {
  const std::string key = "Proxy-Authorization: " + mechanism + " ";
  size_t at = request.rfind(key);
  if (at == std::string::npos) return "";
  size_t end = request.find("\r\n", at);
  return request.substr(at + key.size(), end - at - key.size());
}

int NtlmThroughScriptedProxy(const std::string& user, const std::string& password,
                             const std::string& mechanism = "NTLM") {
  char dir_template[] = "/tmp/vexalo-ntlm-XXXXXX";
  std::string dir = mkdtemp(dir_template);
  std::string user_file = dir + "/users";
  FILE* f = fopen(user_file.c_str(), "w");
  fputs("EXAMPLE:alice:wonderland\n", f);
  fclose(f);
  NtlmAcceptor acceptor(user_file, mechanism == "Negotiate");
  if (!acceptor.ok()) return -10;

  ScriptedTcpServer proxy;
  std::map<ScriptedTcpServer::Connection*, size_t> answered_on;  // a new connection starts over
  proxy.on_data = [&](size_t, ScriptedTcpServer::Connection* c) {
    size_t& answered = answered_on[c];
    size_t pos = 0;
    size_t requests = 0;
    while ((pos = c->received.find("\r\n\r\n", pos)) != std::string::npos) {
      ++requests;
      pos += 4;
    }
    while (answered < requests) {
      ++answered;
      std::string token = AuthorizationToken(c->received, mechanism);
      const std::string keep = "Proxy-Connection: Keep-Alive\r\nContent-Length: 0\r\n\r\n";
      if (answered == 1) {
        c->Send("HTTP/1.1 407 Auth\r\nProxy-Authenticate: " + mechanism + "\r\n" + keep);
        continue;
      }
      std::string answer;
      bool complete = false;
      if (!acceptor.Step(FromBase64(token), &answer, &complete)) {
        c->Send("HTTP/1.1 407 Auth\r\nProxy-Authenticate: " + mechanism + "\r\n" + keep);
      } else if (complete) {
        c->Send("HTTP/1.1 200 Connection established\r\n\r\n");
      } else {
        c->Send("HTTP/1.1 407 Auth\r\nProxy-Authenticate: " + mechanism + " " +
                ToBase64(answer) + "\r\n" + keep);
      }
    }
  };
  AsyncHttpsProxySocket socket(CurrentHub()->CreateEventSocket(kStreamSocket), "Vexalo/test",
                               proxy.address(), user, SecretText::FromClearText(password));
  SocketRecorder events(&socket);
  socket.Connect(SocketAddress(0x0A000001u, 5222));
  bool done = RunUntil([&] { return events.connects > 0 || events.closes > 0; });
  unlink(user_file.c_str());
  rmdir(dir.c_str());
  if (!done) return -2;
  return events.connects > 0 ? -1 : events.close_error;
}

TEST(NtlmProxyTest, ExplicitCredentialsPassTheThreeMessageExchange) {
  EXPECT_EQ(NtlmThroughScriptedProxy("EXAMPLE\\alice", "wonderland"), -1);
}

TEST(NtlmProxyTest, WrongPasswordEndsInACredentialsError) {
  // Refused explicit credentials fall back to the default ones, which this machine lacks.
  EXPECT_EQ(NtlmThroughScriptedProxy("EXAMPLE\\alice", "wrong"), kSocketAccessDenied);
}

// Negotiate (SPNEGO) with NTLM inside, as proxies outside a Kerberos realm offer it.
TEST(NtlmProxyTest, NegotiateFallsToNtlmWithExplicitCredentials) {
  EXPECT_EQ(NtlmThroughScriptedProxy("EXAMPLE\\alice", "wonderland", "Negotiate"), -1);
}

}  // namespace
}  // namespace vexalo
