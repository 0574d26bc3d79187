#!/usr/bin/env bash
# Time to writable and delivered share over a lossy path: runs p2psocket_bench (our P2P
# sockets beside two libnice agents, in the same run) in a network namespace of its own whose
# loopback drops the given share of UDP packets (nftables; each packet crosses the output hook
# once). Touches nothing in the machine's own namespace.
# Usage: bench/p2p_lossy.sh BENCH_BINARY [LOSS_PERCENT...]   (default: 0 5 20)
set -euo pipefail
bench=$1; shift
losses=("$@")
[ ${#losses[@]} -gt 0 ] || losses=(0 5 20)
ns=vxb$$
cleanup() { ip netns del "$ns" 2>/dev/null || true; }
trap cleanup EXIT
ip netns add "$ns"
ip -n "$ns" link set lo up
for loss in "${losses[@]}"; do
  ip netns exec "$ns" nft flush ruleset
  if [ "$loss" -gt 0 ]; then
    ip netns exec "$ns" nft "add table ip loss; \
add chain ip loss out { type filter hook output priority 0; }; \
add rule ip loss out meta l4proto udp numgen random mod 100 < $loss drop"
  fi
  echo "== UDP loss ${loss}% =="
  ip netns exec "$ns" "$bench" --benchmark_counters_tabular=true 2>&1 | grep -E '^BM_|^Benchmark|^-'
done
