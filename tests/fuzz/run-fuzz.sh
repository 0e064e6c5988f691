#!/usr/bin/env bash
# Builds the fuzz targets in their own build folder and runs each of them for SECONDS (default
# 60) from its seed corpus:
#   tree_file_fuzzer   the network tree file loader
#   wsd_fuzzer         the XML reader and everything that reads WS-Discovery traffic
# Exits non-zero when any target finds a crash, a sanitizer report, a broken promise, a leak, a
# slow input or excessive memory; the input is saved under the build folder. Every target runs
# even when an earlier one failed.
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

# name  corpus folder  dictionary  max_len
# max_len: tree files need several lines of the longest length, so the line bound is reached;
# WS-Discovery datagrams are at most 64 KiB, and the reader's own limits lie below that.
targets=(
  "tree_file_fuzzer tree_file tree_file.dict 20000"
  "wsd_fuzzer wsd wsd.dict 70000"
)

CC=clang CXX=clang++ cmake -S "$source_dir" -B "$build_dir" -G Ninja \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVUV_BUILD_FUZZ=ON -DVUV_BUILD_SMB=OFF -DVUV_BUILD_APP=OFF >/dev/null
names=()
for t in "${targets[@]}"; do names+=("${t%% *}"); done
ninja -C "$build_dir" "${names[@]}"

# New inputs go to scratch copies so the committed seeds stay small and reviewed.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

failed=()
for t in "${targets[@]}"; do
  read -r name corpus dict max_len <<<"$t"
  mkdir -p "$scratch/$corpus"
  cp "$here/corpus/$corpus/"* "$scratch/$corpus/"
  artifacts="$build_dir/fuzz-artifacts/$corpus/"
  mkdir -p "$artifacts"
  echo "==> $name for ${seconds}s"
  # timeout/rss_limit: a hang or a memory blow-up counts as a failure, like a crash.
  if ! "$build_dir/tests/fuzz/$name" \
    -max_total_time="$seconds" \
    -max_len="$max_len" \
    -timeout=10 \
    -rss_limit_mb=2048 \
    -dict="$here/$dict" \
    -artifact_prefix="$artifacts" \
    -print_final_stats=1 \
    "$scratch/$corpus"; then
    failed+=("$name")
  fi
done
if ((${#failed[@]})); then
  echo "fuzzing failed: ${failed[*]} (inputs under $build_dir/fuzz-artifacts/)" >&2
  exit 1
fi
echo "fuzzing passed: ${names[*]}"
