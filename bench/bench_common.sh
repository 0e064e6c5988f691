# Sourced by the benchmark scripts: what they share. Sets HERE (bench/), REPO and TESTNET.
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
REPO=$(dirname "$HERE")
TESTNET=$REPO/tests/network/testnet.sh

# Progress on standard error, with the seconds since the script started; die ends it (3).
T0=$SECONDS
log() { printf 'bench [%4ds]: %s\n' "$((SECONDS - T0))" "$*" >&2; }
die() { log "ERROR: $*"; exit 3; }

# Option parsing: `need_value "$@"` before taking $2; `is_count VALUE MIN`; `check_prefix`
# for a test network's name prefix.
need_value() { (($# >= 2)) || { echo "bench: $1 needs a value" >&2; exit 2; }; }
is_count() { [[ $1 =~ ^[0-9]+$ ]] && (($1 >= $2)); }
check_prefix() { [[ $1 =~ ^[A-Za-z0-9]{1,12}$ ]] || { echo "bench: --prefix takes 1-12 letters or digits" >&2; exit 2; }; }

# The vuvuveva-cli under test. Sets CLI to an absolute path: the one given in CLI when set,
# else a Release build in build-bench/ (configured and built as needed).
bench_cli() {
  if [[ -z $CLI ]]; then
    local build=$REPO/build-bench
    if [[ ! -f $build/build.ninja ]]; then
      log "configuring $build"
      cmake -S "$REPO" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
    fi
    log "building vuvuveva-cli and vuvuveva-smb-worker in $build"
    ninja -C "$build" -j2 vuvuveva-cli vuvuveva-smb-worker >/dev/null
    CLI=$build/src/cli/vuvuveva-cli
  fi
  [[ -x $CLI ]] || die "no vuvuveva-cli at $CLI"
  CLI=$(cd "$(dirname "$CLI")" && pwd)/$(basename "$CLI")
  command -v smbclient >/dev/null || die "smbclient is not installed (scripts/install-deps.sh)"
}

# The shared end of a benchmark's EXIT trap, after its own clean-up: the test network down when
# NET_STARTED, the work folder WORK removed (kept with KEEP_WORK), the exit status passed on.
bench_teardown() {
  local rc=$1
  if ((NET_STARTED)); then
    log "tearing the network down"
    "$TESTNET" down >/dev/null 2>&1 || log "testnet.sh down failed (run: VUV_NET_PREFIX=$PREFIX $TESTNET down)"
  fi
  if [[ -n $WORK && -d $WORK ]]; then
    if ((${KEEP_WORK:-0})); then log "outputs kept in $WORK"; else rm -rf "$WORK"; fi
  fi
  exit "$rc"
}
