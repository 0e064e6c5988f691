#!/usr/bin/env bash
# Search benchmark: our search against smbclient and find over a synthetic share, at several
# round-trip times. A benchmark, not a test: it reports; it fails only on wrong results.
#
#   sudo bench/search-benchmark.sh [OPTIONS]
#
#   --folders N          folders in the synthetic tree (default 2400)
#   --files M            files in it (default 20000)
#   --seed S             tree generator seed (default 1)
#   --latencies "L..."   round-trip times in ms to add (default "0 10 50"; 0 = direct)
#   --subtree-folders N  with added latency, walk the folder whose subtree has about N folders
#                        instead of the whole tree (default 600; smbclient needs ~4 round trips
#                        per folder, so the whole default tree at 50 ms would take ~9 minutes)
#   --full-tree          walk the whole tree at every latency (slow at 50 ms)
#   --repeat N           runs per measurement, best time kept (default 3) ...
#   --budget S           ... but no new run once a measurement has used S seconds (default 45)
#   --jobs-sweep "J..."  extra --jobs values to time our search with (default "4 8 16 32"
#                        without the CLI's own default; "" for none)
#   --search-args "A..." extra arguments for every run of our search (e.g. "--source netbios")
#   --prefix NAME        test network prefix (default vbench)
#   --cli PATH           vuvuveva-cli to use (default: build-bench/, built if needed)
#   --results FILE       also write the report to FILE
#   --keep-work          keep the work folder (outputs of every run) in /tmp
#
# Builds its own test network (tests/network/testnet.sh), puts the tree in S1's Public share
# (\\S1\Public\bench), adds latency with bench/delay_forwarder.c in a namespace of its own on
# the network's bridge, and tears everything down on exit, also on failure or Ctrl+C.
# Exit status: 0 results correct (targets are reported, not enforced), 1 a correctness check
# failed, 2 usage, other: the benchmark could not run.
set -euo pipefail
umask 022

# shellcheck source=bench/bench_common.sh
source "$(dirname "${BASH_SOURCE[0]}")/bench_common.sh"

FOLDERS=2400
FILES=20000
SEED=1
LATENCIES="0 10 50"
SUBTREE_FOLDERS=600
FULL_TREE=0
REPEAT=3
BUDGET=45
SWEEP=default
SEARCH_ARGS=
PREFIX=vbench
CLI=
RESULTS=
KEEP_WORK=0

usage() { sed -n '2,29p' "$0" | sed 's/^# \{0,1\}//'; exit 2; }

while (($#)); do
  case $1 in
    --folders) need_value "$@"; FOLDERS=$2; shift 2 ;;
    --files) need_value "$@"; FILES=$2; shift 2 ;;
    --seed) need_value "$@"; SEED=$2; shift 2 ;;
    --latencies) need_value "$@"; LATENCIES=$2; shift 2 ;;
    --subtree-folders) need_value "$@"; SUBTREE_FOLDERS=$2; shift 2 ;;
    --full-tree) FULL_TREE=1; shift ;;
    --repeat) need_value "$@"; REPEAT=$2; shift 2 ;;
    --budget) need_value "$@"; BUDGET=$2; shift 2 ;;
    --jobs-sweep) need_value "$@"; SWEEP=$2; shift 2 ;;
    --search-args) need_value "$@"; SEARCH_ARGS=$2; shift 2 ;;
    --prefix) need_value "$@"; PREFIX=$2; shift 2 ;;
    --cli) need_value "$@"; CLI=$2; shift 2 ;;
    --results) need_value "$@"; RESULTS=$2; shift 2 ;;
    --keep-work) KEEP_WORK=1; shift ;;
    -h|--help) usage ;;
    *) echo "bench: unknown option '$1'" >&2; usage ;;
  esac
done
if ! { is_count "$FOLDERS" 1 && is_count "$FILES" 0 && is_count "$SEED" 0 &&
  is_count "$SUBTREE_FOLDERS" 1 && is_count "$REPEAT" 1 && is_count "$BUDGET" 0; }; then
  echo "bench: counts must be whole numbers (--folders, --subtree-folders, --repeat at least 1)" >&2
  exit 2
fi
for l in $LATENCIES; do is_count "$l" 0 || { echo "bench: bad latency '$l'" >&2; exit 2; }; done
if [[ $SWEEP != default ]]; then
  for j in $SWEEP; do is_count "$j" 1 || { echo "bench: bad --jobs value '$j'" >&2; exit 2; }; done
fi
[[ -n ${LATENCIES// /} ]] || { echo "bench: no latencies" >&2; exit 2; }
check_prefix "$PREFIX"
[[ $(id -u) == 0 ]] || { echo "bench: must run as root (network namespaces)" >&2; exit 2; }

export VUV_NET_PREFIX=$PREFIX
STATE=/tmp/${PREFIX}-net           # testnet.sh's state folder for this prefix
NS_BR=${PREFIX}-br
NS_FWD=${PREFIX}-fwd               # ours: the delaying forwarder
SHARE_DIR=$STATE/hosts/s1/shares/Public
TREE=$SHARE_DIR/bench
PY=$(python3 -c 'import sys; print(sys.executable)')


# --- cleanup: everything we start is stopped by PID; the network goes down -----------------
WORK=
FWD_PID=
FWD_START=
NET_STARTED=0

proc_starttime() { awk '{print $22}' "/proc/$1/stat" 2>/dev/null || true; }

stop_pid() {  # stop_pid PID STARTTIME: TERM, 5 s grace, KILL; only that very process
  local pid=$1 st=$2 i
  [[ -n $pid && $(proc_starttime "$pid") == "$st" ]] || return 0
  kill -TERM "$pid" 2>/dev/null || true
  for ((i = 0; i < 50; i++)); do
    [[ $(proc_starttime "$pid") == "$st" ]] || break
    sleep 0.1
  done
  if [[ $(proc_starttime "$pid") == "$st" ]]; then kill -KILL "$pid" 2>/dev/null || true; fi
  wait "$pid" 2>/dev/null || true
}

stop_forwarder() {
  stop_pid "$FWD_PID" "$FWD_START"
  FWD_PID=''
  FWD_START=''
}

remove_fwd_ns() {
  [[ -e /run/netns/$NS_FWD ]] || return 0
  # Only our forwarder ever runs there (a leftover of an interrupted run at worst).
  local pid
  for pid in $(ip netns pids "$NS_FWD" 2>/dev/null); do stop_pid "$pid" "$(proc_starttime "$pid")"; done
  ip netns del "$NS_FWD" 2>/dev/null || log "could not delete namespace $NS_FWD"
}

# shellcheck disable=SC2317  # called by the EXIT trap
cleanup() {
  local rc=$?
  trap - EXIT INT TERM
  stop_forwarder
  remove_fwd_ns
  bench_teardown "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# --- the program under test -----------------------------------------------------------------
bench_cli
# The CLI's default --jobs, from its help ("... (default 8)"), for the report and the sweep.
DEFAULT_JOBS=$("$CLI" --help 2>&1 | sed -n 's/.*--jobs N.*(default \([0-9]*\)).*/\1/p' | head -n1)
if [[ $SWEEP == default ]]; then
  SWEEP=
  for j in 4 8 16 32; do if [[ $j != "$DEFAULT_JOBS" ]]; then SWEEP+="${SWEEP:+ }$j"; fi; done
fi

WORK=$(mktemp -d /tmp/vuv-bench.XXXXXX)
# The forwarder stands in for the network, so it must cost next to nothing here (its header).
cc -O2 -o "$WORK/delay_forwarder" "$HERE/delay_forwarder.c" || die "could not build the forwarder"

# --- network and tree -----------------------------------------------------------------------
remove_fwd_ns
NET_STARTED=1
log "bringing up test network '$PREFIX'"
"$TESTNET" up 2>"$WORK/testnet-up.log" || { cat "$WORK/testnet-up.log" >&2; die "testnet.sh up failed"; }
# shellcheck disable=SC1091
S1_IP=$(source "$STATE/client/env.sh" && echo "$VUV_NET_IP_S1")
FWD_IP=${S1_IP%.*}.60
[[ -d $SHARE_DIR ]] || die "no Public share folder at $SHARE_DIR"

log "building the tree: $FOLDERS folders, $FILES files (seed $SEED) in $TREE"
"$PY" "$HERE/make_tree.py" "$TREE" --folders "$FOLDERS" --files "$FILES" --seed "$SEED" >"$WORK/tree.json"
TREE_INFO=$("$PY" "$HERE/bench_util.py" tree-info "$WORK/tree.json")
log "tree: $TREE_INFO"

# Locations: "full" is \\HOST\Public\bench; "sub" a folder of about --subtree-folders folders.
declare -A LOC_REL LOC_LABEL
LOC_REL[full]=
LOC_LABEL[full]="bench ($((FOLDERS + 1)) folders with the top, $FILES files)"
LEVEL_LOCS=full
ADDED=0
for level in $LATENCIES; do if ((level > 0)); then ADDED=1; fi; done
if ((!FULL_TREE && ADDED)); then
  IFS=$'\t' read -r sub_rel sub_folders sub_files < <("$PY" "$HERE/bench_util.py" pick-subtree "$TREE" "$SUBTREE_FOLDERS") ||
    die "no subtree to walk"
  LOC_REL[sub]=$sub_rel
  LOC_LABEL[sub]="bench/$sub_rel ($sub_folders folders with its top, $sub_files files)"
  LEVEL_LOCS=sub
  log "with added latency the walks cover ${LOC_LABEL[sub]}"
fi

{
  printf 'tree\t%s\n' "$TREE_INFO"
  printf 'sweep\t%s\n' "$SWEEP"
  printf 'default_jobs\t%s\n' "${DEFAULT_JOBS:-?}"
  printf 'search_args\t%s\n' "$SEARCH_ARGS"
  printf 'loc.full\t%s\n' "${LOC_LABEL[full]}"
  if [[ -n ${LOC_LABEL[sub]:-} ]]; then printf 'loc.sub\t%s\n' "${LOC_LABEL[sub]}"; fi
} >"$WORK/meta.tsv"

# The order in which the table lists its rows: 0 ms on the whole tree (and the subtree, to
# compare with the latency rows), then each latency on its location.
: >"$WORK/plan.tsv"
for level in $LATENCIES; do
  if ((level == 0)); then
    echo "0 full" >>"$WORK/plan.tsv"
    if [[ $LEVEL_LOCS == sub ]]; then echo "0 sub" >>"$WORK/plan.tsv"; fi
  else
    echo "$level $LEVEL_LOCS" >>"$WORK/plan.tsv"
  fi
done

unc_of() {  # unc_of HOST LOC
  local rel=${LOC_REL[$2]}
  printf '\\\\%s\\Public\\bench%s' "$1" "${rel:+\\${rel//\//\\}}"
}
smbclient_mask() {  # smbclient_mask LOC: the quoted mask of a recursive ls
  local rel=${LOC_REL[$1]}
  printf '"bench%s\\*"' "${rel:+\\${rel//\//\\}}"
}
disk_dir() { printf '%s%s' "$TREE" "${LOC_REL[$1]:+/${LOC_REL[$1]}}"; }

check() {  # check OK|FAIL TEXT
  echo "$1 $2" >>"$WORK/checks.txt"
  if [[ $1 != OK ]]; then log "CHECK FAILED: $2"; fi
}

# --- running and timing -------------------------------------------------------------------
# measure KEY CMD...: runs CMD up to --repeat times (no new run once --budget seconds are
# spent), one JSON line per run in KEY.jsonl, the output of run N in KEY.N.out.
measure() {
  local key=$1; shift
  local i spent=0 t
  for ((i = 1; i <= REPEAT; i++)); do
    if ((i > 1 && spent >= BUDGET)); then break; fi
    t=$SECONDS
    "$PY" "$HERE/measure.py" --stdout "$WORK/$key.$i.out" --stderr "$WORK/$key.$i.err" -- "$@" >>"$WORK/$key.jsonl"
    spent=$((spent + SECONDS - t))
    local code
    code=$(tail -n1 "$WORK/$key.jsonl" | "$PY" -c 'import json,sys; print(json.load(sys.stdin)["exit"])')
    if [[ $code != 0 ]]; then
      check FAIL "$key run $i exited with $code: $(tail -n3 "$WORK/$key.$i.err" | tr '\n' ' ')"
    fi
  done
  log "  $key: $("$PY" "$HERE/bench_util.py" walls "$WORK/$key.jsonl")"
}

ours() {  # ours KEY HOST LOC [JOBS]
  local key=$1 host=$2 loc=$3 jobs=${4:-}
  local extra
  read -r -a extra <<<"$SEARCH_ARGS"
  measure "$key" "$TESTNET" exec "$CLI" search --location "$(unc_of "$host" "$loc")" --pattern '*' \
    ${jobs:+--jobs "$jobs"} "${extra[@]}"
}

# Our outputs of KEY compared with the reference of LOC (a --jobs 1 run at 0 ms), byte for byte
# once the server address is replaced; the row count against the summary line.
check_ours() {  # check_ours KEY HOST LOC
  local key=$1 host=$2 loc=$3 f n rows
  for f in "$WORK/$key".*.out; do
    n=${f%.out}; n=${n##*.}
    rows=$(wc -l <"$f")
    if ! grep -q "^Search finished. $rows files found.$" "$WORK/$key.$n.err"; then
      check FAIL "$key run $n: $rows rows but stderr says: $(grep 'Search finished' "$WORK/$key.$n.err" || echo nothing)"
    fi
    if ! "$PY" "$HERE/bench_util.py" normalise "$f" "$(unc_of "$host" "$loc")" "$f.norm" 2>>"$WORK/checks.err"; then
      check FAIL "$key run $n: rows not below the location (see $WORK/checks.err)"
      continue
    fi
    if cmp -s "$f.norm" "$WORK/ref-$loc.norm"; then
      check OK "$key run $n: identical to the --jobs 1 reference"
    else
      check FAIL "$key run $n: differs from the --jobs 1 reference ($(cmp "$f.norm" "$WORK/ref-$loc.norm" 2>&1 | head -n1))"
    fi
    rm -f "$f.norm"
  done
}

rtt_probe() {  # rtt_probe HOST LEVEL
  "$TESTNET" exec "$PY" "$HERE/rtt_probe.py" "$1" --count 9 >"$WORK/$2ms.rtt.raw" ||
    die "RTT probe of $1 failed"
  tr ' =' '\n\t' <"$WORK/$2ms.rtt.raw" >"$WORK/$2ms.rtt"
  log "  SMB2 echo round trip via $1: $(cat "$WORK/$2ms.rtt.raw")"
}

# --- the forwarder ------------------------------------------------------------------------
make_fwd_ns() {
  [[ -e /run/netns/$NS_FWD ]] && return 0
  ip netns add "$NS_FWD"
  # testnet.sh down removes the namespaces listed here: a safety net if we are killed hard.
  echo "$NS_FWD" >>"$STATE/namespaces"
  ip -n "$NS_FWD" link set lo up
  ip netns exec "$NS_FWD" sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1
  ip -n "$NS_BR" link add bfwd type veth peer name eth0 netns "$NS_FWD"
  ip -n "$NS_BR" link set bfwd master br0 up
  ip -n "$NS_FWD" addr add "$FWD_IP/24" brd + dev eth0
  ip -n "$NS_FWD" link set eth0 up
}

start_forwarder() {  # start_forwarder RTT_MS
  make_fwd_ns
  : >"$WORK/forwarder-$1.log"
  ip netns exec "$NS_FWD" "$WORK/delay_forwarder" --listen 0.0.0.0:445 --to "$S1_IP" \
    --rtt-ms "$1" </dev/null >"$WORK/forwarder-$1.log" 2>&1 &
  FWD_PID=$!
  FWD_START=$(proc_starttime "$FWD_PID")
  local i
  for ((i = 0; i < 100; i++)); do
    grep -q '^ready$' "$WORK/forwarder-$1.log" && return 0
    [[ $(proc_starttime "$FWD_PID") == "$FWD_START" ]] || break
    sleep 0.1
  done
  cat "$WORK/forwarder-$1.log" >&2
  die "the forwarder did not start"
}

# --- the measurements -----------------------------------------------------------------------
mapfile -t LOCS < <(awk '{print $2}' "$WORK/plan.tsv" | sort -u)

# find, once per location (no network): best of --repeat.
for loc in "${LOCS[@]}"; do
  log "find over $(disk_dir "$loc")"
  measure "find-$loc" find "$(disk_dir "$loc")" -mindepth 1 -printf '%P\n'
done

# References: a single connection (--jobs 1) walking each location directly.
for loc in "${LOCS[@]}"; do
  log "reference walk with --jobs 1 over $loc"
  REPEAT=1 ours "ref-$loc" "$S1_IP" "$loc" 1
  "$PY" "$HERE/bench_util.py" normalise "$WORK/ref-$loc.1.out" "$(unc_of "$S1_IP" "$loc")" "$WORK/ref-$loc.norm" ||
    die "the reference output is not usable"
  if result=$("$PY" "$HERE/bench_util.py" compare-find "$WORK/ref-$loc.1.out" "$(unc_of "$S1_IP" "$loc")" "$WORK/find-$loc.1.out"); then
    check OK "ref-$loc: paths equal to find's: $result"
  else
    check FAIL "ref-$loc: paths differ from find's: $result"
  fi
done

while read -r level loc; do
  if ((level == 0)); then
    host=$S1_IP
    stop_forwarder
    log "$level ms (direct to S1 $S1_IP), $loc"
  else
    host=$FWD_IP
    if [[ ${CURRENT_RTT:-} != "$level" ]]; then
      stop_forwarder
      start_forwarder "$level"
      CURRENT_RTT=$level
    fi
    log "$level ms (forwarder $FWD_IP -> S1), $loc"
  fi
  if [[ ! -f $WORK/${level}ms.rtt ]]; then rtt_probe "$host" "$level"; fi

  ours "${level}ms-$loc-ours" "$host" "$loc"
  check_ours "${level}ms-$loc-ours" "$host" "$loc"
  for j in $SWEEP; do
    ours "${level}ms-$loc-ours-j$j" "$host" "$loc" "$j"
    check_ours "${level}ms-$loc-ours-j$j" "$host" "$loc"
  done
  # smbclient over the same folder; "recurse ON; ls MASK" lists every folder below it.
  measure "${level}ms-$loc-smbclient" "$TESTNET" exec smbclient "//$host/Public" -N \
    -c "recurse ON; ls $(smbclient_mask "$loc")"

  rows_ours=$(wc -l <"$WORK/${level}ms-$loc-ours.1.out")
  rows_find=$(wc -l <"$WORK/find-$loc.1.out")
  rows_smbc=$("$PY" "$HERE/bench_util.py" smbclient-count "$WORK/${level}ms-$loc-smbclient.1.out") || rows_smbc=unreadable
  printf 'ours\t%s\nsmbclient\t%s\nfind\t%s\n' "$rows_ours" "$rows_smbc" "$rows_find" >"$WORK/${level}ms-$loc.rows"
  if [[ $rows_ours == "$rows_smbc" && $rows_ours == "$rows_find" ]]; then
    check OK "${level}ms-$loc: $rows_ours rows, as many as smbclient and find list"
  else
    check FAIL "${level}ms-$loc: rows ours $rows_ours, smbclient $rows_smbc, find $rows_find"
  fi
done <"$WORK/plan.tsv"
stop_forwarder

# --- report -----------------------------------------------------------------------------------
log "done after $((SECONDS - T0)) s"
REPORT=$("$PY" "$HERE/bench_util.py" report "$WORK")
echo "$REPORT"
echo "Times are wall clock, best of up to $REPEAT runs (fewer once $BUDGET s were spent), each" \
  "including 'testnet.sh exec' (about 15 ms). Our search uses its default --jobs unless the column says otherwise."
if [[ -n $RESULTS ]]; then printf '%s\n' "$REPORT" >"$RESULTS"; fi
if grep -qv '^OK' "$WORK/checks.txt"; then exit 1; fi
exit 0
