#!/usr/bin/env bash
# Builds the demo installation medium with kxmedium and verifies it: SETUP.EXE from the
# Windows build, the companion texts of demo/companions, and as payload the files of
# demo/payload plus the stand-in main program KARVEX32.EXE from the Windows build.
# Usage: scripts/make-demo-medium.sh NATIVE_BUILD WINDOWS_BUILD [MEDIUM]  (default demo-out/medium)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
if [ $# -lt 2 ] || [ $# -gt 3 ]; then
  echo "usage: $0 NATIVE_BUILD WINDOWS_BUILD [MEDIUM]" >&2
  exit 1
fi
native=$(cd "$1" && pwd)
win=$(cd "$2" && pwd)
medium=${3:-$root/demo-out/medium}

for f in "$native/kxmedium" "$win/SETUP.EXE" "$win/KARVEX32.EXE"; do
  [ -f "$f" ] || { echo "make-demo-medium: $f is missing; build both sides first" >&2; exit 1; }
done

payload=$(mktemp -d)
trap 'rm -rf "$payload"' EXIT
cp -p "$root"/demo/payload/* "$payload"/
cp -p "$win/KARVEX32.EXE" "$payload"/

"$native/kxmedium" build --setup "$win/SETUP.EXE" --companions "$root/demo/companions" \
  --payload "$payload" --out "$medium"
"$native/kxmedium" verify "$medium"
