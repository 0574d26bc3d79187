#!/usr/bin/env bash
# Runs a command in a private Xvfb display (random free number, no server resets) with GTK on
# X11 and WebKit drawing without compositing. Exit code 77 (skipped) when Xvfb cannot start.
# Usage: with-xvfb.sh COMMAND [ARGS...]
set -euo pipefail

if ! command -v Xvfb >/dev/null; then
  echo "with-xvfb.sh: Xvfb is not installed; skipping" >&2
  exit 77
fi
scratch=$(mktemp -d "${TMPDIR:-/tmp}/vexalo-xvfb-XXXXXX")
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT
display=""
for _ in $(seq 10); do
  # Drawn at random from a high range so that tests side by side do not race for one number.
  number=$((100 + RANDOM % 800))
  [ -e "/tmp/.X$number-lock" ] && continue
  Xvfb ":$number" -screen 0 1024x768x24 -nolisten tcp -noreset 2>"$scratch/xvfb.log" &
  server_pid=$!
  for _ in $(seq 100); do
    [ -S "/tmp/.X11-unix/X$number" ] && break
    kill -0 "$server_pid" 2>/dev/null || break
    sleep 0.05
  done
  if [ -S "/tmp/.X11-unix/X$number" ] && kill -0 "$server_pid" 2>/dev/null; then
    display=":$number"
    break
  fi
  kill "$server_pid" 2>/dev/null || true
  wait "$server_pid" 2>/dev/null || true
  server_pid=""
done
if [ -z "$display" ]; then
  echo "with-xvfb.sh: Xvfb did not start; skipping" >&2
  cat "$scratch/xvfb.log" >&2 || true
  exit 77
fi
mkdir -p "$scratch/run" && chmod 700 "$scratch/run"
unset WAYLAND_DISPLAY
export DISPLAY="$display" GDK_BACKEND=x11 GSETTINGS_BACKEND=memory NO_AT_BRIDGE=1 \
  WEBKIT_DISABLE_COMPOSITING_MODE=1 LIBGL_ALWAYS_SOFTWARE=1 XDG_RUNTIME_DIR="$scratch/run"
set +e
"$@"
status=$?
exit $status
