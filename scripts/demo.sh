#!/usr/bin/env bash
# The main job: installs what is needed, builds, starts the project's demo Samba network (real
# hosts in network namespaces; needs root), discovers it, searches it; with a display ($DISPLAY
# or $WAYLAND_DISPLAY) it then opens the window on the discovered tree and waits until the
# window is closed; last it tears the network down.
#
#   VUV_NET_PREFIX   name prefix of the demo network's namespaces (default vuvdemo)
set -euo pipefail
# Network namespaces and package installs need root.
# The display variables go along so that the window can open on the caller's screen.
if [ "$(id -u)" -ne 0 ]; then
  exec sudo --preserve-env=VUV_NET_PREFIX,VUV_NET_MODERN,VUV_FUZZ_SECONDS,DISPLAY,XAUTHORITY,WAYLAND_DISPLAY,XDG_RUNTIME_DIR \
    bash "$0" "$@"
fi
root=$(cd "$(dirname "$0")/.." && pwd)
export VUV_NET_PREFIX=${VUV_NET_PREFIX:-vuvdemo}
# Old and modern hosts side by side: NetBIOS browsing and WS-Discovery both have work to do.
export VUV_NET_MODERN=${VUV_NET_MODERN:-1}
net="$root/tests/network/testnet.sh"
cli="$root/build/src/cli/vuvuveva-cli"
app="$root/build/src/app/vuvuveva"

"$root/scripts/install-deps.sh"
"$root/scripts/build.sh"

saved=$(mktemp -d)
trap '"$net" down >/dev/null 2>&1 || true; rm -rf "$saved"' EXIT
echo "==> Starting the demo network (real Samba hosts; the browse lists take about 30 s)"
"$net" up

echo
echo "==> vuvuveva-cli discover --save demo.brk"
time "$net" exec "$cli" discover --save "$saved/demo.brk"

echo
echo "==> vuvuveva-cli search --location 'MS Windows Network' --pattern '*.txt'  (the whole network)"
time "$net" exec "$cli" search --location 'MS Windows Network' --pattern '*.txt' || echo "(exit code $?)"

echo
echo "==> vuvuveva-cli search --location '\\\\S1\\Public' --pattern '*' --format csv"
"$net" exec "$cli" search --location '\\S1\Public' --pattern '*' --format csv || echo "(exit code $?)"

echo
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  echo "==> vuvuveva demo.brk  (the window on the discovered tree; the demo ends when it is closed)"
  # In the client namespace, as the command line tool ran: the window reaches the same hosts.
  "$net" exec "$app" "$saved/demo.brk" || echo "(exit code $?)"
else
  echo "==> No display (\$DISPLAY and \$WAYLAND_DISPLAY are empty): the window was not started."
  echo "    On a desktop, run this script again to see it on the demo network, or start it on your"
  echo "    own network with: $app [FILE.brk]"
fi
