#!/usr/bin/env bash
# Ctrl+C and killed workers on the test network: SIGINT during a discovery and during a search
# that are asking Z2 (which drops SMB silently) ends the command within 1 s with exit code 130
# and leaves none of its worker processes behind; SIGKILL to workers in the middle of a search
# loses no row; a search of a small share by server name does not wait for WS-Discovery.
#   cli_stop_test.sh CLI
set -uo pipefail
cli=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*"; exit 1; }
now_ms() { date +%s%3N; }

# Starts the CLI, sends SIGINT after $1 seconds, and checks how it ended.
interrupt_after() {
  local delay=$1 what=$2
  shift 2
  "$cli" "$@" >"$work/out" 2>"$work/err" &
  local pid=$!
  sleep "$delay"
  local children
  children=$(ps -o pid= --ppid "$pid" | tr -d ' ')
  [[ -n $children ]] || fail "$what: no worker was running when interrupted"
  local sent
  sent=$(now_ms)
  kill -INT "$pid"
  wait "$pid"
  local rc=$?
  local took=$(($(now_ms) - sent))
  echo "$what: ended ${took} ms after SIGINT (exit $rc)"
  [[ $rc == 130 ]] || fail "$what: exit $rc, not 130: $(cat "$work/err")"
  ((took < 1000)) || fail "$what: took ${took} ms to stop"
  local child
  for child in $children; do
    # A zombie would show as 'Z'; a live worker as anything else.
    if ps -o stat= -p "$child" >/dev/null 2>&1; then fail "$what: worker $child is still there"; fi
  done
}

# Z2 holds its worker for the whole time limit, so a late interrupt still finds it asked.
interrupt_after 1.0 "discover (NetBIOS)" discover --source netbios --timeout 30
interrupt_after 1.0 "discover (both sources, WS-Discovery listening)" discover --timeout 30
interrupt_after 3.5 "discover (both sources, Z2 asked)" discover --timeout 30
interrupt_after 0.5 'search of \\Z2\Data (finding Z2)' search --location '\\Z2\Data' --pattern '*' --timeout 30
interrupt_after 3.0 'search of \\Z2\Data (listing)' search --location '\\Z2\Data' --pattern '*' --timeout 30
interrupt_after 2.5 "search of ZETA" search --location 'MS Windows Network\ZETA' --pattern '*' --source netbios --timeout 30

# Killed workers cost no row: each listing whose worker died is repeated on a fresh one. Once
# several workers run, the tool is frozen, every worker killed once (so no listing is killed
# twice: that one would count as failed, rightly), and the tool let go on.
public=(search --location '\\S1\Public' --pattern '*' --format csv --source netbios -j 4)
"$cli" "${public[@]}" >"$work/calm.csv" 2>"$work/calm.err"
[[ $(wc -l <"$work/calm.csv") -gt 2 ]] || fail "the undisturbed search found nothing"
"$cli" "${public[@]}" >"$work/killed.csv" 2>"$work/killed.err" &
pid=$!
killed=0
while kill -0 "$pid" 2>/dev/null; do
  children=$(ps -o pid= --ppid "$pid" 2>/dev/null)
  if [[ $(wc -w <<<"$children") -ge 2 ]]; then
    kill -STOP "$pid"
    for child in $(ps -o pid= --ppid "$pid"); do kill -KILL "$child" && killed=$((killed + 1)); done
    kill -CONT "$pid"
    break
  fi
done
wait "$pid"
echo "killed $killed workers mid-search"
((killed >= 2)) || fail "the search ended before workers could be killed"
diff <(sort "$work/calm.csv") <(sort "$work/killed.csv") || fail "rows lost to killed workers: $(cat "$work/killed.err")"
diff <(tail -1 "$work/calm.err") <(tail -1 "$work/killed.err") || fail "more folders failed with killed workers: $(cat "$work/calm.err" "$work/killed.err")"

# A search by server name: NetBIOS knows S1, so no WS-Discovery round is waited for.
start=$(now_ms)
"$cli" search --location '\\S1\Docs' --pattern '*' >/dev/null 2>&1 || fail "search of \\\\S1\\Docs failed"
took=$(($(now_ms) - start))
echo "search of \\\\S1\\Docs: ${took} ms"
((took < 1500)) || fail "search by name took ${took} ms: it waited for WS-Discovery"
echo "stops at once, loses no row to killed workers, searches by name quickly"
