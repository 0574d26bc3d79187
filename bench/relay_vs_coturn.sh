#!/usr/bin/env bash
# Side by side in one run, on 127.0.0.1: vexalo-relayd's relay path (relay_bench, 200-byte
# packets) and coturn's TURN relay driven by the package's own client (turnutils_uclient,
# 200-byte packets to turnutils_peer, which echoes them), with the CPU seconds coturn spent.
# Usage: bench/relay_vs_coturn.sh BUILD_DIR
set -euo pipefail
build=${1:-build}
dir=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  rm -rf "$dir"
}
trap cleanup EXIT

echo "== vexalo-relayd (relay_bench)"
"$build/bench/relay_bench" --benchmark_min_time=1 2>/dev/null | grep -E '^BM_'

turn_port=$((20000 + RANDOM % 20000)); peer_port=$((turn_port + 1))
turnserver -n --listening-ip 127.0.0.1 --listening-port $turn_port --relay-ip 127.0.0.1 \
  --lt-cred-mech --user alice:secret --realm test --no-tls --no-dtls --no-cli \
  --allow-loopback-peers --userdb "$dir/db" --pidfile "$dir/pid" --log-file stdout \
  > "$dir/turn.log" 2>&1 &
pids+=($!)
turn_pid=$!
turnutils_peer -L 127.0.0.1 -p $peer_port > "$dir/peer.log" 2>&1 &
pids+=($!)
sleep 1
cpu_before=$(awk '{print $14 + $15}' /proc/$turn_pid/stat)
start=$(date +%s.%N)
messages=20000
turnutils_uclient -u alice -w secret -e 127.0.0.1 -r $peer_port -p $turn_port -l 200 \
  -n $messages -m 1 -z 0 127.0.0.1 > "$dir/client.log" 2>&1 || true
end=$(date +%s.%N)
cpu_after=$(awk '{print $14 + $15}' /proc/$turn_pid/stat)
ticks=$(getconf CLK_TCK)
echo "== coturn TURN relay (turnutils_uclient, $messages packets of 200 bytes each way)"
grep -E 'Total transmit time|Average round trip delay|Total lost packets|Average jitter' "$dir/client.log" || tail -5 "$dir/client.log"
awk -v s="$start" -v e="$end" -v n=$messages -v c0="$cpu_before" -v c1="$cpu_after" -v t="$ticks" \
  'BEGIN { printf "relayed packets/s (both ways): %.0f; coturn CPU per million packets: %.2f s\n", 2*n/(e-s), (c1-c0)/t/(2*n)*1e6 }'
