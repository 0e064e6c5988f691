#!/usr/bin/env bash
# Runs every test: unit and worker tests, the unit, worker pool and command line tests again
# under AddressSanitizer with UndefinedBehaviorSanitizer and under ThreadSanitizer, the fuzzers (tree files, WS-Discovery messages) for a bounded time, and the integration
# tests on the project's own Samba network (built in network namespaces; needs root).
#
#   VUV_FUZZ_SECONDS   how long each fuzzer runs (default 60)
#   VUV_NET_PREFIX     name prefix of the test network's namespaces (default vuvtest)
set -uo pipefail
# Network namespaces and package installs need root.
if [ "$(id -u)" -ne 0 ]; then exec sudo --preserve-env=VUV_NET_PREFIX,VUV_NET_MODERN,VUV_FUZZ_SECONDS bash "$0" "$@"; fi
root=$(cd "$(dirname "$0")/.." && pwd)
export VUV_NET_PREFIX=${VUV_NET_PREFIX:-vuvtest}
fuzz_seconds=${VUV_FUZZ_SECONDS:-60}

"$root/scripts/install-deps.sh" || exit 1

passed=0
failed=0
failures=()
# Runs one stage; its ctest summary, when it has one, adds to the totals.
stage() {
  local name=$1
  shift
  echo "==> $name"
  local log
  log=$(mktemp)
  "$@" 2>&1 | tee "$log"
  local rc=${PIPESTATUS[0]}
  local summary
  summary=$(grep -E 'tests passed, [0-9]+ tests failed out of [0-9]+' "$log" | tail -1)
  if [ -n "$summary" ]; then
    local total bad
    total=$(sed -E 's/.* out of ([0-9]+).*/\1/' <<<"$summary")
    bad=$(sed -E 's/.*passed, ([0-9]+) tests failed.*/\1/' <<<"$summary")
    passed=$((passed + total - bad))
    failed=$((failed + bad))
  elif [ "$rc" -eq 0 ]; then
    passed=$((passed + 1))
  fi
  if [ "$rc" -ne 0 ]; then
    failures+=("$name")
    [ -z "$summary" ] && failed=$((failed + 1))
  fi
  rm -f "$log"
}

build_and_test() {
  local dir=$1
  shift
  VUV_BUILD_DIR=$dir "$root/scripts/build.sh" "$@" && (cd "$dir" && ctest --output-on-failure -j 2 -LE network)
}

stage "build and unit tests" build_and_test "$root/build" -DVUV_NETWORK_TESTS=ON
stage "unit, worker pool and CLI tests under ASan/UBSan" build_and_test "$root/build-asan" -DVUV_SANITIZE=address -DVUV_BUILD_SMB=ON
# Debian's Qt is not built for ThreadSanitizer, which then reports its inner locking as races:
# the window's tests run in the other two builds.
stage "unit, worker pool and CLI tests under TSan" build_and_test "$root/build-tsan" -DVUV_SANITIZE=thread -DVUV_BUILD_SMB=ON -DVUV_BUILD_APP=OFF
stage "fuzzing the tree file loader and the WS-Discovery parsers (${fuzz_seconds}s each)" "$root/tests/fuzz/run-fuzz.sh" "$fuzz_seconds"
stage "integration tests on the test network" bash -c "cd '$root/build' && ctest --output-on-failure -L network"

echo
if [ ${#failures[@]} -gt 0 ]; then
  echo "Failed stages: ${failures[*]}"
fi
echo "$passed passed, $failed failed"
[ ${#failures[@]} -eq 0 ]
