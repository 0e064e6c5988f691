#!/usr/bin/env bash
# CTest fixture hooks for the test network (see TestNetwork.cmake).
#
#   ctest-fixture.sh check     exit 0 if this machine can run the network, else say why
#   ctest-fixture.sh setup     testnet.sh up   (FIXTURES_SETUP)
#   ctest-fixture.sh cleanup   testnet.sh down (FIXTURES_CLEANUP)
#
# VUV_NET_PREFIX and VUV_NET_MODERN are passed through to testnet.sh.
set -euo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
TESTNET=$HERE/testnet.sh

check() {
  local missing=() t
  [[ $(id -u) == 0 ]] || { echo "not root: network namespaces need root"; return 1; }
  for t in ip nft smbd nmbd smbclient nmblookup testparm python3 flock setsid ss; do
    command -v "$t" >/dev/null || missing+=("$t")
  done
  if [[ ${VUV_NET_MODERN:-0} == 1 ]] && ! command -v wsdd >/dev/null; then missing+=(wsdd); fi
  ((${#missing[@]} == 0)) || { echo "missing: ${missing[*]} (scripts/install-deps.sh)"; return 1; }
  python3 -c 'import ctypes.util, sys; sys.exit(0 if ctypes.util.find_library("smbclient") else 1)' ||
    { echo "missing: libsmbclient"; return 1; }
  # Can we make a namespace at all (some containers forbid it)?
  local probe=vuvprobe$$
  ip netns add "$probe" 2>/dev/null || { echo "cannot create network namespaces here"; return 1; }
  ip netns del "$probe"
}

case ${1:-} in
  check) check ;;
  setup)
    check || exit 1
    # up tears down on its own failure; the output goes to the CTest log.
    exec "$TESTNET" up ;;
  cleanup)
    exec "$TESTNET" down ;;
  *)
    sed -n '2,9p' "$0" | sed 's/^# \{0,1\}//' >&2
    exit 2 ;;
esac
