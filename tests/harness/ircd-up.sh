#!/bin/bash
# ircd-up.sh DIR — start InspIRCd 3 (Debian package "inspircd") in --nofork mode as a
# background process, with its config generated into DIR:
#   plain  127.0.0.1:$IRC_PORT       (DIR/ports/irc)
#   TLS    127.0.0.1:$IRC_TLS_PORT   (DIR/ports/irc-tls), certificate signed by the test CA
#          of certs.sh (SAN localhost, irc.localhost, IP:127.0.0.1)
# Ports: from the environment when set; else the ones recorded in DIR/ports by an earlier
# start (so a restarted ircd is found again by a reconnecting client); else free ports.
# Env: STS=on adds the strict-transport-security policy (off by default: a client
#      that honours it would leave the plain port); IRCD_NOFILE (default 4096).
# Prints the pid and the ports; stop it with ircd-down.sh DIR.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
DIR="$(need_dir "${1:-}")"
MODDIR=/usr/lib/inspircd/modules
PIDF="$DIR/ircd.pid"
IRCD_NOFILE="${IRCD_NOFILE:-4096}"
[ -x /usr/sbin/inspircd ] || die "inspircd not installed (scripts/setup.sh installs it)"

IRC_PORT="${IRC_PORT:-$(port_of "$DIR" irc)}"
IRC_TLS_PORT="${IRC_TLS_PORT:-$(port_of "$DIR" irc-tls)}"

if pid_alive "$PIDF" inspircd; then
  echo "inspircd already running: pid $(cat "$PIDF") plain=$IRC_PORT tls=$IRC_TLS_PORT"
  exit 0
fi

"$HARNESS_DIR/certs.sh" "$DIR" >/dev/null

# Load a module only if this build has it.
mods=""
addmod() {
  local m
  for m in "$@"; do
    if [ -f "$MODDIR/m_$m.so" ]; then mods+="<module name=\"$m\">"$'\n'
    else echo "note: module $m not in this inspircd build, skipped" >&2; fi
  done
}
addmod ssl_gnutls sslinfo cap ircv3 ircv3_capnotify ircv3_chghost ircv3_echomessage \
  ircv3_invitenotify ircv3_servertime ircv3_accounttag ircv3_msgid ircv3_ctctags \
  ircv3_batch ircv3_labeledresponse namesx uhnames monitor watch chghost setname sasl
[ "${STS:-off}" = on ] && addmod ircv3_sts

ulimit -n "$IRCD_NOFILE" 2>/dev/null || ulimit -n "$(ulimit -Hn)"
NOFILE="$(ulimit -n)"

write_config() { # PLAIN TLS
  cat >"$DIR/inspircd.conf" <<EOF
<server name="irc.localhost" description="harness ircd" network="HarnessNet" id="42X">
<admin name="harness" nick="harness" email="harness@localhost">

<bind address="127.0.0.1" port="$1" type="clients">
<bind address="127.0.0.1" port="$2" type="clients" sslprofile="Clients">

<sslprofile name="Clients" provider="gnutls"
            certfile="$DIR/tls/server.pem" keyfile="$DIR/tls/server.key"
            dhfile="$DIR/tls/dhparams.pem" hash="sha256" requestclientcert="yes">

# One class for everyone on loopback: no clone limit, no flood kill, big queues.
<connect name="loopback" allow="127.0.0.1"
         maxchans="500" timeout="120" pingfreq="120"
         hardsendq="64M" softsendq="16M" recvq="16M"
         threshold="1000000" commandrate="1000000000" fakelag="yes"
         localmax="100000" globalmax="100000" maxconnwarn="no" limit="100000"
         resolvehostnames="no" useident="no" uniqueusername="no">

<channels users="500" opers="500">
<cidr ipv4clone="32" ipv6clone="128">
# netbuffersize must stay <= 65534: an out-of-range value silently falls back to 10240.
<performance softlimit="$((NOFILE - 64))" somaxconn="128"
             netbuffersize="65534" quietbursts="yes" clonesonconnect="yes">
<limits maxnick="30" maxchan="64" maxmodes="20" maxident="10" maxhost="64"
        maxquit="255" maxtopic="307" maxkick="255" maxreal="128" maxgecos="128" maxaway="200">
<options prefixquit="Quit: " syntaxhints="no" announcets="yes" hostintopic="yes"
         pingwarning="15" splitwhois="no" exemptchanops="">
<security hidesplits="no" hideulines="no" flatlinks="no" maxtargets="20"
          announceinvites="dynamic" userstats="Pu" customversion="">
# No resolver socket at all (it would bind 0.0.0.0); hostnames are not looked up.
<dns enabled="no">
<whowas groupsize="10" maxgroups="1000" maxkeep="1h">
<files motd="$DIR/motd.txt">
<log method="file" type="* -USERINPUT -USEROUTPUT" level="default" target="$DIR/ircd.log">

<class name="Everything" commands="*" privs="*" usermodes="*" chanmodes="*" snomasks="*">
<type name="NetAdmin" classes="Everything" vhost="netadmin.localhost">
<oper name="admin" password="admin" host="*@127.0.0.1" type="NetAdmin">

<ircv3 accountnotify="yes" awaynotify="yes" extendedjoin="yes">
<ctctags allowclientonlytags="yes">
<monitor maxentries="1000">
<sts host="*" port="$2" duration="300" preload="no">
<sasl target="services.localhost" requiressl="no">

$mods
EOF
  printf 'Harness InspIRCd on 127.0.0.1 (plain %s, TLS %s).\n' "$1" "$2" >"$DIR/motd.txt"
}

root=()
[ "$(id -u)" = 0 ] && root=(--runasroot)
# This build segfaults on its way out once ssl_gnutls is loaded and raises its own core
# limit; no core files, and the working directory is DIR anyway.
ulimit -c 0

start_ircd() {
  write_config "$1" "$2"
  (cd "$DIR" && start_bg "$PIDF" "$DIR/ircd.out" /usr/sbin/inspircd --nofork --nopid \
    --config "$DIR/inspircd.conf" "${root[@]}")
}

fixed=0
[ -n "$IRC_PORT" ] && [ -n "$IRC_TLS_PORT" ] && fixed=1
for try in 1 2 3; do
  if [ $fixed = 0 ]; then
    mapfile -t p < <(pick_ports 2)
    IRC_PORT="${p[0]}"; IRC_TLS_PORT="${p[1]}"
  fi
  if port_free "$IRC_PORT" && port_free "$IRC_TLS_PORT"; then
    start_ircd "$IRC_PORT" "$IRC_TLS_PORT"
    if wait_port "$IRC_PORT" 100 && wait_port "$IRC_TLS_PORT" 20 && pid_alive "$PIDF" inspircd &&
      listening_pid_on "$IRC_PORT" "$(cat "$PIDF")" && listening_pid_on "$IRC_TLS_PORT" "$(cat "$PIDF")"; then
      record_port "$DIR" irc "$IRC_PORT"
      record_port "$DIR" irc-tls "$IRC_TLS_PORT"
      echo "inspircd pid $(cat "$PIDF") plain=127.0.0.1:$IRC_PORT tls=127.0.0.1:$IRC_TLS_PORT"
      exit 0
    fi
    stop_pid "$PIDF" inspircd KILL >/dev/null
  elif [ $fixed = 1 ]; then
    # A restart right after a stop may find the old sockets still closing.
    sleep 0.5
  fi
done
echo "inspircd did not come up on 127.0.0.1:$IRC_PORT/$IRC_TLS_PORT; last output:" >&2
tail -n 20 "$DIR/ircd.out" >&2 2>/dev/null
exit 1
