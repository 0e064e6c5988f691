#!/usr/bin/env bash
# The window with 200,000 streamed result rows: worst input lateness and sort times.
# Runs offscreen; with --xvfb on a virtual X display instead (real painting through X).
# Builds first. Extra arguments: ROWS BATCH.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VUV_BUILD_DIR:-$root/build}
bash "$root/scripts/build.sh" >/dev/null
bench=$build/bench/app/vuvuveva-app-bench
if [ "${1:-}" = "--xvfb" ]; then
  shift
  exec xvfb-run -a "$bench" "$@"
fi
QT_QPA_PLATFORM=offscreen exec "$bench" "$@"
