#!/usr/bin/env bash
# Runs a test program in a network namespace of its own with one non-loopback address
# (198.18.0.1 on one end of a veth pair, the benchmarking range), given to the program as
# VEXALO_P2P_TEST_IP: peers refuse candidates on 127/8, so sessions need such an address.
# Touches nothing in the machine's own namespace. Exit code 77 (skipped) where namespaces are
# refused.
# Usage: p2p-netns.sh COMMAND [ARGS...]
set -euo pipefail
skip() { echo "p2p-netns.sh: $*; skipping" >&2; exit 77; }
command -v ip >/dev/null || skip "ip is not installed"
ns=vxs$$
cleanup() { ip netns del "$ns" 2>/dev/null || true; }
trap cleanup EXIT
ip netns add "$ns" 2>/dev/null || skip "cannot create network namespaces"
ip -n "$ns" link set lo up
ip -n "$ns" link add v0 type veth peer name v1 || skip "cannot create veth pairs"
ip -n "$ns" addr add 198.18.0.1/24 dev v0
ip -n "$ns" link set v0 up
ip -n "$ns" link set v1 up
set +e
ip netns exec "$ns" env VEXALO_P2P_TEST_IP=198.18.0.1 "$@"
rc=$?
set -e
exit $rc
