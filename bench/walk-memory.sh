#!/usr/bin/env bash
# Walk memory benchmark: the peak memory of a search over a share of a million files, served
# by the test network's S1, to check that it does not grow with the share.
#
#   sudo bench/walk-memory.sh [OPTIONS]
#
#   --files N        empty files in the share (default 1000000)
#   --folders N      folders they are spread over, two levels deep (default 4000)
#   --prefix NAME    test network prefix (default vwalkmem)
#   --cli PATH       vuvuveva-cli to use (default: build-bench/, built if needed)
#   --keep-work      keep the work folder (outputs) in /tmp
#
# Runs three searches of \\S1\Public\million: '*' (every entry a row, written to a file), a
# pattern nothing matches (the walk alone), both with --no-index, and '*' recorded into an
# index file of its own (what a search does by default). Reports for each: wall time, rows,
# the CLI's peak resident set and the largest worker's (VmHWM, measure.py). Fails (exit 1)
# when a search ends otherwise than it should or misses entries. Tears the network down on
# exit.
set -euo pipefail
umask 022

# shellcheck source=bench/bench_common.sh
source "$(dirname "${BASH_SOURCE[0]}")/bench_common.sh"

FILES=1000000
FOLDERS=4000
PREFIX=vwalkmem
CLI=
KEEP_WORK=0
usage() { sed -n '2,18p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }
while (($#)); do
  case $1 in
    --files) need_value "$@"; FILES=$2; shift 2 ;;
    --folders) need_value "$@"; FOLDERS=$2; shift 2 ;;
    --prefix) need_value "$@"; PREFIX=$2; shift 2 ;;
    --cli) need_value "$@"; CLI=$2; shift 2 ;;
    --keep-work) KEEP_WORK=1; shift ;;
    -h|--help) usage ;;
    *) echo "bench: unknown option $1" >&2; usage ;;
  esac
done
if ! is_count "$FILES" 0 || ! is_count "$FOLDERS" 1; then echo "bench: --files and --folders take counts" >&2; exit 2; fi
check_prefix "$PREFIX"
((EUID == 0)) || { echo "bench: needs root (network namespaces)" >&2; exit 2; }

PY=$(python3 -c 'import sys; print(sys.executable)')
export VUV_NET_PREFIX=$PREFIX
STATE=/tmp/${PREFIX}-net
TREE=$STATE/hosts/s1/shares/Public/million
WORK=
NET_STARTED=0

# shellcheck disable=SC2317  # called by the EXIT trap
cleanup() {
  local rc=$?
  trap - EXIT INT TERM
  rm -rf "$TREE"
  bench_teardown "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

bench_cli
WORK=$(mktemp -d /tmp/vuv-walkmem.XXXXXX)
NET_STARTED=1
log "bringing up test network '$PREFIX'"
"$TESTNET" up 2>"$WORK/testnet-up.log" || { cat "$WORK/testnet-up.log" >&2; die "testnet.sh up failed"; }

log "making $FILES empty files in $FOLDERS folders"
"$PY" - "$TREE" "$FILES" "$FOLDERS" <<'PYEOF'
import os, sys
top, files, folders = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
# Two levels: about sqrt(folders) groups of folders; files dealt round-robin.
groups = max(1, int(folders ** 0.5))
paths = []
for i in range(folders):
    path = os.path.join(top, f"group{i % groups:03d}", f"folder{i:05d}")
    os.makedirs(path, exist_ok=True)
    paths.append(path)
for i in range(files):
    os.close(os.open(os.path.join(paths[i % folders], f"file{i:07d}.dat"), os.O_CREAT | os.O_WRONLY, 0o644))
PYEOF
ENTRIES=$(find "$TREE" -mindepth 1 | wc -l)
log "share holds $ENTRIES entries"

failed=0
report=()
# key, pattern, index: every entry a row; the walk alone; every entry a row and into an index.
runs=("all|*|no" "none|no such name|no" "indexed|*|yes")
for run in "${runs[@]}"; do
  IFS='|' read -r key pattern indexed <<<"$run"
  index_args=(--no-index)
  if [[ $indexed == yes ]]; then index_args=(--index-file "$WORK/index.db"); fi
  log "search --pattern '$pattern' ${index_args[*]}; load average $(cut -d' ' -f1-3 /proc/loadavg)"
  "$PY" "$HERE/measure.py" --stdout "$WORK/$key.out" --stderr "$WORK/$key.err" -- \
    "$TESTNET" exec "$CLI" search --location '\\S1\Public\million' --pattern "$pattern" "${index_args[@]}" \
    >"$WORK/$key.json"
  rows=$(wc -l <"$WORK/$key.out")
  want=$([[ $pattern == '*' ]] && echo "$ENTRIES" || echo 0)
  # Exit 1 is the tool's "nothing found".
  want_exit=$([[ $want == 0 ]] && echo 1 || echo 0)
  line=$("$PY" - "$WORK/$key.json" "$pattern, ${index_args[0]}" "$rows" "$want" <<'PYEOF'
import json, sys
m = json.load(open(sys.argv[1]))
peaks = m["peaks"]
mib = lambda name: peaks.get(name, {}).get("max_kb", 0) / 1024
print(f"pattern {sys.argv[2]!r}: {m['wall']:.1f} s, exit {m['exit']}, rows {sys.argv[3]} of {sys.argv[4]}, "
      f"CLI peak {mib('vuvuveva-cli'):.1f} MiB, largest worker peak {mib('vuvuveva-smb-wo'):.1f} MiB "
      f"({peaks.get('vuvuveva-smb-wo', {}).get('processes', 0)} workers), CPU {m['cpu']} s")
PYEOF
)
  log "  $line"
  report+=("$line")
  if [[ $(grep -c "\"exit\": $want_exit," "$WORK/$key.json") != 1 || $rows != "$want" ]]; then
    failed=1
    log "  FAILED: $(tail -n3 "$WORK/$key.err" | tr '\n' ' ')"
  fi
done
printf '%s\n' "Share: $FILES files in $FOLDERS folders ($ENTRIES entries)" "${report[@]}"
exit "$failed"
