#!/usr/bin/env bash
# Start-up of the vexalo executable to an idle main loop, with no account: whole-process runs
# in fresh profiles, each timed from the spawn until the instance answers a ping on its
# hand-over socket (the answer comes from the running main loop), with the resident memory at
# that moment. Prints the median of the runs against the targets (50 ms, 10 MB).
# Usage: bench/startup.sh [BUILD_DIR] [RUNS]   (default: build, 21)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
runs=${2:-21}
binary="$build/src/main/vexalo"
if [ ! -x "$binary" ]; then
  echo "startup.sh: $binary not found; build first (tools/build.sh $build)" >&2
  exit 1
fi

exec python3 - "$binary" "$runs" <<'PY'
import os, signal, socket, statistics, struct, subprocess, sys, tempfile, time

binary, runs = os.path.abspath(sys.argv[1]), int(sys.argv[2])
PING = b"VXH1" + struct.pack("<II", 0x102, 0)

def ping(path):
    try:
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.settimeout(2)
            s.connect(path)
            s.sendall(PING)
            return s.recv(4) == b"\0\0\0\0"
    except OSError:
        return False

def rss_kb(pid):
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    return 0

times, rss = [], []
for _ in range(runs):
    with tempfile.TemporaryDirectory(prefix="vexalo-bench-") as home:
        run = os.path.join(home, "run")
        os.makedirs(run, mode=0o700)
        env = {"HOME": home, "XDG_CONFIG_HOME": home + "/config", "XDG_DATA_HOME": home + "/data",
               "XDG_RUNTIME_DIR": run, "XDG_CACHE_HOME": home + "/cache",
               "DBUS_SESSION_BUS_ADDRESS": "unix:path=" + home + "/no-bus", "PATH": "/usr/bin:/bin"}
        sock = os.path.join(run, "vexalo", "instance.sock")
        start = time.perf_counter()
        proc = subprocess.Popen([binary], env=env, stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        try:
            while not (os.path.exists(sock) and ping(sock)):
                if proc.poll() is not None:
                    sys.exit(f"vexalo ended early with {proc.returncode}")
                if time.perf_counter() - start > 20:
                    sys.exit("vexalo did not become ready in 20 s")
                time.sleep(0.0002)
            times.append((time.perf_counter() - start) * 1000)
            rss.append(rss_kb(proc.pid))
        finally:
            proc.send_signal(signal.SIGTERM)
            proc.wait(10)

med_t, med_r = statistics.median(times), statistics.median(rss) / 1024
print(f"vexalo start-up to idle main loop, {runs} runs")
print(f"  time: median {med_t:.1f} ms (min {min(times):.1f}, max {max(times):.1f}); target < 50 ms")
print(f"  RSS:  median {med_r:.1f} MB (min {min(rss)/1024:.1f}, max {max(rss)/1024:.1f}); target < 10 MB")
PY
