#!/usr/bin/env bash
# The index of names from the command line: `index`, then `search --from-index` gives the rows of
# a live search without the network; a file created on a server shows after a live search, and
# goes once it is removed.
#   cli_index_test.sh CLI        (in the client namespace: testnet.sh exec sets VUV_NET_STATE)
set -euo pipefail
cli=$1
work=$(mktemp -d)
share=$VUV_NET_STATE/hosts/s1/shares/Public
fresh=$share/deep/level1/fresh-in-index.txt
trap 'rm -rf "$work" "$fresh"' EXIT
fail() { echo "FAILED: $*"; exit 1; }
export XDG_CACHE_HOME=$work/cache
loc='\\S1\Public'

for at in "$loc" 'MS Windows Network\ALPHA\S1\Public'; do  # a node path: through a fresh discovery
  "$cli" index "$at" >"$work/index.out" 2>"$work/index.err" || fail "index $at: $(cat "$work/index.err")"
  grep -q '^The index holds [1-9][0-9]* entries in [1-9][0-9]* folders below' "$work/index.out" \
    || fail "no summary: $(cat "$work/index.out")"
done
[[ $(stat -c %a "$work/cache/vuvuveva/index.sqlite") == 600 ]] || fail "the index is readable by others"

rows() {  # rows ARGS...: the rows of a search of the share, sorted
  "$cli" search --location "$loc" --pattern '*' --format csv "$@" 2>/dev/null | sort
}
rows --no-index >"$work/live.csv"
rows --from-index >"$work/indexed.csv"
diff -u "$work/live.csv" "$work/indexed.csv" || fail "the index answers differently from the network"
"$cli" search --from-index --location "$loc" --pattern 'readme.txt' --format json 2>/dev/null \
  | grep -q '"seen":"20[0-9-]*T[0-9:]*Z"}$' || fail "json rows from the index carry no time seen"

# Any live search keeps the index current, whatever its pattern; --no-index records nothing.
printf 'new\n' >"$fresh"
"$cli" search --location "$loc" --pattern '*.nothing' --no-index >/dev/null 2>&1 || true
rows --from-index | grep -q 'fresh-in-index' && fail "--no-index recorded the new file"
"$cli" search --location "$loc" --pattern '*.nothing' >/dev/null 2>&1 || true
rows --from-index | grep -q 'fresh-in-index' || fail "the new file is not in the index after a live search"
rm "$fresh"
"$cli" search --location "$loc" --pattern '*.nothing' >/dev/null 2>&1 || true
rows --from-index | grep -q 'fresh-in-index' && fail "the removed file is still in the index"

# An index that stays busy (another program writing) cannot take the walk: `index` says so
# and fails, where a search only warns.
mkfifo "$work/hold"
python3 -c 'import sqlite3, sys
db = sqlite3.connect(sys.argv[1], isolation_level=None)
db.execute("BEGIN IMMEDIATE")
print("held", flush=True)
sys.stdin.read()' "$work/cache/vuvuveva/index.sqlite" <"$work/hold" >"$work/held" &
holder=$!
exec 9>"$work/hold"
until grep -q held "$work/held"; do
  kill -0 "$holder" 2>/dev/null || fail "could not hold the index"
  sleep 0.1
done
rc=0
"$cli" index "$loc" >/dev/null 2>"$work/busy.err" || rc=$?
exec 9>&-
wait "$holder"
[[ $rc == 3 ]] || fail "index into a busy index ended with $rc: $(cat "$work/busy.err")"
grep -q 'The index could not be updated' "$work/busy.err" || fail "no word of the busy index: $(cat "$work/busy.err")"

# An index that is not there is said so, and not made: a mistyped file finds no "nothing".
missing() {  # missing ARGS...: the command, given an index file that is not there
  local rc=0
  "$cli" "$@" --index-file "$work/typo.sqlite" >/dev/null 2>"$work/typo.err" || rc=$?
  [[ $rc == 3 && ! -e $work/typo.sqlite ]] || fail "$1 on a missing index: exit $rc, $(cat "$work/typo.err")"
}
missing search --from-index --location "$loc" --pattern '*'
missing index --clear "$loc"

# Forgetting a share leaves the index without its rows.
"$cli" index --clear "$loc"
rc=0
"$cli" search --from-index --location "$loc" --pattern '*' >/dev/null 2>&1 || rc=$?
[[ $rc == 1 ]] || fail "index --clear left rows (exit $rc)"
echo "index kept current"
