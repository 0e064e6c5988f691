#!/usr/bin/env bash
# Ctrl+C and killed workers on the test network: SIGINT while a WS-Discovery round listens or
# while Z2 (which drops SMB silently) is asked ends the command with exit code 130 long before
# its time limit and leaves none of its worker processes behind; SIGKILL to workers in the
# middle of a search loses no row. Each interrupt waits for its state, never for a time.
#   cli_stop_test.sh CLI
set -uo pipefail
cli=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*"; exit 1; }
source "$(dirname "${BASH_SOURCE[0]}")/interrupt_when.sh"

# States the interrupts wait for (nothing else runs in the namespace: the test runs alone).
asking_z2() { [[ -n $(ss -Htn state syn-sent dst "$VUV_NET_IP_Z2") ]]; }
wsd_listening() { ss -Hunap | grep -q "pid=$1,"; }

interrupt_when wsd_listening "discover (WS-Discovery listening)" discover
interrupt_when asking_z2 "discover (Z2 asked)" discover --source netbios
interrupt_when wsd_listening 'search of \\NOSUCHHOST (looking for it)' search --location '\\NOSUCHHOST\Data' --pattern '*'
interrupt_when asking_z2 'search of \\Z2\Data (listing)' search --location '\\Z2\Data' --pattern '*'

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
echo "stops at once and loses no row to killed workers"
