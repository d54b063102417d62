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

extra_settings=('completion_suffix = :')
# "u" becomes "you", but only once the word is finished.
prepare_config() { printf 'NAME u\nCMD you\n\nNAME teh\nCMD the\n\n' >"$1/replace.conf"; }
. "$(dirname "$0")/e2e-two-channels.sh" "$@"

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
