#!/usr/bin/env bash
# Installs what is needed, builds, and opens the console client signed in to a private XMPP
# server (Prosody on 127.0.0.1), with a demo contact that answers your messages.
# Interactive on a terminal: the desktop window when a display is present (--console: the
# console client instead); with --check (or without a terminal) it runs a short scripted
# chat instead and fails unless the demo contact answered.
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

# The demo contact: our own client, scripted to answer every message it gets.
buddy_in=$work/buddy.in
mkfifo "$buddy_in"
set -m
(
  exec 3<>"$buddy_in"
  env $(client_env buddy) VEXALO_CA_FILE="$work/server/cert.pem" VEXALO_PASSWORD=buddy-password \
    "$vexalo" --console <&3 | while IFS=$'\t' read -r kind from text; do
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
and your contact buddy@localhost (Demo Buddy) shows up online. Close the window to end.
TEXT
  env $(client_env you) VEXALO_CA_FILE="$work/server/cert.pem" "$vexalo" || true
  exit 0
fi
if ! $check; then
  cat <<TEXT
Vexalo demo: you are you@localhost; your contact buddy@localhost answers every message.
Try:  /msg buddy@localhost hello    /roster    /status away lunch    /help    /quit
TEXT
  { printf '/signin you@localhost 127.0.0.1:%s\n' "$port"; sleep 2; echo /roster; cat; } | "${client[@]}"
  exit 0
fi

# The scripted form: sign in, see the contact online, chat, get the answer, quit.
out=$work/you.out
{
  printf '/signin you@localhost 127.0.0.1:%s\n' "$port"
  for _ in $(seq 1 100); do grep -q $'^presence\tbuddy@localhost/' "$out" 2>/dev/null && break; sleep 0.1; done
  echo "/msg buddy@localhost hello from the demo"
  for _ in $(seq 1 100); do grep -q $'^msg\tbuddy@localhost' "$out" 2>/dev/null && break; sleep 0.1; done
  echo /quit
} | "${client[@]}" >"$out" 2>"$work/you.err" || true
cat "$out"
if grep -q $'^msg\tbuddy@localhost/[^\t]*\tYou said: hello from the demo' "$out"; then
  echo "demo check: passed"
else
  echo "demo check: the demo contact did not answer" >&2
  cat "$work/you.err" >&2
  exit 1
fi
