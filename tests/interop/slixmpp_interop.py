#!/usr/bin/python3
"""Interop check with an XMPP client no one here wrote: a slixmpp client and our console client
sign in to a private Prosody, exchange a subscription both ways, chat states and messages.

Usage: slixmpp_interop.py VEXALO_BINARY      (exit 0 when everything arrived)
"""
import asyncio
import os
import queue
import socket
import subprocess
import sys
import tempfile
import threading
import time

import slixmpp

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
TIMEOUT = 30


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_server(work, port):
    server = os.path.join(work, "server")
    os.makedirs(os.path.join(server, "data/localhost/accounts"))
    subprocess.run(["openssl", "req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:P-256",
                    "-nodes", "-keyout", server + "/key.pem", "-out", server + "/cert.pem", "-days", "2",
                    "-subj", "/CN=localhost", "-addext", "subjectAltName=DNS:localhost,IP:127.0.0.1"],
                   check=True, capture_output=True)
    os.chmod(server + "/key.pem", 0o644)
    for name, password in (("alice", "alice-pw"), ("sly", "sly-pw")):
        with open(os.path.join(server, "data/localhost/accounts", name + ".dat"), "w") as f:
            f.write('return { ["password"] = "%s"; };\n' % password)
    with open(server + "/prosody.cfg.lua", "w") as f:
        f.write(f'''run_as_root = true
daemonize = false
data_path = "{server}/data"
pidfile = "{server}/prosody.pid"
log = {{ info = "{server}/prosody.log" }}
interfaces = {{ "127.0.0.1" }}
c2s_ports = {{ {port} }}
s2s_ports = {{ }}
modules_disabled = {{ "s2s" }}
modules_enabled = {{ "roster", "saslauth", "tls", "disco", "ping" }}
c2s_require_encryption = true
allow_unencrypted_plain_auth = false
authentication = "internal_plain"
allow_registration = false
ssl = {{ certificate = "{server}/cert.pem"; key = "{server}/key.pem"; }}
VirtualHost "localhost"
''')
    proc = subprocess.Popen(["prosody", "--config", server + "/prosody.cfg.lua", "-F"],
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    for _ in range(100):
        try:
            socket.create_connection(("127.0.0.1", port), timeout=0.2).close()
            return proc, server
        except OSError:
            time.sleep(0.05)
    proc.terminate()
    raise SystemExit("prosody did not start")


class Ours:
    """Our console client; its events arrive in a queue as lists of fields."""

    def __init__(self, binary, work, server):
        home = os.path.join(work, "alice")
        env = dict(os.environ)
        for sub in ("config", "cache", "run"):
            os.makedirs(os.path.join(home, sub))
        os.chmod(os.path.join(home, "run"), 0o700)
        env.update(XDG_CONFIG_HOME=home + "/config", XDG_CACHE_HOME=home + "/cache",
                   XDG_RUNTIME_DIR=home + "/run", VEXALO_PASSWORD="alice-pw",
                   VEXALO_CA_FILE=server + "/cert.pem")
        self.proc = subprocess.Popen([binary, "--console"], stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env,
                                     text=True, bufsize=1)
        self.events = queue.Queue()
        self.log = []
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            fields = line.rstrip("\n").split("\t")
            self.log.append(fields)
            self.events.put(fields)

    def send(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()

    def wait_for(self, predicate, what):
        deadline = time.monotonic() + TIMEOUT
        while time.monotonic() < deadline:
            try:
                fields = self.events.get(timeout=0.2)
            except queue.Empty:
                continue
            if predicate(fields):
                return fields
        raise AssertionError("our client never showed " + what + "; it said: " + repr(self.log))


class Sly(slixmpp.ClientXMPP):
    def __init__(self, cert):
        super().__init__("sly@localhost/interop", "sly-pw")
        self.ssl_context.load_verify_locations(cert)
        self.register_plugin("xep_0085")  # chat states
        self.ready = asyncio.Event()
        self.messages = asyncio.Queue()
        self.states = asyncio.Queue()
        self.add_event_handler("session_start", self.on_start)
        self.add_event_handler("message", self.on_message)
        self.add_event_handler("chatstate", self.on_chatstate)

    async def on_start(self, _):
        self.send_presence()
        await self.get_roster()
        self.ready.set()

    def on_message(self, message):
        if message["type"] in ("chat", "normal") and message["body"]:
            self.messages.put_nowait((str(message["from"]), message["body"]))

    def on_chatstate(self, message):
        self.states.put_nowait((str(message["from"]), message["chat_state"]))


async def scenario(binary, work, server, port):
    ours = Ours(binary, work, server)
    loop = asyncio.get_running_loop()
    wait = lambda predicate, what: loop.run_in_executor(None, ours.wait_for, predicate, what)
    try:
        ours.send("/signin alice@localhost 127.0.0.1:%d" % port)
        await wait(lambda f: f[:2] == ["state", "signed-in"], "signed-in")

        sly = Sly(server + "/cert.pem")
        sly.connect(("127.0.0.1", port))
        await asyncio.wait_for(sly.ready.wait(), TIMEOUT)

        # Subscription: sly asks, we accept (and ask back); sly's library accepts ours.
        sly.send_presence_subscription(pto="alice@localhost")
        await wait(lambda f: f[:3] == ["subscription", "sly@localhost", "subscribe"],
                   "sly's subscription request")
        ours.send("/accept sly@localhost")
        await wait(lambda f: f[0] == "roster" and f[1] == "sly@localhost" and f[3] == "both",
                   "sly on the roster with subscription both")
        presence = await wait(lambda f: f[0] == "presence" and f[1].startswith("sly@localhost/"),
                              "sly's presence")
        sly_jid = presence[1]

        # Chat states and a message from sly to us.
        composing = sly.make_message(mto="alice@localhost", mtype="chat")
        composing["chat_state"] = "composing"
        composing.send()
        await wait(lambda f: f[0] == "typing" and f[1] == sly_jid and f[2] == "composing",
                   "sly typing")
        reply = sly.make_message(mto="alice@localhost", mtype="chat", mbody="hello from slixmpp")
        reply["chat_state"] = "active"
        reply.send()
        await wait(lambda f: f[0] == "msg" and f[1] == sly_jid and f[2] == "hello from slixmpp",
                   "sly's message")

        # And back: a typing notice and an answer from us.
        ours.send("/typing %s composing" % sly_jid)
        frm, state = await asyncio.wait_for(sly.states.get(), TIMEOUT)
        assert frm.startswith("alice@localhost/") and state == "composing", (frm, state)
        ours.send("/msg %s hi sly, this is vexalo" % sly_jid)
        frm, body = await asyncio.wait_for(sly.messages.get(), TIMEOUT)
        assert frm.startswith("alice@localhost/") and body == "hi sly, this is vexalo", (frm, body)
        roster = sly.client_roster["alice@localhost"]
        assert roster["subscription"] == "both", roster["subscription"]
        sly.disconnect()
        ours.send("/quit")
        assert ours.proc.wait(timeout=10) == 0
        print("interop with slixmpp: subscription both ways, chat states and messages both ways: ok")
    finally:
        if ours.proc.poll() is None:
            ours.proc.kill()


def main():
    binary = sys.argv[1]
    with tempfile.TemporaryDirectory() as work:
        os.chmod(work, 0o755)
        port = free_port()
        server_proc, server = start_server(work, port)
        try:
            asyncio.run(scenario(binary, work, server, port))
        finally:
            server_proc.terminate()
            server_proc.wait(timeout=10)


if __name__ == "__main__":
    main()
