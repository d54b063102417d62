#!/usr/bin/env bash
# Starts the GTK program on a private Xvfb display, the way a user would, and
# checks what they would see: the expected window is mapped with the size the
# settings ask for, a quit signal ends the program with status 0, and the
# settings file is written back. Leaves a screenshot for a person to look at.
#
# usage: startup_e2e.sh LUMENWICK_BINARY OUTPUT_DIR SCENARIO
#   server-tab    gui_slist_skip on and --no-auto: one empty server tab
#   network-list  no network to connect to: the notice over the main window
#   root-warning  as root: the modal warning; a quit signal must still exit
set -u

bin=$1
out=$2
scenario=$3

readonly WINDOW_TIMEOUT_S=20
readonly EXIT_TIMEOUT_S=15
readonly APP_CLASS="org.lumenwick.Lumenwick"

fail() {
    echo "FAIL ($scenario): $*" >&2
    if [ -s "${work:-/nonexistent}/program.log" ]; then
        echo "--- program output ---" >&2
        tail -n 40 "$work/program.log" >&2
    fi
    exit 1
}

for tool in Xvfb xwininfo import dbus-run-session; do
    command -v "$tool" >/dev/null || fail "missing tool: $tool"
done

work=$(mktemp -d)
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

# --- a display of our own ---------------------------------------------------
# -displayfd lets the server pick a free display number itself, so tests
# running side by side cannot race for one. -ac: the program may run as
# another user; the display is reachable only through its local socket.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp -ac 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
    sleep 0.1
done
[ -s "$work/display" ] || fail "Xvfb gave no display number within 10 s"
export DISPLAY=":$(tr -dc 0-9 <"$work/display")"
xwininfo -root >/dev/null 2>&1 || fail "Xvfb does not answer on $DISPLAY"

# --- configuration and user --------------------------------------------------
extra_args=()
cfg="$work/config"
home="$work/home"
mkdir -p "$cfg" "$home/runtime"
chmod 700 "$home/runtime"
case "$scenario" in
    server-tab)
        printf 'gui_slist_skip = 1\ngui_win_width = 700\ngui_win_height = 500\n' >"$cfg/lumenwick.conf"
        expect_title="Lumenwick"
        expect_size="700x500"
        # Prints a line through fe_print_text, so the screenshot shows text.
        extra_args=(--command "set gui_win_width")
        ;;
    network-list)
        printf 'gui_slist_skip = 0\n' >"$cfg/lumenwick.conf"
        expect_title="Network List - Lumenwick"
        expect_size=
        ;;
    root-warning)
        [ "$(id -u)" -eq 0 ] || { echo "SKIP ($scenario): needs root"; exit 0; }
        printf 'gui_slist_skip = 1\n' >"$cfg/lumenwick.conf"
        expect_title=
        expect_size=
        ;;
    *) fail "unknown scenario" ;;
esac

# The program warns root with a modal message; the ordinary scenarios run it
# as an unprivileged user so the window under test is what appears.
as_user=()
if [ "$(id -u)" -eq 0 ] && [ "$scenario" != root-warning ]; then
    nobody_uid=$(id -u nobody) || fail "no 'nobody' user to run as"
    nobody_gid=$(id -g nobody)
    chown -R "$nobody_uid:$nobody_gid" "$work"
    chmod 755 "$work"
    as_user=(setpriv --reuid="$nobody_uid" --regid="$nobody_gid" --clear-groups)
fi

# --- run ------------------------------------------------------------------------
# The inner shell records the program's own pid before exec'ing it, so the
# quit signal goes to the program and not to dbus-run-session.
env -i PATH="$PATH" HOME="$home" XDG_RUNTIME_DIR="$home/runtime" DISPLAY="$DISPLAY" \
    LANG=C.UTF-8 NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory \
    "${as_user[@]}" dbus-run-session -- \
    sh -c 'echo $$ >"$0"; exec "$@"' "$work/pid" "$bin" -d "$cfg" --no-auto "${extra_args[@]}" \
    >"$work/program.log" 2>&1 &
runner_pid=$!

find_window() {
    # Lines look like: 0x1a00003 "Title": ("res" "class")  700x500+0+0  +0+0
    xwininfo -root -tree 2>/dev/null | grep -F "(\"$APP_CLASS\" \"$APP_CLASS\")" |
        while read -r id rest; do
            if [ -n "$expect_title" ]; then
                case "$rest" in "\"$expect_title\":"*) ;; *) continue ;; esac
            fi
            if xwininfo -id "$id" 2>/dev/null | grep -q "Map State: IsViewable"; then
                echo "$id $rest"
                break
            fi
        done
}

window=
deadline=$((SECONDS + WINDOW_TIMEOUT_S))
while [ $SECONDS -lt $deadline ]; do
    kill -0 "$runner_pid" 2>/dev/null || fail "program ended before showing its window"
    window=$(find_window)
    [ -n "$window" ] && break
    sleep 0.2
done
[ -n "$window" ] || fail "no mapped window${expect_title:+ titled '$expect_title'} within ${WINDOW_TIMEOUT_S}s"
echo "window: $window"

if [ -n "$expect_size" ]; then
    case "$window" in *" $expect_size+"*) ;; *) fail "window is not $expect_size: $window" ;; esac
fi

# Let the first frame be drawn before the picture is taken.
sleep 1
mkdir -p "$out"
shot="$out/gui-$scenario.png"
import -window root "$shot" || fail "screenshot failed"
echo "screenshot: $shot"

# --- quit by signal -----------------------------------------------------------------
[ -s "$work/pid" ] || fail "program pid not recorded"
program_pid=$(cat "$work/pid")
kill -TERM "$program_pid" || fail "cannot signal the program"
deadline=$((SECONDS + EXIT_TIMEOUT_S))
while kill -0 "$runner_pid" 2>/dev/null && [ $SECONDS -lt $deadline ]; do
    sleep 0.1
done
kill -0 "$runner_pid" 2>/dev/null && fail "program still running ${EXIT_TIMEOUT_S}s after SIGTERM"
wait "$runner_pid"
status=$?
runner_pid=
[ "$status" -eq 0 ] || fail "exit status $status after SIGTERM"

# The shutdown writes every setting back, not just the lines we gave it.
grep -q '^irc_nick1 = ' "$cfg/lumenwick.conf" || fail "lumenwick.conf was not written at exit"
grep -q '^gui_slist_skip = ' "$cfg/lumenwick.conf" || fail "lumenwick.conf lost gui_slist_skip"

echo "PASS ($scenario)"
