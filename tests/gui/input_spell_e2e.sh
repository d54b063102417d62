#!/usr/bin/env bash
# The real program's input line on a private Xvfb display, typed into with
# xdotool: correctly spelt words get no underline, misspelt ones get the red
# spelling underline (Enchant with hunspell-en-us, language taken from the
# locale as a new user gets it). Leaves both screenshots.
#
# usage: input_spell_e2e.sh LUMENWICK_BINARY OUTPUT_DIR
set -u

bin=$1
out=$2
readonly APP_CLASS="org.lumenwick.Lumenwick"
readonly WAIT_S=20

fail() {
    echo "FAIL: $*" >&2
    [ -s "${work:-/nonexistent}/program.log" ] && tail -n 30 "$work/program.log" >&2
    exit 1
}

for tool in Xvfb import convert xdotool dbus-run-session; do
    command -v "$tool" >/dev/null || fail "missing tool: $tool"
done
[ -e /usr/share/hunspell/en_US.dic ] || { echo "SKIP (hunspell-en-us not installed)"; exit 0; }

work=$(mktemp -d)
chmod 755 "$work"
xvfb_pid=
runner_pid=
cleanup() {
    # Only our own processes, by id.
    if [ -n "$runner_pid" ] && kill -0 "$runner_pid" 2>/dev/null; then
        [ -s "$work/pid" ] && kill -KILL "$(cat "$work/pid")" 2>/dev/null
        kill -KILL "$runner_pid" 2>/dev/null
    fi
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -ac 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb gave no display number"
export DISPLAY=":$(tr -dc 0-9 <"$work/display")"

cfg="$work/config"
home="$work/home"
mkdir -p "$cfg" "$home/runtime"
chmod 700 "$home/runtime"
printf '%s\n' 'gui_slist_skip = 1' 'gui_win_width = 700' 'gui_win_height = 400' >"$cfg/lumenwick.conf"
# Root gets a warning first; the input line is what is under test here.
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
    sh -c 'echo $$ >"$0"; exec "$@"' "$work/pid" "$bin" -d "$cfg" --no-auto \
    >"$work/program.log" 2>&1 &
runner_pid=$!

window=
deadline=$((SECONDS + WAIT_S))
while [ $SECONDS -lt $deadline ]; do
    kill -0 "$runner_pid" 2>/dev/null || fail "program ended early"
    window=$(xdotool search --onlyvisible --classname "$APP_CLASS" 2>/dev/null | head -n 1)
    [ -n "$window" ] && break
    sleep 0.3
done
[ -n "$window" ] || fail "no window within ${WAIT_S}s"
sleep 1
geom=$(xdotool getwindowgeometry "$window")
read -r wx wy <<<"$(echo "$geom" | sed -n 's/.*Position: \([0-9]*\),\([0-9]*\).*/\1 \2/p')"
read -r ww wh <<<"$(echo "$geom" | sed -n 's/.*Geometry: \([0-9]*\)x\([0-9]*\).*/\1 \2/p')"
# With no window manager the keyboard follows the pointer.
xdotool mousemove --sync $((wx + ww / 2)) $((wy + wh / 2))

# Red pixels (the light palette's spelling colour, smoothed into the
# background) along the bottom of the window, where the input line is.
red_pixels() { # IMAGE
    convert "$1" -crop "${ww}x40+${wx}+$((wy + wh - 40))" +repage \
        -fx '(r - g > 0.16 && r - b > 0.16) ? 1 : 0' -format '%[fx:mean*w*h]' info: 2>/dev/null | cut -d. -f1
}

mkdir -p "$out"
xdotool type --delay 20 "this is fine"
sleep 1
import -window root "$out/gui-input-spelt.png" || fail "screenshot failed"
clean=$(red_pixels "$out/gui-input-spelt.png")
echo "red pixels under correctly spelt words: $clean"
[ "${clean:-1}" -eq 0 ] || fail "correctly spelt words are underlined ($clean pixels)"

xdotool type --delay 20 " but tset wrold"
sleep 1
import -window root "$out/gui-input-misspelt.png" || fail "screenshot failed"
wrong=$(red_pixels "$out/gui-input-misspelt.png")
echo "red pixels with two misspelt words: $wrong"
[ "${wrong:-0}" -gt 10 ] || fail "misspelt words are not underlined ($wrong pixels)"

kill -TERM "$(cat "$work/pid")" 2>/dev/null
echo "PASS"
