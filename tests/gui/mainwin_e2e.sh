#!/usr/bin/env bash
# The main window against a real InspIRCd with a bot in two channels, on a
# private Xvfb display, driven with xdotool the way a user would: a typed
# line reaches the server, a message in the background tab colours it, the
# background tab's topic shows when it comes to front, the user list holds
# the channel's users and the title counts them; a tab detached into a
# window of its own sends from there and attaches back. Leaves screenshots.
#
# usage: mainwin_e2e.sh LUMENWICK_BINARY OUTPUT_DIR
set -u

. "$(dirname "$0")/e2e-two-channels.sh" "$@"

# --- typing a line -------------------------------------------------------------------
xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window"
xdotool type --delay 20 "hello from the window"
xdotool key Return
wait_for "$work/bots.log" "PRIVMSG #two :hello from the window" "typed line at the server"

# --- activity in the background tab ----------------------------------------------------
bot send peerbot PRIVMSG "#one" ":psst in one"
sleep 1.5
shot="$out/gui-mainwin-activity.png"
import -window root "$shot" || fail "screenshot failed"
geom=$(xdotool getwindowgeometry "$window")
pos=$(echo "$geom" | sed -n 's/.*Position: \([0-9]*\),\([0-9]*\).*/\1 \2/p')
size=$(echo "$geom" | sed -n 's/.*Geometry: \([0-9]*\)x\([0-9]*\).*/\1 \2/p')
read -r wx wy <<<"$pos"
read -r ww wh <<<"$size"
# The switcher is the tree in the left column: the "new message" colour
# must be drawn there (the background tab's name).
count_color() { # IMAGE COLOR GEOMETRY
    convert "$1" -crop "$3" +repage -fuzz 12% -fill black -opaque "$2" -fill white +opaque black \
        -negate -format '%[fx:mean*w*h]' info: 2>/dev/null | cut -d. -f1
}
strip="120x$((wh - 40))+${wx}+${wy}"
msg_pixels=$(count_color "$shot" "#ce5c00" "$strip")
echo "new-message pixels in the switcher: $msg_pixels"
[ "${msg_pixels:-0}" -gt 5 ] || fail "background tab not coloured as new message ($msg_pixels pixels)"

# --- the user list ------------------------------------------------------------------------
# The bot created the channel: its "@" prefix is drawn in the op colour in
# the user list on the right.
ulist="200x$((wh - 80))+$((wx + ww - 200))+$((wy + 30))"
op_pixels=$(count_color "$shot" "#5ea36a" "$ulist")
echo "op-prefix pixels in the user list: $op_pixels"
[ "${op_pixels:-0}" -gt 3 ] || fail "user list shows no op prefix ($op_pixels pixels)"

# --- switching to the background tab ---------------------------------------------------------
# A topic set while #one is behind shows when it comes to front.
bot send peerbot TOPIC "#one" ":first channel topic"
wait_for "$work/bots.log" "TOPIC #one" "topic echo for #one"
sleep 0.5
xdotool key ctrl+Page_Up
sleep 1
case "$(title_of "$window")" in *"/ #one"*) ;; *) fail "Control+Page Up did not bring #one to front: $(title_of "$window")" ;; esac
import -window root "$out/gui-mainwin-one.png"
# The topic line (top of the middle column, under the menu bar): select all
# of it and copy.
xdotool mousemove $((wx + 400)) $((wy + 44)) click --repeat 3 --delay 80 1
xdotool key ctrl+c
sleep 0.5
topic=$(xclip -o -selection clipboard 2>/dev/null)
echo "topic shown: $topic"
[ "$topic" = "first channel topic" ] || fail "topic of #one not shown after switching: '$topic'"
xdotool key ctrl+Page_Down
sleep 0.5
case "$(title_of "$window")" in *"/ #two"*) ;; *) fail "Control+Page Down did not return to #two" ;; esac

# --- a tab in a window of its own ---------------------------------------------------------------
# "/gui detach" gives #two its own window; a line typed there reaches the
# server; "/gui attach" puts it back as a tab of the main window.
xdotool type --delay 20 "/gui detach"
xdotool key Return
own=
deadline=$((SECONDS + WAIT_S))
while [ $SECONDS -lt $deadline ]; do
    own=$(xdotool search --onlyvisible --classname "$APP_CLASS" 2>/dev/null | while read -r id; do
        [ "$id" != "$window" ] && case "$(title_of "$id")" in *"#two"*) echo "$id"; break ;; esac
    done)
    [ -n "$own" ] && break
    sleep 0.3
done
[ -n "$own" ] || fail "no window of its own for #two after /gui detach"
case "$(title_of "$window")" in *"#two"*) fail "the main window still shows #two: $(title_of "$window")" ;; esac
xdotool windowactivate --sync "$own" 2>/dev/null || xdotool windowfocus --sync "$own"
sleep 0.5
xdotool type --delay 20 "typed in its own window"
xdotool key Return
wait_for "$work/bots.log" "PRIVMSG #two :typed in its own window" "line typed in the detached window at the server"
bot send peerbot PRIVMSG "#two" ":answer to the own window"
sleep 1
import -window root "$out/gui-mainwin-detached.png"
xdotool type --delay 20 "/gui attach"
xdotool key Return
deadline=$((SECONDS + WAIT_S))
while [ $SECONDS -lt $deadline ]; do
    xdotool search --onlyvisible --classname "$APP_CLASS" 2>/dev/null | grep -qx "$own" || break
    sleep 0.3
done
xdotool search --onlyvisible --classname "$APP_CLASS" 2>/dev/null | grep -qx "$own" && fail "the own window stayed after /gui attach"
sleep 0.5
case "$(title_of "$window")" in *"/ #two"*) ;; *) fail "#two did not come back as the tab in front: $(title_of "$window")" ;; esac
import -window root "$out/gui-mainwin-attached.png"

# --- quit ------------------------------------------------------------------------------------
kill -TERM "$(cat "$work/pid")"
deadline=$((SECONDS + 15))
while kill -0 "$runner_pid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do sleep 0.1; done
kill -0 "$runner_pid" 2>/dev/null && fail "program still running after SIGTERM"
runner_pid=
echo "PASS"
