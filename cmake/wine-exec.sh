#!/bin/sh
# Runs a Windows test program under Wine. The Wine session (prefix, display, wineserver) is
# normally prepared by scripts/with-wine.sh; these defaults keep a lone run quiet.
: "${WINEDEBUG:=-all}"
: "${WINEDLLOVERRIDES:=mscoree,mshtml=;winemenubuilder.exe=d}"
: "${TZ:=UTC}"
export WINEDEBUG WINEDLLOVERRIDES TZ
exec wine "$@"
