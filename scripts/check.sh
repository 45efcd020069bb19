#!/bin/sh
# Installs what is missing, builds every configuration (native, asan, win32,
# win64) and runs every test. Exits non-zero when anything fails.
set -e
cd "$(dirname "$0")/.."
scripts/install-deps.sh
for preset in native asan win32 win64; do
  echo "=== $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset"
  ctest --preset "$preset"
done
