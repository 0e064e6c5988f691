#!/usr/bin/env bash
# The SMB1-only host OLD1, as people with an old NAS reach it: listed and searched when
# smb.conf allows NT1 (the network's own HOME does; so does a file given with -s), refused in
# words that name the setting when smb.conf keeps Samba's default range, while hosts that speak
# SMB2 are still reached either way (the SMB2-only M1 too).
# Also: -s with a missing file is a file error; -d puts libsmbclient's log on stderr only.
#   cli_smb1_test.sh CLI
set -euo pipefail
cli=$1
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; for f in "$work"/*.err; do echo "--- $f"; cat "$f"; done; exit 1; }
setting='client min protocol = NT1'

# Allowed by $HOME/.smb/smb.conf.
"$cli" search --source netbios --location '\\OLD1\Legacy' --pattern '*.pdf' >"$work/home.txt" 2>"$work/home.err" ||
  fail "OLD1 not searched with NT1 allowed"
grep -qF 'scan001.pdf' "$work/home.txt" || fail "scan001.pdf not found on OLD1"
"$cli" search --source netbios --location '\\S1\Docs' --pattern '*.pdf' >"$work/s1.txt" 2>"$work/s1.err" ||
  fail "S1 not searched with NT1 allowed"
grep -qF 'manual.pdf' "$work/s1.txt" || fail "manual.pdf not found on S1"
"$cli" search --location '\\M1\Media' --pattern '*.mp3' >"$work/m1.txt" 2>"$work/m1.err" ||
  fail "the SMB2-only M1 not searched with NT1 allowed"
grep -qF 'song.mp3' "$work/m1.txt" || fail "song.mp3 not found on M1"

# A HOME whose smb.conf says nothing about protocols: SMB2_02 and above.
plain=$work/plain
mkdir -p "$plain/.smb"
grep -vi 'client m[ia][nx] protocol' "$HOME/.smb/smb.conf" >"$plain/.smb/smb.conf"
set +e
HOME=$plain "$cli" search --source netbios --location '\\OLD1' --pattern '*' >/dev/null 2>"$work/refused.err"
rc=$?
set -e
((rc != 0)) || fail "OLD1 listed although smb.conf does not allow NT1"
grep -qF "$setting" "$work/refused.err" || fail "the refusal does not name the setting"
# Walking the share: the summary says why its folder could not be listed.
set +e
HOME=$plain "$cli" search --source netbios --location '\\OLD1\Legacy' --pattern '*' >/dev/null 2>"$work/walk.err"
set -e
grep -qF '1 folder could not be listed' "$work/walk.err" || fail "the share walk did not fail"
grep -qF "$setting" "$work/walk.err" || fail "the share walk does not name the setting"
HOME=$plain "$cli" discover --timeout 20 --source netbios --format brk >"$work/plain.brk" 2>"$work/plain.err"
grep -qxF '0OLD1' "$work/plain.brk" || fail "OLD1 not shown as a server without shares"
grep -qxF '0Public' "$work/plain.brk" || fail "S1 lost its shares under the default range"
HOME=$plain "$cli" search --source netbios --location '\\S1\Docs' --pattern '*.pdf' >"$work/plain-s1.txt" 2>"$work/plain-s1.err" ||
  fail "S1 not searched under the default range"

# -s FILE allows NT1 on top of that HOME.
printf '[global]\n  %s\n' "$setting" >"$work/nt1.conf"
HOME=$plain "$cli" search -s "$work/nt1.conf" --source netbios --location '\\OLD1\Legacy' --pattern '*.pdf' \
  >"$work/given.txt" 2>"$work/given.err" || fail "OLD1 not searched with -s allowing NT1"
grep -qF 'scan001.pdf' "$work/given.txt" || fail "scan001.pdf not found with -s"
set +e
"$cli" search -s "$work/missing.conf" --source netbios --location '\\S1\Docs' --pattern '*' >/dev/null 2>"$work/missing.err"
rc=$?
set -e
((rc == 3)) || fail "-s with a missing file: exit code $rc, not 3"
grep -qF "$work/missing.conf" "$work/missing.err" || fail "-s with a missing file does not name it"

# -d: libsmbclient's log on standard error; standard output keeps only the result.
"$cli" search -d 3 --source netbios --location '\\S1\Docs' --pattern '*.pdf' >"$work/debug.txt" 2>"$work/debug.err" ||
  fail "-d 3"
[[ $(cat "$work/debug.txt") == '\\S1\Docs\manual.pdf'$'\t''9 bytes' ]] || fail "-d 3 changed standard output"
grep -q 'Processing section "\[global\]"' "$work/debug.err" || fail "-d 3 shows no libsmbclient log"
echo "the SMB1-only host is reached exactly when smb.conf allows NT1"
