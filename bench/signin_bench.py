#!/usr/bin/python3
"""Times a whole sign-in, from process start to "signed in, roster shown", against a private
Prosody with a 100-contact roster: our console client against a slixmpp client doing the same,
in the same run. Then keeps our client signed in and idle for a while and reports its memory,
CPU time and wake-ups.

Usage: bench/signin_bench.py VEXALO_BINARY [runs] [idle seconds]
"""
import os
import socket
import statistics
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
CONTACTS = 100


def free_port():
    with socket.socket() as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def start_server(work):
    port = free_port()
    server = os.path.join(work, "server")
    os.makedirs(server)
    subprocess.run(["bash", os.path.join(ROOT, "tools/demoserver.sh"), server, str(port)],
                   check=True, stdout=subprocess.DEVNULL)
    # A roster of CONTACTS entries for "you".
    entries = "".join(
        '["contact%d@localhost"] = { ["subscription"] = "both"; ["name"] = "Contact %d"; '
        '["groups"] = { ["Group %d"] = true; }; };\n' % (i, i, i % 7) for i in range(CONTACTS))
    with open(os.path.join(server, "data/localhost/roster/you.dat"), "w") as f:
        f.write('return { [false] = { ["version"] = 2; };\n' + entries + "};\n")
    return port, server


def client_env(work, name, server):
    home = os.path.join(work, name)
    env = dict(os.environ)
    for sub in ("config", "cache", "run"):
        os.makedirs(os.path.join(home, sub), exist_ok=True)
    os.chmod(os.path.join(home, "run"), 0o700)
    env.update(XDG_CONFIG_HOME=os.path.join(home, "config"), XDG_CACHE_HOME=os.path.join(home, "cache"),
               XDG_RUNTIME_DIR=os.path.join(home, "run"), VEXALO_PASSWORD="demo-password",
               VEXALO_CA_FILE=os.path.join(server, "cert.pem"))
    return env


def run_ours(binary, port, env, keep=False):
    start = time.monotonic()
    proc = subprocess.Popen([binary, "--console"], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, env=env, text=True, bufsize=1)
    proc.stdin.write("/signin you@localhost 127.0.0.1:%d\n" % port)
    proc.stdin.flush()
    seen = 0
    elapsed = None
    for line in proc.stdout:
        if line.startswith("roster\t"):
            seen += 1
            if seen == CONTACTS:
                elapsed = time.monotonic() - start
                break
    if keep:
        return elapsed, proc
    proc.stdin.write("/quit\n")
    proc.stdin.flush()
    proc.wait(timeout=10)
    return elapsed, None


SLIXMPP_CLIENT = r'''
import asyncio, ssl, sys, time
import slixmpp
class Client(slixmpp.ClientXMPP):
    def __init__(self):
        super().__init__("you@localhost/bench", "demo-password")
        self.add_event_handler("session_start", self.start)
    async def start(self, event):
        await self.get_roster()
        print("roster", len(self.client_roster), flush=True)
        self.disconnect()
c = Client()
c.ssl_context.load_verify_locations(sys.argv[2])
c.connect(("127.0.0.1", int(sys.argv[1])))
c.loop.run_until_complete(c.disconnected)
'''


def run_slixmpp(port, server):
    start = time.monotonic()
    out = subprocess.run(["/usr/bin/python3", "-c", SLIXMPP_CLIENT, str(port),
                          os.path.join(server, "cert.pem")], capture_output=True, text=True,
                         timeout=60)
    elapsed = time.monotonic() - start
    if "roster" not in out.stdout:
        return None
    return elapsed


def proc_figures(pid):
    status = open("/proc/%d/status" % pid).read()
    fields = dict(line.split(":", 1) for line in status.splitlines() if ":" in line)
    rss_kb = int(fields["VmRSS"].split()[0])
    switches = int(fields["voluntary_ctxt_switches"]) + int(fields["nonvoluntary_ctxt_switches"])
    stat = open("/proc/%d/stat" % pid).read().rsplit(")", 1)[1].split()
    ticks = int(stat[11]) + int(stat[12])
    return rss_kb, ticks / os.sysconf("SC_CLK_TCK"), switches


def main():
    binary = sys.argv[1]
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 7
    idle = int(sys.argv[3]) if len(sys.argv) > 3 else 60
    with tempfile.TemporaryDirectory() as work:
        os.chmod(work, 0o755)
        port, server = start_server(work)
        try:
            env = client_env(work, "you", server)
            ours = [run_ours(binary, port, env)[0] for _ in range(runs)]
            theirs = [run_slixmpp(port, server) for _ in range(runs)]
            ours_ok = [t for t in ours if t is not None]
            theirs_ok = [t for t in theirs if t is not None]
            print("sign-in to roster shown (%d contacts), median of %d runs:" % (CONTACTS, runs))
            if ours_ok:
                print("  vexalo --console: %.1f ms (min %.1f, max %.1f)" % (
                    statistics.median(ours_ok) * 1000, min(ours_ok) * 1000, max(ours_ok) * 1000))
            if theirs_ok:
                print("  slixmpp 1.8:      %.1f ms (min %.1f, max %.1f)" % (
                    statistics.median(theirs_ok) * 1000, min(theirs_ok) * 1000,
                    max(theirs_ok) * 1000))
            if idle > 0:
                _, proc = run_ours(binary, port, env, keep=True)
                time.sleep(1)
                rss0, cpu0, sw0 = proc_figures(proc.pid)
                time.sleep(idle)
                rss1, cpu1, sw1 = proc_figures(proc.pid)
                print("signed in and idle for %d s: RSS %.1f MB, CPU %.3f s, %.2f wake-ups/s" % (
                    idle, rss1 / 1024, cpu1 - cpu0, (sw1 - sw0) / idle))
                proc.stdin.write("/quit\n")
                proc.stdin.flush()
                proc.wait(timeout=10)
        finally:
            with open(os.path.join(server, "prosody.pid")) as f:
                os.kill(int(f.read().strip()), 15)


if __name__ == "__main__":
    main()
