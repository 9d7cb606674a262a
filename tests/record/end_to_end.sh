#!/bin/bash
# A recording and photos made through the real MI-RU.exe with the virtual headset, as a user
# makes them (R, about ten seconds, R; Space), then checked with ffprobe/ffmpeg and ImageMagick
# (check_recording.py). A second, shorter run at the high resolution.
# Runs in the build tree's test prefix (serially: the app is one instance per prefix); the
# app's settings and log go to a folder of this test.
# Usage: end_to_end.sh <prefix> <work folder> <MI-RU.exe> <miru_window.exe>
set -euo pipefail
prefix=$1 work=$2 exe=$3 helper=$4
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=d;mshtml=d;winedbg.exe=d"
wine=/usr/lib/wine/wine64

rm -rf "$work"
mkdir -p "$work/roaming/MI-RU" "$work/rec"
winpath() { printf 'Z:%s' "$1" | tr '/' '\\'; }
shell_folders='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders'
restore() { "$wine" reg add "$shell_folders" /v AppData /t REG_EXPAND_SZ /d '%USERPROFILE%\AppData\Roaming' /f \
    </dev/null >/dev/null 2>&1 || true; }
app=""
# A run that fails half way must not leave its app behind: the next tests of the prefix would
# find its window.
stop_app() {
    if [ -n "$app" ] && kill -0 "$app" 2>/dev/null; then
        "$wine" "$helper" close </dev/null >/dev/null 2>&1 || true
        for i in $(seq 1 100); do kill -0 "$app" 2>/dev/null || break; sleep 0.1; done
        kill -9 "$app" 2>/dev/null || true
    fi
}
trap 'status=$?; [ $status -ne 0 ] && echo "end_to_end.sh failed (exit $status) at line $LINENO" >&2; stop_app; restore' EXIT
"$wine" reg add "$shell_folders" /v AppData /t REG_EXPAND_SZ /d "$(winpath "$work/roaming")" /f </dev/null >/dev/null 2>&1
log="$work/roaming/MI-RU/miru-diagnose.log"

# settings.ini as the app writes it: UTF-16LE with BOM, CRLF.
write_settings() {
    { printf '\xff\xfe'; printf '%s\r\n' '[MIRU]' didCompleteOnboarding=1 watermarkOn=1 'praxisText=Praxis Dr. Weiss' \
        "resolutionHigh=$1" "recordingFolder=$(winpath "$work/rec")" \
        'micDeviceID={0.0.1.00000000}.{8d2f6a3e-5b1c-4e7a-9f0d-3c6b2a1e4f57}' | iconv -f UTF-8 -t UTF-16LE; } \
        >"$work/roaming/MI-RU/settings.ini"
}

lines_before=0
wait_for_log() {
    local pattern=$1 seconds=$2 i=0
    while [ $i -lt $((seconds * 10)) ]; do
        if tail -n +"$((lines_before + 1))" "$log" 2>/dev/null | grep -qE "$pattern"; then return 0; fi
        sleep 0.1
        i=$((i + 1))
    done
    echo "no log line matching \"$pattern\" within $seconds s" >&2
    return 1
}

# One app run: record `seconds`, press Space, close. Leaves run<N>.log and run<N>.times.
run_app() {
    local n=$1 devices=$2 seconds=$3
    [ -f "$log" ] && lines_before=$(wc -l <"$log") || lines_before=0
    MIRU_VIRTUAL_DEVICES=$devices "$wine" "$exe" </dev/null >/dev/null 2>&1 &
    app=$!
    "$wine" "$helper" wait 60 </dev/null >/dev/null || { echo "run $n: the main window did not appear" >&2; return 1; }
    wait_for_log "Kameras live" 60
    sleep 1
    local start stop
    start=$(date +%s.%N)
    "$wine" "$helper" key R </dev/null
    wait_for_log "Aufnahme läuft" 30
    sleep "$seconds"
    "$wine" "$helper" key R </dev/null
    stop=$(date +%s.%N)
    wait_for_log "Aufnahme gespeichert|Aufnahme fehlgeschlagen" 120
    "$wine" "$helper" key space </dev/null
    wait_for_log "Fotos gespeichert|Keine Fotos gespeichert" 60
    "$wine" "$helper" close </dev/null
    wait "$app" || { echo "run $n: MI-RU ended with exit code $?" >&2; return 1; }
    app=""
    tail -n +"$((lines_before + 1))" "$log" | tr -d '\r' >"$work/run$n.log"
    echo "$start $stop" >"$work/run$n.times"
}

write_settings 0
run_app 1 default 10
mkdir -p "$work/rec1" && mv "$work/rec/"* "$work/rec1/"
write_settings 1
run_app 2 default 3
mv "$work/rec" "$work/rec2"

python3 "$here/check_recording.py" "$work/run1.log" "$work/run1.times" "$work/rec1" 1920 1080 3
python3 "$here/check_recording.py" "$work/run2.log" "$work/run2.times" "$work/rec2" 2560 1440 3
