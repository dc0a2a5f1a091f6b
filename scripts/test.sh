#!/usr/bin/env bash
# Every test: installs what is needed, builds both sides, runs the native tests, then the
# Windows tests under Wine (private prefix and display, in a time zone half an hour off UTC) and
# the headless demo installation, while the fuzzing smoke runs build and run beside them (most
# of a Wine test's time is spent waiting for windows, not computing). Fails when any fails.
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
bash scripts/build.sh

mkdir -p build
fuzz_log=build/fuzz-smoke.log
# A session of its own, so that an interrupted run stops the fuzzers too.
setsid scripts/fuzz-smoke.sh >"$fuzz_log" 2>&1 &
fuzz_pid=$!
trap 'kill -- -"$fuzz_pid" 2>/dev/null || true' EXIT

status=0
echo "== native tests =="
ctest --test-dir build --output-on-failure -j2 || status=1

echo "== Windows tests under Wine =="
export KX_WINE_ROOT=$PWD/build-win/wine
scripts/with-wine.sh ctest --test-dir build-win --output-on-failure -j2 || status=1

echo "== the demo installation, headless =="
# The main job must keep working: it runs as the user sees it, its output shown when it fails.
DISPLAY= KX_DEMO_OUT=$PWD/build-win/demo-out bash scripts/demo.sh >build-win/demo.log 2>&1 ||
  { cat build-win/demo.log; status=1; }
grep "^The installation" build-win/demo.log || true

echo "== fuzzing smoke runs =="
wait "$fuzz_pid" || status=1
trap - EXIT
cat "$fuzz_log"
exit $status
