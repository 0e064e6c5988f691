#!/usr/bin/env bash
# Index benchmark: the index of names at a million entries (database size, time to record,
# a pattern with three literal characters, "*.*" to the last row, what a search below one
# folder reads first, how soon a stop ends a read),
# a walk of an in-memory share with and without recording, and on the test network a
# whole-network search with the index on, off, and answered from the index. Reports; fails only when the index's rows differ from
# the live ones.
#
#   sudo bench/index-benchmark.sh [--build DIR] [--entries N] [--repeat N] [--no-network]
#
#   --build DIR    a configured build tree (default build/): vuvuveva-index-bench,
#                  vuvuveva-cli and vuvuveva-smb-worker are built there
#   --entries N    entries recorded (default 1000000)
#   --repeat N     network searches per variant, best kept (default 5)
#   --skip-index   no recording of generated entries: the walks only
#   --no-network   only the in-process part (no root needed)
#   --prefix NAME  test network prefix (default vidxbench); one already up is used and left up
# Goals: three literal characters under 50 ms, "*.*" under 1 s to the last row, a search with
# the index at most 5 % slower than without.
set -euo pipefail
# shellcheck source=bench/bench_common.sh
source "$(dirname "${BASH_SOURCE[0]}")/bench_common.sh"

BUILD=$REPO/build ENTRIES=1000000 REPEAT=5 NETWORK=1 PREFIX=vidxbench OWN_NETWORK=0
while (($#)); do
  case $1 in
    --build) need_value "$@"; BUILD=$2; shift 2 ;;
    --entries) need_value "$@"; is_count "$2" 100 || { echo "bench: --entries N" >&2; exit 2; }; ENTRIES=$2; shift 2 ;;
    --repeat) need_value "$@"; is_count "$2" 1 || { echo "bench: --repeat N" >&2; exit 2; }; REPEAT=$2; shift 2 ;;
    --no-network) NETWORK=0; shift ;;
    --prefix) need_value "$@"; PREFIX=$2; shift 2 ;;
    --skip-index) ENTRIES=0; shift ;;
    -h|--help) sed -n '2,/^set -euo/p' "$0" | sed '$d; s/^# \{0,1\}//'; exit 0 ;;
    *) echo "bench: unknown option $1" >&2; exit 2 ;;
  esac
done
log() { echo "index-bench: $*" >&2; }
die() { log "$*"; exit 3; }

cmake --build "$BUILD" --target vuvuveva-index-bench vuvuveva-cli vuvuveva-smb-worker >/dev/null || die "build failed"
work=$(mktemp -d /tmp/vuv-index-bench.XXXXXX)
cleanup() {
  ((OWN_NETWORK)) && VUV_NET_PREFIX=$PREFIX "$TESTNET" down >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT

if ((ENTRIES)); then
  log "recording $ENTRIES entries, then the walk of an in-memory share"
  "$BUILD/bench/index/vuvuveva-index-bench" "$work" "$ENTRIES"
fi
((NETWORK)) || exit 0

export VUV_NET_PREFIX=$PREFIX
if ! "$TESTNET" status >/dev/null 2>&1; then
  log "bringing up the test network (prefix $PREFIX)"
  OWN_NETWORK=1
  "$TESTNET" up >/dev/null
fi
cat >"$work/searches.sh" <<SCRIPT
#!/usr/bin/env bash
set -u
cli=$BUILD/src/cli/vuvuveva-cli
export XDG_CACHE_HOME=$work/cache
# The network's known tree: a discovery on a loaded machine may miss servers.
search() { \$cli search --tree $REPO/tests/network/expected-tree.brk --location 'MS Windows Network' --pattern '*' --format csv "\$@" 2>/dev/null; }
best() {  # best NAME ARGS...: the shortest of $REPEAT runs
  local name=\$1 best=999 took; shift
  for _ in \$(seq $REPEAT); do
    local start=\$(date +%s.%N)
    search "\$@" >/dev/null
    took=\$(echo "\$(date +%s.%N) - \$start" | bc)
    best=\$(echo "if (\$took < \$best) \$took else \$best" | bc)
  done
  printf '%s_seconds: %.3f\n' "\$name" "\$best"
}
search >/dev/null  # fills the index
best search_without_index --no-index
best search_with_index
best search_from_index --from-index
search --no-index | sort >$work/live.csv
search --from-index | sort >$work/indexed.csv
cmp -s $work/live.csv $work/indexed.csv && echo "rows: the same, \$(wc -l <$work/live.csv) lines" \
  || { echo "rows: DIFFERENT"; diff $work/live.csv $work/indexed.csv | head; exit 1; }
SCRIPT
chmod +x "$work/searches.sh"
"$TESTNET" exec "$work/searches.sh"
