#!/usr/bin/env bash
# Installs what is missing, builds, and starts the GTK client.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
ninja -C build lumenwick
exec ./build/src/fe-gtk/lumenwick "$@"
