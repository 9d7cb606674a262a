#!/bin/sh
# Creates the build tree's private Wine prefix once and keeps it warm for a test run.
#   wine-prefix.sh up   <prefix> <keep_warm.exe> <registry file>
#   wine-prefix.sh down <prefix>
# "up" leaves a persistent wineserver and a tiny resident program behind so that every
# later launch in the run costs about 0.1 s instead of a cold start; "down" ends both.
set -eu
cmd=$1
prefix=$2
export WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=d;mshtml=d;winedbg.exe=d"
wine=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver

case "$cmd" in
up)
    keep_warm=$3
    reg=$4
    # Leftovers of an earlier run that did not clean up would hold the prefix.
    $server -k </dev/null >/dev/null 2>&1 || true
    $server -w </dev/null >/dev/null 2>&1 || true
    if [ ! -f "$prefix/.miru-ready" ]; then
        rm -rf "$prefix"
        mkdir -p "$prefix"
        $wine wineboot -i </dev/null >/dev/null 2>&1 || true
        $server -w </dev/null >/dev/null 2>&1
        $wine reg import "$reg" </dev/null >/dev/null 2>&1
        cp /usr/share/wine/fonts/tahoma.ttf "$prefix/drive_c/windows/Fonts/" 2>/dev/null || true
        $server -w </dev/null >/dev/null 2>&1
        touch "$prefix/.miru-ready"
    fi
    # Every process started here is detached from ctest's pipes, or ctest would wait for it.
    $server -p </dev/null >/dev/null 2>&1
    setsid $wine "$keep_warm" </dev/null >/dev/null 2>&1 &
    # The first launch pays the start-up cost here rather than in the first test.
    i=0
    while [ $i -lt 100 ]; do
        if $wine "$keep_warm" --ping </dev/null >/dev/null 2>&1; then exit 0; fi
        sleep 0.2
        i=$((i + 1))
    done
    echo "keep-warm program did not come up" >&2
    exit 1
    ;;
down)
    $server -k </dev/null >/dev/null 2>&1 || true
    $server -w </dev/null >/dev/null 2>&1 || true
    ;;
*)
    echo "usage: $0 up|down <prefix> ..." >&2
    exit 2
    ;;
esac
