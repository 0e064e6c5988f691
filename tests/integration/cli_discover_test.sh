#!/usr/bin/env bash
# The command line discovery prints the test network's tree exactly, saves the same bytes,
# and loads them back; an unknown workgroup added by name stays empty. With the WS-Discovery
# hosts up (VUV_NET_MODERN=1) the default discovery, both sources, gives the modern tree, and
# --source netbios the browse lists' tree.
#   cli_discover_test.sh CLI EXPECTED_TREE_FILE [EXPECTED_MODERN_TREE_FILE]
set -euo pipefail
cli=$1
netbios_expected=$2
expected=$2
if [[ ${VUV_NET_MODERN:-0} == 1 ]]; then expected=${3:?the modern hosts are up: give the modern tree}; fi
# Workgroups with servers: the count the domain listing reports.
domains=$(grep -c '^2' "$expected")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

"$cli" discover --format brk --save "$work/saved.brk" >"$work/out.brk" 2>"$work/err.txt"
diff -u "$expected" "$work/out.brk"
cmp "$work/out.brk" "$work/saved.brk"
grep -q "Entries enumerated: $domains" "$work/err.txt"

"$cli" discover --source netbios --format brk >"$work/netbios.brk" 2>/dev/null
diff -u "$netbios_expected" "$work/netbios.brk"

"$cli" tree "$work/saved.brk" --format brk >"$work/reloaded.brk"
cmp "$work/out.brk" "$work/reloaded.brk"

"$cli" discover --add-workgroup NOSUCHGROUP --format brk >"$work/added.brk" 2>/dev/null
{ cat "$expected"; echo "0NOSUCHGROUP"; } | diff -u - "$work/added.brk"

# Usage errors and unreadable files have their own exit codes.
set +e
"$cli" discover --format nonsense >/dev/null 2>&1; [ $? -eq 2 ] || { echo "bad --format: wrong exit code"; exit 1; }
"$cli" tree "$work/missing.brk" >/dev/null 2>&1; [ $? -eq 3 ] || { echo "missing file: wrong exit code"; exit 1; }
echo "cli discovery matches the network"
