#!/bin/bash
# nickserv-up.sh DIR — services-up.sh, plus what the client's nick-service commands need:
# the NICKSERV and NS commands (InspIRCd's alias module, as most networks offer them) and
# NickServ GHOST (Atheme's nickserv/ghost): InspIRCd is rehashed, Atheme restarted; the
# script waits (bounded) until the services are linked again. Stop with services-down.sh DIR.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
DIR="$(need_dir "${1:-}")"
A="$DIR/atheme"

"$HARNESS_DIR/services-up.sh" "$DIR"

if ! grep -q 'm_alias\|name="alias"' "$DIR/inspircd.conf"; then
  cat >>"$DIR/inspircd.conf" <<'EOF'
<module name="alias">
<alias text="NICKSERV" replace="PRIVMSG NickServ :$2-" requires="NickServ" uline="yes">
<alias text="NS" replace="PRIVMSG NickServ :$2-" requires="NickServ" uline="yes">
EOF
fi
kill -HUP "$(cat "$DIR/ircd.pid")"
for ((i = 0; i < 100; i++)); do grep -q 'm_alias' "$DIR/ircd.log" 2>/dev/null && break; sleep 0.1; done
grep -q 'm_alias' "$DIR/ircd.log" || { tail -n 20 "$DIR/ircd.log" >&2 2>/dev/null; die "inspircd did not load the alias module"; }

# Atheme loads no new module on a rehash: restart it the way services-up.sh started it,
# guard included.
if ! grep -q 'nickserv/ghost' "$A/atheme.conf"; then
  if pid_alive "$DIR/atheme-guard.pid" bash; then kill "$(cat "$DIR/atheme-guard.pid")" 2>/dev/null; fi
  stop_pid "$DIR/atheme.pid" atheme-services >/dev/null
  # A file owned by Atheme's user stays so: append, never replace.
  echo 'loadmodule "modules/nickserv/ghost";' >>"$A/atheme.conf"
  rm -f "$A/atheme-self.pid"
  setpriv --reuid="${ATHEME_USER:-irc}" --regid="${ATHEME_USER:-irc}" --clear-groups \
    /usr/bin/atheme-services -c "$A/atheme.conf" -D "$A" -l "$A/atheme.log" -p "$A/atheme-self.pid" \
    >"$A/atheme.out" 2>&1 </dev/null || { cat "$A/atheme.out" >&2; die "atheme failed to start"; }
  for ((i = 0; i < 50; i++)); do [ -s "$A/atheme-self.pid" ] && break; sleep 0.1; done
  [ -s "$A/atheme-self.pid" ] || die "atheme wrote no pid file"
  cp "$A/atheme-self.pid" "$DIR/atheme.pid"
  IRCD_PID="$(cat "$DIR/ircd.pid")"
  ATHEME_PID="$(cat "$DIR/atheme.pid")"
  setsid bash -c '
    . "$1/lib.sh"
    while proc_running "$2" && proc_running "$3"; do sleep 0.5; done
    case "$(cat "/proc/$3/comm" 2>/dev/null)" in atheme*) kill -TERM "$3" 2>/dev/null ;; *) exit 0 ;; esac
    for ((i = 0; i < 50; i++)); do proc_running "$3" || exit 0; sleep 0.1; done
    kill -KILL "$3" 2>/dev/null' guard "$HARNESS_DIR" "$IRCD_PID" "$ATHEME_PID" \
    >/dev/null 2>&1 </dev/null &
  echo $! >"$DIR/atheme-guard.pid"
fi
if ! "$PY" "$HARNESS_DIR/services-account.py" --port "$(port_of "$DIR" irc)" wait-sasl --timeout 15; then
  tail -n 20 "$A/atheme.log" >&2 2>/dev/null
  die "the services did not link again"
fi
echo "nick service commands ready (NICKSERV alias, GHOST)"
