#!/usr/bin/env bash
# The main job: installs what is needed, builds, starts the project's demo Samba network (real
# hosts in network namespaces; needs root), discovers it, searches it, and tears it down.
#
#   VUV_NET_PREFIX   name prefix of the demo network's namespaces (default vuvdemo)
set -euo pipefail
# Network namespaces and package installs need root.
if [ "$(id -u)" -ne 0 ]; then exec sudo --preserve-env=VUV_NET_PREFIX,VUV_NET_MODERN,VUV_FUZZ_SECONDS bash "$0" "$@"; fi
root=$(cd "$(dirname "$0")/.." && pwd)
export VUV_NET_PREFIX=${VUV_NET_PREFIX:-vuvdemo}
# Old and modern hosts side by side: NetBIOS browsing and WS-Discovery both have work to do.
export VUV_NET_MODERN=${VUV_NET_MODERN:-1}
net="$root/tests/network/testnet.sh"
cli="$root/build/src/cli/vuvuveva-cli"

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"

trap '"$net" down >/dev/null 2>&1 || true' EXIT
echo "==> Starting the demo network (real Samba hosts; the browse lists take about 30 s)"
"$net" up

echo
echo "==> vuvuveva-cli discover"
time "$net" exec "$cli" discover

echo
echo "==> vuvuveva-cli search --location 'MS Windows Network' --pattern '*.txt'  (the whole network)"
time "$net" exec "$cli" search --location 'MS Windows Network' --pattern '*.txt' || echo "(exit code $?)"

echo
echo "==> vuvuveva-cli search --location '\\\\S1\\Public' --pattern '*' --format csv"
"$net" exec "$cli" search --location '\\S1\Public' --pattern '*' --format csv || echo "(exit code $?)"
