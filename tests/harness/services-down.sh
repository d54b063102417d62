#!/bin/bash
# services-down.sh DIR — stop the Atheme of services-up.sh DIR and its guard, then the
# ircd (each by its recorded pid). Safe to run when nothing runs.
set -uo pipefail
. "$(dirname "$0")/lib.sh"
DIR="$(existing_dir "${1:-}")" || exit 0
if pid_alive "$DIR/atheme-guard.pid" bash; then
  kill "$(cat "$DIR/atheme-guard.pid")" 2>/dev/null
fi
rm -f "$DIR/atheme-guard.pid"
stop_pid "$DIR/atheme.pid" atheme-services
"$HARNESS_DIR/ircd-down.sh" "$DIR"
exit 0
