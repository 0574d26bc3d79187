#!/usr/bin/env bash
# Puts a test program behind a NAT: three network namespaces (inside, gateway, outside) joined
# by veth pairs in the 198.18.0.0/15 benchmarking range, nftables on the gateway doing the NAT,
# and coturn outside as the STUN server. Touches nothing in the machine's own namespace.
# Exit code 77 (skipped) where namespaces or nftables are refused.
# Usage: p2p-nat.sh KIND COMMAND [ARGS...]
#   KIND: full-cone, port-restricted, symmetric, lossy (port-restricted, half the UDP dropped
#   each way on the gateway), delayed (port-restricted, with a link namespace between inside
#   and gateway holding every frame 150 ms each way and 20% of the UDP dropped; the link
#   emulator's path is in VEXALO_LINKEMULATOR)
set -euo pipefail

kind=$1; shift
skip() { echo "p2p-nat.sh: $*; skipping" >&2; exit 77; }
. "$(dirname "$0")/netns-common.sh"
require_tools ip nft turnserver

if [ "$kind" = delayed ]; then
  [ -x "${VEXALO_LINKEMULATOR:-}" ] || skip "VEXALO_LINKEMULATOR does not name the link emulator"
fi

tag=vxn$$
in=$tag-in gw=$tag-gw out=$tag-out link=$tag-ln
workdir=$(mktemp -d)
turn_pid=""
link_pid=""
cleanup() {
  set +e
  for pid in "$turn_pid" "$link_pid"; do
    [ -n "$pid" ] || continue
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  for ns in "$in" "$gw" "$out" "$link"; do ip netns del "$ns" 2>/dev/null || true; done
  rm -rf "$workdir"
}
trap cleanup EXIT

ip netns add "$in" 2>/dev/null || skip "cannot create network namespaces"
ip netns add "$gw"
ip netns add "$out"
if [ "$kind" = delayed ]; then
  # inside -a|e- link -f|b- gateway: the emulator moves the frames between e and f.
  ip netns add "$link"
  ip link add "$tag-a" type veth peer name "$tag-e" || skip "cannot create veth pairs"
  ip link add "$tag-f" type veth peer name "$tag-b"
  ip link set "$tag-e" netns "$link"
  ip link set "$tag-f" netns "$link"
  ip -n "$link" link set "$tag-e" up
  ip -n "$link" link set "$tag-f" up
  ip -n "$link" link set lo up
else
  ip link add "$tag-a" type veth peer name "$tag-b" || skip "cannot create veth pairs"
fi
ip link set "$tag-a" netns "$in"
ip link set "$tag-b" netns "$gw"
ip link add "$tag-c" type veth peer name "$tag-d"
ip link set "$tag-c" netns "$gw"
ip link set "$tag-d" netns "$out"

inside=198.18.1.2 gateway_in=198.18.1.1 gateway_out=198.19.0.1 server=198.19.0.2
ip -n "$in" addr add $inside/24 dev "$tag-a"
ip -n "$gw" addr add $gateway_in/24 dev "$tag-b"
ip -n "$gw" addr add $gateway_out/24 dev "$tag-c"
ip -n "$out" addr add $server/24 dev "$tag-d"
for ns in "$in" "$gw" "$out"; do ip -n "$ns" link set lo up; done
ip -n "$in" link set "$tag-a" up
ip -n "$gw" link set "$tag-b" up
ip -n "$gw" link set "$tag-c" up
ip -n "$out" link set "$tag-d" up
ip -n "$in" route add default via $gateway_in
ip netns exec "$gw" sysctl -qw net.ipv4.ip_forward=1

case "$kind" in
  full-cone)
    # One fixed outside address for the one inside host, and everything that comes back in
    # goes to it whoever sends it: endpoint-independent mapping and filtering.
    nat="chain post {
  type nat hook postrouting priority 100;
  oifname \"$tag-c\" snat ip to $gateway_out
}
chain pre {
  type nat hook prerouting priority -100;
  iifname \"$tag-c\" ip daddr $gateway_out udp dport 1024-65535 dnat ip to $inside
}" ;;
  port-restricted|lossy|delayed)
    nat="chain post {
  type nat hook postrouting priority 100;
  oifname \"$tag-c\" masquerade
}" ;;
  symmetric)
    nat="chain post {
  type nat hook postrouting priority 100;
  oifname \"$tag-c\" masquerade random,fully-random
}" ;;
  *) echo "unknown NAT kind: $kind" >&2; exit 2 ;;
esac
loss=""
case "$kind" in
  lossy) loss_percent=50 ;;
  delayed) loss_percent=20 ;;
  *) loss_percent="" ;;
esac
if [ -n "$loss_percent" ]; then
  loss="chain drops {
  type filter hook forward priority 0;
  meta l4proto udp numgen random mod 100 < $loss_percent drop
}"
fi
printf 'table ip nat {\n%s\n}\ntable ip loss {\n%s\n}\n' "$nat" "$loss" > "$workdir/rules.nft"
[ -n "$loss" ] || printf 'table ip nat {\n%s\n}\n' "$nat" > "$workdir/rules.nft"
ip netns exec "$gw" nft -f "$workdir/rules.nft" || skip "nftables refused the NAT rules"

if [ "$kind" = delayed ]; then
  start_link_emulator "$link" "$tag-e" "$tag-f" 150 "$workdir/link.log"
fi

start_stun "$out" $server "$workdir"

export VEXALO_NAT_KIND=$kind VEXALO_NAT_STUN=$server:3478 VEXALO_NAT_LOCAL=$inside \
  VEXALO_NAT_EXTERNAL=$gateway_out
status=0
ip netns exec "$in" "$@" || status=$?
exit $status
