#!/usr/bin/env bash
# Runs a command against a real Secret Service: a private D-Bus session with gnome-keyring,
# whose login keyring is created and unlocked with a throw-away password, in a throw-away HOME.
# Sets VEXALO_SECRET_SERVICE=1 for the tests that need it. Exit code 77 (skipped) when the
# needed programs are missing. Usage: with-keyring.sh COMMAND [ARGS...]
set -euo pipefail

for tool in dbus-run-session gnome-keyring-daemon; do
  if ! command -v "$tool" >/dev/null; then
    echo "with-keyring.sh: $tool is not installed; skipping" >&2
    exit 77
  fi
done

scratch=$(mktemp -d "${TMPDIR:-/tmp}/vexalo-keyring-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
mkdir -p "$scratch/home" "$scratch/run"
chmod 700 "$scratch/run"
export HOME="$scratch/home"
export XDG_RUNTIME_DIR="$scratch/run"
export XDG_DATA_HOME="$scratch/home/.local/share"
export XDG_CONFIG_HOME="$scratch/home/.config"
export XDG_CACHE_HOME="$scratch/home/.cache"
unset DISPLAY WAYLAND_DISPLAY GNOME_KEYRING_CONTROL

# Inside the session: start the keyring daemon (it daemonises and leaves with the bus), then
# run the command. Not exec'd, so that the scratch folder is removed afterwards.
dbus-run-session -- bash -c '
  set -euo pipefail
  printf "vexalo-test" | gnome-keyring-daemon --unlock --components=secrets >/dev/null
  export VEXALO_SECRET_SERVICE=1
  exec "$@"
' with-keyring "$@"
