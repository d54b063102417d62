#!/bin/bash
# harness-down.sh DIR — stop everything the scripts started in DIR: TLS endpoints, proxies,
# services, the ircd, each by its recorded pid. Safe to run when nothing runs.
set -uo pipefail
. "$(dirname "$0")/lib.sh"
DIR="$(existing_dir "${1:-}")" || exit 0
"$HARNESS_DIR/tls-down.sh" "$DIR"
"$HARNESS_DIR/proxy-down.sh" "$DIR"
# Services first: they would keep retrying a link to an ircd that is gone.
[ -x "$HARNESS_DIR/services-down.sh" ] && "$HARNESS_DIR/services-down.sh" "$DIR"
"$HARNESS_DIR/ircd-down.sh" "$DIR"
exit 0
