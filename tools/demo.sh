#!/usr/bin/env bash
# Installs what is needed, builds, and opens the console client signed in to a private XMPP
# server (Prosody on 127.0.0.1), with a demo contact that answers your messages and your calls
# (it plays a short chime into the call).
# Interactive on a terminal: the desktop window when a display is present (--console: the
# console client instead); with --check (or without a terminal) it runs a short scripted
# chat and call instead and fails unless the demo contact answered and its sound arrived.
# VEXALO_DEMO_BUILD=DIR uses an existing build (absolute, or relative to the source folder)
# instead of building build-release.
set -euo pipefail
cd "$(dirname "$0")/.."
check=false
if [ "${1:-}" = "--check" ] || [ ! -t 0 ]; then check=true; fi

build=${VEXALO_DEMO_BUILD:-}
if [ -z "$build" ]; then
  bash tools/install-deps.sh
  bash tools/build.sh build-release -DCMAKE_BUILD_TYPE=Release -DVEXALO_BUILD_TESTS=OFF \
    -DVEXALO_BUILD_FUZZ=OFF -DVEXALO_BUILD_BENCH=OFF
  build=build-release
fi
# A relative build folder is taken from the source folder.
case $build in
  /*) vexalo=$build/src/main/vexalo ;;
  *) vexalo=$PWD/$build/src/main/vexalo ;;
esac

work=$(mktemp -d)
chmod 755 "$work"
pids=()
cleanup() {
  # Each helper runs in a process group of its own: the whole group goes.
  for pid in "${pids[@]}"; do kill -- "-$pid" 2>/dev/null || true; done
  if [ -f "$work/server/prosody.pid" ]; then kill "$(cat "$work/server/prosody.pid")" 2>/dev/null || true; fi
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A free port on 127.0.0.1.
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
mkdir -p "$work/server"
bash tools/demoserver.sh "$work/server" "$port" >/dev/null

# Each client keeps its settings apart from the user's own.
client_env() {
  local home=$work/$1
  mkdir -p "$home/config" "$home/cache" "$home/run"
  chmod 700 "$home/run"
  echo "XDG_CONFIG_HOME=$home/config XDG_CACHE_HOME=$home/cache XDG_RUNTIME_DIR=$home/run"
}

# A short chime (C, E, G, C rising, each fading out) for the demo contact's microphone, and
# a plain 440 Hz tone for ours in the scripted form: sound files instead of devices.
write_wav() {
  python3 - "$1" "$2" <<'PY'
import math, struct, sys, wave
rate = 16000
samples = []
if sys.argv[2] == "chime":
    for i, freq in enumerate((523.25, 659.25, 783.99, 1046.5)):
        for n in range(int(rate * (0.9 if i == 3 else 0.35))):
            t = n / rate
            samples.append(0.35 * math.exp(-4 * t) * (math.sin(2 * math.pi * freq * t) +
                                                    0.3 * math.sin(4 * math.pi * freq * t)))
    samples += [0.0] * int(rate * 0.6)
else:
    samples = [0.3 * math.sin(2 * math.pi * 440 * n / rate) for n in range(rate)]
with wave.open(sys.argv[1], "wb") as out:
    out.setnchannels(1)
    out.setsampwidth(2)
    out.setframerate(rate)
    out.writeframes(b"".join(struct.pack("<h", int(32767 * s)) for s in samples))
PY
}
write_wav "$work/chime.wav" chime
write_wav "$work/you-in.wav" tone

# The demo contact: our own client, scripted to answer every message it gets, and every call
# with the chime (what it hears goes to a file, not to the speakers).
buddy_in=$work/buddy.in
mkfifo "$buddy_in"
set -m
(
  exec 3<>"$buddy_in"
  env $(client_env buddy) VEXALO_CA_FILE="$work/server/cert.pem" VEXALO_PASSWORD=buddy-password \
    "$vexalo" --console --auto-answer --audio-in "$work/chime.wav" \
    --audio-out "$work/buddy-heard.wav" <&3 | tee "$work/buddy.out" | while IFS=$'\t' read -r kind from text; do
      case $kind in
        msg) printf '/msg %s You said: %s\n' "${from%%/*}" "$text" >&3 ;;
        subscription) [ "$text" = subscribe ] && printf '/accept %s\n' "$from" >&3 ;;
      esac
    done
) &
pids+=($!)
set +m
printf '/signin buddy@localhost 127.0.0.1:%s\n/status available Ask me anything\n' "$port" >"$buddy_in"

client=(env $(client_env you) VEXALO_CA_FILE="$work/server/cert.pem" VEXALO_PASSWORD=demo-password
        "$vexalo" --console)
if ! $check && [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ "${1:-}" != "--console" ]; then
  cat <<TEXT
Vexalo demo: the window opens. Sign in with
  Account: you@localhost    Password: demo-password    Server: 127.0.0.1:$port
and your contact buddy@localhost (Demo Buddy) shows up online: send a message, or call it
(it answers and plays a chime). Close the window to end.
TEXT
  env $(client_env you) VEXALO_CA_FILE="$work/server/cert.pem" "$vexalo" || true
  exit 0
fi
if ! $check; then
  cat <<TEXT
Vexalo demo: you are you@localhost; your contact buddy@localhost answers every message.
Try:  /msg buddy@localhost hello    /roster    /status away lunch    /help    /quit
Call: /call buddy@localhost  (it answers and plays a chime)    /hangup
TEXT
  { printf '/signin you@localhost 127.0.0.1:%s\n' "$port"; sleep 2; echo /roster; cat; } | "${client[@]}"
  exit 0
fi

# The scripted form: sign in, see the contact online, chat, get the answer; then call the
# contact and hear its chime, where the machine has an address other than loopback (calls
# take no candidates on 127/8); quit.
out=$work/you.out
addresses=$(hostname -I 2>/dev/null || ip -o addr show scope global 2>/dev/null | awk '{print $4}' || true)
call=false
if [ -n "${addresses// /}" ]; then call=true; fi
seen() { grep -q "$1" "$out" 2>/dev/null; }
heard() { awk -F'\t' -v from="$(grep -n "$1" "$out" | head -1 | cut -d: -f1)" \
            'from && NR > from && $1 == "levels" && $3 > 0 { found = 1 } END { exit !found }' "$out"; }
{
  printf '/signin you@localhost 127.0.0.1:%s\n' "$port"
  for _ in $(seq 1 100); do seen $'^presence\tbuddy@localhost/' && break; sleep 0.1; done
  echo "/msg buddy@localhost hello from the demo"
  for _ in $(seq 1 100); do seen $'^msg\tbuddy@localhost' && break; sleep 0.1; done
  if $call; then
    # The contact's voice capability may come a moment after its presence: call again.
    for _ in $(seq 1 20); do
      echo /call buddy@localhost
      for _ in $(seq 1 10); do seen $'^call\tbuddy@localhost\tCUS_\(OUTGOING_RING\|ACTIVE_CALL\)' && break 2; sleep 0.1; done
    done
    for _ in $(seq 1 100); do heard $'^call\tbuddy@localhost\tCUS_ACTIVE_CALL' && break; sleep 0.1; done
    echo /hangup
    for _ in $(seq 1 30); do seen $'^call\tbuddy@localhost\tCUS_CALLABLE' && break; sleep 0.1; done
  fi
  echo /quit
} | "${client[@]}" --audio-in "$work/you-in.wav" --audio-out "$work/you-heard.wav" \
    >"$out" 2>"$work/you.err" || true
cat "$out"
fail() {
  echo "demo check: $*" >&2
  cat "$work/you.err" >&2
  exit 1
}
grep -q $'^msg\tbuddy@localhost/[^\t]*\tYou said: hello from the demo' "$out" ||
  fail "the demo contact did not answer"
if $call; then
  seen $'^call\tbuddy@localhost\tCUS_ACTIVE_CALL' || fail "the demo contact did not answer the call"
  heard $'^call\tbuddy@localhost\tCUS_ACTIVE_CALL' || fail "no sound came from the demo contact"
  grep -q $'^call\tyou@localhost\tCUS_ACTIVE_CALL' "$work/buddy.out" ||
    fail "the demo contact saw no call"
  echo "demo check: call answered, the contact's chime arrived"
else
  echo "demo check: this machine has no address but loopback; the call part is skipped"
fi
echo "demo check: passed"
