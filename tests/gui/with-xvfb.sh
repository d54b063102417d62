#!/usr/bin/env bash
# Runs a command on a private Xvfb display inside its own session bus, and
# returns the command's status. usage: with-xvfb.sh COMMAND [ARGS...]
set -u
work=$(mktemp -d)
xvfb_pid=
cleanup() {
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

# The server picks a free display itself, so parallel tests cannot collide.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
xvfb_pid=$!
for _ in $(seq 100); do
    [ -s "$work/display" ] && break
    kill -0 "$xvfb_pid" 2>/dev/null || { cat "$work/xvfb.log" >&2; exit 1; }
    sleep 0.1
done
[ -s "$work/display" ] || { echo "Xvfb gave no display number within 10 s" >&2; exit 1; }

# A GTK critical is a fault of ours (a view out of step with its model, a
# widget used after it was destroyed): it stops the test rather than scroll by.
DISPLAY=":$(tr -dc 0-9 <"$work/display")" NO_AT_BRIDGE=1 GSETTINGS_BACKEND=memory G_DEBUG=fatal-criticals \
    dbus-run-session -- "$@"
