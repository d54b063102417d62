#!/usr/bin/env bash
# The network list as a new user meets it: the program started with nothing
# but a configuration directory opens the list; the keyboard (xdotool) opens
# the editor of the selected network, closes it, and Connect joins the
# network's favourite channel on the harness's InspIRCd. Screenshots of the
# list and the editor are left in OUTPUT_DIR, and a few of their pixels are
# probed.
#
# usage: netlist_e2e.sh LUMENWICK_BINARY OUTPUT_DIR HARNESS_DIR
set -u

bin=$1
out=$2
harness=$3

readonly TIMEOUT_S=20
readonly APP_CLASS="org.lumenwick.Lumenwick"
readonly CHANNEL="#netlist-e2e"

fail() {
    echo "FAIL: $*" >&2
    [ -s "${work:-/nonexistent}/program.log" ] && { echo "--- program output ---" >&2; tail -n 40 "$work/program.log" >&2; }
    exit 1
}

for tool in Xvfb xwininfo xdotool import convert dbus-run-session; do
    command -v "$tool" >/dev/null || fail "missing tool: $tool"
done

work=$(mktemp -d)
xvfb_pid=
runner_pid=
cleanup() {
    if [ -n "$runner_pid" ] && kill -0 "$runner_pid" 2>/dev/null; then
        [ -s "$work/pid" ] && kill -KILL "$(cat "$work/pid")" 2>/dev/null
        kill -KILL "$runner_pid" 2>/dev/null
    fi
    bash "$harness/ircd-down.sh" "$work/lab" >/dev/null 2>&1
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -ac 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb did not start"
    sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb gave no display number"
export DISPLAY=":$(tr -dc 0-9 <"$work/display")"

mkdir -p "$work/lab"
bash "$harness/ircd-up.sh" "$work/lab" >"$work/ircd.log" 2>&1 || fail "ircd did not start: $(cat "$work/ircd.log")"
port=$(cat "$work/lab/ports/irc")

cfg="$work/config"
home="$work/home"
mkdir -p "$cfg" "$home/runtime"
chmod 700 "$home/runtime"
printf 'gui_slist_skip = 0\ngui_slist_select = 0\nirc_nick1 = e2euser\nirc_nick2 = e2euser_\nirc_user_name = e2e\n' \
    >"$cfg/lumenwick.conf"
# Flags 18: use the global identity and the proxy setting; no TLS.
printf 'N=E2E Net\nE=UTF-8 (Unicode)\nF=18\nS=127.0.0.1/%s\nJ=%s\n' "$port" "$CHANNEL" >"$cfg/servlist.conf"
chmod 600 "$cfg/servlist.conf"

# Root gets a warning first; run as an ordinary user so the list comes first.
as_user=()
if [ "$(id -u)" -eq 0 ]; then
    nobody_uid=$(id -u nobody) || fail "no 'nobody' user"
    touch "$work/pid"
    chown -R "$nobody_uid:$(id -g nobody)" "$work/config" "$work/home" "$work/pid"
    chmod 755 "$work"
    as_user=(setpriv --reuid="$nobody_uid" --regid="$(id -g nobody)" --clear-groups)
fi
env -i PATH="$PATH" HOME="$home" XDG_RUNTIME_DIR="$home/runtime" DISPLAY="$DISPLAY" \
    LANG=C.UTF-8 NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory \
    "${as_user[@]}" dbus-run-session -- \
    sh -c 'echo $$ >"$0"; exec "$@"' "$work/pid" "$bin" -d "$cfg" >"$work/program.log" 2>&1 &
runner_pid=$!

# Prints the id of a mapped window of the program whose title matches the
# extended regular expression $1.
find_window() {
    xwininfo -root -tree 2>/dev/null | grep -F "(\"$APP_CLASS\" \"$APP_CLASS\")" | grep -E "\"$1\":" |
        while read -r id _; do
            xwininfo -id "$id" 2>/dev/null | grep -q "Map State: IsViewable" && { echo "$id"; break; }
        done
}

wait_window() {
    local id= deadline=$((SECONDS + TIMEOUT_S))
    while [ $SECONDS -lt $deadline ]; do
        kill -0 "$runner_pid" 2>/dev/null || fail "program ended early"
        id=$(find_window "$1")
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.2
    done
    return 1
}

# The colour of pixel X,Y of a screenshot, as "r,g,b".
pixel() {
    convert "$1" -format "%[fx:int(255*p{$2,$3}.r)],%[fx:int(255*p{$2,$3}.g)],%[fx:int(255*p{$2,$3}.b)]" info:
}

# Geometry of a window: "X Y W H".
geometry() {
    xwininfo -id "$1" | awk '/Absolute upper-left X/{x=$NF} /Absolute upper-left Y/{y=$NF}
                             /Width:/{w=$NF} /Height:/{h=$NF} END{print x, y, w, h}'
}

list=$(wait_window "Network List - Lumenwick") || fail "the network list did not open at start-up"
sleep 1
mkdir -p "$out"
import -window root "$out/netlist-list.png" || fail "screenshot failed"
read -r lx ly lw lh < <(geometry "$list")
# The window is drawn (not the black root) and the remembered network is
# selected: a whole row in the selection colour (more than a selected word
# in an entry would give), far from grey or white.
[ "$(pixel "$out/netlist-list.png" $((lx + lw / 2)) $((ly + 20)))" != "0,0,0" ] || fail "the list window is not drawn"
selected=$(convert "$out/netlist-list.png" -crop "${lw}x${lh}+${lx}+${ly}" -fx '(b-r>0.3)?1:0' -format '%[fx:mean]' info:)
awk -v m="$selected" 'BEGIN{exit !(m > 0.015)}' || fail "no selected row shown (selection share $selected)"

xdotool windowfocus --sync "$list" 2>/dev/null || xdotool windowfocus "$list"
xdotool key --clearmodifiers alt+e
editor=$(wait_window "Edit E2E Net - Lumenwick") || fail "Alt+E did not open the editor"
sleep 1
import -window root "$out/netlist-editor.png" || fail "screenshot failed"
read -r ex ey ew eh < <(geometry "$editor")
[ "$(pixel "$out/netlist-editor.png" $((ex + ew / 2)) $((ey + eh - 10)))" != "0,0,0" ] || fail "the editor is not drawn"
xdotool windowfocus --sync "$editor" 2>/dev/null || xdotool windowfocus "$editor"
xdotool key --clearmodifiers alt+c
deadline=$((SECONDS + TIMEOUT_S))
while [ -n "$(find_window "Edit E2E Net - Lumenwick")" ] && [ $SECONDS -lt $deadline ]; do sleep 0.2; done
[ -z "$(find_window "Edit E2E Net - Lumenwick")" ] || fail "Alt+C did not close the editor"

xdotool windowfocus --sync "$list" 2>/dev/null || xdotool windowfocus "$list"
xdotool key --clearmodifiers alt+o
wait_window ".*$CHANNEL.*" >/dev/null || fail "Connect did not join $CHANNEL"
[ -z "$(find_window "Network List - Lumenwick")" ] || fail "the list stayed open after Connect"

# The editor's close saved the list (the program's own header now), still
# private, the network intact.
grep -q "^v=" "$cfg/servlist.conf" || fail "servlist.conf was not saved"
grep -q "^J=$CHANNEL\$" "$cfg/servlist.conf" || fail "servlist.conf lost the channel"
[ "$(stat -c %a "$cfg/servlist.conf")" = 600 ] || fail "servlist.conf is mode $(stat -c %a "$cfg/servlist.conf"), not 0600"
echo "PASS"
