# Helpers for the scripts that build test networks out of namespaces; sourced, not run. The
# caller defines skip() (exit 77 with a reason).

# veth NS_1 DEV_1 ADDR_1 NS_2 DEV_2 ADDR_2: a veth pair between two namespaces, addressed and up.
veth() {
  ip link add "$2" type veth peer name "$5" || skip "cannot create veth pairs"
  ip link set "$2" netns "$1"
  ip link set "$5" netns "$4"
  ip -n "$1" addr add "$3" dev "$2"
  ip -n "$4" addr add "$6" dev "$5"
  ip -n "$1" link set "$2" up
  ip -n "$4" link set "$5" up
}

# start_link_emulator NS DEV_A DEV_B DELAY_MS LOG: the link emulator ($VEXALO_LINKEMULATOR)
# between two devices of NS; sets link_pid once it holds both sides.
start_link_emulator() {
  ip netns exec "$1" "$VEXALO_LINKEMULATOR" "$2" "$3" "$4" > "$5" 2>&1 &
  link_pid=$!
  # It says so once it holds both sides.
  for _ in $(seq 50); do
    grep -q '<->' "$5" && break
    kill -0 "$link_pid" 2>/dev/null || break
    sleep 0.1
  done
  grep -q '<->' "$5" || { cat "$5" >&2; skip "the link emulator did not start"; }
}

# start_stun NS IP WORKDIR: coturn as a plain STUN server on IP:3478 in NS; sets turn_pid.
start_stun() {
  ip netns exec "$1" turnserver -n --stun-only --listening-ip "$2" --listening-port 3478 \
    --userdb "$3/db" --pidfile "$3/pid" --no-cli --no-tls --no-dtls \
    --log-file stdout > "$3/turn.log" 2>&1 &
  turn_pid=$!
  for _ in $(seq 50); do
    ip netns exec "$1" ss -lun | grep -q "$2:3478" && break
    sleep 0.1
  done
}

# require_tools TOOL...: skips unless every tool is on PATH.
require_tools() {
  for tool; do
    command -v "$tool" >/dev/null || skip "$tool is not installed"
  done
}
