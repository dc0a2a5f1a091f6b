#!/bin/sh
# Makes a payload archive the way other tools would: Info-ZIP zip, the setup's built-in
# password (its (c) sign is the single byte 0xA9), the staged main program and two texts.
# Usage: make-infozip-payload.sh FOLDER MAIN_PROGRAM TEXT...  (writes FOLDER/setup.kx)
set -e
folder=$1
main=$2
shift 2
rm -rf "$folder/payload" "$folder/setup.kx"
mkdir -p "$folder/payload"
cp "$main" "$folder/payload/KARVEX32.EX_"
cp "$@" "$folder/payload/"
password=$(printf 'Trademark\251 1990-1996 Quillon Data Works, Ltd')
cd "$folder/payload"
zip -q -X -P "$password" ../setup.kx *
