#!/bin/bash
# proxy-down.sh DIR [NAME...] — stop the proxies started by proxy-up.sh DIR (all of them
# without NAMEs), each by its recorded pid.
set -euo pipefail
. "$(dirname "$0")/lib.sh"
DIR="$(existing_dir "${1:-}")" || exit 0
shift
D="$DIR/proxy"
[ -d "$D" ] || exit 0
names=("$@")
if [ ${#names[@]} -eq 0 ]; then
  for f in "$D"/*.comm; do
    [ -e "$f" ] && names+=("$(basename "$f" .comm)")
  done
fi
for name in "${names[@]}"; do
  [ -s "$D/$name.comm" ] || { echo "$name: not running"; continue; }
  comm="$(cat "$D/$name.comm")"
  # danted's mother leaves its worker processes to end on their own; wait for
  # them too, so that nothing of ours is left when this returns.
  children=()
  if [ "$comm" = danted ] && pid_alive "$D/$name.pid" danted; then
    read -r -a children < <(cat /proc/"$(cat "$D/$name.pid")"/task/*/children 2>/dev/null | tr '\n' ' ') || true
  fi
  stop_pid "$D/$name.pid" "$comm"
  for child in "${children[@]}"; do
    for ((i = 0; i < 50; i++)); do
      proc_running "$child" || break
      sleep 0.1
    done
    if proc_running "$child" && [ "$(cat /proc/"$child"/comm 2>/dev/null)" = danted ]; then
      kill -KILL "$child" 2>/dev/null
    fi
  done
  rm -f "$D/$name.comm"
done
