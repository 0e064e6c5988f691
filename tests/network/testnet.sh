#!/usr/bin/env bash
# Vuvuveva's Samba test network: real smbd/nmbd hosts in network namespaces on one bridge,
# plus a client namespace where our tools and tests run. See README.md for the layout.
#
#   testnet.sh up | down | status | wait | exec CMD... | kill-host NAME | start-host NAME
#   testnet.sh impostor-up | impostor-down   add or remove I1, announcing itself by wsdd as S1
#   testnet.sh smb-packets I1        packets I1's SMB ports have seen
#   testnet.sh kdc-up | kdc-down     add or remove the Kerberos domain (network must be up)
#
# Environment:
#   VUV_NET_PREFIX   names of namespaces and the state dir (default vuv; letters and digits)
#   VUV_NET_MODERN   1 = also start the SMB2-only hosts announced by wsdd (default 0)
#   VUV_NET_TIMEOUT  seconds `up`/`wait` allow the browse lists to converge (default 120)
#   VUV_NET_KEEP     1 = a failed `up` leaves what it built, to look at (default 0)
#
# Everything broadcasting runs inside the namespaces made here; nothing runs in the root
# namespace. Processes are stopped by the PIDs recorded at start (checked against their start
# time, so a reused PID is never hit) and by the process list of our own namespaces.
set -euo pipefail

PREFIX=${VUV_NET_PREFIX:-vuv}
MODERN=${VUV_NET_MODERN:-0}
TIMEOUT=${VUV_NET_TIMEOUT:-120}

# Letters and digits only: our namespaces are "$PREFIX-<host>", so no other prefix can
# produce a name of ours (e.g. prefix "vuv-s1" against host s1 of prefix "vuv").
if [[ ! $PREFIX =~ ^[A-Za-z0-9]{1,16}$ ]]; then
  echo "testnet: VUV_NET_PREFIX must be 1-16 letters or digits, got '$PREFIX'" >&2
  exit 2
fi

STATE=/tmp/${PREFIX}-net
LOCKFILE=/tmp/${PREFIX}-net.lock
SUBNET=10.213.0          # a /24 that exists only inside our namespaces
CLIENT_IP=$SUBNET.100
CLIENT_NAME=VUVCLIENT
NS_BR=${PREFIX}-br
NS_CLIENT=${PREFIX}-client
DAEMON_PATH=/usr/sbin:/usr/bin:/sbin:/bin
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

# ---------------------------------------------------------------------------------------
# The hosts, as data. One record per host:
#   NAME  WORKGROUP  FLAGS  LAST-IP-OCTET  SHARES (comma list, "-" for none)
# Flags (comma list):
#   master    nmbd wins its workgroup's election (preferred master, os level 65)
#   member    nmbd announces the host but never becomes browse master
#   restrict  refuses the share list to anonymous users (restrict anonymous = 2)
#   nosmb     nmbd only: announced, but nothing listens on 139/445
#   dropsmb   nftables drops tcp 139/445 in the host's namespace (silent, no RST)
#   modern    SMB2+ only, NetBIOS disabled, announced with wsdd (WS-Discovery)
#   smb1      speaks only SMB1 (NT1), like an old NAS: clients must allow NT1 to reach it
#   impostor  (with modern) wsdd announces it under S1's name; its SMB ports count packets
HOSTS=(
  "S1 ALPHA master          11 Public,Docs"
  "S2 ALPHA member,restrict 12 Private,Vault"
  "S3 ALPHA member,nosmb    13 -"
  "S4 ALPHA member          14 Scratch"
  "OLD1 ALPHA member,smb1   15 Legacy"
  "Z1 ZETA  master          21 Data"
  "Z2 ZETA  member,dropsmb  22 Data"
)
# Only with VUV_NET_MODERN=1; they never show in the NetBIOS browse lists.
MODERN_HOSTS=(
  "M1 MODERN modern 31 Media"
  "M2 ALPHA  modern 32 Media"
)

# Only after impostor-up: a host that claims a real server's NetBIOS name by WS-Discovery.
IMPOSTOR_HOSTS=(
  "I1 ALPHA modern,impostor 33 Public"
)
IMPOSTOR_OF=S1

all_host_records() {
  printf '%s\n' "${HOSTS[@]}"
  if [[ $MODERN == 1 ]]; then printf '%s\n' "${MODERN_HOSTS[@]}"; fi
}
# Every host name this script may ever have made, whatever VUV_NET_MODERN says now:
# `down` must clean up a network that was brought up with other settings.
every_host_name() {
  printf '%s\n' "${HOSTS[@]}" "${MODERN_HOSTS[@]}" "${IMPOSTOR_HOSTS[@]}" | awk '{print $1}'
}

# Fields of one record: sets H_NAME H_WG H_FLAGS H_IP H_SHARES H_NS H_DIR
load_host() {
  local rec
  rec=$(printf '%s\n' "${HOSTS[@]}" "${MODERN_HOSTS[@]}" "${IMPOSTOR_HOSTS[@]}" | awk -v n="${1^^}" '$1 == n')
  [[ -n $rec ]] || { echo "testnet: unknown host '$1'" >&2; return 1; }
  read -r H_NAME H_WG H_FLAGS H_OCTET H_SHARES <<<"$rec"
  H_IP=$SUBNET.$H_OCTET
  H_NS=$PREFIX-${H_NAME,,}
  H_DIR=$STATE/hosts/${H_NAME,,}
}
has_flag() { [[ ,$H_FLAGS, == *,$1,* ]]; }
# The name wsdd announces for the loaded host.
announced_name() { if has_flag impostor; then echo "$IMPOSTOR_OF"; else echo "$H_NAME"; fi; }

log() { printf 'testnet[%s]: %s\n' "$PREFIX" "$*" >&2; }
die() { log "ERROR: $*"; exit 1; }

need_root() { [[ $(id -u) == 0 ]] || die "must run as root (network namespaces)"; }

ns_exists() { [[ -e /run/netns/$1 ]]; }
in_ns() { local ns=$1; shift; ip netns exec "$ns" "$@"; }

# Bounded polling: poll SECONDS CMD... -> 0 as soon as CMD succeeds, 1 after SECONDS.
poll() {
  local limit=$1; shift
  local end=$((SECONDS + limit))
  while true; do
    "$@" && return 0
    ((SECONDS < end)) || return 1
    sleep 0.2
  done
}

# --- processes --------------------------------------------------------------------------
# Field N (as numbered in proc(5)) of /proc/PID/stat; the name field may hold spaces.
proc_field() {
  local stat fields
  stat=$(cat "/proc/$1/stat" 2>/dev/null) || return 1
  read -ra fields <<<"${stat##*) }"
  echo "${fields[$2 - 3]}"
}
proc_starttime() { proc_field "$1" 22; }

# Remember a process we started: "PID STARTTIME" in $STATE/pids/HOST.DAEMON
record_pid() {
  local host=$1 daemon=$2 pid=$3 st
  st=$(proc_starttime "$pid") || return 1
  [[ -n $st ]] || return 1
  mkdir -p "$STATE/pids"
  echo "$pid $st" >"$STATE/pids/${host,,}.$daemon"
}

# The recorded PID if that very process is still alive, else nothing.
live_recorded_pid() {
  local f=$1 pid st
  [[ -f $f ]] || return 0
  read -r pid st <"$f" || return 0
  [[ $pid =~ ^[0-9]+$ ]] || return 0
  [[ $(proc_starttime "$pid") == "$st" ]] && echo "$pid"
  return 0
}

# Stop the given PIDs: TERM, wait up to 5 s, then KILL what is left.
stop_pids() {
  local pids=("$@") p alive
  ((${#pids[@]})) || return 0
  kill -TERM "${pids[@]}" 2>/dev/null || true
  local end=$((SECONDS + 5))
  while true; do
    alive=()
    for p in "${pids[@]}"; do
      if kill -0 "$p" 2>/dev/null && [[ $(proc_field "$p" 3) != Z ]]; then
        alive+=("$p")
      fi
    done
    ((${#alive[@]})) || return 0
    ((SECONDS < end)) || break
    sleep 0.1
  done
  log "killing stubborn processes: ${alive[*]}"
  kill -KILL "${alive[@]}" 2>/dev/null || true
}

# Stop one host's daemons: the recorded PIDs first, then whatever else still runs in its
# namespace (smbd forks, samba-dcerpcd and its rpcd helpers that smbd starts on demand).
stop_host_processes() {
  local host=${1,,} ns=$PREFIX-${1,,} f pid pids=()
  for f in "$STATE/pids/$host".*; do
    [[ -e $f ]] || continue
    pid=$(live_recorded_pid "$f")
    if [[ -n $pid ]]; then pids+=("$pid"); fi
  done
  stop_pids "${pids[@]}"
  rm -f "$STATE/pids/$host".*
  stop_ns_processes "$ns"
}

# Every process in namespace NS except ourselves and our ancestors (`down` may be run from
# inside the client namespace, through `exec`).
stop_ns_processes() {
  local ns=$1 p mine=" " pids=()
  ns_exists "$ns" || return 0
  p=$BASHPID
  while [[ $p =~ ^[0-9]+$ && $p != 0 ]]; do
    mine+="$p "
    p=$(proc_field "$p" 4) || break
  done
  for p in $(ip netns pids "$ns" 2>/dev/null); do
    [[ $mine == *" $p "* ]] || pids+=("$p")
  done
  stop_pids "${pids[@]}"
}

# --- building ---------------------------------------------------------------------------
make_ns() {
  local ns=$1
  echo "$ns" >>"$STATE/namespaces"
  ip netns add "$ns"
  # Files here are bind-mounted over /etc by `ip netns exec`: no DNS server (nothing may
  # leave the namespace), names of the test hosts for tools that resolve through libc.
  mkdir -p "/etc/netns/$ns"
  : >"/etc/netns/$ns/resolv.conf"
  cp "$STATE/etc-hosts" "/etc/netns/$ns/hosts"
  in_ns "$ns" ip link set lo up
  # IPv4 only: nmbd speaks IPv4 only, and a single family keeps what tests see predictable.
  in_ns "$ns" sysctl -qw net.ipv6.conf.all.disable_ipv6=1 net.ipv6.conf.default.disable_ipv6=1
}

# A veth pair made directly in the two namespaces: no name ever appears in the root namespace.
plug() {
  local ns=$1 port=$2 addr=$3
  ip -n "$NS_BR" link add "$port" type veth peer name eth0 netns "$ns"
  ip -n "$NS_BR" link set "$port" master br0 up
  ip -n "$ns" addr add "$addr/24" brd + dev eth0
  ip -n "$ns" link set eth0 up
}

write_etc_hosts() {
  {
    echo "127.0.0.1 localhost"
    echo "$CLIENT_IP ${CLIENT_NAME,,} $CLIENT_NAME"
    local rec n o f
    # Not the SMB2-only hosts: WS-Discovery must find their addresses, as on a real LAN.
    while read -r n _ f o _; do [[ ,$f, == *,modern,* ]] || echo "$SUBNET.$o ${n,,} $n"; done < <(all_host_records)
  } >"$STATE/etc-hosts"
}

build_network() {
  mkdir -p "$STATE"
  chmod 755 "$STATE"   # guests (nobody) walk through it to the shares
  : >"$STATE/namespaces"
  write_etc_hosts

  make_ns "$NS_BR"
  ip -n "$NS_BR" link add br0 type bridge
  # No IGMP snooping: with no querier on this LAN it would only make multicast (wsdd) flaky.
  ip -n "$NS_BR" link set br0 type bridge mcast_snooping 0 stp_state 0 forward_delay 0
  ip -n "$NS_BR" link set br0 up

  make_ns "$NS_CLIENT"
  plug "$NS_CLIENT" client "$CLIENT_IP"

  local rec
  while read -r rec; do
    read -r n _ _ _ _ <<<"$rec"
    load_host "$n"
    make_ns "$H_NS"
    plug "$H_NS" "${H_NAME,,}" "$H_IP"
    if has_flag dropsmb; then
      in_ns "$H_NS" nft -f - <<'EOF'
table inet vuvtest {
  chain input {
    type filter hook input priority 0; policy accept;
    tcp dport { 139, 445 } drop
  }
}
EOF
    fi
  done < <(all_host_records)
}

# --- share contents ---------------------------------------------------------------------
STAMP='2024-03-01 12:00:00'

put() {  # put FILE TEXT: a small file with fixed content
  mkdir -p "$(dirname "$1")"
  printf '%s\n' "$2" >"$1"
}

# Tests stop and restart S4 in the middle of a discovery or a walk: it is no browse master, so
# the browse lists stay as they are meanwhile.
populate_Scratch() {
  local d=$1 i
  for i in 1 2 3 4 5 6; do
    put "$d/part$i/notes$i.txt" "part $i"
    put "$d/part$i/sub/data$i.txt" "data $i"
  done
  put "$d/readme.txt" "Scratch share of S4"
}

populate_Public() {
  local d=$1 i p
  put "$d/readme.txt" "Public share of S1"
  put "$d/report.doc" "report"
  put "$d/holiday.jpg" "jpeg bytes"
  put "$d/CAMERA.JPG" "JPEG BYTES"
  put "$d/archive.zip" "zip bytes"
  put "$d/setup.exe" "MZ"
  put "$d/index.html" "<html></html>"
  put "$d/notes.md" "# notes"
  put "$d/Übersicht.txt" "Übersicht"
  put "$d/日本語.doc" "日本語"
  put "$d/Ärger/café.jpg" "café"
  put "$d/.profile" "# profile"
  put "$d/.hidden/secret.txt" "found me"
  put "$d/.hidden/.env" "X=1"
  p=$d/deep
  for i in 1 2 3 4 5 6 7 8 9 10; do
    p=$p/level$i
    mkdir -p "$p"
  done
  put "$p/bottom.txt" "ten levels down"
  put "$d/deep/level1/level2/level3/middle.txt" "three levels down"
  put "$d/old.zip/inside.txt" "a folder named like an archive"
  mkdir -p "$d/empty"
  mkdir -p "$d/big"
  truncate -s 5G "$d/big/huge-5GiB.iso"
  truncate -s 4294967295 "$d/big/size-4294967295.bin"
  put "$d/big/small.txt" "small"
  put "$d/loops/here.txt" "loops/here.txt"
  ln -s . "$d/loops/loop"
  put "$d/denied/secret.txt" "guests never see this"
  put "$d/docs/a.txt" "a"
  put "$d/docs/B.TXT" "B"
  put "$d/docs/c.html" "<p>c</p>"
}
populate_Docs() {
  put "$1/guide.txt" "guide"
  put "$1/manual.pdf" "%PDF-1.4"
  put "$1/letters/letter1.doc" "letter 1"
  put "$1/letters/letter2.doc" "letter 2"
}
populate_Private() {
  put "$1/salaries.xls" "confidential"
}
populate_Vault() {
  put "$1/keys.txt" "keys"
}
populate_Data() {
  put "$1/measurements.csv" "t,v"
  put "$1/results.txt" "results"
  put "$1/archive/2023.zip" "zip bytes"
}
populate_Legacy() {
  put "$1/readme.txt" "Legacy share of OLD1"
  put "$1/scans/scan001.pdf" "%PDF-1.3"
}
populate_Media() {
  mkdir -p "$1/music"
  truncate -s 100M "$1/movie.mkv"
  put "$1/music/song.mp3" "ID3"
}

populate_share() {  # populate_share NAME DIR
  local name=$1 dir=$2
  mkdir -p "$dir"
  if declare -F "populate_$name" >/dev/null; then
    "populate_$name" "$dir"
  else
    put "$dir/readme.txt" "$name"
  fi
  # Fixed times so listings are reproducible; then lock guests out of denied/.
  find "$dir" -exec touch -h -d "$STAMP" {} +
  if [[ -d $dir/denied ]]; then chmod 000 "$dir/denied"; fi
}

# --- per-host Samba -----------------------------------------------------------------------
write_host_conf() {
  local d=$H_DIR s
  mkdir -p "$d"/{private,binddns,lock,state,cache,run,ncalrpc,log,shares}
  chmod 700 "$d/private"
  {
    cat <<EOF
[global]
  netbios name = $H_NAME
  workgroup = $H_WG
  server string = Vuvuveva test host $H_NAME
  server role = standalone server
  interfaces = eth0
  bind interfaces only = yes
  private dir = $d/private
  binddns dir = $d/binddns
  lock directory = $d/lock
  state directory = $d/state
  cache directory = $d/cache
  pid directory = $d/run
  ncalrpc dir = $d/ncalrpc
  log file = $d/log/%m.log
  max log size = 1000
  log level = 1
  load printers = no
  printing = bsd
  printcap name = /dev/null
  disable spoolss = yes
  map to guest = Bad User
  guest account = nobody
  usershare max shares = 0
  dns proxy = no
  # Links inside a share (loops/loop -> .) are followed, the same over SMB1 and SMB2.
  unix extensions = no
  follow symlinks = yes
EOF
    if has_flag modern; then
      cat <<EOF
  disable netbios = yes
  smb ports = 445
  server min protocol = SMB2
EOF
    else
      if has_flag smb1; then echo "  server max protocol = NT1"; fi
      cat <<EOF
  server min protocol = NT1
  # Never ask a WINS server or DNS: names on this LAN are broadcast.
  name resolve order = bcast
  domain master = no
EOF
      if has_flag master; then
        cat <<EOF
  local master = yes
  preferred master = yes
  os level = 65
EOF
      else
        # Never master: one master per workgroup, no elections while tests run.
        cat <<EOF
  local master = no
  preferred master = no
  os level = 0
EOF
      fi
    fi
    if has_flag restrict; then
      echo "  restrict anonymous = 2"
    fi
    if has_flag impostor; then
      echo "  log level = 1 auth_audit:3"  # every log-on attempt, with its user name
    fi
    if [[ $H_SHARES != - ]]; then
      for s in ${H_SHARES//,/ }; do
        cat <<EOF

[$s]
  path = $d/shares/$s
  read only = yes
EOF
        if has_flag restrict; then
          echo "  guest ok = no"
          # Only the second account: the host's log-on as HOST_USER is refused here.
          if [[ $s == Vault ]]; then echo "  valid users = $VAULT_USER"; fi
        else
          echo "  guest ok = yes"
        fi
      done
    fi
  } >"$d/smb.conf"
  testparm -s "$d/smb.conf" >/dev/null 2>"$d/log/testparm.err" ||
    die "bad smb.conf for $H_NAME, see $d/log/testparm.err"
}

# A host that refuses guests has two accounts, HOST_USER and VAULT_USER (the only one its
# share Vault admits): Samba users on Unix users that exist only in the host's namespace (a
# passwd and group of its own, which `ip netns exec` bind-mounts over /etc like the hosts file).
add_host_users() {
  local etc=/etc/netns/$H_NS user uid password
  cp /etc/passwd "$etc/passwd"
  cp /etc/group "$etc/group"
  while read -r user uid password; do
    echo "$user:x:$uid:$uid:Vuvuveva test user:/nonexistent:/usr/sbin/nologin" >>"$etc/passwd"
    echo "$user:x:$uid:" >>"$etc/group"
    printf '%s\n%s\n' "$password" "$password" |
      in_ns "$H_NS" env -i PATH=$DAEMON_PATH pdbedit -s "$H_DIR/smb.conf" -a -t -u "$user" \
        >>"$H_DIR/log/pdbedit.out" 2>&1 9>&- || die "$H_NAME: adding $user failed (see $H_DIR/log)"
  done <<EOF
$HOST_USER $HOST_USER_UID $HOST_USER_PASSWORD
$VAULT_USER $VAULT_USER_UID $VAULT_USER_PASSWORD
EOF
}

populate_host() {
  local s
  [[ $H_SHARES == - ]] && return 0
  for s in ${H_SHARES//,/ }; do populate_share "$s" "$H_DIR/shares/$s"; done
}

host_uuid() {  # stable per host name, independent of the prefix
  local h
  h=$(printf 'vuvuveva-testnet-%s' "$1" | md5sum | cut -c1-32)
  echo "${h:0:8}-${h:8:4}-3${h:13:3}-8${h:17:3}-${h:20:12}"
}

# Start a Samba daemon (-D) in the host namespace and record the PID from its pid file.
start_samba_daemon() {
  local daemon=$1 pidfile
  # 9>&-: daemons must not inherit our lock.
  in_ns "$H_NS" env -i PATH=$DAEMON_PATH "$daemon" -D -s "$H_DIR/smb.conf" \
    </dev/null >>"$H_DIR/log/$daemon.out" 2>&1 9>&- || die "$H_NAME: $daemon did not start"
  # With a config file other than the default one Samba names its pid file after it.
  pid_file_ready() {
    pidfile=$(find "$H_DIR/run" -maxdepth 1 -name "$daemon*.pid" | head -n1)
    [[ -n $pidfile && -s $pidfile ]]
  }
  poll 15 pid_file_ready || die "$H_NAME: no pid file from $daemon (see $H_DIR/log)"
  record_pid "$H_NAME" "$daemon" "$(tr -dc 0-9 <"$pidfile")" || die "$H_NAME: $daemon died at start"
}

start_wsdd() {
  local uuid pid
  uuid=$(host_uuid "$H_NAME")
  # Not a daemon by itself: detach it (own session, no stdio) so a CTest fixture or a shell
  # that runs `up` does not wait for it.
  ip netns exec "$H_NS" env -i PATH=$DAEMON_PATH setsid wsdd -4 -i eth0 -U "$uuid" \
    -n "$(announced_name)" -w "$H_WG" -s </dev/null >>"$H_DIR/log/wsdd.log" 2>&1 9>&- &
  pid=$!
  # The start time of a PID survives the exec chain (ip -> env -> setsid -> wsdd).
  record_pid "$H_NAME" wsdd "$pid" || die "$H_NAME: wsdd died at start (see $H_DIR/log/wsdd.log)"
  echo "$uuid" >"$H_DIR/uuid"
}

# Every packet to the impostor's SMB ports is counted (testnet.sh smb-packets I1).
count_smb_packets() {
  in_ns "$H_NS" nft -f - <<'EOF'
table inet vuvimpostor {
  chain input {
    type filter hook input priority 0;
    tcp dport { 139, 445 } counter
  }
}
EOF
}

listening() {  # listening NS PROTO PORT
  local ns=$1 proto=$2 port=$3
  [[ -n $(in_ns "$ns" ss -Hn"$proto"l "sport = :$port" 2>/dev/null) ]]
}

host_daemons() {  # sets SMB NMB for the loaded host
  SMB=1 NMB=1
  if has_flag nosmb; then SMB=0; fi
  if has_flag modern; then NMB=0; fi
}

launch_host() {
  load_host "$1"
  host_daemons
  [[ -f $H_DIR/smb.conf ]] || die "$H_NAME: not configured (is the network up?)"
  if ((NMB)); then start_samba_daemon nmbd; fi
  if ((SMB)); then start_samba_daemon smbd; fi
  if has_flag modern; then start_wsdd; fi
  if has_flag impostor; then count_smb_packets; fi
  return 0
}

host_ready() {
  load_host "$1"
  host_daemons
  if ((NMB)); then poll 20 listening "$H_NS" u 137 || die "$H_NAME: nmbd not listening on 137"; fi
  if ((SMB)); then poll 20 listening "$H_NS" t 445 || die "$H_NAME: smbd not listening on 445"; fi
  if has_flag modern; then poll 20 listening "$H_NS" t 5357 || die "$H_NAME: wsdd not listening"; fi
  # nmbd listens at once but claims its names a few seconds later: ready = the client
  # resolves the name by broadcast.
  if ((NMB)); then poll 30 nb_resolves "$H_NAME" "$H_IP" || die "$H_NAME: name not resolvable by broadcast"; fi
  return 0
}

start_host() { launch_host "$1"; host_ready "$1"; }

nb_resolves() {  # nb_resolves NAME IP
  in_ns "$NS_CLIENT" timeout 5 nmblookup -s "$STATE/check/smb.conf" "$1" 2>/dev/null |
    grep -q "^$2 $1<00>"
}

# --- the client ---------------------------------------------------------------------------
client_conf() {  # client_conf DIR: a client smb.conf whose state lives in DIR
  local c=$1
  mkdir -p "$c"/{home/.smb,private,lock,state,cache,run,ncalrpc,log}
  cat >"$c/smb.conf" <<EOF
[global]
  netbios name = $CLIENT_NAME
  workgroup = WORKGROUP
  interfaces = eth0
  bind interfaces only = yes
  # Broadcast for NetBIOS names, then /etc/hosts (not the SMB2-only hosts); no WINS, no DNS.
  name resolve order = bcast host
  # Browsing needs SMB1 to the master browser: allow NT1 (a context picks its own range).
  client min protocol = NT1
  client max protocol = SMB3
  # Our own caches: names cached by another test network must never be seen here.
  private dir = $c/private
  lock directory = $c/lock
  state directory = $c/state
  cache directory = $c/cache
  pid directory = $c/run
  ncalrpc dir = $c/ncalrpc
  log file = $c/log/client.log
  log level = 0
  load printers = no
EOF
  cp "$c/smb.conf" "$c/home/.smb/smb.conf"
}

write_client() {
  local c=$STATE/client
  client_conf "$STATE/check"
  client_conf "$c"
  # In the client namespace /etc/samba is this folder (ip netns exec bind-mounts it), so
  # smbclient and nmblookup read the same settings as libsmbclient.
  mkdir -p "/etc/netns/$NS_CLIENT/samba"
  cp "$c/smb.conf" "/etc/netns/$NS_CLIENT/samba/smb.conf"
  : >"/etc/netns/$NS_CLIENT/samba/lmhosts"
  {
    echo "export VUV_NET_PREFIX=$PREFIX"
    echo "export VUV_NET_STATE=$STATE"
    echo "export VUV_NET_CLIENT_IP=$CLIENT_IP"
    echo "export VUV_NET_MODERN=$MODERN"
    echo "export VUV_NET_USER=$HOST_USER"
    echo "export VUV_NET_PASSWORD='$HOST_USER_PASSWORD'"
    echo "export VUV_NET_VAULT_USER=$VAULT_USER"
    echo "export VUV_NET_VAULT_PASSWORD='$VAULT_USER_PASSWORD'"
    echo "export HOME=$c/home"
    local rec n
    while read -r n _ _ _ _; do
      load_host "$n"
      echo "export VUV_NET_IP_$H_NAME=$H_IP"
      if has_flag modern; then echo "export VUV_NET_UUID_$H_NAME=$(host_uuid "$H_NAME")"; fi
    done < <(all_host_records)
  } >"$c/env.sh"
}

# --- the Kerberos domain (kdc-up) --------------------------------------------------------------
# A Samba AD domain controller that refuses NTLM, so a listing that works proves Kerberos. It
# is on the bridge but runs no NetBIOS: the browse lists stay as they are.
KDC_NAME=DC
KDC_IP=$SUBNET.40
KDC_REALM=LAB.TEST
KDC_DOMAIN=LAB
KDC_FQDN=dc.lab.test
KDC_NS=${PREFIX}-dc
# The account of the hosts that refuse guests (S2).
HOST_USER=vuvuser
HOST_USER_UID=40001
HOST_USER_PASSWORD='Vuv-User-2024!'
VAULT_USER=vaultuser
VAULT_USER_UID=40002
VAULT_USER_PASSWORD='Vuv-Vault-2024!'

KDC_ADMIN_PASSWORD='Vuv-Admin-2024!'
KDC_USER=joe
KDC_USER_PASSWORD='Vuv-Joe-2024!'
KDC_DIR=$STATE/kdc

# A provisioned domain with its user.
kdc_provision() {
  mkdir -p "$KDC_DIR/etc"
  : >"$KDC_DIR/empty.conf"
  # Without -s EMPTY it would copy the system smb.conf in.
  in_ns "$KDC_NS" env -i PATH=$DAEMON_PATH samba-tool domain provision -s "$KDC_DIR/empty.conf" \
    --targetdir="$KDC_DIR" --realm="$KDC_REALM" --domain="$KDC_DOMAIN" --server-role=dc \
    --dns-backend=SAMBA_INTERNAL --adminpass="$KDC_ADMIN_PASSWORD" --host-name=dc \
    --host-ip="$KDC_IP" >"$KDC_DIR/log/provision.log" 2>&1 9>&- ||
    die "provisioning the domain failed (see $KDC_DIR/log/provision.log)"
  in_ns "$KDC_NS" env -i PATH=$DAEMON_PATH samba-tool user add "$KDC_USER" "$KDC_USER_PASSWORD" \
    -s "$KDC_DIR/etc/smb.conf" >>"$KDC_DIR/log/provision.log" 2>&1 9>&- || die "adding $KDC_USER failed"
}

kdc_conf() {  # the settings provisioning leaves out
  local d=$KDC_DIR conf=$KDC_DIR/etc/smb.conf
  sed -i '/dns forwarder/d' "$conf"
  cat >"$d/global.conf" <<EOF
  interfaces = lo eth0
  bind interfaces only = yes
  disable netbios = yes
  ntlm auth = disabled
  restrict anonymous = 2
  pid directory = $d/run
  ncalrpc dir = $d/ncalrpc
  ntp signd socket directory = $d/ntp_signd
  log file = $d/log/samba.log
  load printers = no
  disable spoolss = yes
EOF
  sed -i "/^\[global\]/r $d/global.conf" "$conf"
  cat >>"$conf" <<EOF

[Secure]
  path = $d/shares/Secure
  read only = yes
  guest ok = no
EOF
}

kdc_client_env() {
  cat >"$KDC_DIR/krb5.conf" <<EOF
[libdefaults]
  default_realm = $KDC_REALM
  dns_lookup_kdc = false
  dns_lookup_realm = false
  rdns = false
[realms]
  $KDC_REALM = {
    kdc = $KDC_IP
  }
[domain_realm]
  .${KDC_REALM,,} = $KDC_REALM
  ${KDC_REALM,,} = $KDC_REALM
EOF
  {
    echo "export VUV_NET_KDC=1"
    echo "export VUV_NET_KDC_HOST=$KDC_FQDN"
    echo "export VUV_NET_KDC_REALM=$KDC_REALM"
    echo "export VUV_NET_KDC_USER=$KDC_USER"
    echo "export VUV_NET_KDC_PASSWORD='$KDC_USER_PASSWORD'"
    echo "export VUV_NET_KRB5_CONFIG=$KDC_DIR/krb5.conf"
  } >"$KDC_DIR/env.sh"
}

# The KDC hands out tickets (kept in check.ccache for kdc_serves).
kdc_issues_tickets() {
  in_ns "$NS_CLIENT" env KRB5_CONFIG="$KDC_DIR/krb5.conf" KRB5CCNAME="FILE:$KDC_DIR/check.ccache" \
    timeout 5 kinit "$KDC_USER@$KDC_REALM" <<<"$KDC_USER_PASSWORD" >>"$KDC_DIR/log/ready.log" 2>&1
}
# A listing of the Secure share with nothing but that ticket.
kdc_serves() {
  echo "$(date +%T.%N) listing" >>"$KDC_DIR/log/ready.log"
  in_ns "$NS_CLIENT" env KRB5_CONFIG="$KDC_DIR/krb5.conf" KRB5CCNAME="FILE:$KDC_DIR/check.ccache" \
    HOME="$STATE/check/home" timeout 5 smbclient "//$KDC_FQDN/Secure" --use-kerberos=required -c ls \
    >>"$KDC_DIR/log/ready.log" 2>&1
}

cmd_kdc_up() {
  local t0=$SECONDS pid
  [[ -f $STATE/up ]] || die "network '$PREFIX' is not up (run: testnet.sh up)"
  local tool missing=()
  for tool in samba samba-tool kinit; do command -v "$tool" >/dev/null || missing+=("$tool"); done
  ((${#missing[@]} == 0)) || die "missing: ${missing[*]} (scripts/install-deps.sh)"
  cmd_kdc_down
  mkdir -p "$KDC_DIR"/{run,ncalrpc,log,samba-run,shares/Secure}
  echo "$KDC_IP $KDC_FQDN dc" >>"$STATE/etc-hosts"
  make_ns "$KDC_NS"
  plug "$KDC_NS" dc "$KDC_IP"
  # The client must find the DC by name: Kerberos tickets are for names, not addresses.
  echo "$KDC_IP $KDC_FQDN dc" >>"/etc/netns/$NS_CLIENT/hosts"
  kdc_provision
  log "domain provisioned after $((SECONDS - t0))s"
  kdc_conf
  put "$KDC_DIR/shares/Secure/plan.txt" "for domain users only"
  put "$KDC_DIR/shares/Secure/reports/q1.txt" "quarter one"
  find "$KDC_DIR/shares/Secure" -exec touch -h -d "$STAMP" {} +
  # smbd finds winbindd only under /run/samba: give the DC a /run/samba of its own, in the
  # mount namespace `ip netns exec` makes for it. -F: stay in the foreground, detached here.
  ip netns exec "$KDC_NS" env -i PATH=$DAEMON_PATH setsid sh -c \
    'mount --bind "$1" /run/samba && exec samba -F -s "$2"' sh "$KDC_DIR/samba-run" "$KDC_DIR/etc/smb.conf" \
    </dev/null >>"$KDC_DIR/log/samba.out" 2>&1 9>&- &
  pid=$!
  record_pid "$KDC_NAME" samba "$pid" || die "the domain controller died at start (see $KDC_DIR/log)"
  kdc_client_env
  # Polled, not waited for: under load the DC takes from 2 to 40 s to serve.
  poll 60 kdc_issues_tickets || die "the domain controller issues no tickets (see $KDC_DIR/log)"
  log "tickets issued after $((SECONDS - t0))s"
  poll 60 kdc_serves || die "the domain controller does not serve Kerberos logins (see $KDC_DIR/log)"
  cat "$KDC_DIR/env.sh" >>"$STATE/client/env.sh"
  log "Kerberos domain $KDC_REALM up after $((SECONDS - t0))s ($KDC_FQDN, $KDC_IP)"
}

cmd_kdc_down() {
  stop_host_processes "$KDC_NAME"
  if ns_exists "$KDC_NS"; then ip netns del "$KDC_NS" || log "could not delete namespace $KDC_NS"; fi
  rm -rf "/etc/netns/$KDC_NS" "$KDC_DIR"
  [[ -d $STATE ]] || return 0
  local hosts
  for hosts in "$STATE/etc-hosts" "/etc/netns/$NS_CLIENT/hosts"; do
    if [[ -f $hosts ]]; then sed -i "/ $KDC_FQDN /d" "$hosts"; fi
  done
  if [[ -f $STATE/client/env.sh ]]; then sed -i '/VUV_NET_KDC\|VUV_NET_KRB5/d' "$STATE/client/env.sh"; fi
}

# --- the impostor (impostor-up) ------------------------------------------------------------
cmd_impostor_up() {
  [[ -f $STATE/up ]] || die "network '$PREFIX' is not up"
  load_host I1
  cmd_impostor_down
  make_ns "$H_NS"
  plug "$H_NS" "${H_NAME,,}" "$H_IP"
  write_host_conf
  populate_host
  start_host "$H_NAME"
  impostor_heard() {
    in_ns "$NS_CLIENT" env VUV_NET_CLIENT_IP="$CLIENT_IP" timeout 30 python3 "$HERE/lsnet.py" wsd 2>/dev/null |
      grep -q "$H_IP"
  }
  poll 60 impostor_heard || die "I1 is not heard by WS-Discovery"
}

cmd_impostor_down() {
  load_host I1
  stop_host_processes "$H_NAME"
  stop_ns_processes "$H_NS"
  if ns_exists "$H_NS"; then ip netns del "$H_NS" || log "could not delete namespace $H_NS"; fi
  rm -rf "/etc/netns/$H_NS" "$H_DIR"
}

# --- convergence ----------------------------------------------------------------------------
# What the browse lists must show: "WORKGROUP<TAB>SERVER" for every NetBIOS host, sorted.
expected_browse() {
  local n wg flags
  while read -r n wg flags _ _; do
    [[ ,$flags, == *,modern,* ]] && continue
    printf '%s\t%s\n' "$wg" "$n"
  done < <(all_host_records) | LC_ALL=C sort
}

# The SMB2-only hosts, as WS-Discovery must show them: "NAME<TAB>Workgroup:WG", sorted.
expected_wsd() {
  local n wg flags
  while read -r n wg flags _ _; do
    [[ ,$flags, == *,modern,* ]] || continue
    printf '%s\tWorkgroup:%s\n' "$n" "$wg"
  done < <(all_host_records) | LC_ALL=C sort
}

# What the client sees through libsmbclient: masters found by broadcast, their workgroup
# lists, each workgroup's server list; and the WS-Discovery hosts. The check has its own HOME
# and name cache, so tests start with a cold cache of their own.
CONVERGE_DETAIL=
converged() {
  local got wsd=
  got=$(in_ns "$NS_CLIENT" env HOME="$STATE/check/home" timeout 30 \
    python3 "$HERE/lsnet.py" browse 2>/dev/null | LC_ALL=C sort) || true
  CONVERGE_DETAIL="browse lists: $(tr '\t\n' ':,' <<<"$got")"
  if [[ -n $(expected_wsd) ]]; then
    wsd=$(in_ns "$NS_CLIENT" env VUV_NET_CLIENT_IP="$CLIENT_IP" timeout 30 \
      python3 "$HERE/lsnet.py" wsd 2>/dev/null | awk -F'\t' '{print $3 "\t" $4}' | LC_ALL=C sort) || true
    CONVERGE_DETAIL+=" ws-discovery: $(tr '\t\n' ':,' <<<"$wsd")"
  fi
  [[ $got == "$(expected_browse)" && $wsd == "$(expected_wsd)" ]]
}

wait_converged() {
  local start=$SECONDS
  log "waiting up to ${TIMEOUT}s for the browse lists (and WS-Discovery) to converge"
  if poll "$TIMEOUT" converged; then
    log "converged after $((SECONDS - start))s"
    return 0
  fi
  log "did not converge within ${TIMEOUT}s"
  log "last seen: $CONVERGE_DETAIL"
  log "expected:  browse lists: $(expected_browse | tr '\t\n' ':,')"
  if [[ -n $(expected_wsd) ]]; then log "           ws-discovery: $(expected_wsd | tr '\t\n' ':,')"; fi
  return 1
}

# --- commands -------------------------------------------------------------------------------
with_lock() {
  exec 9>"$LOCKFILE"
  flock -w 300 9 || die "another testnet.sh holds $LOCKFILE"
}

cmd_down() {
  local ns n
  # Namespaces we recorded, plus all we could have made (state dir lost or half written).
  local candidates=()
  [[ -f $STATE/namespaces ]] && mapfile -t candidates <"$STATE/namespaces"
  candidates+=("$NS_CLIENT")
  while read -r n; do candidates+=("$PREFIX-${n,,}"); done < <(every_host_name)
  candidates+=("$PREFIX-dc" "$NS_BR")

  while read -r n; do
    stop_host_processes "$n"
  done < <(every_host_name)
  # Anything else recorded (a host since removed from the table) and the client's processes.
  local f pid pids=()
  for f in "$STATE"/pids/*; do
    [[ -e $f ]] || continue
    pid=$(live_recorded_pid "$f")
    if [[ -n $pid ]]; then pids+=("$pid"); fi
  done
  stop_pids "${pids[@]}"

  local seen=" "
  for ns in "${candidates[@]}"; do
    [[ -n $ns && $seen != *" $ns "* ]] || continue
    seen+="$ns "
    stop_ns_processes "$ns"
    if ns_exists "$ns"; then ip netns del "$ns" || log "could not delete namespace $ns"; fi
    if [[ -d /etc/netns/$ns ]]; then rm -rf "/etc/netns/$ns"; fi
  done
  rm -rf "$STATE"
  rmdir /etc/netns 2>/dev/null || true
}

up_exit() {
  trap - EXIT INT TERM
  if [[ ! -f $STATE/up && ${VUV_NET_KEEP:-0} == 1 ]]; then
    log "up failed; VUV_NET_KEEP=1 leaves the network as it is for a look (then: testnet.sh down)"
  elif [[ ! -f $STATE/up ]]; then
    log "up failed, tearing down"
    cmd_down
  fi
  exit "$1"
}

cmd_up() {
  local t0=$SECONDS
  if [[ -e $STATE ]] || ns_exists "$NS_BR" || ns_exists "$NS_CLIENT"; then
    log "tearing down the previous network first"
    cmd_down
  fi
  # Half way through, a failure or an interrupt leaves nothing behind.
  trap 'up_exit $?' EXIT
  trap 'exit 130' INT
  trap 'exit 143' TERM

  log "building namespaces ($NS_BR, $NS_CLIENT, $PREFIX-<host>) on $SUBNET.0/24"
  build_network
  echo "modern=$MODERN" >"$STATE/settings"
  write_client
  local rec n
  while read -r n _; do
    load_host "$n"
    write_host_conf
    if has_flag restrict; then add_host_users; fi
    populate_host
  done < <(all_host_records)
  log "starting daemons"
  while read -r n _; do launch_host "$n"; done < <(all_host_records)
  while read -r n _; do host_ready "$n"; done < <(all_host_records)
  log "daemons up, names registered after $((SECONDS - t0))s"

  wait_converged || exit 1
  date +%s >"$STATE/up"
  log "network '$PREFIX' is up after $((SECONDS - t0))s; state in $STATE"
  trap - EXIT INT TERM
}

cmd_status() {
  if [[ ! -d $STATE ]]; then
    echo "network '$PREFIX': down"
    local ns
    for ns in $(ip netns list 2>/dev/null | awk '{print $1}'); do
      if [[ $ns == "$PREFIX"-* ]]; then echo "  leftover namespace: $ns (run: testnet.sh down)"; fi
    done
    return 3
  fi
  local state=building
  [[ -f $STATE/up ]] && state="up since $(date -d "@$(cat "$STATE/up")" '+%F %T')"
  echo "network '$PREFIX': $state"
  echo "  state dir: $STATE"
  echo "  client:    namespace $NS_CLIENT, $CLIENT_IP ($CLIENT_NAME, no daemons)"
  local rec n f d pid line
  while read -r n _; do
    load_host "$n"
    line=$(printf '  %-4s %-7s %-15s %-11s ns %-12s shares %s' "$H_NAME" "$H_WG" "$H_FLAGS" "$H_IP" "$H_NS" "$H_SHARES")
    for d in nmbd smbd wsdd; do
      f=$STATE/pids/${H_NAME,,}.$d
      [[ -f $f ]] || continue
      pid=$(live_recorded_pid "$f")
      if [[ -n $pid ]]; then line+="  $d=$pid"; else line+="  $d=DEAD"; fi
    done
    ns_exists "$H_NS" || line+="  (namespace missing)"
    echo "$line"
  done < <(all_host_records)
}

cmd_exec() {
  [[ -f $STATE/client/env.sh ]] || die "network '$PREFIX' is not up (run: testnet.sh up)"
  (($#)) || die "usage: testnet.sh exec CMD..."
  # shellcheck disable=SC2016  # expanded by the inner bash
  exec ip netns exec "$NS_CLIENT" bash -c 'source "$1"; shift; exec "$@"' bash "$STATE/client/env.sh" "$@"
}

usage() {
  sed -n '2,14p' "$0" | sed 's/^# \{0,1\}//'
  exit 2
}

main() {
  local cmd=${1:-}
  (($#)) && shift
  # The other commands act on the network as `up` built it.
  if [[ $cmd != up && -f $STATE/settings ]]; then
    MODERN=$(sed -n 's/^modern=//p' "$STATE/settings")
  fi
  case $cmd in
    up)
      need_root; with_lock; cmd_up ;;
    down)
      need_root; with_lock; cmd_down; log "network '$PREFIX' is down" ;;
    wait)
      need_root; [[ -d $STATE ]] || die "network '$PREFIX' is not up"; wait_converged ;;
    status)
      need_root; cmd_status ;;
    kdc-up)
      need_root; with_lock; cmd_kdc_up ;;
    kdc-down)
      need_root; with_lock; cmd_kdc_down; log "Kerberos domain removed" ;;
    exec)
      need_root; cmd_exec "$@" ;;
    kill-host)
      need_root; (($# == 1)) || usage; with_lock
      load_host "$1"; [[ -d $H_DIR ]] || die "$H_NAME is not part of the running network"
      stop_host_processes "$H_NAME"; log "$H_NAME stopped" ;;
    impostor-up)
      need_root; with_lock; cmd_impostor_up; log "I1 announces itself as $IMPOSTOR_OF" ;;
    impostor-down)
      need_root; with_lock; cmd_impostor_down; log "I1 removed" ;;
    smb-packets)
      need_root; (($# == 1)) || usage; load_host "$1"
      in_ns "$H_NS" nft list table inet vuvimpostor | sed -n 's/.*counter packets \([0-9]*\).*/\1/p' ;;
    start-host)
      need_root; (($# == 1)) || usage; with_lock
      load_host "$1"; [[ -d $H_DIR ]] || die "$H_NAME is not part of the running network"
      stop_host_processes "$H_NAME"; start_host "$H_NAME"; log "$H_NAME started" ;;
    *) usage ;;
  esac
}

main "$@"
