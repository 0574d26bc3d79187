#!/usr/bin/env bash
# Two parties, each behind its own symmetric NAT, and a relay outside: namespaces a and b
# (198.18.1.2, 198.18.2.2), a gateway namespace that masquerades both towards the outside
# network 198.19.0.0/24 and drops every direct packet between the two inside networks, and
# the relay's namespace (198.19.0.2). The test program runs in the machine's namespace and
# moves its threads into the named ones. Exit code 77 (skipped) where namespaces or nftables
# are refused.
# Usage: p2p-relay-nat.sh KIND COMMAND [ARGS...]
#   KIND: udp (both parties reach the relay over UDP), udp-blocked (no UDP at all out of b),
#         turn (as udp, with coturn as a TURN relay in the relay's namespace)
set -euo pipefail

kind=$1; shift
skip() { echo "p2p-relay-nat.sh: $*; skipping" >&2; exit 77; }
. "$(dirname "$0")/netns-common.sh"
require_tools ip nft

tag=vxr$$
a=$tag-a b=$tag-b gw=$tag-gw out=$tag-out
workdir=$(mktemp -d)
turn_pid=""
cleanup() {
  set +e
  if [ -n "$turn_pid" ]; then kill "$turn_pid" 2>/dev/null; wait "$turn_pid" 2>/dev/null; fi
  for ns in "$a" "$b" "$gw" "$out"; do ip netns del "$ns" 2>/dev/null || true; done
  rm -rf "$workdir"
}
trap cleanup EXIT

ip netns add "$a" 2>/dev/null || skip "cannot create network namespaces"
for ns in "$b" "$gw" "$out"; do ip netns add "$ns"; done
veth "$a" "$tag-a0" 198.18.1.2/24 "$gw" "$tag-a1" 198.18.1.1/24
veth "$b" "$tag-b0" 198.18.2.2/24 "$gw" "$tag-b1" 198.18.2.1/24
veth "$gw" "$tag-o0" 198.19.0.1/24 "$out" "$tag-o1" 198.19.0.2/24
for ns in "$a" "$b" "$gw" "$out"; do ip -n "$ns" link set lo up; done
ip -n "$a" route add default via 198.18.1.1
ip -n "$b" route add default via 198.18.2.1
ip netns exec "$gw" sysctl -qw net.ipv4.ip_forward=1

extra=""
if [ "$kind" = udp-blocked ]; then
  extra="ip saddr 198.18.2.0/24 meta l4proto udp drop"
fi
cat > "$workdir/rules.nft" <<RULES
table ip nat {
  chain post {
    type nat hook postrouting priority 100;
    oifname "$tag-o0" masquerade random,fully-random
  }
}
table ip filter {
  chain forward {
    type filter hook forward priority 0;
    ip saddr 198.18.0.0/16 ip daddr 198.18.0.0/16 drop
    $extra
  }
}
RULES
ip netns exec "$gw" nft -f "$workdir/rules.nft" || skip "nftables refused the rules"

if [ "$kind" = turn ]; then
  command -v turnserver >/dev/null || skip "turnserver (coturn) is not installed"
  ip netns exec "$out" turnserver -n --listening-ip 198.19.0.2 --listening-port 3478 \
    --relay-ip 198.19.0.2 --lt-cred-mech --user alice:secret --realm test --no-tls --no-dtls \
    --no-cli --no-tcp --userdb "$workdir/db" --pidfile "$workdir/turn.pid" \
    --log-file "$workdir/turn.log" >/dev/null 2>&1 &
  turn_pid=$!
  for _ in $(seq 50); do
    ip netns exec "$out" ss -lun | grep -q '198.19.0.2:3478' && break
    sleep 0.1
  done
  export VEXALO_TURN_PORT=3478
fi

export VEXALO_RELAY_NAT_KIND=$kind VEXALO_RELAY_NS_A=$a VEXALO_RELAY_NS_B=$b \
  VEXALO_RELAY_NS_OUT=$out
"$@"
