#!/bin/sh
# The real window on the test network under Xvfb, driven through accessibility.
#   window_network_test.sh APP CLI TREE_FILE SCREENSHOT
set -eu
here=$(cd "$(dirname "$0")" && pwd)
XDG_RUNTIME_DIR=$(mktemp -d)
export XDG_RUNTIME_DIR
# The index of names and the settings of this run only.
export XDG_CACHE_HOME=$XDG_RUNTIME_DIR/cache XDG_CONFIG_HOME=$XDG_RUNTIME_DIR/config
trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
# A display number of our own range: helpers running at once must not race for :99.
xvfb-run -a -n $((200 + $$ % 700)) dbus-run-session -- sh -c '
  dbus-send --session --print-reply --dest=org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress >/dev/null
  exec /usr/bin/python3 "$0" "$@"' "$here/window_network_test.py" "$@"
