#!/bin/bash
# proxy-up.sh DIR [NAME...] — start loopback proxies; configs, pids and logs in DIR/proxy,
# each one's port in DIR/ports/NAME. Without NAMEs: the first six.
#   socks5        SOCKS5, no authentication               microsocks
#   socks5-auth   SOCKS5, user/password $PROXY_USER/$PROXY_PASS  microsocks -u -P
#   http          HTTP CONNECT                            tinyproxy
#   http-auth     HTTP CONNECT with Basic auth (407 without credentials)  tinyproxy BasicAuth
#   socks4        SOCKS4                                  danted (dante-server)
#   wingate       "host port" line, then relay            proxy.py
# and the misbehaving ones of proxy.py (see its --help): socks5-demand-auth, socks5-refuse,
# socks5-short, socks5-short-bound, http-forge, http-forge-128 (forge padded to 128
# bytes), http-short, silent.
# Every outgoing connection stays on loopback: microsocks binds its outgoing side to
# 127.0.0.1 (-b), tinyproxy and dante only let 127.0.0.1/localhost through, proxy.py
# only ever connects to 127.0.0.1.
# Env: PROXY_USER (default proxyuser), PROXY_PASS (default proxypass).
set -euo pipefail
. "$(dirname "$0")/lib.sh"
DIR="$(need_dir "${1:-}")"
shift
NAMES=("$@")
[ ${#NAMES[@]} -gt 0 ] || NAMES=(socks5 socks5-auth http http-auth socks4 wingate)
PUSER="${PROXY_USER:-proxyuser}"
PPASS="${PROXY_PASS:-proxypass}"
D="$DIR/proxy"
mkdir -p "$D"
# tinyproxy and dante drop root for the unprivileged users below; they must be able to
# reach the files they keep open or reopen.
chmod 755 "$DIR" "$D"

start_tinyproxy() { # NAME PORT
  local name="$1" port="$2" conf="$D/$1-tinyproxy.conf"
  printf '%s\n' '^127\.0\.0\.1$' '^localhost$' >"$D/tinyproxy.filter"
  {
    echo "Port $port"
    echo "Listen 127.0.0.1"
    echo "Timeout 120"
    echo "MaxClients 100"
    echo "Allow 127.0.0.1"
    echo "LogLevel Connect"
    echo "Filter \"$D/tinyproxy.filter\""
    echo "FilterDefaultDeny Yes"
    echo "FilterExtended On"
    echo "DisableViaHeader Yes"
    [ "$name" = http-auth ] && echo "BasicAuth $PUSER $PPASS"
    if [ "$(id -u)" = 0 ]; then echo "User tinyproxy"; echo "Group tinyproxy"; fi
  } >"$conf"
  start_bg "$D/$name.pid" "$D/$name.out" tinyproxy -d -c "$conf"
}

start_danted() { # NAME PORT
  local name="$1" port="$2" conf="$D/$1-danted.conf"
  local priv=()
  if [ "$(id -u)" = 0 ]; then priv=("user.privileged: root" "user.unprivileged: nobody"); fi
  {
    echo "logoutput: $D/$name.log"
    echo "internal: 127.0.0.1 port = $port"
    echo "external: 127.0.0.1"
    echo "clientmethod: none"
    echo "socksmethod: none"
    printf '%s\n' "${priv[@]}"
    echo "client pass { from: 127.0.0.1/32 to: 127.0.0.1/32 }"
    echo "socks pass { from: 127.0.0.1/32 to: 127.0.0.1/32 command: connect }"
    echo "socks block { from: 0.0.0.0/0 to: 0.0.0.0/0 }"
  } >"$conf"
  # danted forks its mother process at once; the pid file it writes is the one to stop.
  rm -f "$D/$name-danted.pid"
  start_bg "$D/$name.starter" "$D/$name.out" danted -f "$conf" -p "$D/$name-danted.pid" -N 1
  local i
  for ((i = 0; i < 50; i++)); do
    [ -s "$D/$name-danted.pid" ] && break
    sleep 0.1
  done
  cp "$D/$name-danted.pid" "$D/$name.pid" 2>/dev/null || true
}

start_fake() { # NAME MODE [ARGS...] — proxy.py; it chooses its own port (no race)
  local name="$1" mode="$2" i
  shift 2
  rm -f "$D/$name.port"
  start_bg "$D/$name.pid" "$D/$name.out" "$PY" "$HARNESS_DIR/proxy.py" --mode "$mode" \
    --port-file "$D/$name.port" "$@"
  for ((i = 0; i < 100; i++)); do
    [ -s "$D/$name.port" ] && break
    proc_running "$(cat "$D/$name.pid")" || break
    sleep 0.05
  done
  [ -s "$D/$name.port" ] || { cat "$D/$name.out" >&2; die "$name did not start"; }
  record_port "$DIR" "$name" "$(cat "$D/$name.port")"
  echo python >"$D/$name.comm"
  echo "$name pid $(cat "$D/$name.pid") 127.0.0.1:$(cat "$D/$name.port")"
}

# start_daemon NAME COMM STARTER — a third-party daemon on a port chosen here.
start_daemon() {
  local name="$1" comm="$2" starter="$3"
  if pid_alive "$D/$name.pid" "$comm"; then
    echo "$name already running: pid $(cat "$D/$name.pid") 127.0.0.1:$(port_of "$DIR" "$name")"; return 0
  fi
  STARTED_PORT=
  start_listener "$name" "$comm" "$D" "" "$starter"
  record_port "$DIR" "$name" "$STARTED_PORT"
  echo "$comm" >"$D/$name.comm"
  echo "$name pid $(cat "$D/$name.pid") 127.0.0.1:$STARTED_PORT"
}

s_socks5() { start_bg "$D/socks5.pid" "$D/socks5.out" microsocks -i 127.0.0.1 -p "$1" -b 127.0.0.1; }
s_socks5_auth() {
  start_bg "$D/socks5-auth.pid" "$D/socks5-auth.out" microsocks -i 127.0.0.1 -p "$1" -b 127.0.0.1 \
    -u "$PUSER" -P "$PPASS"
}
s_http() { start_tinyproxy http "$1"; }
s_http_auth() { start_tinyproxy http-auth "$1"; }
s_socks4() { start_danted socks4 "$1"; }

for name in "${NAMES[@]}"; do
  case "$name" in
    socks5) command -v microsocks >/dev/null || die "microsocks not installed"
      start_daemon socks5 microsocks s_socks5 ;;
    socks5-auth) command -v microsocks >/dev/null || die "microsocks not installed"
      start_daemon socks5-auth microsocks s_socks5_auth ;;
    http) command -v tinyproxy >/dev/null || die "tinyproxy not installed"
      start_daemon http tinyproxy s_http ;;
    http-auth) command -v tinyproxy >/dev/null || die "tinyproxy not installed"
      start_daemon http-auth tinyproxy s_http_auth ;;
    socks4) command -v danted >/dev/null || die "danted (dante-server) not installed"
      start_daemon socks4 danted s_socks4 ;;
    http-forge-128) pid_alive "$D/$name.pid" python || start_fake "$name" http-forge --pad 128 ;;
    wingate | socks5-demand-auth | socks5-refuse | socks5-short | socks5-short-bound | http-forge | http-short | silent)
      pid_alive "$D/$name.pid" python || start_fake "$name" "$name" ;;
    *) die "unknown proxy $name" ;;
  esac
done
echo "proxy credentials (auth instances): $PUSER / $PPASS"
