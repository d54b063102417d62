#!/bin/bash
# textview-demo.sh [BUILD_DIR] [OUT_DIR] — formatted IRC text from a real server in the
# GTK client's conversation view, once in the light and once in the dark palette, for a
# person to look at: InspIRCd on a free port (ircd-up.sh), `lumenwick` on a private Xvfb
# display joining #test, and a peer (irc-bots.py) that says lines with colours, bold,
# italics, underline, reverse, strike-through, wide characters and a long
# word. Screenshots land in OUT_DIR (default BUILD_DIR) as textview-light.png and
# textview-dark.png. Every wait is bounded; everything started is stopped at the end.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
BUILD="$(cd "${1:-build}" && pwd)" || die "no build directory ${1:-build}"
OUT="$(mkdir -p "${2:-$BUILD}" && cd "${2:-$BUILD}" && pwd)"
CLIENT="$BUILD/src/fe-gtk/lumenwick"
[ -x "$CLIENT" ] || die "$CLIENT not built (ninja -C $BUILD lumenwick)"
for tool in Xvfb import xwininfo dbus-run-session setpriv; do
  command -v "$tool" >/dev/null || die "$tool is missing (scripts/setup.sh)"
done
WORK="$(mktemp -d /tmp/lumenwick-textview-demo.XXXXXX)"
chmod 755 "$WORK"
XVFB_PID="" CLIENT_PID="" BOT_PID=""

cleanup() {
  exec 4>&- 2>/dev/null || true
  [ -n "$CLIENT_PID" ] && kill "$CLIENT_PID" 2>/dev/null || true
  [ -n "$BOT_PID" ] && kill "$BOT_PID" 2>/dev/null || true
  [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
  "$HARNESS_DIR/ircd-down.sh" "$WORK" >/dev/null 2>&1 || true
  if [ "${KEEP:-0}" = 1 ]; then echo "kept $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT

wait_for() {
  local i
  for ((i = 0; i < ${3:-15} * 10; i++)); do
    grep -qF -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "timed out waiting for \"$2\" in $(basename "$1")" >&2
  tail -n 20 "$1" >&2 2>/dev/null
  return 1
}

"$HARNESS_DIR/ircd-up.sh" "$WORK"
PORT="$(port_of "$WORK" irc)"
Xvfb -displayfd 5 -screen 0 900x560x24 -nolisten tcp 5>"$WORK/display" >"$WORK/xvfb.log" 2>&1 &
XVFB_PID=$!
for _ in $(seq 100); do [ -s "$WORK/display" ] && break; sleep 0.1; done
export DISPLAY=":$(tr -dc 0-9 <"$WORK/display")"

mkfifo "$WORK/bot.in"
"$PY" "$HARNESS_DIR/irc-bots.py" "$PORT" <"$WORK/bot.in" >"$WORK/bot.out" 2>&1 &
BOT_PID=$!
exec 4>"$WORK/bot.in"
echo "connect pal" >&4
wait_for "$WORK/bot.out" "ready pal"
echo "send pal JOIN #test" >&4

B=$'\x02' C=$'\x03' I=$'\x1d' U=$'\x1f' R=$'\x16' S=$'\x1e' H=$'\x08' O=$'\x0f'
lines=(
  "plain text, then ${B}bold${B}, ${I}italic${I}, ${U}underline${U}, ${S}struck${S} and ${R}reverse${R}"
  "${C}4red ${C}3green ${C}2blue ${C}7orange ${C}6purple ${C}12light blue ${C}14grey${O} back to normal"
  "${C}0,1 white on black ${C}1,8 black on yellow ${C}15,4 grey on red ${O} ${C}52,88 extended 52 on 88 ${O}"
  "wide: 漢字かな交じり文 and café (hidden codes from others are dropped by the core: [${H}shown${H}])"
  "a long word: $(printf 'x%.0s' $(seq 200))"
)

shoot() {  # mode name
  local mode=$1 name=$2 cfg="$WORK/cfg-$2" home="$WORK/home-$2"
  mkdir -p "$cfg" "$home/runtime"
  printf 'irc_nick1 = lumen\nirc_user_name = lumen\nnet_throttle = 0\ngui_dark_mode = %s\ntext_font = Monospace 10\n' \
    "$mode" >"$cfg/lumenwick.conf"
  chown -R nobody:nogroup "$cfg" "$home" 2>/dev/null || chown -R nobody "$cfg" "$home"
  env -i PATH="$PATH" HOME="$home" XDG_RUNTIME_DIR="$home/runtime" DISPLAY="$DISPLAY" LANG=C.UTF-8 \
    NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory \
    setpriv --reuid="$(id -u nobody)" --regid="$(id -g nobody)" --clear-groups \
    dbus-run-session -- "$CLIENT" -d "$cfg" "irc://127.0.0.1:$PORT/#test" >"$WORK/client-$name.log" 2>&1 &
  CLIENT_PID=$!
  # Until the client (not pal) has joined.
  local i
  for ((i = 0; i < 300; i++)); do
    grep -a 'JOIN' "$WORK/bot.out" | grep -qv ':pal!' && break
    sleep 0.1
  done
  sleep 1
  for l in "${lines[@]}"; do echo "send pal PRIVMSG #test :$l" >&4; done
  sleep 2
  import -window root "$OUT/textview-$name.png"
  echo "wrote $OUT/textview-$name.png"
  kill "$CLIENT_PID" 2>/dev/null || true
  wait "$CLIENT_PID" 2>/dev/null || true
  CLIENT_PID=""
  sleep 1
  : >"$WORK/bot.out"
}

shoot 2 light
shoot 1 dark
