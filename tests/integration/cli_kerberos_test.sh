#!/usr/bin/env bash
# Kerberos as smbclient users know it, against the network's domain controller, which refuses
# NTLM: a password alone is refused there, so a listing that works proves the ticket was used.
# With a ticket from kinit, -k reaches the domain-only share without asking for a password;
# without one, -k fails and says what is missing, and --use-kerberos=desired falls back to
# NTLM (a guest share of S1 still works). Needs `testnet.sh kdc-up` (77: skipped without it).
#   cli_kerberos_test.sh CLI
set -euo pipefail
cli=$1
[[ ${VUV_NET_KDC:-0} == 1 ]] || { echo "no Kerberos domain (testnet.sh kdc-up)"; exit 77; }
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; for f in "$work"/*.err; do echo "--- $f"; cat "$f"; done; exit 1; }
# The DC starts its share-list service on the first request, which under load takes longer than
# the default time limit: a slow server, not a silent one.
run_cli() { "$cli" "$1" --timeout 60 "${@:2}"; }
export KRB5_CONFIG=$VUV_NET_KRB5_CONFIG
export KRB5CCNAME=FILE:$work/ccache
share="\\\\$VUV_NET_KDC_HOST\\Secure"
server="\\\\$VUV_NET_KDC_HOST"

expect_failure() {  # expect_failure NAME CLI-ARGS...: the run must fail
  local name=$1 rc
  shift
  set +e
  run_cli "$@" >"$work/$name.txt" 2>"$work/$name.err" </dev/null
  rc=$?
  set -e
  ((rc != 0)) || fail "$name: succeeded"
}

# No ticket yet.
expect_failure required-no-ticket search -k --source netbios --location "$server" --pattern '*'
grep -qF 'Kerberos is required, but there is no ticket' "$work/required-no-ticket.err" ||
  fail "-k without a ticket does not say why"
run_cli search --use-kerberos=desired --source netbios --location '\\S1\Docs' --pattern '*.pdf' \
  >"$work/desired-no-ticket.txt" 2>"$work/desired-no-ticket.err" </dev/null ||
  fail "desired without a ticket did not fall back"
grep -qF 'manual.pdf' "$work/desired-no-ticket.txt" || fail "desired without a ticket: manual.pdf not found"
# NTLM with the right password is refused by the domain controller.
expect_failure ntlm search -U "$VUV_NET_KDC_USER%$VUV_NET_KDC_PASSWORD" --source netbios --location "$server" --pattern '*'

kinit "$VUV_NET_KDC_USER@$VUV_NET_KDC_REALM" <<<"$VUV_NET_KDC_PASSWORD" >/dev/null

run_cli search -k --source netbios --location "$share" --pattern '*.txt' \
  >"$work/required.txt" 2>"$work/required.err" </dev/null || fail "-k with a ticket"
grep -qF 'plan.txt' "$work/required.txt" || fail "-k: plan.txt not found"
grep -qF 'q1.txt' "$work/required.txt" || fail "-k: reports\\q1.txt not found"
grep -qF '0 folders could not be listed' "$work/required.err" || fail "-k: folders failed"
# A user named without a password: the ticket answers, no prompt.
run_cli search -U "$VUV_NET_KDC_USER" --use-kerberos=required --source netbios --location "$share" \
  --pattern 'plan.txt' >"$work/user.txt" 2>"$work/user.err" </dev/null || fail "-U USER with a ticket"
grep -qF 'plan.txt' "$work/user.txt" || fail "-U USER with a ticket: plan.txt not found"
if grep -qi 'password' "$work/user.err"; then fail "asked for a password despite the ticket"; fi
run_cli search --use-kerberos=desired --source netbios --location "$server" --pattern 'q1.txt' \
  >"$work/desired.txt" 2>"$work/desired.err" </dev/null || fail "desired with a ticket"
grep -qF 'q1.txt' "$work/desired.txt" || fail "desired with a ticket: q1.txt not found"
echo "a Kerberos ticket reaches the share of a domain that refuses NTLM"
