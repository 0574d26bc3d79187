#!/usr/bin/env bash
# Runs a command against a private PulseAudio server in user mode with two null sinks, "mouth"
# and "ear", and no hardware, in a throw-away runtime folder. Sets PULSE_SERVER for the command.
# Exit code 77 (skipped) when the server cannot start. Usage: with-pulseaudio.sh COMMAND [ARGS...]
set -euo pipefail

if ! command -v pulseaudio >/dev/null; then
  echo "with-pulseaudio.sh: pulseaudio is not installed; skipping" >&2
  exit 77
fi

scratch=$(mktemp -d "${TMPDIR:-/tmp}/vexalo-pulse-XXXXXX")
server_pid=""
cleanup() {
  if [ -n "$server_pid" ]; then kill "$server_pid" 2>/dev/null || true; wait "$server_pid" 2>/dev/null || true; fi
  rm -rf "$scratch"
}
trap cleanup EXIT
mkdir -p "$scratch/home" "$scratch/run"
chmod 700 "$scratch/run"
export HOME="$scratch/home" XDG_RUNTIME_DIR="$scratch/run" XDG_CONFIG_HOME="$scratch/home/.config"
cat > "$scratch/server.pa" <<PA
load-module module-native-protocol-unix socket=$scratch/native auth-anonymous=1
load-module module-null-sink sink_name=mouth
load-module module-null-sink sink_name=ear
PA
pulseaudio -n --daemonize=no --exit-idle-time=-1 --disable-shm=yes --log-target=stderr \
  --log-level=error -F "$scratch/server.pa" 2>"$scratch/server.log" &
server_pid=$!
export PULSE_SERVER="unix:$scratch/native"
for _ in $(seq 50); do
  [ -S "$scratch/native" ] && pactl info >/dev/null 2>&1 && break
  if ! kill -0 "$server_pid" 2>/dev/null; then break; fi
  sleep 0.1
done
if ! pactl info >/dev/null 2>&1; then
  echo "with-pulseaudio.sh: pulseaudio did not start; skipping" >&2
  cat "$scratch/server.log" >&2 || true
  exit 77
fi
status=0
"$@" || status=$?
exit "$status"
