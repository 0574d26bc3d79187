#!/usr/bin/python3
"""Call set-up time: from "/call" typed in one console client to media flowing both ways (each
side's output level above zero), the other client answering by itself (--auto-answer), both
with sound files, through a private Prosody. Host candidates must not be on loopback, so run it
in a network namespace of its own:

Usage: bash tests/scripts/p2p-netns.sh bench/callsetup_bench.py VEXALO_BINARY [runs]
The levels are reported every 100 ms, which bounds the resolution of the figure.
"""
import math
import os
import select
import statistics
import struct
import subprocess
import sys
import tempfile
import time
import wave

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.dont_write_bytecode = True  # no cache folder in the source tree
sys.path.insert(0, os.path.join(ROOT, "bench"))
from signin_bench import client_env, free_port  # noqa: E402


def tone(path, frequency, seconds=1.0, rate=16000):
    with wave.open(path, "wb") as out:
        out.setnchannels(1)
        out.setsampwidth(2)
        out.setframerate(rate)
        out.writeframes(b"".join(
            struct.pack("<h", int(8000 * math.sin(2 * math.pi * frequency * i / rate)))
            for i in range(int(seconds * rate))))


class Console:
    def __init__(self, binary, env, args):
        self.proc = subprocess.Popen([binary, "--console"] + args, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, env=env,
                                     text=True, bufsize=1)

    def send(self, line):
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()

    def wait(self, match, limit=20.0):
        end = time.monotonic() + limit
        while time.monotonic() < end:
            ready, _, _ = select.select([self.proc.stdout], [], [], end - time.monotonic())
            if not ready:
                break
            fields = self.proc.stdout.readline().rstrip("\n").split("\t")
            if match(fields):
                return fields
        return None


def hears(fields):
    """A meter report while the far end's sound plays."""
    return len(fields) == 3 and fields[0] == "levels" and int(fields[2]) > 0


def main():
    binary = sys.argv[1]
    runs = int(sys.argv[2]) if len(sys.argv) > 2 else 7
    with tempfile.TemporaryDirectory() as work:
        os.chmod(work, 0o755)
        port = free_port()
        server = os.path.join(work, "server")
        os.makedirs(server)
        subprocess.run(["bash", os.path.join(ROOT, "tools/demoserver.sh"), server, str(port)],
                       check=True, stdout=subprocess.DEVNULL)
        try:
            tone(os.path.join(work, "you.wav"), 440)
            tone(os.path.join(work, "buddy.wav"), 1000)
            you_env = client_env(work, "you", server)
            buddy_env = client_env(work, "buddy", server)
            buddy_env["VEXALO_PASSWORD"] = "buddy-password"
            you = Console(binary, you_env, ["--audio-in", os.path.join(work, "you.wav"),
                                            "--audio-out", os.path.join(work, "you-out.wav")])
            buddy = Console(binary, buddy_env, ["--auto-answer",
                                                "--audio-in", os.path.join(work, "buddy.wav"),
                                                "--audio-out", os.path.join(work, "buddy-out.wav")])
            you.send("/signin you@localhost 127.0.0.1:%d" % port)
            buddy.send("/signin buddy@localhost 127.0.0.1:%d" % port)
            for client in (you, buddy):
                if not client.wait(lambda f: f[:2] == ["state", "signed-in"]):
                    sys.exit("a client did not sign in")
            times = []
            for _ in range(runs):
                # Until the buddy's presence with its capabilities has come, the call is refused.
                for _ in range(100):
                    start = time.monotonic()
                    you.send("/call buddy@localhost")
                    answer = you.wait(lambda f: f[0] == "error" or
                                      (f[0] == "call" and f[2] == "CUS_OUTGOING_RING"), 2.0)
                    if answer and answer[0] == "call":
                        break
                    time.sleep(0.1)
                # Meter reports of the call before come ahead of this call's state lines.
                active = lambda f: f[0] == "call" and f[2] == "CUS_ACTIVE_CALL"
                if not you.wait(active) or not buddy.wait(active):
                    sys.exit("the call did not connect")
                if not you.wait(hears) or not buddy.wait(hears):
                    sys.exit("no media both ways")
                times.append(time.monotonic() - start)
                you.send("/hangup")
                you.wait(lambda f: f[0] == "call" and f[2] == "CUS_CALLABLE")
                buddy.wait(lambda f: f[0] == "call" and f[2] == "CUS_CALLABLE")
            for client in (you, buddy):
                client.send("/quit")
                client.proc.wait(timeout=10)
            print("call set-up, /call to media both ways (auto-answer, loopback, %d runs):" % runs)
            print("  median %.0f ms (min %.0f, max %.0f); target < 300 ms; levels every 100 ms" % (
                statistics.median(times) * 1000, min(times) * 1000, max(times) * 1000))
        finally:
            with open(os.path.join(server, "prosody.pid")) as f:
                os.kill(int(f.read().strip()), 15)


if __name__ == "__main__":
    main()
