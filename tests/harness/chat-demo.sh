#!/bin/bash
# chat-demo.sh [BUILD_DIR] — a short conversation to watch by hand: InspIRCd on a free
# port of 127.0.0.1 (ircd-up.sh), `lumenwick-text -d DIR irc://127.0.0.1:PORT/#test`, and a
# peer (irc-bots.py) that joins #test and greets it. The client answers with /MSG and /ME,
# quits, and the script prints what the peer received and the client's #test log, then
# stops everything it started. BUILD_DIR defaults to ./build (where lumenwick-text is
# src/fe-text/lumenwick-text). Every wait is bounded; the work directory is removed at the
# end unless KEEP=1.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
BUILD="$(cd "${1:-build}" && pwd)" || die "no build directory ${1:-build}"
CLIENT="$BUILD/src/fe-text/lumenwick-text"
[ -x "$CLIENT" ] || die "$CLIENT not built (ninja -C $BUILD lumenwick-text)"
WORK="$(mktemp -d /tmp/lumenwick-chat-demo.XXXXXX)"
CLIENT_PID="" BOT_PID=""

cleanup() {
  exec 3>&- 4>&- 2>/dev/null || true
  [ -n "$CLIENT_PID" ] && kill "$CLIENT_PID" 2>/dev/null || true
  [ -n "$BOT_PID" ] && kill "$BOT_PID" 2>/dev/null || true
  "$HARNESS_DIR/ircd-down.sh" "$WORK" >/dev/null 2>&1 || true
  if [ "${KEEP:-0}" = 1 ]; then echo "kept $WORK"; else rm -rf "$WORK"; fi
}
trap cleanup EXIT

# wait_for FILE TEXT [SECONDS] — until FILE holds TEXT, at most SECONDS (default 15).
wait_for() {
  local i
  for ((i = 0; i < ${3:-15} * 10; i++)); do
    grep -qF -- "$2" "$1" 2>/dev/null && return 0
    sleep 0.1
  done
  echo "timed out waiting for \"$2\" in $(basename "$1"); it holds:" >&2
  tail -n 20 "$1" >&2 2>/dev/null
  return 1
}

echo "== starting InspIRCd"
"$HARNESS_DIR/ircd-up.sh" "$WORK"
PORT="$(port_of "$WORK" irc)"

echo "== starting lumenwick-text on irc://127.0.0.1:$PORT/#test"
mkdir -p "$WORK/cfg" "$WORK/home"
printf 'irc_nick1 = lumen\nirc_user_name = lumen\nirc_real_name = Chat Demo\nnet_throttle = 0\n' \
  >"$WORK/cfg/lumenwick.conf"
mkfifo "$WORK/client.in" "$WORK/bot.in"
HOME="$WORK/home" XDG_CONFIG_HOME="$WORK/home/.config" XDG_DATA_HOME="$WORK/home/.local/share" \
  "$CLIENT" -d "$WORK/cfg" "irc://127.0.0.1:$PORT/#test" <"$WORK/client.in" >"$WORK/client.out" 2>&1 &
CLIENT_PID=$!
exec 3>"$WORK/client.in"
"$PY" "$HARNESS_DIR/irc-bots.py" "$PORT" <"$WORK/bot.in" >"$WORK/bot.out" 2>&1 &
BOT_PID=$!
exec 4>"$WORK/bot.in"

wait_for "$WORK/client.out" "Connected"
# Ends the capability negotiation for a client that left it open; ignored otherwise.
echo "/quote CAP END" >&3
wait_for "$WORK/client.out" "Now talking on #test"

echo "== the peer joins and talks"
echo "connect pal" >&4
wait_for "$WORK/bot.out" "ready pal"
echo "send pal JOIN #test" >&4
wait_for "$WORK/client.out" "pal ("
echo "send pal PRIVMSG #test :hello lumen, how are you?" >&4
wait_for "$WORK/client.out" "how are you?"

echo "== lumenwick-text answers"
echo "/msg #test fine, thanks pal!" >&3
echo "/me waves at pal" >&3
echo "/msg pal see you later" >&3
wait_for "$WORK/bot.out" "PRIVMSG pal :see you later"
echo "/quit that was nice" >&3
wait_for "$WORK/bot.out" "QUIT :Quit: that was nice"
exec 3>&-
for ((i = 0; i < 100; i++)); do kill -0 "$CLIENT_PID" 2>/dev/null || break; sleep 0.1; done
kill -0 "$CLIENT_PID" 2>/dev/null && kill "$CLIENT_PID"
wait "$CLIENT_PID" 2>/dev/null || true
CLIENT_PID=""

echo "== what pal received from lumen"
grep -F 'pal< :lumen!' "$WORK/bot.out" | sed 's/\x01/^A/g'
echo "== the client's log of #test"
log="$(find "$WORK/cfg/logs" -name '#test.log' 2>/dev/null | head -n 1)"
[ -n "$log" ] || die "no #test.log under $WORK/cfg/logs"
cat "$log"
echo "== done"
