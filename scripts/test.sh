#!/usr/bin/env bash
# Every test: installs what is needed, builds both sides, runs the native tests, then the
# Windows tests under Wine (private prefix and display), then short fuzzing smoke runs.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh

echo "== native tests =="
ctest --test-dir build --output-on-failure -j2

echo "== Windows tests under Wine =="
export KX_WINE_ROOT=$PWD/build-win/wine
export KX_SCREEN_DIR=$PWD/build-win/screenshots
rm -rf "$KX_SCREEN_DIR"
scripts/with-wine.sh ctest --test-dir build-win --output-on-failure
echo "Screenshots of the windows under test: $KX_SCREEN_DIR"

if [ -x scripts/fuzz-smoke.sh ]; then
  echo "== fuzzing smoke runs =="
  scripts/fuzz-smoke.sh
fi
