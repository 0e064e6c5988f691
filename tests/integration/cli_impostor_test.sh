#!/usr/bin/env bash
# A host that announces S1's name by WS-Discovery from another address (I1) gets neither a
# search nor a log-on: searches of \\S1\Public with a password and a discovery reach the real
# S1, the discovery says it left I1 out, and I1's SMB ports see no packet at all. (And a name
# only NetBIOS knows is found by our own query.)
#   cli_impostor_test.sh CLI TESTNET
set -euo pipefail
cli=$1
testnet=$2
work=$(mktemp -d)
trap '"$testnet" impostor-down >/dev/null 2>&1 || true; rm -rf "$work"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

"$testnet" impostor-up
user="$VUV_NET_USER%$VUV_NET_PASSWORD"
for run in 1 2 3; do
  "$cli" search --location '\\S1\Public' --pattern '*' -U "$user" --format csv -t 20 >"$work/s1.csv" 2>"$work/s1.err" ||
    fail "search $run: $(cat "$work/s1.err")"
  grep -q 'S1\\Public\\readme.txt' "$work/s1.csv" || fail "search $run: no readme.txt: $(cat "$work/s1.csv")"
done
"$cli" discover -U "$user" -t 20 --format brk >"$work/tree.brk" 2>"$work/tree.err" || fail "discover: $(cat "$work/tree.err")"
grep -q 'announces itself as S1, which is at' "$work/tree.err" || fail "no note on I1: $(cat "$work/tree.err")"
[[ $(grep -c '^1S1$' "$work/tree.brk") == 1 ]] || fail "S1 is not shown once: $(cat "$work/tree.brk" "$work/tree.err")"
grep -A2 '^1S1$' "$work/tree.brk" | grep -q '^0Docs$' || fail "S1 does not show its own shares"

# With no hosts file, S4 is found by our own NetBIOS query alone.
unshare -m sh -c 'mount --bind /dev/null /etc/hosts && exec "$@"' sh \
  "$cli" search --location '\\S4\Scratch' --pattern '*' --source netbios >"$work/s4.csv" 2>"$work/s4.err" ||
  fail "S4 by NetBIOS alone: $(cat "$work/s4.err")"

packets=$("$testnet" smb-packets I1)
[[ $packets == 0 ]] || fail "I1's SMB ports saw $packets packets"
if grep -rqi "$VUV_NET_USER" "$VUV_NET_STATE/hosts/i1/log"; then fail "I1 saw a log-on as $VUV_NET_USER"; fi
echo "ok: I1 got no search and no log-on"
