#!/usr/bin/env bash
# Builds the fuzz targets (in VUV_FUZZ_BUILD_DIR, default build-fuzz) and runs each for SECONDS
# (default 60) from its seed corpus. Fails when any target finds a crash, sanitizer report,
# leak, hang or memory blow-up (input saved under the build folder); every target runs anyway.
#   tests/fuzz/run-fuzz.sh [SECONDS]
set -euo pipefail
seconds=${1:-60}
[[ $seconds =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [SECONDS]" >&2; exit 2; }
here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
build_dir=${VUV_FUZZ_BUILD_DIR:-$here/../../build-fuzz}
# name corpus max_len: tree files need several longest lines to reach the line bound; datagrams
# are at most 64 KiB.
targets=("tree_file_fuzzer tree_file 20000" "wsd_fuzzer wsd 70000")
CC=clang CXX=clang++ cmake -S "$here/../.." -B "$build_dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DVUV_BUILD_FUZZ=ON -DVUV_BUILD_SMB=OFF -DVUV_BUILD_APP=OFF >/dev/null
ninja -C "$build_dir" tree_file_fuzzer wsd_fuzzer
scratch=$(mktemp -d)  # new inputs land here, so the committed seeds stay small and reviewed
trap 'rm -rf "$scratch"' EXIT
failed=()
for t in "${targets[@]}"; do
  read -r name corpus max_len <<<"$t"
  mkdir -p "$scratch/$corpus" "$build_dir/fuzz-artifacts/$corpus"
  cp "$here/corpus/$corpus/"* "$scratch/$corpus/"
  "$build_dir/tests/fuzz/$name" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 -rss_limit_mb=2048 \
    -dict="$here/$corpus.dict" -artifact_prefix="$build_dir/fuzz-artifacts/$corpus/" -print_final_stats=1 \
    "$scratch/$corpus" || failed+=("$name")
done
((${#failed[@]} == 0)) || { echo "fuzzing failed: ${failed[*]} (inputs under $build_dir/fuzz-artifacts/)" >&2; exit 1; }
echo "fuzzing passed"
