#!/bin/bash
# tls-down.sh DIR [KIND...] — stop the TLS endpoints started by tls-up.sh DIR (all of them
# without KINDs), each by its recorded pid.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
DIR="$(existing_dir "${1:-}")" || exit 0
shift
R="$DIR/tls-run"
kinds=("$@")
if [ ${#kinds[@]} -eq 0 ]; then
  for f in "$R"/*.pid; do
    [ -e "$f" ] && kinds+=("$(basename "$f" .pid)")
  done
  [ -n "$(port_of "$DIR" tls-silent)" ] && kinds+=(silent)
fi
for kind in "${kinds[@]}"; do
  if [ "$kind" = silent ]; then
    "$HARNESS_DIR/proxy-down.sh" "$DIR" silent
    rm -f "$DIR/ports/tls-silent"
  else
    stop_pid "$R/$kind.pid" openssl
  fi
done
