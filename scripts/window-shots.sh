#!/usr/bin/env bash
# Pictures of every settings tab and of the diagnostics window, in German and English and at
# 96 and 144 dpi, as PNG files in build/shots/<language>-<dpi>/ (for looking at the layout).
# Uses its own Wine prefix (build/shots-prefix) and a private Xvfb when DISPLAY is unset.
#   MIRU_BUILD_DIR  build root (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${MIRU_BUILD_DIR:-$root/build}

cmake -S "$root" -B "$build/win" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build/win" -j 2 --target window_shots
tool="$build/win/scripts/tools/window_shots.exe"

source "$root/scripts/wine-prefix.sh"
wine_prefix_use "$build/shots-prefix"

trap wine_stop EXIT
wine_display_start
wine_prefix_ready

for dpi in 96 144; do
    # The screen DPI of the prefix; read when its processes start.
    "$wine" reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f </dev/null >/dev/null 2>&1
    "$wine" reg add 'HKCC\Software\Fonts' /v LogPixels /t REG_DWORD /d "$dpi" /f </dev/null >/dev/null 2>&1
    "$server" -w
    for language in en de; do
        out="$build/shots/$language-$dpi"
        rm -rf "$out"
        mkdir -p "$out"
        locale=C.UTF-8
        [ "$language" = de ] && locale=de_DE.UTF-8
        LC_ALL=$locale "$wine" "$tool" "Z:${out//\//\\}" </dev/null \
            >/dev/null 2>&1 || echo "window_shots failed for $language-$dpi" >&2
        for picture in "$out"/*.bmp; do
            [ -e "$picture" ] || continue
            convert "$picture" "${picture%.bmp}.png" && rm "$picture"
        done
        echo "$out: $(ls "$out" | tr '\n' ' ')"
    done
    "$server" -w
done
