#!/usr/bin/env bash
# Installs the Debian 12 packages Vuvuveva needs to build, test and run its demo network.
# Idempotent: asks apt only when something is missing. Needs root (or sudo).
set -euo pipefail

packages=(
  # build
  g++ cmake ninja-build pkg-config ccache
  # libraries
  libsmbclient-dev libtevent-dev qt6-base-dev qt6-svg-dev libcli11-dev libc-ares-dev libsqlite3-dev
  # tests
  libgtest-dev libgmock-dev clang libclang-rt-14-dev xvfb xauth imagemagick
  # the window driven through accessibility under Xvfb
  xdotool at-spi2-core python3-pyatspi dbus-x11
  # the window's file actions: xdg-open, xdg-mime
  xdg-utils
  # the installed desktop entry and MIME type checked
  desktop-file-utils libxml2-utils shared-mime-info
  # the case-folding table's generator and its test (CaseFolding.txt)
  unicode-data
  # the test network: real Samba hosts in network namespaces
  samba smbclient wsdd iproute2 nftables procps
  # ...and its optional Kerberos domain (testnet.sh kdc-up)
  samba-ad-dc samba-ad-provision krb5-user
  # ...and its tools: flock, setsid (util-linux); the libsmbclient checker lsnet.py (python3)
  util-linux python3
  # benchmarks
  findutils time
)

missing=()
for package in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q 'install ok installed' || missing+=("$package")
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=()
[ "$(id -u)" -eq 0 ] || sudo=(sudo)
# Installing samba must not start smbd/nmbd in the root namespace (they broadcast): keep
# services from starting while apt runs, unless a policy already says so.
if [ ! -e /usr/sbin/policy-rc.d ]; then
  printf '#!/bin/sh\nexit 101\n' | "${sudo[@]}" tee /usr/sbin/policy-rc.d >/dev/null
  "${sudo[@]}" chmod 755 /usr/sbin/policy-rc.d
  trap '"${sudo[@]}" rm -f /usr/sbin/policy-rc.d' EXIT
fi
echo "Installing: ${missing[*]}" >&2
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
