#!/usr/bin/env bash
# Installs the Debian 12 packages that building and testing need. Quick when all are present.
set -euo pipefail

packages=(
  build-essential cmake ninja-build ccache pkg-config git
  clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  libglib2.0-dev libexpat1-dev
  libstrophe-dev
  libssl-dev openssl libkrb5-dev gss-ntlmssp
  # real peers for the integration tests
  squid dante-server tinyproxy prosody ejabberd nginx python3-slixmpp
  # a private Kerberos realm for Negotiate through squid
  krb5-kdc krb5-user
  # HTTP: libcurl as the benchmark's anchor; libproxy for the system's proxy settings
  libcurl4-openssl-dev libproxy-dev libproxy1-plugin-webkit libproxy1-plugin-gsettings
  # settings, secret store and desktop integration; a Secret Service for its tests
  libsecret-1-dev libglib2.0-bin gnome-keyring dbus dbus-daemon python3
  # route changes in a private network namespace for the network monitor's test
  iproute2
  # peer-to-peer: coturn as the STUN server, libnice's STUN API as the benchmark's anchor,
  # nftables for NAT in test namespaces
  coturn libnice-dev nftables
  # voice engine: echo/gain/noise control and resampling, codecs, sound server, sound files;
  # a PulseAudio server for the device tests (null sinks, no hardware)
  libspeexdsp-dev libspeex-dev libopus-dev libpulse-dev libsndfile1-dev pulseaudio
  # the desktop front end, and its test in a real display through the accessibility bus
  libgtk-4-dev libadwaita-1-dev xvfb at-spi2-core python3-pyatspi python3-dogtail
  python3-gi gir1.2-gtk-3.0 adwaita-icon-theme
  # the chat view
  libwebkitgtk-6.0-dev
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
# Package scripts must not start system-wide daemons on a test machine.
if [ ! -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\nexit 101\n' | $sudo tee /usr/sbin/policy-rc.d >/dev/null
  $sudo chmod 755 /usr/sbin/policy-rc.d
fi
echo "installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
