# Sourced by the end-to-end scripts that need the program in two channels:
# a private Xvfb display, the harness InspIRCd with the bot "peerbot" in #one
# and #two (topic "second channel topic"), and lumenwick run as an unprivileged
# user, connected and joined to both, its window showing #two. Defines fail,
# wait_for, bot, title_of, $window, $work and $port; the caller stops the
# program. Before sourcing, a script may set the array extra_settings (more
# "name = value" lines of lumenwick.conf) and a function prepare_config DIR.
# usage: . e2e-two-channels.sh LUMENWICK_BINARY OUTPUT_DIR
bin=$1
out=$2
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
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
    'irc_nick1 = guiuser' 'gui_join_dialog = 0' 'gui_tab_layout = 2' 'gui_tab_pos = 1' 'gui_ulist_pos = 3' \
    ${extra_settings+"${extra_settings[@]}"} >"$cfg/lumenwick.conf"
if declare -F prepare_config >/dev/null; then prepare_config "$cfg"; fi
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
