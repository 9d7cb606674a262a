# Sourced by the scripts that run MI-RU's programs under Wine in a prefix of their own (the
# tests use cmake/wine-run.sh with the build tree's prefix). Needs $root (the source tree).
#   wine_prefix_use DIR  exports the Wine environment for the prefix DIR (64-bit, quiet, no
#                        Mono or Gecko prompts, no debugger)
#   wine_prefix_ready    sets that prefix up once like the test prefix (font replacements, no
#                        crash dialog); the marker file .miru-ready says it is done
#   wine_display_start   starts a private Xvfb when DISPLAY is unset; its process id is then in
#                        $xvfb_pid (empty otherwise)
#   wine_stop            ends the prefix's Wine processes and that Xvfb (for an exit trap)
wine=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver

wine_prefix_use() {
    export WINEPREFIX="$1" WINEARCH=win64 WINEDEBUG=-all
    export WINEDLLOVERRIDES="mscoree=d;mshtml=d;winedbg.exe=d"
}

wine_prefix_ready() {
    [ -f "$WINEPREFIX/.miru-ready" ] && return 0
    echo "Setting up the Wine prefix $WINEPREFIX"
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    "$wine" wineboot -i </dev/null >/dev/null 2>&1 || true
    "$server" -w
    "$wine" reg import "$root/cmake/wine-prefix.reg" </dev/null >/dev/null 2>&1
    cp /usr/share/wine/fonts/tahoma.ttf "$WINEPREFIX/drive_c/windows/Fonts/" 2>/dev/null || true
    "$server" -w
    touch "$WINEPREFIX/.miru-ready"
}

xvfb_pid=""
wine_display_start() {
    [ -n "${DISPLAY:-}" ] && return 0
    source "$root/scripts/xvfb.sh"
    xvfb_start
    xvfb_pid=$XVFB_PID
}

wine_stop() {
    "$server" -k >/dev/null 2>&1 || true
    if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
