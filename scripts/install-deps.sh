#!/usr/bin/env bash
# Installs the Debian 12 packages Vuvuveva needs to build, test and run its demo network.
# Idempotent: asks apt only when something is missing. Needs root (or sudo).
set -euo pipefail

packages=(
  # build
  g++ cmake ninja-build pkg-config
  # libraries
  libsmbclient-dev qt6-base-dev
  # tests
  libgtest-dev libgmock-dev clang libclang-rt-14-dev xvfb xauth
  # the test network: real Samba hosts in network namespaces
  samba smbclient wsdd iproute2 nftables procps
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
echo "Installing: ${missing[*]}" >&2
"${sudo[@]}" apt-get update -qq
DEBIAN_FRONTEND=noninteractive "${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
