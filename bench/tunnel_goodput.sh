#!/usr/bin/env bash
# Goodput of PseudoTcp over UDP against kernel TCP clamped to the same 61,440-byte window, side
# by side, between two network namespaces joined through the link emulator (25 ms each way:
# a 50 ms round trip, Ethernet MTU) with 0, 1 and 5% of the packets dropped by nftables as
# each end takes them in (dropped on output, sendto fails with EPERM and both stacks just send
# again: no packet is lost). The window/RTT bound is 61,440 B / 50 ms = 1,200 KB/s.
# Usage: bench/tunnel_goodput.sh BUILD_DIR [MEGABYTES]
set -euo pipefail
build=${1:?usage: tunnel_goodput.sh BUILD_DIR [MEGABYTES]}
megabytes=${2:-4}
binary="$build/bench/tunnel_goodput"
emulator="$build/tests/vexalo_linkemulator"
tag=vxg$$
a=${tag}a; b=${tag}b; link=${tag}l
work=$(mktemp -d)
emulator_pid=""
cleanup() {
  [ -n "$emulator_pid" ] && kill "$emulator_pid" 2>/dev/null || true
  for ns in "$a" "$b" "$link"; do ip netns del "$ns" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
for ns in "$a" "$b" "$link"; do ip netns add "$ns"; ip -n "$ns" link set lo up; done
# a -x|e- link -f|y- b: the emulator moves the frames between e and f.
ip link add "$tag-x" type veth peer name "$tag-e"
ip link add "$tag-f" type veth peer name "$tag-y"
ip link set "$tag-x" netns "$a"; ip link set "$tag-e" netns "$link"
ip link set "$tag-f" netns "$link"; ip link set "$tag-y" netns "$b"
ip -n "$a" addr add 198.18.7.1/24 dev "$tag-x"
ip -n "$b" addr add 198.18.7.2/24 dev "$tag-y"
# No segmentation offload: every frame on the link is one packet of at most the MTU, as on a
# real wire, and the emulator can hand each one on.
ip -n "$a" link set "$tag-x" gso_max_segs 1 gso_max_size 1500
ip -n "$b" link set "$tag-y" gso_max_segs 1 gso_max_size 1500
for pair in "$a $tag-x" "$link $tag-e" "$link $tag-f" "$b $tag-y"; do
  set -- $pair; ip -n "$1" link set "$2" up
done
ip netns exec "$link" "$emulator" "$tag-e" "$tag-f" 25 > "$work/link.log" 2>&1 &
emulator_pid=$!
for _ in $(seq 50); do grep -q '<->' "$work/link.log" && break; sleep 0.1; done
printf 'loss\tmode\tbytes\tseconds\tKB/s\tCPU ms/MB (receiver)\n'
port=40000
for loss in 0 1 5; do
  for ns in "$a" "$b"; do
    ip netns exec "$ns" nft delete table ip loss 2>/dev/null || true
    if [ "$loss" != 0 ]; then
      printf 'table ip loss {\n chain drops {\n  type filter hook input priority 0;\n  numgen random mod 100 < %s drop\n }\n}\n' \
        "$loss" | ip netns exec "$ns" nft -f -
    fi
  done
  for mode in pseudotcp tcp; do
    port=$((port + 1))
    printf '%s%%\t' "$loss"
    ip netns exec "$b" "$binary" "$mode" recv 198.18.7.2 198.18.7.1 $port "$megabytes" 300 &
    receiver=$!
    sleep 0.3
    ip netns exec "$a" "$binary" "$mode" send 198.18.7.1 198.18.7.2 $port "$megabytes" 300 2>> "$work/senders.log" || true
    wait "$receiver" || true
  done
done
cat "$work/senders.log" >&2
