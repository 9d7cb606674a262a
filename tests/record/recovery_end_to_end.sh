#!/usr/bin/env bash
# A recording survives a killed process, and one survives a log-off, through the real MI-RU.exe
# with the virtual headset:
#   1. R, about ten seconds, TerminateProcess (no clean-up at all);
#   2. the next start moves the marked leftover into the recording folder as
#      "…-wiederhergestellt.mp4", logs it and tells the user; ffprobe reads the file and its
#      duration is at least the recorded time minus one fragment (60 frames at 30/s) and minus
#      what the sink writer had taken but not yet encoded when the process died (the recorder
#      keeps that below one second; here the substitute's JPEG encoder is the slow part) and
#      minus the frame being composed then (one interval between written frames: under Wine the
#      composition is slow, more so on a busy machine);
#   3. a further start recovers nothing;
#   4. R, a few seconds, then WM_QUERYENDSESSION/WM_ENDSESSION as at a log-off: the recording is
#      saved before WM_ENDSESSION returns.
# Usage: recovery_end_to_end.sh <wine prefix> <work folder> <MI-RU.exe> <miru_window.exe> <app_driver.exe>
set -euo pipefail
prefix=$1 work=$2 exe=$3 helper=$4 driver=$5
export WINEPREFIX=$prefix WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=d;mshtml=d;winedbg.exe=d"
export MIRU_VIRTUAL_DEVICES=default LC_ALL=C TZ=UTC
wine=/usr/lib/wine/wine64
fragment=2.0  # seconds: the key-frame spacing of 60 frames at 30 frames per second
backlog=1.0   # seconds: the most video the recorder leaves waiting inside the sink writer

fail() { echo "FAIL: $*" >&2; exit 1; }
winpath() { echo "Z:${1//\//\\}"; }

rm -rf "$work"
mkdir -p "$work/roaming/MI-RU" "$work/local" "$work/recordings"
log=$work/roaming/MI-RU/miru-diagnose.log
tmp=$work/local/MI-RU/tmp
recordings=$work/recordings

# The app's roaming and local application data folders point into the work folder while the
# test runs (prefix-wide, so the test runs alone), and back afterwards.
key='HKCU\Software\Microsoft\Windows\CurrentVersion\Explorer\User Shell Folders'
old_value() {
    "$wine" reg query "$key" /v "$1" </dev/null 2>/dev/null | tr -d '\r' |
        sed -n "s/^ *$1 *REG_EXPAND_SZ *//p" | head -1
}
old_roaming=$(old_value AppData)
old_local=$(old_value 'Local AppData')
restore() {
    "$wine" reg add "$key" /v AppData /t REG_EXPAND_SZ /d "${old_roaming:-%USERPROFILE%\\AppData\\Roaming}" /f \
        </dev/null >/dev/null 2>&1 || true
    "$wine" reg add "$key" /v 'Local AppData' /t REG_EXPAND_SZ /d "${old_local:-%USERPROFILE%\\AppData\\Local}" /f \
        </dev/null >/dev/null 2>&1 || true
    if [ -n "${app:-}" ] && kill -0 "$app" 2>/dev/null; then kill "$app" 2>/dev/null || true; fi
}
trap restore EXIT
"$wine" reg add "$key" /v AppData /t REG_EXPAND_SZ /d "$(winpath "$work/roaming")" /f </dev/null >/dev/null
"$wine" reg add "$key" /v 'Local AppData' /t REG_EXPAND_SZ /d "$(winpath "$work/local")" /f </dev/null >/dev/null

# Settings of a finished first run: the recording folder and the virtual headset's microphone.
{
    printf '\xff\xfe'
    printf '[MIRU]\r\ndidCompleteOnboarding=1\r\nrecordingFolder=%s\r\nmicDeviceID=%s\r\n' \
        "$(winpath "$recordings")" '{0.0.1.00000000}.{8d2f6a3e-5b1c-4e7a-9f0d-3c6b2a1e4f57}' |
        iconv -f UTF-8 -t UTF-16LE
} >"$work/roaming/MI-RU/settings.ini"

drive() { "$wine" "$driver" "$@" </dev/null | tr -d '\r'; }
window() { "$wine" "$helper" "$@" </dev/null >/dev/null; }
# WM_CLOSE, then the app's end (it ends only after a recovery run under way has ended).
close_app() {
    window close || fail "the main window is gone"
    wait "$app" || true
}
count() {
    local n
    n=$(grep -cF -- "$1" "$log" 2>/dev/null) || true
    echo "${n:-0}"
}
start_app() {
    live_before=$(count "Kameras live")
    "$wine" "$exe" </dev/null >/dev/null 2>&1 &
    app=$!
    window wait 60 || fail "the main window did not appear"
}
# R once the cameras are live, again only when the first press came too early (the key does
# nothing before then; a second press while the start is under way would stop it).
start_recording() {
    local before
    before=$(count "Aufnahme läuft")
    for _ in $(seq 1 600); do
        [ "$(count "Kameras live")" -gt "$live_before" ] && break
        sleep 0.1
    done
    for _ in 1 2 3; do
        window key R
        for _ in $(seq 1 300); do
            [ "$(count "Aufnahme läuft")" -gt "$before" ] && return 0
            sleep 0.1
        done
    done
    fail "the recording did not start"
}
duration_of() {
    ffprobe -v error -show_entries format=duration -of default=nw=1:nk=1 "$1"
}

echo "== 1. record about ten seconds, then kill the process"
start_app
start_recording
# The recorded time starts with the first frame, which a busy machine may take seconds to
# compose. The file grows first when its first fragment is complete, at least one fragment
# length after that frame, so counting from one fragment length before the growth never
# shortens the recorded time.
leftover=$(ls "$tmp"/miru-*.mp4 | head -1)
head_bytes=$(stat -c %s "$leftover")
for _ in $(seq 1 1200); do
    [ "$(stat -c %s "$leftover")" -gt "$head_bytes" ] && break
    sleep 0.1
done
[ "$(stat -c %s "$leftover")" -gt "$head_bytes" ] || fail "nothing was written in two minutes"
started=$(echo "$(date +%s.%N) - $fragment" | bc -l)
sleep 8
drive kill || fail "TerminateProcess failed"
killed=$(date +%s.%N)
wait "$app" || true
recorded=$(echo "$killed - $started" | bc -l)
ls "$tmp"/miru-*.mp4.recording >/dev/null || fail "no marker beside the leftover in $tmp"
leftover_bytes=$(stat -c %s "$leftover")
echo "leftover $(basename "$leftover"): $leftover_bytes bytes after ${recorded} s"

echo "== 2. the next start recovers it"
lines_before=$(wc -l <"$log")
start_app
message=$(drive dialog 60) || fail "no message for the user"
echo "message to the user: $message"
recovered=$(ls "$recordings"/MI-RU-*-wiederhergestellt.mp4 2>/dev/null | head -1)
[ -n "$recovered" ] || fail "nothing in the recording folder"
grep -qF "$(basename "$recovered")" <<<"$message" || fail "the message does not name the file"
close_app
echo "log lines of the recovering run:"
tail -n +"$((lines_before + 1))" "$log" | grep -E "wiederhergestellt|Unterbrochene|App gestartet" | tr -d '\r'
[ "$(count "EVENT  Unterbrochene Aufnahme wiederhergestellt: $(basename "$recovered")")" -eq 1 ] ||
    fail "the recovery is not logged"
[ "$(stat -c %s "$recovered")" -eq "$leftover_bytes" ] || fail "the recovered file differs from the leftover"
[ -z "$(ls "$tmp" 2>/dev/null)" ] || fail "left in the temporary folder: $(ls "$tmp")"
echo "ffprobe of $(basename "$recovered"):"
ffprobe -v error -show_entries format=format_name,duration,size:stream=index,codec_name,width,height,sample_rate,channels,nb_read_packets \
    -count_packets -of compact "$recovered" || fail "ffprobe cannot read the recovered file"
duration=$(duration_of "$recovered")
gap=$(ffprobe -v error -select_streams v:0 -show_entries packet=pts_time -of csv=p=0 "$recovered" |
    awk 'NR > 1 && $1 - last > gap { gap = $1 - last } { last = $1 } END { printf "%.3f", gap + 0 }')
echo "recorded ${recorded} s, recovered ${duration} s; fragment ${fragment} s, encoder backlog ${backlog} s," \
     "longest interval between frames ${gap} s"
echo "$duration >= $recorded - $fragment - $backlog - $gap" | bc -l | grep -q 1 || fail "the recovered file is too short"

echo "== 3. a further start recovers nothing"
files_before=$(ls "$recordings" | wc -l)
recovered_logged=$(count "Unterbrochene Aufnahme")
start_app
close_app
[ "$(ls "$recordings" | wc -l)" -eq "$files_before" ] || fail "the recording folder changed"
[ "$(count "Unterbrochene Aufnahme")" -eq "$recovered_logged" ] || fail "a second recovery was logged"

echo "== 4. a log-off during a recording saves it"
start_app
start_recording
sleep 4
drive endsession || fail "the session end was not answered"
saved=$(ls "$recordings"/MI-RU-*.mp4 | grep -v wiederhergestellt | head -1)
[ -n "$saved" ] || fail "the recording was not saved by the time WM_ENDSESSION returned"
grep -q "Abmelden/Herunterfahren: Aufnahme wird abgeschlossen" "$log" || fail "the log-off is not logged"
grep -qF "Aufnahme gespeichert: $(basename "$saved")" "$log" || fail "the save is not logged"
ffprobe -v error -show_entries format=format_name,duration:stream=codec_name,width,height,sample_rate,channels \
    -of compact "$saved" || fail "ffprobe cannot read the saved file"
[ -z "$(ls "$tmp" 2>/dev/null)" ] || fail "left in the temporary folder: $(ls "$tmp")"
close_app
echo "PASS"
