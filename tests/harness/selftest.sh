#!/bin/bash
# selftest.sh [DIR] — the harness on its own: everything up in DIR (a new temporary
# directory by default), probe.py's checks from the outside, everything down again
# (also when a step fails). Exit status 0 only if every check passed.
set -uo pipefail
. "$(dirname "$0")/lib.sh"
if [ -n "${1:-}" ]; then DIR="$(need_dir "$1")"; OWN=0; else DIR="$(mktemp -d)"; OWN=1; fi
cleanup() {
  "$HARNESS_DIR/harness-down.sh" "$DIR" >/dev/null
  [ "$OWN" = 1 ] && rm -rf "$DIR"
}
trap cleanup EXIT
start=$SECONDS
"$HARNESS_DIR/ircd-up.sh" "$DIR" || exit 1
"$HARNESS_DIR/proxy-up.sh" "$DIR" || exit 1
"$HARNESS_DIR/tls-up.sh" "$DIR" trusted selfsigned expired wronghost ipsan cnonly wildcard tls11 \
  clientcert silent || exit 1
echo "up in $((SECONDS - start)) s"
"$PY" "$HARNESS_DIR/probe.py" "$DIR"
