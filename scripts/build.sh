#!/usr/bin/env bash
# Builds both sides: the native build in build/ and the Windows build in build-win/.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=${KX_JOBS:-2}
# The compiler cache sees paths below the checkout as relative: another clone hits it too.
export CCACHE_BASEDIR=$PWD
cmake -S . -B build -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j"$jobs"
cmake -S . -B build-win -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake >/dev/null
cmake --build build-win -j"$jobs"
