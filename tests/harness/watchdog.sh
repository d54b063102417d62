#!/bin/bash
# watchdog.sh DIR OWNER_PID — runs harness-down.sh DIR once OWNER_PID has gone, so that a
# test process killed by a time-out (no destructor runs then) leaves no server behind;
# then removes DIR when it holds the file .remove-with-owner. The owner starts it in the
# background and stops it (by its pid) before tearing down normally.
set -uo pipefail
. "$(dirname "$0")/lib.sh"
DIR="$(existing_dir "${1:-}")" || exit 0
OWNER="${2:?usage: watchdog.sh DIR OWNER_PID}"
# The owner's start time tells it from a later process that got the same pid.
started() { sed 's/.*) //' "/proc/$1/stat" 2>/dev/null | cut -d' ' -f20; }
SINCE="$(started "$OWNER")"
[ -n "$SINCE" ] || exit 0
while [ "$(started "$OWNER")" = "$SINCE" ]; do
  sleep 0.5
done
[ -d "$DIR" ] || exit 0
"$HARNESS_DIR/harness-down.sh" "$DIR" >/dev/null 2>&1
[ -e "$DIR/.remove-with-owner" ] && rm -rf "$DIR"
exit 0
