#!/usr/bin/env bash
# Short fuzzing smoke runs, part of the test command: builds the libFuzzer targets with clang
# (ASan + UBSan) and runs each for a fixed time (KX_FUZZ_SECONDS, default 10) on its seeds and
# regression inputs. Fails when any target finds a crash, a leak, a hang or a broken check;
# the input is left in $KX_FUZZ_BUILD/fuzz-artifacts/.
set -euo pipefail
source "$(dirname "$0")/fuzz-common.sh"
seconds=${KX_FUZZ_SECONDS:-10}
kx_fuzz_build
kx_fuzz_clear_scratch
failed=()
for target in "${KX_FUZZ_TARGETS[@]}"; do
  corpus=$(kx_fuzz_corpus "$target")
  log=$build/fuzz-artifacts/$target-smoke.log
  echo "fuzz-smoke: $target for ${seconds}s"
  if "$build/fuzz/$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
      -print_final_stats=1 -artifact_prefix="$build/fuzz-artifacts/$target-" \
      "$corpus" "$root/tests/fuzz/regressions/$target" >"$log" 2>&1; then
    grep -E '^stat::number_of_executed_units' "$log" | sed "s/^/  /" || true
  else
    echo "fuzz-smoke: $target FAILED, see $log"
    grep -E 'ERROR|check failed|runtime error|Test unit written' "$log" | head -5 | sed "s/^/  /"
    failed+=("$target")
  fi
done
kx_fuzz_clear_scratch
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz-smoke: failures in ${failed[*]}"
  exit 1
fi
echo "fuzz-smoke: all targets ran cleanly"
