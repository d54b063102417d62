#!/bin/bash
# services-up.sh DIR — InspIRCd with a services link, and Atheme 7.2 (Debian package
# "atheme-services") linked to it: real SASL PLAIN and EXTERNAL through SaslServ.
#   plain  127.0.0.1:DIR/ports/irc      TLS  127.0.0.1:DIR/ports/irc-tls (certs.sh CA,
#          SAN localhost; asks for client certificates)   link  127.0.0.1:DIR/ports/link
# The ircd records its pid in DIR/ircd.pid, so ircd-down.sh and harness-down.sh stop it.
# Atheme runs as user "irc" (it refuses root; DIR gets o+x so that it can reach its own
# files) with DIR/atheme.pid; services-down.sh stops it, and a guard (DIR/atheme-guard.pid)
# stops it anyway within a second of the ircd's end. Waits (bounded) until the ircd offers
# "sasl". Env STS=on adds the sts policy. Accounts: services-account.py.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
DIR="$(need_dir "${1:-}")"
MODDIR=/usr/lib/inspircd/modules
PIDF="$DIR/ircd.pid"
APIDF="$DIR/atheme.pid"
GUARDF="$DIR/atheme-guard.pid"
A="$DIR/atheme"
LINK_PASS=harnesslink
SERVICES_NAME=services.localhost
RUNAS="${ATHEME_USER:-irc}"

[ -x /usr/sbin/inspircd ] || die "inspircd not installed (scripts/setup.sh installs it)"
[ -x /usr/bin/atheme-services ] || die "atheme-services not installed (scripts/setup.sh installs it)"
if pid_alive "$APIDF" atheme-services && pid_alive "$PIDF" inspircd; then
  echo "services already running: atheme pid $(cat "$APIDF"), ircd pid $(cat "$PIDF")"
  exit 0
fi
pid_alive "$PIDF" inspircd && die "an ircd without a services link already runs in $DIR"

"$HARNESS_DIR/certs.sh" "$DIR" >/dev/null

mods=""
for m in ssl_gnutls sslinfo cap ircv3 ircv3_capnotify ircv3_chghost ircv3_echomessage \
  ircv3_invitenotify ircv3_servertime ircv3_accounttag ircv3_msgid ircv3_ctctags ircv3_batch \
  namesx uhnames monitor chghost setname sasl services_account spanningtree svshold chgident \
  sethost hidechans servprotect deaf cban; do
  [ -f "$MODDIR/m_$m.so" ] && mods+="<module name=\"$m\">"$'\n'
done
[ "${STS:-off}" = on ] && mods+="<module name=\"ircv3_sts\">"$'\n'

write_config() { # PLAIN TLS LINK
  cat >"$DIR/inspircd.conf" <<EOF
<server name="irc.localhost" description="harness ircd with services" network="HarnessNet" id="42X">
<admin name="harness" nick="harness" email="harness@localhost">
<bind address="127.0.0.1" port="$1" type="clients">
<bind address="127.0.0.1" port="$2" type="clients" sslprofile="Clients">
<bind address="127.0.0.1" port="$3" type="servers">
<sslprofile name="Clients" provider="gnutls" certfile="$DIR/tls/server.pem" keyfile="$DIR/tls/server.key"
            dhfile="$DIR/tls/dhparams.pem" hash="sha256" requestclientcert="yes">
<connect name="loopback" allow="127.0.0.1" maxchans="500" timeout="120" pingfreq="120"
         hardsendq="64M" softsendq="16M" recvq="16M" threshold="1000000" commandrate="1000000000"
         fakelag="yes" localmax="100000" globalmax="100000" maxconnwarn="no" limit="100000"
         resolvehostnames="no" useident="no" uniqueusername="no">
<performance softlimit="1000" somaxconn="128" netbuffersize="65534" quietbursts="yes">
<options prefixquit="Quit: " syntaxhints="no" announcets="yes" hostintopic="yes">
<security hidesplits="no" hideulines="no" flatlinks="no" userstats="Pu" customversion="">
<dns enabled="no">
<files motd="$DIR/motd.txt">
<log method="file" type="* -USERINPUT -USEROUTPUT" level="default" target="$DIR/ircd.log">
<ircv3 accountnotify="yes" awaynotify="yes" extendedjoin="yes">
<sts host="*" port="$2" duration="300" preload="no">
<sasl target="$SERVICES_NAME" requiressl="no">
<link name="$SERVICES_NAME" ipaddr="127.0.0.1" port="$3" allowmask="127.0.0.1/32"
      timeout="30" sendpass="$LINK_PASS" recvpass="$LINK_PASS">
<uline server="$SERVICES_NAME" silent="yes">
<badnick nick="NickServ" reason="Reserved for services">
<badnick nick="SaslServ" reason="Reserved for services">
$mods
EOF
  printf 'Harness InspIRCd with services on 127.0.0.1 (plain %s, TLS %s).\n' "$1" "$2" >"$DIR/motd.txt"
}

root=()
[ "$(id -u)" = 0 ] && root=(--runasroot)
# This build crashes on its way out with ssl_gnutls loaded: no core files.
ulimit -c 0
started=0
for try in 1 2 3; do
  mapfile -t p < <(pick_ports 3)
  write_config "${p[0]}" "${p[1]}" "${p[2]}"
  (cd "$DIR" && start_bg "$PIDF" "$DIR/ircd.out" /usr/sbin/inspircd --nofork --nopid \
    --config "$DIR/inspircd.conf" "${root[@]}")
  if wait_port "${p[0]}" 100 && wait_port "${p[1]}" 20 && wait_port "${p[2]}" 20 && pid_alive "$PIDF" inspircd &&
    listening_pid_on "${p[0]}" "$(cat "$PIDF")" && listening_pid_on "${p[2]}" "$(cat "$PIDF")"; then
    record_port "$DIR" irc "${p[0]}"
    record_port "$DIR" irc-tls "${p[1]}"
    record_port "$DIR" link "${p[2]}"
    started=1
    break
  fi
  stop_pid "$PIDF" inspircd KILL >/dev/null
done
[ "$started" = 1 ] || { tail -n 20 "$DIR/ircd.out" >&2 2>/dev/null; die "inspircd did not come up"; }
IRC_PORT="$(port_of "$DIR" irc)"
LINK_PORT="$(port_of "$DIR" link)"

mkdir -p "$A"
: >"$A/atheme.log"
rm -f "$A/services.db" "$A/atheme-self.pid"
cat >"$A/atheme.conf" <<EOF
loadmodule "modules/protocol/inspircd";
loadmodule "modules/backend/opensex";
loadmodule "modules/crypto/pbkdf2v2";
loadmodule "modules/nickserv/main";
loadmodule "modules/nickserv/register";
loadmodule "modules/nickserv/identify";
loadmodule "modules/nickserv/cert";
loadmodule "modules/nickserv/info";
loadmodule "modules/saslserv/main";
loadmodule "modules/saslserv/plain";
loadmodule "modules/saslserv/external";
pbkdf2v2 { digest = "SHA256"; rounds = 10000; };
serverinfo {
  name = "$SERVICES_NAME"; desc = "harness services"; numeric = "00A"; recontime = 2;
  netname = "HarnessNet"; hidehostsuffix = "users.localhost"; adminname = "harness";
  adminemail = "harness@localhost.invalid"; registeremail = "noreply@localhost.invalid";
  mta = "/bin/true"; loglevel = { error; info; admin; network; register; };
  maxlogins = 1000; maxusers = 100000; mdlimit = 30; emaillimit = 10; emailtime = 300;
  auth = none; casemapping = rfc1459;
};
uplink "irc.localhost" { host = "127.0.0.1"; port = $LINK_PORT; send_password = "$LINK_PASS"; receive_password = "$LINK_PASS"; };
nickserv { nick = "NickServ"; user = "NickServ"; host = "$SERVICES_NAME"; real = "Nickname Services"; maxnicks = 5; expire = 0; };
saslserv { nick = "SaslServ"; user = "SaslServ"; host = "$SERVICES_NAME"; real = "SASL Authentication Agent"; };
logfile "$A/atheme.log" { all; };
general {
  flood_msgs = 0; flood_time = 10; ratelimit_uses = 100000; ratelimit_period = 1;
  kline_time = 7; commit_interval = 1; uplink_sendq_limit = 67108864; language = "en";
};
EOF
chmod o+x "$DIR"
chown -R "$RUNAS:" "$A"
# Atheme forks into the background and writes its own pid file; run in the foreground it
# would greet every user with a notice about debug mode.
setpriv --reuid="$RUNAS" --regid="$RUNAS" --clear-groups \
  /usr/bin/atheme-services -c "$A/atheme.conf" -D "$A" -l "$A/atheme.log" -p "$A/atheme-self.pid" \
  >"$A/atheme.out" 2>&1 </dev/null || { cat "$A/atheme.out" >&2; die "atheme failed to start"; }
for ((i = 0; i < 50; i++)); do [ -s "$A/atheme-self.pid" ] && break; sleep 0.1; done
[ -s "$A/atheme-self.pid" ] || die "atheme wrote no pid file"
cp "$A/atheme-self.pid" "$APIDF"

# The guard: Atheme outlives its uplink (it keeps reconnecting), so it goes when the ircd goes.
IRCD_PID="$(cat "$PIDF")"
ATHEME_PID="$(cat "$APIDF")"
# It holds the pid itself: DIR may be gone by then.
setsid bash -c '
  . "$1/lib.sh"
  while proc_running "$2" && proc_running "$3"; do sleep 0.5; done
  case "$(cat "/proc/$3/comm" 2>/dev/null)" in atheme*) kill -TERM "$3" 2>/dev/null ;; *) exit 0 ;; esac
  for ((i = 0; i < 50; i++)); do proc_running "$3" || exit 0; sleep 0.1; done
  kill -KILL "$3" 2>/dev/null' guard "$HARNESS_DIR" "$IRCD_PID" "$ATHEME_PID" \
  >/dev/null 2>&1 </dev/null &
echo $! >"$GUARDF"

# Bounded wait (15 s) until the link is up: the ircd then offers "sasl".
if ! "$PY" "$HARNESS_DIR/services-account.py" --port "$IRC_PORT" wait-sasl --timeout 15; then
  tail -n 20 "$A/atheme.log" "$DIR/ircd.log" >&2 2>/dev/null
  die "the ircd does not offer sasl"
fi
echo "services: ircd pid $IRCD_PID plain=$IRC_PORT tls=$(port_of "$DIR" irc-tls) link=$LINK_PORT; atheme pid $ATHEME_PID"
