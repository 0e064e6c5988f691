#!/usr/bin/env bash
# Copy benchmark: one file from the test network with our copy (vuvuveva-cli copy) against
# `smbclient get`, several runs each, alternating; then a search of a small share by server
# name (vuvuveva-cli search \\S4\Scratch '*') against `smbclient -c 'recurse ON; ls'`. Both
# name the server (S1, S4), so each pays for its own name lookup. A benchmark, not a test: it
# reports the figures and whether ours takes at most 1.25x smbclient's time for the copy and
# 4x for the search; it fails only when a copy is wrong. (Not S1's Public: smbclient's
# recursive ls follows its link loop.)
#
#   sudo bench/copy-benchmark.sh [OPTIONS]
#
#   --size MB        size of the file, random bytes (default 100)
#   --repeat N       runs of each tool (default 5); the median counts
#   --prefix NAME    test network prefix (default vcopy); a network already up under that
#                    prefix is used and left up, else one is brought up and torn down after
#   --cli PATH       vuvuveva-cli to use (default: build-bench/, built if needed)
#   --dest DIR       the local folder both tools write into is made in DIR (default /tmp);
#                    /dev/shm takes the disk out of the figures
#   --results FILE   also write the report to FILE
#
# The file goes into S1's Public share folder on the host side (\\S1\Public\bench-copy.bin)
# and is removed at the end. Both tools run in the client namespace (testnet.sh exec) and
# write into the same local folder; each time covers the whole command (start, name lookup,
# log-on, transfer; ours writes a hidden file and renames it into place). Each run starts
# with the earlier copies removed and everything synced, outside the timed part.
# Exit status: 0 copies correct (the target is reported, not enforced), 1 a copy was wrong,
# 2 usage, other: the benchmark could not run.
set -euo pipefail
umask 022

# shellcheck source=bench/bench_common.sh
source "$(dirname "${BASH_SOURCE[0]}")/bench_common.sh"

SIZE_MB=100
REPEAT=5
PREFIX=vcopy
CLI=
DEST=/tmp
RESULTS=

usage() { sed -n '2,27p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }

while (($#)); do
  case $1 in
    --size) need_value "$@"; SIZE_MB=$2; shift 2 ;;
    --repeat) need_value "$@"; REPEAT=$2; shift 2 ;;
    --prefix) need_value "$@"; PREFIX=$2; shift 2 ;;
    --cli) need_value "$@"; CLI=$2; shift 2 ;;
    --dest) need_value "$@"; DEST=$2; shift 2 ;;
    --results) need_value "$@"; RESULTS=$2; shift 2 ;;
    -h|--help) usage ;;
    *) echo "bench: unknown option '$1'" >&2; usage ;;
  esac
done
is_count "$SIZE_MB" 1 && is_count "$REPEAT" 1 || { echo "bench: --size and --repeat take whole numbers from 1" >&2; exit 2; }
check_prefix "$PREFIX"
[[ $(id -u) == 0 ]] || { echo "bench: must run as root (network namespaces)" >&2; exit 2; }

export VUV_NET_PREFIX=$PREFIX
STATE=/tmp/${PREFIX}-net
SOURCE=$STATE/hosts/s1/shares/Public/bench-copy.bin

WORK=
NET_STARTED=0
# shellcheck disable=SC2317  # called by the EXIT trap
cleanup() {
  local rc=$?
  trap - EXIT INT TERM
  rm -f "$SOURCE"
  bench_teardown "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

bench_cli

if "$TESTNET" status >/dev/null 2>&1; then
  log "using the running test network '$PREFIX'"
else
  NET_STARTED=1
  log "bringing up test network '$PREFIX'"
  "$TESTNET" up >/dev/null 2>&1 || die "testnet.sh up failed"
fi
[[ -d $DEST ]] || die "no folder $DEST"
WORK=$(mktemp -d "$DEST/vuv-copy-bench.XXXXXX")
chmod 755 "$WORK"

log "writing $SIZE_MB MB of random bytes to \\\\S1\\Public\\bench-copy.bin"
head -c "$((SIZE_MB * 1000 * 1000))" /dev/urandom >"$SOURCE"
BYTES=$(stat -c %s "$SOURCE")

now_ns() { date +%s%N; }
run_smbclient() {
  "$TESTNET" exec smbclient //S1/Public -N -c "get bench-copy.bin $WORK/smbclient.bin" >"$WORK/smbclient.log" 2>&1
}
run_ours() {
  "$TESTNET" exec "$CLI" copy '\\S1\Public\bench-copy.bin' "$WORK/ours" >"$WORK/ours.log" 2>&1
}
mkdir -p "$WORK/ours"
# One untimed run each: the server's page cache and the name caches start warm for both.
run_smbclient || die "smbclient get failed: $(cat "$WORK/smbclient.log")"
run_ours || die "our copy failed: $(cat "$WORK/ours.log")"
cmp -s "$SOURCE" "$WORK/ours/bench-copy.bin" || { log "our copy differs from the original"; exit 1; }
cmp -s "$SOURCE" "$WORK/smbclient.bin" || die "smbclient's copy differs from the original"

: >"$WORK/times.tsv"
# One timed run of a tool, from a clean start: the earlier copy removed (freeing its blocks
# takes a while) and every tool's unwritten pages on the disk, both outside the timed part.
timed() {
  local tool=$1 t
  rm -f "$WORK/smbclient.bin" "$WORK/ours/bench-copy.bin"
  sync
  t=$(now_ns)
  if [[ $tool == smbclient ]]; then
    run_smbclient || die "smbclient get failed: $(cat "$WORK/smbclient.log")"
  else
    run_ours || die "our copy failed: $(cat "$WORK/ours.log")"
  fi
  printf '%s\t%s\n' "$tool" "$(($(now_ns) - t))" >>"$WORK/times.tsv"
  if [[ $tool == ours ]]; then
    cmp -s "$SOURCE" "$WORK/ours/bench-copy.bin" || { log "our copy differs from the original (run $i)"; exit 1; }
  fi
}
for ((i = 1; i <= REPEAT; i++)); do
  # Each goes first in every other run, so neither gains from where it stands.
  if ((i % 2)); then timed smbclient; timed ours; else timed ours; timed smbclient; fi
  log "run $i of $REPEAT: $(tail -2 "$WORK/times.tsv" | awk '{printf "%s %.2f s  ", $1, $2 / 1e9}')"
done

report=$(python3 - "$WORK/times.tsv" "$BYTES" "$DEST" <<'PY'
import statistics, sys
times = {}
for line in open(sys.argv[1]):
    tool, ns = line.split()
    times.setdefault(tool, []).append(int(ns) / 1e9)
size = int(sys.argv[2])
rate = {tool: size / statistics.median(t) / 1e6 for tool, t in times.items()}
print(f"file: {size / 1e6:.0f} MB, {len(times['ours'])} runs each, median; written to {sys.argv[3]}")
for tool in ("smbclient", "ours"):
    t = times[tool]
    print(f"{tool:10s} {statistics.median(t):6.2f} s  {rate[tool]:7.1f} MB/s"
          f"   (runs: {' '.join(f'{x:.2f}' for x in t)})")
ratio = rate["ours"] / rate["smbclient"]
print(f"ratio (ours / smbclient): {ratio:.2f}  target 0.80 (1.25x the time): {'met' if ratio >= 0.8 else 'NOT met'}")
PY
)

# The named search of a small share, timed the same way (alternating, median).
run_smbclient_ls() { "$TESTNET" exec smbclient //S4/Scratch -N -c 'recurse ON; ls' >"$WORK/ls.log" 2>&1; }
run_search() {
  "$TESTNET" exec "$CLI" search --location '\\S4\Scratch' --pattern '*' >"$WORK/search.log" 2>&1
}
run_smbclient_ls || die "smbclient ls failed: $(cat "$WORK/ls.log")"
run_search || die "our search failed: $(cat "$WORK/search.log")"
: >"$WORK/search.tsv"
for ((i = 1; i <= REPEAT; i++)); do
  order="smbclient ours"
  if ((i % 2 == 0)); then order="ours smbclient"; fi
  for tool in $order; do
    t=$(now_ns)
    if [[ $tool == smbclient ]]; then run_smbclient_ls; else run_search; fi
    printf '%s\t%s\n' "$tool" "$(($(now_ns) - t))" >>"$WORK/search.tsv"
  done
done
report+=$'\n'$(python3 - "$WORK/search.tsv" "$(grep -c . "$WORK/search.log")" <<'PY'
import statistics, sys
times = {}
for line in open(sys.argv[1]):
    tool, ns = line.split()
    times.setdefault(tool, []).append(int(ns) / 1e9)
print(f"search of \\\\S4\\Scratch by name ({sys.argv[2]} rows), {len(times['ours'])} runs each, median:")
for tool in ("smbclient", "ours"):
    t = times[tool]
    print(f"{tool:10s} {statistics.median(t):6.3f} s   (runs: {' '.join(f'{x:.3f}' for x in t)})")
ratio = statistics.median(times["ours"]) / statistics.median(times["smbclient"])
print(f"ratio (ours / smbclient): {ratio:.1f}x  target 4x: {'met' if ratio <= 4 else 'NOT met'}")
PY
)
echo "$report"
if [[ -n $RESULTS ]]; then echo "$report" >"$RESULTS"; fi
