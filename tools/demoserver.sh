#!/usr/bin/env bash
# Starts a private XMPP server (Prosody) on 127.0.0.1 for the demo: a test certificate, the
# domain "localhost" and two accounts. Usage: tools/demoserver.sh DIR PORT
# Prints "ready" when it accepts connections; the server's pid is in DIR/prosody.pid.
set -euo pipefail
dir=$1
port=$2
mkdir -p "$dir/data/localhost/accounts" "$dir/data/localhost/roster"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$dir/key.pem" \
  -out "$dir/cert.pem" -days 2 -subj /CN=localhost \
  -addext subjectAltName=DNS:localhost,IP:127.0.0.1 2>/dev/null
chmod 644 "$dir/key.pem"
for account in "you:demo-password" "buddy:buddy-password"; do
  name=${account%%:*}
  printf 'return { ["password"] = "%s"; };\n' "${account#*:}" >"$dir/data/localhost/accounts/$name.dat"
done
# The two are already contacts of each other.
cat >"$dir/data/localhost/roster/you.dat" <<'ROSTER'
return { [false] = { ["version"] = 1; }; ["buddy@localhost"] = { ["subscription"] = "both"; ["name"] = "Demo Buddy"; ["groups"] = {}; }; };
ROSTER
cat >"$dir/data/localhost/roster/buddy.dat" <<'ROSTER'
return { [false] = { ["version"] = 1; }; ["you@localhost"] = { ["subscription"] = "both"; ["name"] = "You"; ["groups"] = {}; }; };
ROSTER
cat >"$dir/prosody.cfg.lua" <<CFG
run_as_root = true
daemonize = false
data_path = "$dir/data"
pidfile = "$dir/prosody.pid"
log = { info = "$dir/prosody.log" }
interfaces = { "127.0.0.1" }
c2s_ports = { $port }
s2s_ports = { }
modules_disabled = { "s2s" }
modules_enabled = { "roster", "saslauth", "tls", "disco", "ping", "vcard_legacy" }
c2s_require_encryption = true
allow_unencrypted_plain_auth = false
authentication = "internal_plain"
allow_registration = false
ssl = { certificate = "$dir/cert.pem"; key = "$dir/key.pem"; }
VirtualHost "localhost"
CFG
prosody --config "$dir/prosody.cfg.lua" -F >"$dir/out.log" 2>&1 &
for _ in $(seq 1 100); do
  if (exec 3<>/dev/tcp/127.0.0.1/"$port") 2>/dev/null; then echo ready; exit 0; fi
  sleep 0.05
done
echo "the demo server did not start; see $dir/out.log" >&2
exit 1
