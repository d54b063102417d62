#!/usr/bin/env bash
# The input line's keyboard against a real InspIRCd with a bot in two
# channels, on a private Xvfb display, driven with xdotool: Tab completes the
# bot's nick with the suffix, Up recalls the last line, Alt+1 and
# Control+Page Down switch tabs, a replacement is made only once its word is
# finished, and Enter sends; every line is checked at the server by the bot.
# Leaves a screenshot.
#
# usage: input_keys_e2e.sh LUMENWICK_BINARY OUTPUT_DIR
set -u

bin=$1
out=$2
here="$(cd "$(dirname "$0")" && pwd)"
harness="$here/../harness"
readonly APP_CLASS="org.lumenwick.Lumenwick"
readonly WAIT_S=25

fail() {
    echo "FAIL: $*" >&2
    for f in program.log bots.log; do
        if [ -s "${work:-/nonexistent}/$f" ]; then
            echo "--- $f ---" >&2
            tail -n 30 "$work/$f" >&2
        fi
    done
    exit 1
}

for tool in Xvfb xwininfo import convert xdotool xclip dbus-run-session; do
    command -v "$tool" >/dev/null || fail "missing tool: $tool"
done
[ -x /usr/sbin/inspircd ] || { echo "SKIP (inspircd not installed)"; exit 0; }

work=$(mktemp -d)
chmod 755 "$work"
xvfb_pid=
runner_pid=
bots_pid=
cleanup() {
    if [ -n "$runner_pid" ] && kill -0 "$runner_pid" 2>/dev/null; then
        [ -s "$work/pid" ] && kill -KILL "$(cat "$work/pid")" 2>/dev/null
        kill -KILL "$runner_pid" 2>/dev/null
    fi
    [ -n "$bots_pid" ] && kill "$bots_pid" 2>/dev/null
    "$harness/ircd-down.sh" "$work/ircd" >/dev/null 2>&1
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# --- display, server and bot ---------------------------------------------------
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -ac 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb gave no display number"
export DISPLAY=":$(tr -dc 0-9 <"$work/display")"

"$harness/ircd-up.sh" "$work/ircd" >"$work/ircd.log" 2>&1 || fail "ircd did not start: $(cat "$work/ircd.log")"
port=$(cat "$work/ircd/ports/irc")

mkfifo "$work/bots.in"
python3 "$harness/irc-bots.py" "$port" <"$work/bots.in" >"$work/bots.log" 2>&1 &
bots_pid=$!
exec 4>"$work/bots.in"
bot() { echo "$*" >&4; }
wait_for() { # FILE PATTERN WHAT
    local deadline=$((SECONDS + WAIT_S))
    while [ $SECONDS -lt $deadline ]; do
        grep -qF -- "$2" "$1" 2>/dev/null && return 0
        sleep 0.2
    done
    fail "no $3 within ${WAIT_S}s"
}
bot connect peerbot
wait_for "$work/bots.log" "ready peerbot" "bot registration"
bot send peerbot JOIN "#one,#two"
bot send peerbot TOPIC "#two" ":second channel topic"
wait_for "$work/bots.log" "TOPIC #two" "topic echo"

# --- the program -----------------------------------------------------------------
cfg="$work/config"
home="$work/home"
mkdir -p "$cfg" "$home/runtime"
chmod 700 "$home/runtime"
printf '%s\n' 'gui_slist_skip = 1' 'gui_win_width = 800' 'gui_win_height = 560' 'gui_win_ucount = 1' \
    'irc_nick1 = guiuser' 'gui_join_dialog = 0' 'gui_tab_layout = 2' 'gui_tab_pos = 1' 'gui_ulist_pos = 3' 'completion_suffix = :' >"$cfg/lumenwick.conf"
# "u" becomes "you", but only once the word is finished.
printf 'NAME u\nCMD you\n\nNAME teh\nCMD the\n\n' >"$cfg/replace.conf"
as_user=()
if [ "$(id -u)" -eq 0 ]; then
    nobody_uid=$(id -u nobody) || fail "no 'nobody' user to run as"
    touch "$work/pid"
    chown -R "$nobody_uid:$(id -g nobody)" "$cfg" "$home" "$work/pid"
    as_user=(setpriv --reuid="$nobody_uid" --regid="$(id -g nobody)" --clear-groups)
fi
env -i PATH="$PATH" HOME="$home" XDG_RUNTIME_DIR="$home/runtime" DISPLAY="$DISPLAY" \
    LANG=C.UTF-8 NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory \
    "${as_user[@]}" dbus-run-session -- \
    sh -c 'echo $$ >"$0"; exec "$@"' "$work/pid" "$bin" -d "$cfg" --no-auto "irc://127.0.0.1:$port/#one,#two" \
    >"$work/program.log" 2>&1 &
runner_pid=$!

title_of() { xdotool getwindowname "$1" 2>/dev/null; }
window=
deadline=$((SECONDS + WAIT_S))
while [ $SECONDS -lt $deadline ]; do
    kill -0 "$runner_pid" 2>/dev/null || fail "program ended early"
    window=$(xdotool search --classname "$APP_CLASS" 2>/dev/null | while read -r id; do
        case "$(title_of "$id")" in *"#two"*) echo "$id"; break ;; esac
    done)
    [ -n "$window" ] && break
    sleep 0.3
done
[ -n "$window" ] || fail "no window showing #two within ${WAIT_S}s"
wait_for "$work/bots.log" "JOIN :#two" "join of #two seen by the bot"
sleep 1
echo "title: $(title_of "$window")"
# Two users in #two, counted in the title.
case "$(title_of "$window")" in *"/ #two"*"(2)") ;; *) fail "title does not count #two's users: $(title_of "$window")" ;; esac

title_is() { # CHANNEL WHAT
    local deadline=$((SECONDS + 5))
    while [ $SECONDS -lt $deadline ]; do
        case "$(title_of "$window")" in *"/ $1"*) return 0 ;; esac
        sleep 0.2
    done
    fail "$2: title is '$(title_of "$window")'"
}
count_of() { grep -cF -- "$1" "$work/bots.log"; }

xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
sleep 0.5

# --- Tab completes the bot's nick (first word: suffix and space) -----------------
xdotool type --delay 30 "pee"
xdotool key Tab
xdotool type --delay 30 "hello"
xdotool key Return
wait_for "$work/bots.log" "PRIVMSG #two :peerbot: hello" "completed nick at the server"

# --- replacements: "until" stays, a finished "u" becomes "you" --------------------
xdotool type --delay 30 "until u"
xdotool key Return
wait_for "$work/bots.log" "PRIVMSG #two :until you" "line with its last word replaced on Enter"
xdotool type --delay 30 "see u there"
sleep 0.3
import -window root "$out/gui-input-keys.png" || fail "screenshot failed"
xdotool key Return
wait_for "$work/bots.log" "PRIVMSG #two :see you there" "word replaced as the space was typed"

# --- Up recalls the last line ---------------------------------------------------------
xdotool key Up
sleep 0.2
xdotool key Return
deadline=$((SECONDS + WAIT_S))
while [ "$(count_of "PRIVMSG #two :see you there")" -lt 2 ] && [ $SECONDS -lt $deadline ]; do sleep 0.2; done
[ "$(count_of "PRIVMSG #two :see you there")" -ge 2 ] || fail "Up did not recall the last line"

# --- tab switching from the bindings ---------------------------------------------------
# The tree lists the server tab first, then #one and #two.
xdotool key alt+2
title_is "#one" "Alt+2 did not bring #one to front"
xdotool type --delay 30 "in one"
xdotool key Return
wait_for "$work/bots.log" "PRIVMSG #one :in one" "line typed in #one"
xdotool key ctrl+Page_Down
title_is "#two" "Control+Page Down did not bring #two to front"
xdotool type --delay 30 "back in two"
xdotool key Return
wait_for "$work/bots.log" "PRIVMSG #two :back in two" "line typed in #two after switching"

# --- quit ------------------------------------------------------------------------------------
kill -TERM "$(cat "$work/pid")"
deadline=$((SECONDS + 15))
while kill -0 "$runner_pid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do sleep 0.1; done
kill -0 "$runner_pid" 2>/dev/null && fail "program still running after SIGTERM"
runner_pid=
echo "PASS"
