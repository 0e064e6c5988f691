#!/usr/bin/env bash
# Configures (once) and builds Vuvuveva into build/ (or $VUV_BUILD_DIR). Incremental.
# Extra arguments go to cmake's configure step, e.g. -DVUV_SANITIZE=ON.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${VUV_BUILD_DIR:-$root/build}
if [ ! -f "$build/build.ninja" ] || [ $# -gt 0 ]; then
  cmake -S "$root" -B "$build" -G Ninja "$@" >/dev/null
fi
cmake --build "$build" -j "$(nproc)"
