#!/bin/bash
# dcc-peers.sh BUILD_DIR — DCC between lumenwick-text and real clients on a private
# InspIRCd: irssi (in tmux) and weechat-headless, both directions, active and passive,
# a name with blanks, an interrupted transfer resumed (each way), and a chat with an
# action. Files are compared by sha256. SIZE_MB sets the big file (default 64).
# Prints PASS/FAIL lines and "N passed, N failed"; exit 0 only when all passed.
# Everything it starts is stopped by its recorded pid; the work directory is removed
# unless KEEP=1.
set -uo pipefail
. "$(dirname "$0")/lib.sh"
BUILD="$(cd "${1:-build}" && pwd)" || die "no build directory ${1:-build}"
CLIENT="$BUILD/src/fe-text/lumenwick-text"
[ -x "$CLIENT" ] || die "$CLIENT not built"
for tool in irssi weechat-headless tmux; do command -v "$tool" >/dev/null || die "$tool missing (scripts/setup.sh)"; done
W="$(mktemp -d /tmp/lumenwick-dcc-peers.XXXXXX)"
H="$HARNESS_DIR"
pass=0; fail=0
ok() { echo "PASS $*"; pass=$((pass + 1)); }
# A failure shows what both sides said at that moment, so a rare one can be
# understood from the log alone.
ko() {
  echo "FAIL $*"
  fail=$((fail + 1))
  grep -i "dcc\|offer" "$W/lumen.out" 2>/dev/null | tail -n 8 | sed 's/^/    lumenwick-text: /'
  [ -n "${I:-}" ] && "$H/irssi-peer.sh" "$W" screen 2>/dev/null | grep -v '^[[:space:]]*$' | tail -n 8 | sed 's/^/    irssi: /'
  return 0
}
sha() { sha256sum "$1" 2>/dev/null | cut -d' ' -f1; }

cleanup() {
  exec 3>&- 2>/dev/null || true
  stop_pid "$W/lumen.pid" lumenwick >/dev/null 2>&1
  "$H/irssi-peer.sh" "$W" down >/dev/null 2>&1
  "$H/weechat-peer.sh" "$W" down >/dev/null 2>&1
  "$H/proxy-down.sh" "$W" >/dev/null 2>&1
  "$H/ircd-down.sh" "$W" >/dev/null 2>&1
  if [ "${KEEP:-0}" = 1 ]; then echo "kept $W"; else rm -rf "$W"; fi
}
trap cleanup EXIT

# until_true SECONDS CMD... — polls CMD every 0.1 s, at most SECONDS.
until_true() {
  local t="$1" i; shift
  for ((i = 0; i < t * 10; i++)); do "$@" && return 0; sleep 0.1; done
  return 1
}
shown() { grep -qF -- "$1" "$W/lumen.out"; }
count_shown() { grep -cF -- "$1" "$W/lumen.out"; }
same() { [ -f "$2" ] && [ "$(sha "$1")" = "$(sha "$2")" ]; }
lumen() { echo "$*" >&3; }

"$H/ircd-up.sh" "$W" >/dev/null || die "ircd did not start"
export IRC_PORT; IRC_PORT="$(port_of "$W" irc)"

# The files: a big random one, an odd-sized one, one with blanks in its name.
head -c $((${SIZE_MB:-64} * 1048576)) /dev/urandom >"$W/big.bin"
head -c 777777 /dev/urandom >"$W/odd.bin"
head -c 1500000 /dev/urandom >"$W/name with blanks.bin"
head -c 8000000 /dev/urandom >"$W/resume.bin"

mkdir -p "$W/lumen/cfg" "$W/lumen/home" "$W/lumen/dl"
cat >"$W/lumen/cfg/lumenwick.conf" <<EOF
irc_nick1 = lumen
irc_user_name = lumen
net_throttle = 0
dcc_dir = $W/lumen/dl
dcc_auto_recv = 2
dcc_auto_resume = 1
dcc_auto_chat = 1
dcc_ip = 127.0.0.1
dcc_remove = 0
# The peers send offer after offer in a few seconds, which the CTCP flood
# guard would take for a flood.
flood_ctcp_num = 0
EOF
mkfifo "$W/lumen.in"
HOME="$W/lumen/home" XDG_CONFIG_HOME="$W/lumen/home/.config" XDG_DATA_HOME="$W/lumen/home/.local/share" \
  start_bg "$W/lumen.pid" "$W/lumen.out" sh -c "exec '$CLIENT' -d '$W/lumen/cfg' 'irc://127.0.0.1:$IRC_PORT/#dcc' <'$W/lumen.in'"
exec 3>"$W/lumen.in"
until_true 15 shown "Connected" || die "lumenwick-text did not connect"
lumen "/quote CAP END"
until_true 15 shown "Now talking on #dcc" || die "lumenwick-text did not join"

# ---- irssi --------------------------------------------------------------------------
if "$H/irssi-peer.sh" "$W" up irssipeer '#dcc' >"$W/irssi-up.log" 2>&1; then
  I="$W/irssi"
  irssi() { "$H/irssi-peer.sh" "$W" cmd "$*"; }
  irssi "/set dcc_autoresume on"
  irssi "/set dcc_autochat_masks *"

  irssi "/dcc send lumen $W/big.bin"
  until_true 60 same "$W/big.bin" "$W/lumen/dl/big.bin" && ok "irssi -> lumen active ($((${SIZE_MB:-64})) MiB)" || ko "irssi -> lumen active"
  irssi "/dcc send -passive lumen $W/odd.bin"
  until_true 60 same "$W/odd.bin" "$W/lumen/dl/odd.bin" && ok "irssi -> lumen passive" || ko "irssi -> lumen passive"

  lumen "/dcc send irssipeer $W/big.bin"
  until_true 60 same "$W/big.bin" "$I/dl/big.bin" && ok "lumen -> irssi active" || ko "lumen -> irssi active"
  lumen "/dcc psend irssipeer \"$W/name with blanks.bin\""
  until_true 30 same "$W/name with blanks.bin" "$I/dl/name with blanks.bin" && ok "lumen -> irssi passive, name with blanks" ||
    ko "lumen -> irssi passive, name with blanks"

  # Interrupted and resumed, lumen sending: slowed down, cut, offered again.
  lumen "/dcc send -maxcps=1000000 irssipeer $W/resume.bin"
  until_true 20 test -s "$I/dl/resume.bin"
  sleep 2
  lumen "/dcc close send irssipeer resume.bin"
  sleep 1
  part=$(stat -c %s "$I/dl/resume.bin" 2>/dev/null || echo 0)
  lumen "/dcc send irssipeer $W/resume.bin"
  if until_true 30 same "$W/resume.bin" "$I/dl/resume.bin" && [ "$part" -gt 0 ] && [ "$part" -lt 8000000 ] &&
    shown "has requested to resume resume.bin"; then
    ok "lumen -> irssi resumed after $part bytes"
  else
    ko "lumen -> irssi resume (partial $part)"
  fi

  # Interrupted and resumed, irssi sending: lumen receives slowly and cuts.
  lumen "/set dcc_max_get_cps 1000000"
  irssi "/dcc send lumen $W/resume.bin"
  until_true 20 test -s "$W/lumen/dl/resume.bin"
  sleep 2
  lumen "/dcc close get irssipeer resume.bin"
  sleep 1
  part=$(stat -c %s "$W/lumen/dl/resume.bin" 2>/dev/null || echo 0)
  lumen "/set dcc_max_get_cps 0"
  irssi "/dcc close send lumen"
  irssi "/dcc send lumen $W/resume.bin"
  if until_true 30 same "$W/resume.bin" "$W/lumen/dl/resume.bin" && [ "$part" -gt 0 ] && [ "$part" -lt 8000000 ]; then
    ok "irssi -> lumen resumed after $part bytes"
  else
    ko "irssi -> lumen resume (partial $part)"
  fi

  # Through the configured proxy: SOCKS5 (microsocks) and HTTP CONNECT (tinyproxy).
  if "$H/proxy-up.sh" "$W" socks5 http >"$W/proxy-up.log" 2>&1; then
    for kind in "3 socks5" "4 http"; do
      set -- $kind
      rm -f "$W/lumen/dl/odd.bin"
      lumen "/set net_proxy_host 127.0.0.1"
      lumen "/set net_proxy_port $(port_of "$W" "$2")"
      lumen "/set net_proxy_type $1"
      irssi "/dcc send lumen $W/odd.bin"
      # The proxies log each tunnel they open.
      until_true 30 same "$W/odd.bin" "$W/lumen/dl/odd.bin" &&
        grep -qE "connected to 127.0.0.1|CONNECT 127.0.0.1" "$W/proxy/$2.out" && ok "irssi -> lumen through the $2 proxy" ||
        ko "irssi -> lumen through the $2 proxy"
    done
    lumen "/set net_proxy_type 0"
  else
    ko "proxies did not start"; cat "$W/proxy-up.log"
  fi

  # A chat: lumen offers, irssi accepts; lines and an action both ways.
  lumen "/dcc chat irssipeer"
  until_true 15 shown "DCC CHAT connection established to irssipeer" || irssi "/dcc chat lumen"
  if until_true 15 shown "DCC CHAT connection established to irssipeer"; then
    # irssi may take a moment to see its own side of the chat as open.
    sleep 1
    irssi "/msg =lumen hello from irssi"
    irssi "/action =lumen waves from irssi"
    lumen "/msg =irssipeer hello from lumen"
    lumen "/query irssipeer"
    lumen "/me nods"
    if until_true 10 shown "hello from irssi" && until_true 10 shown "irssipeer waves from irssi" &&
      until_true 10 grep -rqs "hello from lumen" "$I/logs" && until_true 10 grep -rqs "lumen nods" "$I/logs"; then
      ok "chat with irssi, lines and actions both ways"
    else
      ko "chat with irssi lines/actions"; grep -rs "" "$I/logs/h/=lumen.log" | tail -8
      grep -F "irssipeer" "$W/lumen.out" | tail -5
    fi
  else
    ko "chat with irssi did not connect"
  fi
  "$H/irssi-peer.sh" "$W" down >/dev/null
else
  ko "irssi did not start"; cat "$W/irssi-up.log"
fi

# ---- weechat -------------------------------------------------------------------------
if "$H/weechat-peer.sh" "$W" up weepeer '#dcc' >"$W/weechat-up.log" 2>&1; then
  WD="$W/weechat"
  wee() { "$H/weechat-peer.sh" "$W" cmd "$*"; }
  rm -f "$W/lumen/dl/odd.bin"
  wee "/dcc send lumen $W/odd.bin"
  until_true 30 same "$W/odd.bin" "$W/lumen/dl/odd.bin" && ok "weechat -> lumen active" || ko "weechat -> lumen active"
  lumen "/dcc send weepeer $W/big.bin"
  until_true 60 same "$W/big.bin" "$WD/dl/lumen.big.bin" && ok "lumen -> weechat active" || ko "lumen -> weechat active"
  # weechat 3.8 neither answers passive offers nor sends them: active only.
  lumen "/dcc send weepeer \"$W/name with blanks.bin\""
  # weechat turns the blanks into underscores when it saves.
  until_true 30 same "$W/name with blanks.bin" "$WD/dl/lumen.name_with_blanks.bin" && ok "lumen -> weechat, name with blanks" ||
    ko "lumen -> weechat, name with blanks"
  wee "/dcc chat lumen"
  if until_true 15 shown "DCC CHAT connection established to weepeer"; then
    lumen "/msg =weepeer hi weechat"
    lumen "/query weepeer"
    lumen "/me smiles"
    until_true 10 grep -rqs "hi weechat" "$WD/logs" && until_true 10 grep -rqs "lumen smiles" "$WD/logs" &&
      ok "chat with weechat, a line and an action" || ko "chat with weechat"
  else
    ko "chat with weechat did not connect"
  fi
  "$H/weechat-peer.sh" "$W" down >/dev/null
else
  ko "weechat did not start"; cat "$W/weechat-up.log"
fi

lumen "/quit"
echo "$pass passed, $fail failed"
[ "$fail" = 0 ] || { echo "--- lumenwick-text (DCC lines):"; grep -i "dcc\|offer\|resume" "$W/lumen.out" | tail -40; }
[ "$fail" = 0 ]
