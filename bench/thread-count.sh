#!/usr/bin/env bash
# Peak thread count of one command line run, sampled from /proc every 5 ms; by default a search
# of the whole test network for every name. A measurement, not a test.
#
#   sudo VUV_NET_PREFIX=NAME bench/thread-count.sh [CLI ARGUMENTS...]
#
# Needs the test network up (tests/network/testnet.sh up, same prefix) and a built
# build/src/cli/vuvuveva-cli (or $VUV_CLI). Prints the peak thread count of the command line
# tool itself (its SMB worker processes are single-threaded processes of their own).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cli=${VUV_CLI:-$root/build/src/cli/vuvuveva-cli}
if [ $# -eq 0 ]; then set -- search --location "MS Windows Network" --pattern '*'; fi
exec "$root/tests/network/testnet.sh" exec bash -c '
  "$@" >/dev/null 2>&1 &
  pid=$!
  peak=0
  while [ -r /proc/$pid/status ]; do
    n=$(awk "/^Threads:/ {print \$2}" /proc/$pid/status 2>/dev/null || true)
    [ -n "$n" ] && [ "$n" -gt "$peak" ] && peak=$n
    sleep 0.005
  done
  wait $pid || true
  echo "peak threads: $peak"
' thread-count "$cli" "$@"
