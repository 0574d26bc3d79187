#!/usr/bin/env bash
# Runs a command as root of a new user and network namespace (unshare -rn), where it may add
# and remove routes without touching the machine's own network. Sets VEXALO_NETNS=1 for the
# tests that need it, and makes GIO use its netlink network monitor. Exit code 77 (skipped)
# when namespaces or the ip tool are not available. Usage: in-netns.sh COMMAND [ARGS...]
set -euo pipefail

if ! command -v ip >/dev/null || ! command -v unshare >/dev/null; then
  echo "in-netns.sh: ip or unshare is not installed; skipping" >&2
  exit 77
fi
if ! unshare -rn true 2>/dev/null; then
  echo "in-netns.sh: cannot create a user and network namespace here; skipping" >&2
  exit 77
fi
export VEXALO_NETNS=1 GIO_USE_NETWORK_MONITOR=netlink
exec unshare -rn -- "$@"
