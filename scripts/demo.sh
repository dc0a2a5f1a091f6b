#!/usr/bin/env bash
# The main job: builds everything, builds the demo installation medium with kxmedium, and runs
# SETUP.EXE from it under Wine. With a reachable display ($DISPLAY) it is the real, interactive
# setup. Without one it runs headless in a private Wine session (scripts/with-wine.sh), where
# kxdemo plays the user: accepts the proposed folder, lets the installation run, closes the box
# of the started main program, saves screenshots of the three windows, lists the installed
# files, and fails unless the installation really happened.
# Outputs in demo-out/ (or $KX_DEMO_OUT): medium/, screenshots/, installed/ (a copy of the
# installed folder). $KX_NATIVE_BUILD and $KX_WINDOWS_BUILD name other build folders.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD
native=${KX_NATIVE_BUILD:-build}
windows=${KX_WINDOWS_BUILD:-build-win}
out=$(realpath -m "${KX_DEMO_OUT:-$root/demo-out}")
jobs=${KX_JOBS:-2}

bash scripts/install-deps.sh
if [ "$native" = build ] && [ "$windows" = build-win ]; then
  bash scripts/build.sh
else
  cmake -S . -B "$native" -DCMAKE_BUILD_TYPE=Release >/dev/null
  cmake --build "$native" -j"$jobs"
  cmake -S . -B "$windows" -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-w64-mingw32.cmake >/dev/null
  cmake --build "$windows" -j"$jobs"
fi

echo "== SETUP.EXE: $(stat -c %s "$windows/SETUP.EXE") bytes (at most 57344) =="
rm -rf "$out/medium" "$out/screenshots" "$out/installed"
mkdir -p "$out"
bash scripts/make-demo-medium.sh "$native" "$windows" "$out/medium"

if [ -n "${DISPLAY:-}" ] && xdpyinfo >/dev/null 2>&1; then
  echo "== interactive demo on display $DISPLAY =="
  # A fresh 32-bit prefix, so that the setup meets a machine without Karvex.
  export WINEPREFIX=$out/wine-interactive WINEARCH=win32 WINEDEBUG=-all
  export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
  rm -rf "$WINEPREFIX"
  wineboot -i >/dev/null 2>&1
  wineserver -w
  echo "Running SETUP.EXE; the demo ends when the setup and the program it starts have ended."
  (cd "$out/medium" && wine SETUP.EXE) || true
  wineserver -w
  installed="$WINEPREFIX/drive_c/Program Files/Karvex"
  if [ -d "$installed" ]; then
    echo "Installed into C:\\Program Files\\Karvex ($installed):"
    ls -l "$installed"
  else
    echo "Nothing was installed into C:\\Program Files\\Karvex (another folder, or cancelled)."
  fi
  exit 0
fi

echo "== headless demo in a private Wine session (no display) =="
mkdir -p "$out/screenshots"
export KX_SCREEN_DIR=$out/screenshots
# The session's prefix goes when it ends: the installed folder is copied out before.
scripts/with-wine.sh bash -c '
  status=0
  wine "$1" "$2" || status=$?
  cp -r "$WINEPREFIX/drive_c/Program Files/Karvex" "$3" 2>/dev/null || true
  exit $status' _ "$windows/kxdemo.exe" "$out/medium" "$out/installed"
echo "Screenshots in $out/screenshots; the installed files are copied to $out/installed."
