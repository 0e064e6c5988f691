#!/usr/bin/env bash
# Copies from the test network with the command line tool: a folder and a file arrive whole
# with their times; an existing name stays without --replace (exit 5) and is replaced with it;
# a link loop and an unreadable folder fail with nothing left; a 5 GiB sparse file with marks
# past 4 GiB arrives whole; Ctrl+C mid-copy and a server killed mid-copy leave no partial file.
# Each interrupt waits for the copy's partial file, never for a time.
#   cli_copy_test.sh CLI TESTNET_SCRIPT
# Runs in the client namespace; puts its big files in the shares' folders on the host side
# and removes them again. It stops and restarts S4, so it runs alone.
set -uo pipefail
cli=$1
testnet=$2
work=$(mktemp -d)
public=$VUV_NET_STATE/hosts/s1/shares/Public
scratch=$VUV_NET_STATE/hosts/s4/shares/Scratch
big=$public/copy-test-5GiB.bin
slow=$scratch/copy-test-20GiB.bin
cleanup() {
  rm -rf "$work"
  rm -f "$big" "$slow"
}
trap cleanup EXIT
fail() { echo "FAILED: $*"; exit 1; }
source "$(dirname "${BASH_SOURCE[0]}")/interrupt_when.sh"

# Nothing but the given names in the destination: no temporary file or folder left.
only() {
  local got
  got=$(cd "$work/dest" && find . -mindepth 1 -maxdepth 1 -printf '%f\n' | sort | tr '\n' ' ')
  [[ $got == "$1" ]] || fail "$2: the destination holds '$got', expected '$1'"
}
# Byte-for-byte equal in the region at OFFSET of LENGTH bytes.
same_region() {
  cmp <(dd if="$1" bs=4096 skip="$(($3 / 4096))" count="$(($4 / 4096))" status=none) \
      <(dd if="$2" bs=4096 skip="$(($3 / 4096))" count="$(($4 / 4096))" status=none) >/dev/null
}
mkdir -p "$work/dest"

# A folder with subfolders, then a file; both keep the server's times.
out=$("$cli" copy '\\S1\Public\deep' "$work/dest" 2>"$work/err") || fail "folder copy: $(cat "$work/err")"
[[ $out == "$work/dest/deep" ]] || fail "folder copy printed '$out'"
diff -r "$public/deep" "$work/dest/deep" || fail "the copied folder differs"
"$cli" copy '\\S1\Public\readme.txt' "$work/dest" >/dev/null 2>"$work/err" || fail "file copy: $(cat "$work/err")"
cmp "$public/readme.txt" "$work/dest/readme.txt" || fail "the copied file differs"
[[ $(stat -c %Y "$work/dest/readme.txt") == $(stat -c %Y "$public/readme.txt") ]] || fail "the file's time was not kept"
only "deep readme.txt " "copies"

# An existing name: refused before any byte moves, replaced with --replace.
echo old >"$work/dest/readme.txt"
"$cli" copy '\\S1\Public\readme.txt' "$work/dest" >/dev/null 2>"$work/err"
rc=$?
[[ $rc == 5 ]] || fail "copy over an existing file: exit $rc, not 5"
grep -q 'already there' "$work/err" || fail "no clear error for an existing file: $(cat "$work/err")"
[[ $(cat "$work/dest/readme.txt") == old ]] || fail "the existing file was touched"
"$cli" copy --replace '\\S1\Public\readme.txt' "$work/dest" >/dev/null 2>"$work/err" || fail "--replace: $(cat "$work/err")"
cmp "$public/readme.txt" "$work/dest/readme.txt" || fail "--replace did not replace"

# A link loop and a folder that cannot be listed fail the copy, naming the folder.
"$cli" copy '\\S1\Public\loops' "$work/dest" >/dev/null 2>"$work/err" && fail "a link loop was copied"
grep -q 'link loop' "$work/err" || fail "no clear error for a link loop: $(cat "$work/err")"
"$cli" copy '\\S1\Public\denied' "$work/dest" >/dev/null 2>"$work/err" && fail "an unreadable folder was copied"
grep -qF 'Could not copy \\S1\Public\denied: access denied' "$work/err" || fail "unclear error: $(cat "$work/err")"
only "deep readme.txt " "failed copies"
rm -rf "$work/dest"/*

# 5 GiB, sparse, with marks at the start, around 4 GiB and at the end: 64-bit sizes and offsets.
truncate -s 5G "$big"
marks=(0 $((4 * 1024 ** 3 - 4096)) $((4 * 1024 ** 3 + 8192)) $((5 * 1024 ** 3 - 4096)))
for at in "${marks[@]}"; do head -c 4096 /dev/urandom | dd of="$big" bs=4096 seek=$((at / 4096)) conv=notrunc status=none; done
start=$(now_ms)
"$cli" copy '\\S1\Public\copy-test-5GiB.bin' "$work/dest" >/dev/null 2>"$work/err" || fail "5 GiB copy: $(cat "$work/err")"
echo "5 GiB sparse file copied in $(($(now_ms) - start)) ms"
[[ $(stat -c %s "$work/dest/copy-test-5GiB.bin") == 5368709120 ]] || fail "the 5 GiB copy has the wrong size"
for at in "${marks[@]}" $((2 * 1024 ** 3)); do
  same_region "$big" "$work/dest/copy-test-5GiB.bin" "$at" 8192 || fail "the 5 GiB copy differs near byte $at"
done
rm -f "$work/dest/copy-test-5GiB.bin"

# Ctrl+C once the copy has written its first bytes: exit 130 at once, nothing left.
copying() { [[ -n $(find "$work/dest" -name '.copy-test-5GiB.bin.*.part' -size +0) ]]; }
interrupt_when copying "copy (writing)" copy '\\S1\Public\copy-test-5GiB.bin' "$work/dest"
only "" "Ctrl+C"

# S4 killed mid-copy: a clear error naming the file, nothing left; S4 comes back afterwards.
truncate -s 20G "$slow"  # sparse; far more than S4 can send before it is killed
"$cli" copy '\\S4\Scratch\copy-test-20GiB.bin' "$work/dest" >/dev/null 2>"$work/err" &
pid=$!
until compgen -G "$work/dest/.copy-test-20GiB.bin.*.part" >/dev/null || ! kill -0 "$pid" 2>/dev/null; do sleep 0.05; done
"$testnet" kill-host S4 >/dev/null || fail "could not stop S4"
wait "$pid"
rc=$?
restarted=0
"$testnet" start-host S4 >/dev/null && "$testnet" wait >/dev/null && restarted=1
echo "server killed: exit $rc: $(cat "$work/err")"
[[ $rc == 4 ]] || fail "server killed: exit $rc, not 4"
grep -qF 'Could not copy \\S4\Scratch\copy-test-20GiB.bin' "$work/err" || fail "unclear error: $(cat "$work/err")"
only "" "server killed"
((restarted)) || fail "S4 did not come back"
echo "copies arrive whole; failures, Ctrl+C and a dead server leave nothing behind"
