#!/usr/bin/env bash
# Runs one command inside a private Wine session: a fresh 32-bit prefix copied from a template
# made once, a private Xvfb display, and a persistent wineserver. Stops the wineserver and the
# display it started, whatever the command's outcome. Usage: scripts/with-wine.sh CMD [ARGS...]
# The command sees WINEPREFIX, DISPLAY and KX_SCREEN_DIR (a folder for screenshots).
set -euo pipefail

root=${KX_WINE_ROOT:-$(pwd)/.wine}
template=$root/template
session=$(mktemp -d "$root/session.XXXXXX" 2>/dev/null || { mkdir -p "$root"; mktemp -d "$root/session.XXXXXX"; })

# Not UTC, and half an hour off it: every local/universal time conversion shows.
export WINEARCH=win32 WINEDEBUG=-all TZ=Asia/Kolkata
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export HOME=$root/home
mkdir -p "$HOME"

xvfb_pid=""
cleanup() {
  local status=$?
  if [ -n "${WINEPREFIX:-}" ] && [ -d "${WINEPREFIX:-}" ]; then
    wineserver -k >/dev/null 2>&1 || true
    wineserver -w >/dev/null 2>&1 || true
  fi
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
  rm -rf "$session"
  exit $status
}
trap cleanup EXIT INT TERM

# A private display, numbered by Xvfb itself.
Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp -noreset 5>"$session/display" \
  >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 200); do
  [ -s "$session/display" ] && break
  kill -0 "$xvfb_pid" 2>/dev/null || { echo "with-wine: Xvfb did not start" >&2; exit 1; }
  sleep 0.05
done
export DISPLAY=":$(tr -d '\n' <"$session/display")"

# The template prefix is booted once; every session starts from a copy of it, so that what one
# run writes into the registry or win.ini never reaches the next.
if [ ! -f "$template/.kx-ready" ]; then
  rm -rf "$template"
  WINEPREFIX=$template wineboot -i >/dev/null 2>&1
  # Without a window manager Wine waits for every hidden captioned window; unmanaged it does not.
  WINEPREFIX=$template wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f \
    >/dev/null 2>&1
  WINEPREFIX=$template wineserver -w
  touch "$template/.kx-ready"
fi
cp -a "$template" "$session/prefix"
export WINEPREFIX=$session/prefix

# A persistent wineserver and Wine's background processes, started once for the whole command.
wineserver -p >/dev/null 2>&1 || true
wine cmd /c exit 0 </dev/null >/dev/null 2>&1 || true

export KX_SCREEN_DIR=${KX_SCREEN_DIR:-$root/screens}
mkdir -p "$KX_SCREEN_DIR"
"$@"
