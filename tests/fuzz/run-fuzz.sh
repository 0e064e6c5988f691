#!/usr/bin/env bash
# Builds the tree file fuzzer in its own build folder and runs it for SECONDS (default 60) from
# the seed corpus. Exits non-zero when it finds a crash, a sanitizer report, a broken round trip,
# a leak, a slow input or excessive memory; the input is saved under the build folder.
#
#   tests/fuzz/run-fuzz.sh [SECONDS]
#
# VUV_FUZZ_BUILD_DIR overrides the build folder (default: build-fuzz in the source tree).
set -euo pipefail

seconds=${1:-60}
if ! [[ $seconds =~ ^[0-9]+$ ]] || ((seconds == 0)); then
  echo "usage: $0 [SECONDS]" >&2
  exit 2
fi

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
source_dir=$(cd "$here/../.." && pwd)
build_dir=${VUV_FUZZ_BUILD_DIR:-$source_dir/build-fuzz}

CC=clang CXX=clang++ cmake -S "$source_dir" -B "$build_dir" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVUV_BUILD_FUZZ=ON -DVUV_BUILD_SMB=OFF >/dev/null
ninja -C "$build_dir" tree_file_fuzzer

# New inputs go to a scratch copy so the committed seeds stay small and reviewed.
corpus=$(mktemp -d)
trap 'rm -rf "$corpus"' EXIT
cp "$here/corpus/tree_file/"* "$corpus/"
artifacts="$build_dir/fuzz-artifacts/tree_file/"
mkdir -p "$artifacts"

# max_len: several lines of the longest length, so the line bound is reached.
# timeout/rss_limit: a hang or a memory blow-up counts as a failure, like a crash.
"$build_dir/tests/fuzz/tree_file_fuzzer" \
  -max_total_time="$seconds" \
  -max_len=20000 \
  -timeout=10 \
  -rss_limit_mb=2048 \
  -dict="$here/tree_file.dict" \
  -artifact_prefix="$artifacts" \
  -print_final_stats=1 \
  "$corpus"
