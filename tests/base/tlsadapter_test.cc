#include "base/tls/tlsadapter.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "base/runtime/logging.h"
#include "base/net/socketerrors.h"
#include "base/tls/tlscontext.h"
#include "base/tls/tlserrors.h"
#include "support/sockettestutil.h"
#include "support/tlstestpeer.h"

namespace vexalo {
namespace {

using tlstest::CertOptions;
using tlstest::Credentials;
using tlstest::ServerConnection;
using tlstest::ServerOptions;
using tlstest::TestPki;
using tlstest::TlsTestServer;

constexpr long kDay = 86400;

// Sits between the TLS adapter and the real socket and counts what passes, so that a test can
// tell what arrived from the network apart from what the adapter reports.
class WireTap : public SocketAdapter {
 public:
  explicit WireTap(EventSocket* socket) : SocketAdapter(socket) {}
  int Recv(void* buffer, size_t size) override {
    int count = SocketAdapter::Recv(buffer, size);
    if (count > 0) bytes_received += static_cast<size_t>(count);
    return count;
  }

  size_t bytes_received = 0;
  int closes = 0;

 protected:
  void OnCloseEvent(EventSocket* socket, int error) override {
    ++closes;
    SocketAdapter::OnCloseEvent(socket, error);
  }
};

// Byte i of a long test stream, so that lost, doubled or reordered bytes show.
char PatternByte(size_t i) { return static_cast<char>('a' + (i * 7 + i / 251) % 26); }

std::string Pattern(size_t offset, size_t length) {
  std::string data(length, '\0');
  for (size_t i = 0; i < length; ++i) data[i] = PatternByte(offset + i);
  return data;
}

bool IsPattern(const std::string& data) {
  for (size_t i = 0; i < data.size(); ++i) {
    if (data[i] != PatternByte(i)) return false;
  }
  return true;
}

class TlsAdapterTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    pki_ = new TestPki();
    localhost_ = new Credentials(pki_->Issue(CertOptions{}));
  }
  static void TearDownTestSuite() {
    delete localhost_;
    delete pki_;
  }

  void TearDown() override { ResetLogging(); }

  // A TLS adapter over a tap over a new socket of this thread's hub, trusting the test CA.
  void MakeClient(bool trust_test_ca = true) {
    events_.reset();
    tls_.reset();
    tap_ = new WireTap(CurrentHub()->CreateEventSocket(kStreamSocket));
    tls_ = std::make_unique<TlsAdapter>(tap_);
    if (trust_test_ca) tls_->SetCaFile(pki_->ca_file());
    events_ = std::make_unique<SocketRecorder>(tls_.get());
  }

  void Connect(uint16_t port) {
    if (tls_->Connect(Loopback(port)) != 0) {
      ASSERT_TRUE(IsBlockingError(tls_->GetError())) << tls_->GetError();
    }
  }

  // StartSSL, connect, and wait for the handshake's outcome.
  void ConnectTls(uint16_t port, const std::string& host = "localhost") {
    ASSERT_EQ(tls_->StartSSL(host, false), 0);
    Connect(port);
    ASSERT_TRUE(RunUntil([&] { return events_->connects > 0 || events_->closes > 0; }));
  }

  std::string RecvAvailable() {
    std::string data;
    char buffer[65536];
    int count;
    while ((count = tls_->Recv(buffer, sizeof(buffer))) > 0) data.append(buffer, count);
    return data;
  }

  static TestPki* pki_;
  static Credentials* localhost_;
  WireTap* tap_ = nullptr;  // owned by tls_
  std::unique_ptr<TlsAdapter> tls_;
  std::unique_ptr<SocketRecorder> events_;
};

TestPki* TlsAdapterTest::pki_ = nullptr;
Credentials* TlsAdapterTest::localhost_ = nullptr;

TEST(TlsErrorNamesTest, NamesTheSecurityCodes) {
  struct Case {
    int code;
    const char* name;
  } cases[] = {
      {kSecCertExpired, "SEC_E_CERT_EXPIRED"},
      {kSecUntrustedRoot, "SEC_E_UNTRUSTED_ROOT"},
      {kSecWrongPrincipal, "SEC_E_WRONG_PRINCIPAL"},
      {kSecInvalidToken, "SEC_E_INVALID_TOKEN"},
      {kSecContinueNeeded, "SEC_I_CONTINUE_NEEDED"},
      {kSecIncompleteCredentials, "SEC_I_INCOMPLETE_CREDENTIALS"},
      {kSecOk, "No error"},
      {SecurityCode(0x80090399), "0x80090399"},
      {kTlsAlreadyStarted, "0x000004df"},
  };
  for (const Case& c : cases) EXPECT_EQ(TlsErrorName(c.code), c.name) << c.code;
}

TEST_F(TlsAdapterTest, StartSSLTwiceReturnsAlreadyInitialised) {
  MakeClient();
  EXPECT_EQ(tls_->StartSSL("localhost", false), 0);
  EXPECT_EQ(tls_->tls_state(), TLS_WAIT);
  EXPECT_EQ(tls_->StartSSL("localhost", true), kTlsAlreadyStarted);
  EXPECT_EQ(tls_->tls_state(), TLS_WAIT);
}

// Without a name any certificate from a trusted authority would pass: nothing is sent.
TEST_F(TlsAdapterTest, TargetNameThatCannotBeCheckedIsRefused) {
  std::atomic<int> bytes_seen{0}, finished{0};
  TlsTestServer server(ServerOptions{*localhost_}, [&](ServerConnection& s) {
    bytes_seen += static_cast<int>(s.RawRead(1).size());
    ++finished;
  });
  int clients = 0;
  const std::string names[] = {"", std::string("localhost\0.other.test", 21)};
  for (const std::string& name : names) {
    for (bool before_connect : {true, false}) {
      SCOPED_TRACE(testing::Message() << "name of " << name.size() << " bytes, "
                                      << (before_connect ? "before" : "after") << " connect");
      MakeClient();
      if (before_connect) {
        ASSERT_EQ(tls_->StartSSL(name, false), 0);
        Connect(server.port());
        ASSERT_TRUE(RunUntil([&] { return events_->closes > 0; }));
        EXPECT_EQ(events_->close_error, kSecTargetUnknown);
      } else {
        Connect(server.port());
        ASSERT_TRUE(RunUntil([&] { return events_->connects > 0; }));
        EXPECT_EQ(tls_->StartSSL(name, false), kSecTargetUnknown);
      }
      EXPECT_EQ(tls_->tls_state(), TLS_ERROR);
      EXPECT_EQ(tls_->Send("x", 1), -1);
      tls_->Close();
      ++clients;
      ASSERT_TRUE(RunUntil([&] { return finished.load() == clients; }));
    }
  }
  EXPECT_EQ(bytes_seen.load(), 0);
}

TEST_F(TlsAdapterTest, StartSSLBeforeConnectHoldsDataUntilTlsIsUpAndClosesWithCloseNotify) {
  std::atomic<bool> server_done{false};
  std::string server_sni, server_got;
  bool close_notify = false;
  TlsTestServer server(ServerOptions{*localhost_}, [&](ServerConnection& c) {
    if (c.Handshake()) {
      server_sni = c.sni();
      server_got = c.Read(5);
      c.Write("world");
      close_notify = c.ReadUntilClose(nullptr);
    }
    server_done = true;
  });

  MakeClient();
  ASSERT_EQ(tls_->StartSSL("localhost", false), 0);
  EXPECT_EQ(tls_->Send("early", 5), -1);
  EXPECT_EQ(tls_->GetError(), kSocketWouldBlock);

  // What the owner sees between the TCP connect and the end of the handshake.
  ConnState state_at_tcp_connect = CONN_CLOSED;
  int send_at_tcp_connect = 0, error_at_tcp_connect = 0;
  SlotHost observer;
  tap_->ConnectEvent.Connect(&observer, [&](EventSocket*) {
    state_at_tcp_connect = tls_->GetState();
    send_at_tcp_connect = tls_->Send("early", 5);
    error_at_tcp_connect = tls_->GetError();
  });
  Connect(server.port());
  ASSERT_TRUE(RunUntil([&] { return events_->connects > 0 || events_->closes > 0; }));
  EXPECT_EQ(state_at_tcp_connect, CONN_CONNECTING);
  EXPECT_EQ(send_at_tcp_connect, -1);
  EXPECT_EQ(error_at_tcp_connect, kSocketWouldBlock);
  EXPECT_EQ(events_->connects, 1);
  EXPECT_EQ(tls_->tls_state(), TLS_CONNECTED);
  EXPECT_EQ(tls_->GetState(), CONN_CONNECTED);

  ASSERT_EQ(tls_->Send("hello", 5), 5);
  ASSERT_TRUE(RunUntil([&] { return events_->reads > 0; }));
  EXPECT_EQ(RecvAvailable(), "world");

  EXPECT_EQ(tls_->Close(), 0);
  EXPECT_EQ(tls_->tls_state(), TLS_NONE);
  ASSERT_TRUE(RunUntil([&] { return server_done.load(); }));
  EXPECT_EQ(server_sni, "localhost");
  EXPECT_EQ(server_got, "hello");
  EXPECT_TRUE(close_notify);
  EXPECT_EQ(events_->connects, 1);
  EXPECT_EQ(events_->closes, 0);
}

// The server's certificate and behaviour against what the client ends with.
TEST_F(TlsAdapterTest, CertificateAndHandshakeOutcomes) {
  enum Script { kTls, kHangUp, kPlainText };
  struct Case {
    const char* name;
    Credentials credentials;
    const char* host;
    Script script;
    int max_version;
    bool require_client_certificate;
    int connects;     // ConnectEvents expected
    int close_error;  // -1: stays connected
    const char* sni;  // as the server saw it
  };
  const Credentials& good = *localhost_;
  const Case cases[] = {
      {"trusted, by name", good, "localhost", kTls, 0, false, 1, -1, "localhost"},
      {"trusted, by address", good, "127.0.0.1", kTls, 0, false, 1, -1, ""},
      {"trusted, TLS 1.2", good, "localhost", kTls, TLS1_2_VERSION, false, 1, -1, "localhost"},
      {"expired", pki_->Issue(CertOptions{"localhost", "DNS:localhost", -2 * kDay, -kDay}),
       "localhost", kTls, 0, false, 0, kSecCertExpired, nullptr},
      {"not yet valid", pki_->Issue(CertOptions{"localhost", "DNS:localhost", kDay, 2 * kDay}),
       "localhost", kTls, 0, false, 0, kSecCertExpired, nullptr},
      {"self-signed", tlstest::MakeCredentials(CertOptions{}), "localhost", kTls, 0, false, 0,
       kSecUntrustedRoot, nullptr},
      {"other name", pki_->Issue(CertOptions{"other.test", "DNS:other.test"}), "localhost", kTls, 0,
       false, 0, kSecWrongPrincipal, nullptr},
      {"name only, address asked", pki_->Issue(CertOptions{"localhost", "DNS:localhost"}),
       "127.0.0.1", kTls, 0, false, 0, kSecWrongPrincipal, nullptr},
      {"client certificate demanded", good, "localhost", kTls, 0, true, 1,
       kSecIncompleteCredentials, nullptr},
      {"server hangs up", good, "localhost", kHangUp, 0, false, 0, kSocketConnectionReset, nullptr},
      {"server speaks plain text", good, "localhost", kPlainText, 0, false, 0, kSecInvalidToken,
       nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::atomic<bool> server_done{false};
    std::string server_sni;
    TlsTestServer server(ServerOptions{c.credentials, c.max_version, c.require_client_certificate},
                         [&](ServerConnection& s) {
                           if (c.script == kHangUp) {
                             s.RawRead(1);
                           } else if (c.script == kPlainText) {
                             s.RawRead(1);
                             s.RawWrite("HTTP/1.1 400 Bad Request\r\n\r\n");
                           } else if (s.Handshake()) {
                             server_sni = s.sni();
                             s.Write("ok");
                             s.ReadUntilClose(nullptr);
                           }
                           server_done = true;
                         });
    MakeClient();
    ConnectTls(server.port(), c.host);
    if (c.close_error == -1) {
      ASSERT_TRUE(RunUntil([&] { return events_->reads > 0; }));
      EXPECT_EQ(RecvAvailable(), "ok");
      tls_->Close();
      ASSERT_TRUE(RunUntil([&] { return server_done.load(); }));
      EXPECT_EQ(server_sni, c.sni);
    } else {
      // The server ends the connection after the failure: that close is not reported again.
      ASSERT_TRUE(RunUntil([&] { return events_->closes > 0 && tap_->closes > 0; }));
      EXPECT_EQ(events_->close_error, c.close_error) << TlsErrorName(events_->close_error);
      EXPECT_EQ(events_->closes, 1);
      if (c.close_error != kSocketConnectionReset) {
        EXPECT_EQ(tls_->tls_state(), TLS_ERROR);
        EXPECT_EQ(tls_->Send("x", 1), -1);
        char byte;
        EXPECT_EQ(tls_->Recv(&byte, 1), -1);
      }
    }
    EXPECT_EQ(events_->connects, c.connects);
    tls_->Close();
  }
}

TEST_F(TlsAdapterTest, ExtraCaFileComesFromTheAdapterTheProcessOrTheEnvironment) {
  struct Restore {
    ~Restore() {
      TlsContext::ClearExtraCaFile();
      unsetenv("VEXALO_CA_FILE");
    }
  } restore;
  const std::string ca = pki_->ca_file();
  const std::string missing = pki_->dir() + "/missing.pem";
  struct Case {
    const char* name;
    const char* env;          // null: unset
    const std::string* process;  // null: not set
    const std::string* adapter;  // null: not set
    int close_error;          // -1: connects
  };
  const std::string empty;
  const Case cases[] = {
      {"system store only", nullptr, nullptr, nullptr, kSecUntrustedRoot},
      {"environment", ca.c_str(), nullptr, nullptr, -1},
      {"process setting", nullptr, &ca, nullptr, -1},
      {"process setting of none beats environment", ca.c_str(), &empty, nullptr,
       kSecUntrustedRoot},
      {"adapter beats process", nullptr, &missing, &ca, -1},
      {"missing file", nullptr, &missing, nullptr, kSecNoCredentials},
  };
  TlsTestServer server(ServerOptions{*localhost_}, [&](ServerConnection& s) {
    if (s.Handshake()) s.ReadUntilClose(nullptr);
  });
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.env) {
      setenv("VEXALO_CA_FILE", c.env, 1);
    } else {
      unsetenv("VEXALO_CA_FILE");
    }
    if (c.process) {
      TlsContext::SetExtraCaFile(*c.process);
    } else {
      TlsContext::ClearExtraCaFile();
    }
    MakeClient(false);
    if (c.adapter) tls_->SetCaFile(*c.adapter);
    ConnectTls(server.port());
    if (c.close_error == -1) {
      EXPECT_EQ(events_->connects, 1);
      EXPECT_EQ(events_->closes, 0);
    } else {
      EXPECT_EQ(events_->connects, 0);
      EXPECT_EQ(events_->close_error, c.close_error) << TlsErrorName(events_->close_error);
    }
    tls_->Close();
  }
}

TEST_F(TlsAdapterTest, RecordSplitAcrossReadsIsDecryptedOnlyWhenComplete) {
  const std::string message = Pattern(0, 100);
  TlsTestServer server(ServerOptions{*localhost_}, [&](ServerConnection& s) {
    if (!s.Handshake() || !s.WaitGate(0)) return;
    std::string records = s.Records(message);
    s.RawWrite(records.substr(0, 10));
    if (!s.WaitGate(1)) return;
    s.RawWrite(records.substr(10));
    s.ReadUntilClose(nullptr);
  });
  MakeClient();
  ConnectTls(server.port());
  ASSERT_EQ(events_->connects, 1);
  const size_t before = tap_->bytes_received;

  server.Open(0);
  ASSERT_TRUE(RunUntil([&] { return tap_->bytes_received == before + 10; }));
  EXPECT_EQ(events_->reads, 0);
  EXPECT_EQ(tls_->readable_bytes(), 0u);
  char buffer[200];
  EXPECT_EQ(tls_->Recv(buffer, sizeof(buffer)), -1);
  EXPECT_EQ(tls_->GetError(), kSocketWouldBlock);

  server.Open(1);
  ASSERT_TRUE(RunUntil([&] { return events_->reads > 0; }));
  EXPECT_EQ(RecvAvailable(), message);
  EXPECT_EQ(events_->closes, 0);
}

TEST_F(TlsAdapterTest, ReaderTakingLessThanDecryptedGetsFurtherReadEventsWithoutNetworkInput) {
  const std::string message = Pattern(0, 100);
  TlsTestServer server(ServerOptions{*localhost_}, [&](ServerConnection& s) {
    if (!s.Handshake() || !s.WaitGate(0)) return;
    s.Write(message);
    s.ReadUntilClose(nullptr);
  });
  MakeClient();
  ConnectTls(server.port());
  ASSERT_EQ(events_->connects, 1);

  std::string received;
  size_t network_bytes_at_first_read = 0;
  events_->on_read = [&](EventSocket*) {
    if (received.empty()) network_bytes_at_first_read = tap_->bytes_received;
    char buffer[10];
    int count = tls_->Recv(buffer, sizeof(buffer));
    if (count > 0) received.append(buffer, count);
  };
  server.Open(0);
  ASSERT_TRUE(RunUntil([&] { return received.size() == message.size(); }));
  EXPECT_EQ(received, message);
  EXPECT_EQ(events_->reads, 10);
  EXPECT_EQ(tap_->bytes_received, network_bytes_at_first_read);
}

TEST_F(TlsAdapterTest, PeerCloseIsReportedOnlyAfterUnreadDataWasRead) {
  for (bool close_notify : {true, false}) {
    SCOPED_TRACE(close_notify ? "with close-notify" : "TCP close only");
    const std::string message = Pattern(0, 100);
    TlsTestServer server(ServerOptions{*localhost_}, [&](ServerConnection& s) {
      if (!s.Handshake()) return;
      s.Write(message);
      if (close_notify) s.SendCloseNotify();
    });
    MakeClient();
    ConnectTls(server.port());
    ASSERT_EQ(events_->connects, 1);

    // The socket below has closed; the adapter holds the close back behind the data.
    ASSERT_TRUE(RunUntil([&] { return tap_->closes > 0; }));
    EXPECT_GE(events_->reads, 1);
    EXPECT_EQ(events_->closes, 0);
    EXPECT_EQ(tls_->GetState(), CONN_CONNECTED);
    EXPECT_EQ(tls_->readable_bytes(), message.size());

    EXPECT_EQ(RecvAvailable(), message);
    ASSERT_TRUE(RunUntil([&] { return events_->closes > 0; }));
    EXPECT_EQ(events_->close_error, 0);
    EXPECT_EQ(events_->closes, 1);
    tls_->Close();
  }
}

TEST_F(TlsAdapterTest, RestartableAdapterRunsAFreshHandshakeOnTheNextConnect) {
  std::atomic<int> handshakes{0};
  TlsTestServer server(ServerOptions{*localhost_}, [&](ServerConnection& s) {
    if (!s.Handshake()) return;
    ++handshakes;
    s.Write(s.Read(3));
    s.ReadUntilClose(nullptr);
  });
  MakeClient();
  ASSERT_EQ(tls_->StartSSL("localhost", true), 0);
  for (const char* word : {"one", "two"}) {
    SCOPED_TRACE(word);
    const int connects_before = events_->connects;
    const int reads_before = events_->reads;
    Connect(server.port());
    ASSERT_TRUE(RunUntil([&] { return events_->connects > connects_before; }));
    ASSERT_EQ(tls_->Send(word, 3), 3);
    ASSERT_TRUE(RunUntil([&] { return events_->reads > reads_before; }));
    EXPECT_EQ(RecvAvailable(), word);
    tls_->Close();
    EXPECT_EQ(tls_->tls_state(), TLS_WAIT);
    EXPECT_EQ(tls_->GetState(), CONN_CLOSED);
  }
  EXPECT_EQ(handshakes.load(), 2);
  EXPECT_EQ(events_->connects, 2);
  EXPECT_EQ(events_->closes, 0);
}

TEST_F(TlsAdapterTest, StartTlsUpgradesAPlainStreamMidway) {
  std::string server_saw_plain, server_saw_secure;
  std::atomic<bool> server_done{false};
  TlsTestServer server(ServerOptions{*localhost_}, [&](ServerConnection& s) {
    server_saw_plain = s.RawRead(10);
    s.RawWrite("PROCEED\r\n");
    if (s.Handshake()) {
      server_saw_secure = s.Read(5);
      s.Write("world");
      s.ReadUntilClose(nullptr);
    }
    server_done = true;
  });
  MakeClient();
  Connect(server.port());
  ASSERT_TRUE(RunUntil([&] { return events_->connects > 0; }));
  EXPECT_EQ(tls_->tls_state(), TLS_NONE);
  ASSERT_EQ(tls_->Send("STARTTLS\r\n", 10), 10);

  // The owner switches to TLS from its read handler, as an XMPP stream does.
  std::string plain;
  int start_result = -1, second_start = -1;
  ConnState state_after_start = CONN_CLOSED;
  events_->on_read = [&](EventSocket*) {
    if (tls_->tls_state() != TLS_NONE) return;
    plain += RecvAvailable();
    if (plain == "PROCEED\r\n") {
      start_result = tls_->StartSSL("localhost", false);
      state_after_start = tls_->GetState();
      second_start = tls_->StartSSL("localhost", false);
    }
  };
  ASSERT_TRUE(RunUntil([&] { return events_->connects > 1 || events_->closes > 0; }));
  EXPECT_EQ(start_result, 0);
  EXPECT_EQ(state_after_start, CONN_CONNECTING);
  EXPECT_EQ(second_start, kTlsAlreadyStarted);
  EXPECT_EQ(events_->connects, 2);
  EXPECT_EQ(tls_->tls_state(), TLS_CONNECTED);

  const int reads_before = events_->reads;
  ASSERT_EQ(tls_->Send("hello", 5), 5);
  ASSERT_TRUE(RunUntil([&] { return events_->reads > reads_before; }));
  EXPECT_EQ(RecvAvailable(), "world");
  tls_->Close();
  ASSERT_TRUE(RunUntil([&] { return server_done.load(); }));
  EXPECT_EQ(server_saw_plain, "STARTTLS\r\n");
  EXPECT_EQ(server_saw_secure, "hello");
}

TEST_F(TlsAdapterTest, SocketIsLeftUnreadWhileDecryptedDataWaitsForTheReader) {
  const size_t total = 3 * TlsAdapter::kMaxReadableBytes;
  TlsTestServer server(ServerOptions{*localhost_}, [&](ServerConnection& s) {
    if (!s.Handshake() || !s.WaitGate(0)) return;
    for (size_t sent = 0; sent < total; sent += 65536) {
      if (!s.Write(Pattern(sent, std::min<size_t>(65536, total - sent)))) return;
    }
    s.ReadUntilClose(nullptr);
  });
  MakeClient();
  ConnectTls(server.port());
  ASSERT_EQ(events_->connects, 1);
  const size_t before = tap_->bytes_received;

  server.Open(0);  // nobody reads yet
  ASSERT_TRUE(RunUntil([&] { return tls_->reading_paused(); }));
  const size_t taken = tap_->bytes_received - before;
  EXPECT_GE(tls_->readable_bytes(), TlsAdapter::kMaxReadableBytes);
  EXPECT_LE(tls_->readable_bytes(), TlsAdapter::kMaxReadableBytes + 16384);
  // Decrypted data plus at most a block and a partial record of ciphertext.
  EXPECT_LE(taken, TlsAdapter::kMaxReadableBytes + TlsAdapter::kReadBlockSize + 40 * 1024);
  for (int i = 0; i < 10; ++i) ThreadRegistry::Current()->RunFor(5);
  EXPECT_EQ(tap_->bytes_received - before, taken);

  // Reading resumes the flow; every byte arrives once and in order.
  std::string received;
  size_t peak = 0;
  auto read_some = [&] {
    peak = std::max(peak, tls_->readable_bytes());
    char buffer[65536];
    int count = tls_->Recv(buffer, sizeof(buffer));
    if (count > 0) received.append(buffer, count);
  };
  events_->on_read = [&](EventSocket*) { read_some(); };
  read_some();
  ASSERT_TRUE(RunUntil([&] { return received.size() == total; }));
  EXPECT_TRUE(IsPattern(received));
  EXPECT_LE(peak, TlsAdapter::kMaxReadableBytes + 16384);
  EXPECT_EQ(events_->closes, 0);
}

TEST_F(TlsAdapterTest, SendBeyondTheCiphertextCapWouldBlocksUntilDrained) {
  std::atomic<bool> server_done{false};
  std::string server_got;
  bool close_notify = false;
  TlsTestServer server(ServerOptions{*localhost_}, [&](ServerConnection& s) {
    if (s.Handshake() && s.WaitGate(0)) close_notify = s.ReadUntilClose(&server_got);
    server_done = true;
  });
  MakeClient();
  ConnectTls(server.port());
  ASSERT_EQ(events_->connects, 1);
  // The connection's first write readiness may come before or after the handshake completes.
  for (int i = 0; i < 5; ++i) ThreadRegistry::Current()->RunFor(2);
  const int writes_before = events_->writes;

  // The server does not read: the kernel's buffers fill first, then ours up to the cap.
  constexpr size_t kChunk = 256 * 1024;
  size_t sent = 0;
  int result = 0;
  while (sent < (256u << 20) && (result = tls_->Send(Pattern(sent, kChunk).data(), kChunk)) > 0) {
    ASSERT_EQ(static_cast<size_t>(result), kChunk);
    sent += kChunk;
  }
  ASSERT_EQ(result, -1);
  EXPECT_EQ(tls_->GetError(), kSocketWouldBlock);
  EXPECT_GE(tls_->pending_ciphertext_bytes(), TlsAdapter::kMaxPendingCiphertext);
  EXPECT_LT(tls_->pending_ciphertext_bytes(), TlsAdapter::kMaxPendingCiphertext + kChunk + 4096);
  // No write readiness while the server does not read.
  for (int i = 0; i < 5; ++i) ThreadRegistry::Current()->RunFor(2);
  EXPECT_EQ(events_->writes, writes_before);

  // Once the server reads, WriteEvent says when to go on; send as much again.
  const size_t target = 2 * sent;
  auto send_more = [&] {
    while (sent < target) {
      const size_t length = std::min(kChunk, target - sent);
      int n = tls_->Send(Pattern(sent, length).data(), length);
      if (n <= 0) break;
      sent += static_cast<size_t>(n);
    }
  };
  SlotHost host;
  tls_->WriteEvent.Connect(&host, [&](EventSocket*) { send_more(); });
  server.Open(0);
  ASSERT_TRUE(RunUntil([&] { return sent == target && tls_->pending_ciphertext_bytes() == 0; }));
  EXPECT_GT(events_->writes, writes_before);
  tls_->Close();
  ASSERT_TRUE(RunUntil([&] { return server_done.load(); }));
  EXPECT_TRUE(close_notify);
  EXPECT_EQ(server_got.size(), target);
  EXPECT_TRUE(IsPattern(server_got));
}

// Owners drop a connection from its own event handlers; the adapter must not touch itself
// afterwards (the sanitizer build sees it if it does).
TEST_F(TlsAdapterTest, OwnerMayDeleteTheAdapterFromItsEventHandlers) {
  enum Event { kConnect, kRead, kClose };
  for (Event event : {kConnect, kRead, kClose}) {
    SCOPED_TRACE(event);
    // TLS 1.2 lets the server's data come in the same read as the end of the handshake.
    TlsTestServer server(ServerOptions{*localhost_, TLS1_2_VERSION}, [&](ServerConnection& s) {
      if (!s.Handshake()) return;
      if (event != kClose) s.Write("data");
      s.SendCloseNotify();
      s.RawRead(1);
    });
    MakeClient();
    bool deleted = false;
    SlotHost host;
    // Deleting the adapter frees this very closure: nothing of it is touched afterwards.
    auto drop = [tls = &tls_, events = &events_, &deleted](EventSocket*) {
      deleted = true;
      std::unique_ptr<TlsAdapter>* adapter = tls;
      events->reset();
      adapter->reset();
    };
    if (event == kConnect) tls_->ConnectEvent.Connect(&host, drop);
    if (event == kRead) tls_->ReadEvent.Connect(&host, drop);
    if (event == kClose) tls_->CloseEvent.Connect(&host, [&](EventSocket* s, int) { drop(s); });
    ASSERT_EQ(tls_->StartSSL("localhost", false), 0);
    Connect(server.port());
    ASSERT_TRUE(RunUntil([&] { return deleted; }));
    for (int i = 0; i < 5; ++i) ThreadRegistry::Current()->RunFor(2);
  }
}

TEST_F(TlsAdapterTest, MalformedRecordsEndTheConnectionWithInvalidToken) {
  struct Case {
    const char* name;
    std::string bytes;
  } cases[] = {
      {"record failing authentication", std::string("\x17\x03\x03\x00\x20", 5) + std::string(32, 'A')},
      {"record longer than the protocol allows", std::string("\x17\x03\x03\xff\xff", 5) + "AAAA"},
      {"plain text", "HTTP/1.1 200 OK\r\n\r\n"},
  };
  std::string log;
  SetLogConsoleSink([&](std::string_view line) { log += line; });
  LogToDebug(kWarning);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    log.clear();
    TlsTestServer server(ServerOptions{*localhost_}, [&](ServerConnection& s) {
      if (!s.Handshake()) return;
      s.RawWrite(c.bytes);
      s.RawRead(1);  // until the client goes
    });
    MakeClient();
    ConnectTls(server.port());
    ASSERT_EQ(events_->connects, 1);
    ASSERT_TRUE(RunUntil([&] { return events_->closes > 0; }));
    EXPECT_EQ(events_->close_error, kSecInvalidToken) << TlsErrorName(events_->close_error);
    EXPECT_EQ(tls_->tls_state(), TLS_ERROR);
    EXPECT_EQ(events_->reads, 0);
    EXPECT_NE(log.find("TlsAdapter::Error(DecryptData, SEC_E_INVALID_TOKEN)"), std::string::npos)
        << log;
    tls_->Close();
  }
}

}  // namespace
}  // namespace vexalo
