#!/usr/bin/env bash
# The command line tool with the SMB2-only hosts M1 and M2, which only WS-Discovery finds and
# which the client's /etc/hosts does not list: --source wsd shows them alone, searches reach
# their files by the addresses WS-Discovery found, and with NetBIOS browsing impossible the
# discovery still shows them and says what failed.
#   cli_wsd_test.sh CLI
set -euo pipefail
cli=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAILED: $*"; exit 1; }

# The premise: no name lookup but ours finds M1.
if getent hosts M1 >/dev/null; then fail "M1 resolves without WS-Discovery: the test proves nothing"; fi

announced=$'2ALPHA\n1M2\n0Media\n0IPC$\n2MODERN\n1M1\n0Media\n0IPC$'
# --timeout 20: a server's first share list under load is slow, not silent.
"$cli" discover --timeout 20 --source wsd --format brk --save "$work/wsd.brk" >"$work/wsd.out" 2>"$work/wsd.err"
diff -u <(echo "$announced") "$work/wsd.out"

# Searches by network path: the address comes from WS-Discovery.
"$cli" search --location '\\M1\Media' --pattern '*' --format csv >"$work/m1.csv" 2>"$work/m1.err"
grep -q 'M1\\Media\\music\\song.mp3' "$work/m1.csv" || fail "no song.mp3 on \\\\M1\\Media: $(cat "$work/m1.csv" "$work/m1.err")"
grep -q 'M1\\Media\\movie.mkv' "$work/m1.csv" || fail "no movie.mkv on \\\\M1\\Media"
# Without WS-Discovery nothing knows where M1 is.
set +e
"$cli" search --location '\\M1\Media' --pattern '*' --source netbios >/dev/null 2>&1
rc=$?
set -e
[[ $rc == 4 ]] || fail "--source netbios found M1 (exit $rc)"

# Searches in a saved tree and in a fresh discovery, by node path.
"$cli" search --tree "$work/wsd.brk" --location 'MS Windows Network\ALPHA\M2' --pattern '*.mp3' >"$work/m2.txt" 2>/dev/null
grep -q 'M2\\Media\\music\\song.mp3' "$work/m2.txt" || fail "no song.mp3 on M2 from the saved tree"
"$cli" search --location 'MS Windows Network\MODERN' --pattern '*.MKV' >"$work/modern.txt" 2>/dev/null
grep -q 'M1\\Media\\movie.mkv' "$work/modern.txt" || fail "no movie.mkv below MODERN"

# No NetBIOS browsing at all: a client whose settings forbid broadcasts finds no master browser
# (with its own name cache: the usual one knows the masters).
mkdir -p "$work/home/.smb" "$work/state"
sed -e 's/^\( *name resolve order *=\).*/\1 host/' \
    -e "s#^\( *\(private dir\|lock directory\|state directory\|cache directory\|pid directory\|ncalrpc dir\) *=\).*#\1 $work/state#" \
    "$HOME/.smb/smb.conf" >"$work/home/.smb/smb.conf"
HOME=$work/home "$cli" discover --timeout 20 --format brk >"$work/nonb.out" 2>"$work/nonb.err"
diff -u <(echo "$announced") "$work/nonb.out"
grep -q '^NetBIOS browsing' "$work/nonb.err" || fail "no line says NetBIOS browsing failed: $(cat "$work/nonb.err")"
echo "modern hosts are found and searched"
