# Shared by fuzz-smoke.sh and fuzz-campaign.sh (sourced): builds the libFuzzer targets with
# clang in $KX_FUZZ_BUILD (default build-fuzz/), prepares a working corpus per target from the
# generated seeds and the committed regression inputs, and clears scratch folders left behind
# by fuzz processes that died.
KX_FUZZ_TARGETS=(fuzz_engine_test_mode fuzz_engine_extract fuzz_inflate)
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
build=${KX_FUZZ_BUILD:-$root/build-fuzz}

kx_fuzz_build() {
  export CCACHE_BASEDIR=$root  # the compiler cache sees paths below the checkout as relative
  CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DKX_FUZZ=ON \
    -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  cmake --build "$build" -j"${KX_JOBS:-2}" --target "${KX_FUZZ_TARGETS[@]}"
}

kx_fuzz_corpus() {  # prints the working corpus folder of a target
  local target=$1
  if [ ! -d "$build/fuzz-seeds/$target" ]; then
    "$root/scripts/make-fuzz-seeds.sh" "$build/fuzz-seeds" >/dev/null
  fi
  mkdir -p "$build/fuzz-corpus/$target" "$build/fuzz-artifacts"
  cp -n "$build/fuzz-seeds/$target"/* "$build/fuzz-corpus/$target/" 2>/dev/null || true
  echo "$build/fuzz-corpus/$target"
}

kx_fuzz_clear_scratch() {
  local folder pid
  for folder in /dev/shm/kxfuzz-* /tmp/kxfuzz-*; do
    [ -d "$folder" ] || continue
    pid=${folder##*-}
    kill -0 "$pid" 2>/dev/null || rm -rf "$folder"
  done
}
