#!/bin/bash
# ircd-down.sh DIR — stop the InspIRCd started by ircd-up.sh DIR (by its recorded pid).
# Env SIGNAL=KILL stops it without letting it say goodbye to its clients.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
DIR="$(existing_dir "${1:-}")" || exit 0
stop_pid "$DIR/ircd.pid" inspircd "${SIGNAL:-TERM}"
