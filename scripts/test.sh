#!/usr/bin/env bash
# Installs what is missing, builds, and runs the whole test suite:
#   0. the layout check of the sources (clang-format),
#   1. the unit tests again under AddressSanitizer + UndefinedBehaviorSanitizer,
#   2. every libFuzzer target for a short time over its seed corpus,
#   3. the main suite: unit, integration and GUI tests (under Xvfb).
# Ends with CTest's summary of the main suite. Every build treats warnings
# as errors (LUMENWICK_WERROR).
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
python3 scripts/check-layers.py

echo "== source layout (clang-format)"
./scripts/check-format.sh

jobs=$(nproc 2>/dev/null || echo 2)
export CTEST_OUTPUT_ON_FAILURE=1

echo "== sanitizer build (unit tests under ASan+UBSan)"
cmake -S . -B build-asan -G Ninja -DCMAKE_BUILD_TYPE=Debug -DLUMENWICK_SANITIZE=ON -DLUMENWICK_WERROR=ON \
  -DLUMENWICK_BUILD_GTK=OFF >/dev/null
ninja -C build-asan -j"$jobs"
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build-asan -L unit -j"$jobs" --timeout 300

echo "== fuzz targets (clang, libFuzzer)"
CC=clang CXX=clang++ cmake -S . -B build-fuzz -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMENWICK_WERROR=ON \
  -DLUMENWICK_BUILD_GTK=OFF -DLUMENWICK_BUILD_TESTS=OFF -DLUMENWICK_BUILD_FUZZ=ON >/dev/null
ninja -C build-fuzz -j"$jobs"
ctest --test-dir build-fuzz -L fuzz --timeout 300

echo "== main suite"
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMENWICK_WERROR=ON >/dev/null
ninja -C build -j"$jobs"
ctest --test-dir build -j"$jobs" --timeout 600
