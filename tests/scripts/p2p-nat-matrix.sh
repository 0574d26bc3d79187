#!/usr/bin/env bash
# Two parties, each behind a NAT of its own, and a public network between them that holds the
# STUN server (coturn) and the relay. Namespaces: a (198.18.1.2) behind gateway ga, b
# (198.18.2.2) behind gateway gb; the gateways' outside addresses 198.19.1.2 and 198.19.2.2
# sit on two links to the namespace net, which routes between them and serves at 198.19.1.1.
# The test program runs in the machine's namespace and moves its threads into the named ones.
# Touches nothing in the machine's own namespace. Exit code 77 (skipped) where namespaces,
# nftables or coturn are missing.
# Usage: p2p-nat-matrix.sh ROW COMMAND [ARGS...]
#   ROW: open (no NAT), full-cone, port-restricted, symmetric-one (a symmetric, b full cone),
#   symmetric-both, udp-blocked (b port-restricted with no UDP out), lossy-5, lossy-20 (port
#   restricted, that share of the UDP dropped each way on a's gateway), delayed (port
#   restricted, 50 ms each way on a's link through the link emulator named by
#   VEXALO_LINKEMULATOR), cut-direct (port-restricted; VEXALO_NAT_CUT is a command that drops
#   everything between the two gateways, so that only the relay is left)
set -euo pipefail

row=$1; shift
skip() { echo "p2p-nat-matrix.sh: $*; skipping" >&2; exit 77; }
. "$(dirname "$0")/netns-common.sh"
require_tools ip nft turnserver
case "$row" in
  open) kind_a=none kind_b=none ;;
  full-cone) kind_a=full-cone kind_b=full-cone ;;
  port-restricted|lossy-5|lossy-20|delayed|cut-direct)
    kind_a=port-restricted kind_b=port-restricted ;;
  symmetric-one) kind_a=symmetric kind_b=full-cone ;;
  symmetric-both) kind_a=symmetric kind_b=symmetric ;;
  udp-blocked) kind_a=port-restricted kind_b=port-restricted ;;
  *) echo "unknown row: $row" >&2; exit 2 ;;
esac
if [ "$row" = delayed ]; then
  [ -x "${VEXALO_LINKEMULATOR:-}" ] || skip "VEXALO_LINKEMULATOR does not name the link emulator"
fi

tag=vxm$$
a=$tag-a b=$tag-b ga=$tag-ga gb=$tag-gb net=$tag-net link=$tag-ln
workdir=$(mktemp -d)
turn_pid="" link_pid=""
cleanup() {
  set +e
  for pid in "$turn_pid" "$link_pid"; do
    [ -n "$pid" ] || continue
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  for ns in "$a" "$b" "$ga" "$gb" "$net" "$link"; do ip netns del "$ns" 2>/dev/null; done
  rm -rf "$workdir"
}
trap cleanup EXIT

ip netns add "$a" 2>/dev/null || skip "cannot create network namespaces"
for ns in "$b" "$ga" "$gb" "$net"; do ip netns add "$ns"; done
if [ "$row" = delayed ]; then
  # a -a0|e- link -f|a1- ga: the emulator moves the frames between e and f.
  ip netns add "$link"
  ip link add "$tag-a0" type veth peer name "$tag-e" || skip "cannot create veth pairs"
  ip link add "$tag-f" type veth peer name "$tag-a1"
  ip link set "$tag-a0" netns "$a"
  ip link set "$tag-a1" netns "$ga"
  ip link set "$tag-e" netns "$link"
  ip link set "$tag-f" netns "$link"
  ip -n "$a" addr add 198.18.1.2/24 dev "$tag-a0"
  ip -n "$ga" addr add 198.18.1.1/24 dev "$tag-a1"
  for dev in "$a:$tag-a0" "$ga:$tag-a1" "$link:$tag-e" "$link:$tag-f" "$link:lo"; do
    ip -n "${dev%%:*}" link set "${dev#*:}" up
  done
else
  veth "$a" "$tag-a0" 198.18.1.2/24 "$ga" "$tag-a1" 198.18.1.1/24
fi
veth "$b" "$tag-b0" 198.18.2.2/24 "$gb" "$tag-b1" 198.18.2.1/24
veth "$ga" "$tag-ao" 198.19.1.2/24 "$net" "$tag-an" 198.19.1.1/24
veth "$gb" "$tag-bo" 198.19.2.2/24 "$net" "$tag-bn" 198.19.2.1/24
for ns in "$a" "$b" "$ga" "$gb" "$net"; do ip -n "$ns" link set lo up; done
ip -n "$a" route add default via 198.18.1.1
ip -n "$b" route add default via 198.18.2.1
ip -n "$ga" route add default via 198.19.1.1
ip -n "$gb" route add default via 198.19.2.1
for ns in "$ga" "$gb" "$net"; do ip netns exec "$ns" sysctl -qw net.ipv4.ip_forward=1; done
if [ "$row" = open ]; then
  # Without NAT the inside networks are routed; behind NATs they stay unreachable from outside.
  ip -n "$net" route add 198.18.1.0/24 via 198.19.1.2
  ip -n "$net" route add 198.18.2.0/24 via 198.19.2.2
fi

# nat_rules KIND OUTSIDE_DEV OUTSIDE_IP INSIDE_IP
nat_rules() {
  case "$1" in
    none) echo "" ;;
    full-cone)
      # One fixed outside address for the one inside host, and whatever comes back in goes
      # to it whoever sends it: endpoint-independent mapping and filtering.
      echo "chain post { type nat hook postrouting priority 100; oifname \"$2\" snat ip to $3; }
chain pre { type nat hook prerouting priority -100; iifname \"$2\" ip daddr $3 udp dport 1024-65535 dnat ip to $4; }" ;;
    port-restricted) echo "chain post { type nat hook postrouting priority 100; oifname \"$2\" masquerade; }" ;;
    symmetric) echo "chain post { type nat hook postrouting priority 100; oifname \"$2\" masquerade random,fully-random; }" ;;
  esac
}
loss_percent=""
case "$row" in
  lossy-5) loss_percent=5 ;;
  lossy-20) loss_percent=20 ;;
esac
gateway() {  # gateway NS KIND OUTSIDE_DEV OUTSIDE_IP INSIDE_IP EXTRA_FILTER LOSS_PERCENT
  local nat filter=""
  nat=$(nat_rules "$2" "$3" "$4" "$5")
  [ -n "$nat" ] && nat="table ip nat {
$nat
}"
  # Unasked packets for the gateway itself are dropped before the connection tracker keeps
  # them: kept, they would take the outside port of a mapping the inside host asks for a
  # moment later, and the gateway would pick another port as a symmetric NAT does.
  [ "$2" = none ] || nat="$nat
table ip guard {
chain input { type filter hook input priority 0; iifname \"$3\" ct state new drop; }
}"
  local drops="$6" loss_percent="$7"
  [ -n "$loss_percent" ] && drops="$drops
meta l4proto udp numgen random mod 100 < $loss_percent drop"
  [ -n "$drops" ] && filter="table ip filter {
chain forward { type filter hook forward priority 0;
$drops
}
}"
  printf '%s\n%s\n' "$nat" "$filter" > "$workdir/$1.nft"
  ip netns exec "$1" nft -f "$workdir/$1.nft" || skip "nftables refused the rules"
}
gateway "$ga" "$kind_a" "$tag-ao" 198.19.1.2 198.18.1.2 "" "$loss_percent"
blocked=""
[ "$row" = udp-blocked ] && blocked="ip saddr 198.18.2.0/24 meta l4proto udp drop"
gateway "$gb" "$kind_b" "$tag-bo" 198.19.2.2 198.18.2.2 "$blocked" ""

if [ "$row" = delayed ]; then
  start_link_emulator "$link" "$tag-e" "$tag-f" 50 "$workdir/link.log"
fi

start_stun "$net" 198.19.1.1 "$workdir"

export VEXALO_NAT_ROW=$row VEXALO_NAT_NS_A=$a VEXALO_NAT_NS_B=$b VEXALO_NAT_NS_NET=$net
if [ "$row" = cut-direct ]; then
  export VEXALO_NAT_CUT="ip netns exec $net nft 'add table ip cut; \
add chain ip cut direct { type filter hook forward priority 0; }; \
add rule ip cut direct ip saddr 198.19.1.2 ip daddr 198.19.2.2 drop; \
add rule ip cut direct ip saddr 198.19.2.2 ip daddr 198.19.1.2 drop'"
fi
status=0
"$@" || status=$?
exit $status
