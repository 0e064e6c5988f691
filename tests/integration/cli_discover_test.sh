#!/usr/bin/env bash
# The one comparison of a discovery with the test network's expected tree: the default
# discovery (NetBIOS and WS-Discovery) prints the tree with the modern hosts exactly, saves the
# same bytes and loads them back; --source netbios gives the browse lists' tree; an unknown
# workgroup added by name stays empty.
#   cli_discover_test.sh CLI EXPECTED_NETBIOS_TREE EXPECTED_MODERN_TREE
set -euo pipefail
cli=$1
netbios_expected=$2
expected=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# A server's first share list starts its RPC service, which under load takes longer than the
# default 5 s: a slow server, not a silent one (Z2 then costs the whole 20 s).
slow=(--timeout 20)

"$cli" discover "${slow[@]}" --format brk --save "$work/saved.brk" >"$work/out.brk" 2>"$work/err.txt"
diff -u "$expected" "$work/out.brk"
cmp "$work/out.brk" "$work/saved.brk"
# Workgroups with servers: the count the domain listing reports.
grep -q "Entries enumerated: $(grep -c "^2" "$expected")" "$work/err.txt"

"$cli" discover "${slow[@]}" --source netbios --format brk >"$work/netbios.brk" 2>/dev/null
diff -u "$netbios_expected" "$work/netbios.brk"

"$cli" tree "$work/saved.brk" --format brk >"$work/reloaded.brk"
cmp "$work/out.brk" "$work/reloaded.brk"

"$cli" discover "${slow[@]}" --source netbios --add-workgroup NOSUCHGROUP --format brk >"$work/added.brk" 2>/dev/null
{ cat "$netbios_expected"; echo "0NOSUCHGROUP"; } | diff -u - "$work/added.brk"

# Usage errors, unreadable files and output that cannot be written have their own exit codes.
set +e
"$cli" discover --format nonsense >/dev/null 2>&1; [ $? -eq 2 ] || { echo "bad --format: wrong exit code"; exit 1; }
"$cli" tree "$work/missing.brk" >/dev/null 2>&1; [ $? -eq 3 ] || { echo "missing file: wrong exit code"; exit 1; }
"$cli" tree "$work/saved.brk" >/dev/full 2>&1; [ $? -eq 3 ] || { echo "full disk: wrong exit code"; exit 1; }
echo "cli discovery matches the network"
