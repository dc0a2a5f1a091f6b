#!/usr/bin/env bash
# The long fuzzing campaign: each target for SECONDS (default 1800) in fork mode, one
# process at a time unless KX_FUZZ_PARALLEL says more, going on past crashes so that every
# fault of the run is collected. Corpora grow in $KX_FUZZ_BUILD/fuzz-corpus/, crash inputs
# land in $KX_FUZZ_BUILD/fuzz-artifacts/, one log per target in $KX_FUZZ_BUILD/fuzz-campaign/.
#   scripts/fuzz-campaign.sh [SECONDS [TARGET ...]]
set -euo pipefail
source "$(dirname "$0")/fuzz-common.sh"
seconds=${1:-1800}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=("${KX_FUZZ_TARGETS[@]}")
parallel=${KX_FUZZ_PARALLEL:-1}
kx_fuzz_build
kx_fuzz_clear_scratch
mkdir -p "$build/fuzz-campaign"

run_one() {
  local target=$1 corpus max_len=8192
  corpus=$(kx_fuzz_corpus "$target")
  case $target in fuzz_engine_*) max_len=65536 ;; esac
  echo "fuzz-campaign: $target for ${seconds}s from $(date -u +%H:%M:%S) UTC"
  "$build/fuzz/$target" -fork=1 -ignore_crashes=1 -ignore_timeouts=1 -ignore_ooms=1 \
    -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=$max_len \
    -artifact_prefix="$build/fuzz-artifacts/$target-" \
    "$corpus" "$root/tests/fuzz/regressions/$target" \
    >"$build/fuzz-campaign/$target.log" 2>&1 || true
  local last
  last=$(grep -E '^#[0-9]+' "$build/fuzz-campaign/$target.log" | tail -1)
  echo "fuzz-campaign: $target done at $(date -u +%H:%M:%S) UTC: $last"
}

running=0
for target in "${targets[@]}"; do
  run_one "$target" &
  running=$((running + 1))
  if [ "$running" -ge "$parallel" ]; then
    wait -n
    running=$((running - 1))
  fi
done
wait
kx_fuzz_clear_scratch
echo "fuzz-campaign: crash inputs:"
ls "$build/fuzz-artifacts" | grep -vE '\.log$' | sed 's/^/  /' || echo "  none"
