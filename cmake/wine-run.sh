#!/bin/sh
# Runs one Windows executable under Wine in the build tree's private prefix.
# Usage: wine-run.sh <prefix> <program.exe> [arguments...]
prefix=$1
shift
export WINEPREFIX="$prefix"
export WINEARCH=win64
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=d;mshtml=d;winedbg.exe=d"
exec /usr/lib/wine/wine64 "$@"
