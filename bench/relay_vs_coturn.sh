#!/usr/bin/env bash
# Side by side in one run, on 127.0.0.1:
# 1. vexalo-relayd's relay path in process (relay_bench: 200-byte packets, memory per allocation);
# 2. one packet stream (200-byte packets, 256 in flight) from our own load driver (relay_load)
#    through vexalo-relayd (a locked allocation over UDP) and through coturn (a TURN channel),
#    each relay a process of its own: packets/s, loss and the relay's CPU per million packets;
# 3. the same stream through vexalo-relayd over TCP and over SSL-TCP;
# 4. for reference, coturn driven by the package's own client (turnutils_uclient).
# Usage: bench/relay_vs_coturn.sh BUILD_DIR [PACKETS]
set -euo pipefail
build=${1:-build}
packets=${2:-300000}
dir=$(mktemp -d)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; wait "$pid" 2>/dev/null || true; done
  rm -rf "$dir"
}
trap cleanup EXIT
wait_udp() { for _ in $(seq 50); do ss -lun | grep -q "127.0.0.1:$1 " && return; sleep 0.1; done; }

echo "== vexalo-relayd in process (relay_bench)"
"$build/bench/relay_bench" --benchmark_min_time=1 2>/dev/null | grep -E '^BM_'

base=$((20000 + RANDOM % 20000))
udp=$base tcp=$((base + 1)) ssltcp=$((base + 2)) http=$((base + 3)) turn=$((base + 4)) peer=$((base + 5))
head -c 24 /dev/urandom | base64 > "$dir/token"
"$build/src/relayd/vexalo-relayd" --listen 127.0.0.1 --udp-port $udp --tcp-port $tcp \
  --ssltcp-port $ssltcp --http-port $http --token-file "$dir/token" --allow-loopback-peers \
  --bandwidth 1000000000 --log-level warning 2> "$dir/relayd.log" &
relayd=$!; pids+=($relayd)
turnserver -n --listening-ip 127.0.0.1 --listening-port $turn --relay-ip 127.0.0.1 \
  --lt-cred-mech --user alice:secret --realm test --no-tls --no-dtls --no-cli \
  --allow-loopback-peers --userdb "$dir/db" --pidfile "$dir/pid" --log-file stdout \
  > "$dir/turn.log" 2>&1 &
coturn=$!; pids+=($coturn)
wait_udp $udp; wait_udp $turn
session() {  # a fresh relay session: "username magic_cookie"
  curl -s -H "X-Ombrix-Relay-Auth: $(cat "$dir/token")" "http://127.0.0.1:$http/create_session" |
    tr -d '\r' | awk -F= '$1=="username"{u=substr($0,10)} $1=="magic_cookie"{c=substr($0,14)} END{print u, c}'
}

echo "== one stream of $packets packets through each relay (relay_load)"
read -r user cookie < <(session)
"$build/bench/relay_load" relayd $udp $relayd "$user" "$cookie" "$packets" 200
"$build/bench/relay_load" turn $turn $coturn alice secret "$packets" 200
echo "== vexalo-relayd over TCP and SSL-TCP"
read -r user cookie < <(session)
"$build/bench/relay_load" relayd-tcp $tcp $relayd "$user" "$cookie" "$packets" 200
read -r user cookie < <(session)
"$build/bench/relay_load" relayd-ssltcp $ssltcp $relayd "$user" "$cookie" "$packets" 200

echo "== reference: coturn with its own client (turnutils_uclient, 20000 packets each way)"
turnutils_peer -L 127.0.0.1 -p $peer > "$dir/peer.log" 2>&1 &
pids+=($!)
sleep 0.5
turnutils_uclient -u alice -w secret -e 127.0.0.1 -r $peer -p $turn -l 200 \
  -n 20000 -m 1 -z 0 127.0.0.1 > "$dir/client.log" 2>&1 || true
grep -E 'Total transmit time|Average round trip delay|Total lost packets' "$dir/client.log" || tail -3 "$dir/client.log"
