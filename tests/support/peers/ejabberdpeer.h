#pragma once

// A second, very different real XMPP server (ejabberd) on 127.0.0.1: STARTTLS required, a
// certificate from a test CA, accounts in its own database (passwords kept as SCRAM hashes,
// so it offers SCRAM next to PLAIN), roster versioning, stream management, offline storage,
// vCards, caps, carbons and PEP loaded as a stock install has them. It runs in a folder of its
// own as a plain Erlang node: no s2s, HTTP or other listeners, and Erlang distribution only on
// a loopback port of its own without a port mapper daemon, which is how accounts are added
// while it runs.
#include <cstdint>
#include <string>
#include <vector>

#include "support/tlstestpeer.h"
#include "support/peerprocess.h"

namespace vexalo {

class EjabberdPeer {
 public:
  // Starts the server and waits until it takes client connections (a few seconds).
  EjabberdPeer();
  ~EjabberdPeer() { Stop(); }
  EjabberdPeer(const EjabberdPeer&) = delete;
  EjabberdPeer& operator=(const EjabberdPeer&) = delete;

  bool started() const { return started_; }
  // Why it did not start (with the end of its log).
  const std::string& error() const { return error_; }
  uint16_t port() const { return port_; }
  // The CA that issued the server's certificate, to trust.
  const std::string& certificate() const { return pki_.ca_file(); }
  // The server's own log (warnings and errors only).
  std::string log() const { return dir_.path() + "/log/ejabberd.log"; }
  // How long the start took, until the server reported itself started.
  int64_t start_ms() const { return start_ms_; }

  // Registers `name`@localhost on the running server; false (with the reason in error())
  // when it refused, e.g. the account exists. Simple names and passwords only: no quotes or
  // backslashes.
  bool AddUser(const std::string& name, const std::string& password);

  // Stops the node (by its process group) if it runs.
  void Stop() {
    process_.Stop();
    started_ = false;
  }

 private:
  // Runs an ejabberdctl command inside the node; its exit code (0: done), or -1 when the node
  // could not be asked. `answer` gets what the call printed.
  int Control(const std::vector<std::string>& command, std::string* answer) const;
  std::string LogTail() const;

  TempDir dir_;
  tlstest::TestPki pki_;
  uint16_t port_;
  uint16_t dist_port_;
  PeerProcess process_;
  bool started_ = false;
  int64_t start_ms_ = 0;
  std::string error_;
};

}  // namespace vexalo
