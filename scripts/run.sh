#!/usr/bin/env bash
# Builds MI-RU.exe and runs it under Wine in a prefix of its own (build/run-prefix).
# With an X display the app opens there and this script ends when the app ends. Without one
# it runs the app on a private Xvfb, saves a screenshot of the live picture (the renderer's own
# frame, see render/frame_capture.h: an X capture of the flip-model window comes out black), closes the app
# through WM_CLOSE (its normal close path) and checks that it ended with exit code 0. Either way
# it then prints the log lines of the run. Without /dev/video* the app runs with the virtual
# headset (MIRU_VIRTUAL_DEVICES=default unless the caller names another set, see the README).
# Installs what a fresh Debian 12 machine lacks (needs root or sudo).
#   MIRU_BUILD_DIR  build root (default: build)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${MIRU_BUILD_DIR:-$root/build}

"$root/scripts/install-deps.sh" run

cmake -S "$root" -B "$build/win" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMIRU_DEV_CAPTURE=ON >/dev/null
cmake --build "$build/win" -j "$(nproc)" --target MI-RU miru_window
exe="$build/win/app/MI-RU.exe"
helper="$build/win/app/miru_window.exe"

source "$root/scripts/wine-prefix.sh"
wine_prefix_use "$build/run-prefix"

# On a real display the app has ended by then: the prefix's processes are left alone.
cleanup() { if [ -n "$xvfb_pid" ]; then wine_stop; fi; }
trap cleanup EXIT

headless=0
if [ -z "${DISPLAY:-}" ]; then headless=1; fi
wine_display_start
wine_prefix_ready
# On a private Xvfb the app runs inside a Wine desktop (no window manager is needed); on a
# real display it gets a window of its own.
if [ $headless -eq 1 ]; then
    "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f </dev/null >/dev/null 2>&1
else
    "$wine" reg delete 'HKCU\Software\Wine\Explorer' /v Desktop /f </dev/null >/dev/null 2>&1 || true
fi
# The desktop mode is read when the prefix's processes start: let those of the set-up end.
"$server" -w

# Without real cameras the app gets virtual ones: the set the caller named, or the headset.
if ! compgen -G "/dev/video*" >/dev/null; then
    export MIRU_VIRTUAL_DEVICES=${MIRU_VIRTUAL_DEVICES:-default}
fi

roaming=$(find "$WINEPREFIX/drive_c/users" -mindepth 3 -maxdepth 3 -type d -path '*/AppData/Roaming' \
    ! -path '*/Public/*' 2>/dev/null | head -1)
log="$roaming/MI-RU/miru-diagnose.log"

# The first-run wizard is not driven here: a prefix that runs virtual devices and has not
# completed it gets the settings the wizard would write for the virtual headset (completed,
# a recording folder, both cameras and, when the set has one, the microphone), so
# the main window opens at once. Other settings, and a prefix that completed the wizard, stay
# as they are. With real cameras the wizard comes first, as on a user's first start.
prepare_virtual_settings() {
    local ini="$roaming/MI-RU/settings.ini" text="" mic="$1"
    local wide='\\?\usb#vid_0c45&pid_636b&mi_00#7&1a2b3c4d&0&0000#{e5323777-f976-4f5b-9b55-b94699c46e44}\global'
    local macro='\\?\usb#vid_0c45&pid_636b&mi_00#7&2c4e6f81&0&0000#{e5323777-f976-4f5b-9b55-b94699c46e44}\global'
    # Inside the prefix: Wine links the user's Videos folder to the Unix home.
    local folder='C:\MI-RU Aufnahmen'
    [ -f "$ini" ] && text=$(iconv -f UTF-16 -t UTF-8 "$ini" | tr -d '\r')
    if grep -q '^didCompleteOnboarding=1' <<<"$text"; then return 0; fi
    mkdir -p "$roaming/MI-RU" "$WINEPREFIX/drive_c/MI-RU Aufnahmen"
    text=$(grep -v -e '^didCompleteOnboarding=' -e '^recordingFolder=' -e '^wideDeviceID=' -e '^macroDeviceID=' \
        -e '^micDeviceID=' -e '^$' <<<"$text" || true)
    grep -q '^\[MIRU\]' <<<"$text" || text=$'[MIRU]\n'"$text"
    { printf '\xff\xfe'
      printf '%s\ndidCompleteOnboarding=1\nrecordingFolder=%s\nwideDeviceID=%s\nmacroDeviceID=%s\nmicDeviceID=%s\n' \
          "$text" "$folder" "$wide" "$macro" "$mic" | grep -v '^$' | sed 's/$/\r/' | iconv -f UTF-8 -t UTF-16LE
    } >"$ini"
}
virtual_set=${MIRU_VIRTUAL_DEVICES:-}
case "${virtual_set,,}" in
    "") ;;
    none | no-mic) [ -n "$roaming" ] && prepare_virtual_settings "" ;;
    *) [ -n "$roaming" ] && prepare_virtual_settings '{0.0.1.00000000}.{8d2f6a3e-5b1c-4e7a-9f0d-3c6b2a1e4f57}' ;;
esac
# Where this run's recordings and photos land: the settings' recording folder, as a Unix path.
recordings_unix=""
if [ -n "$roaming" ] && [ -f "$roaming/MI-RU/settings.ini" ]; then
    folder=$(iconv -f UTF-16 -t UTF-8 "$roaming/MI-RU/settings.ini" | tr -d '\r' | sed -n 's/^recordingFolder=//p' | head -1)
    case "$folder" in
        [Cc]:\\*) recordings_unix="$WINEPREFIX/drive_c/$(printf '%s' "${folder:3}" | tr '\\' '/')" ;;
    esac
fi

# The log lines of this run, printed when the app has ended.
log_lines_before=0
[ -f "$log" ] && log_lines_before=$(wc -l <"$log")
print_run_log() {
    [ -f "$log" ] || return 0
    echo "Log of this run ($log):"
    tail -n +"$((log_lines_before + 1))" "$log" | tr -d '\r'
}

if [ $headless -eq 0 ]; then
    set +e
    "$wine" "$exe" </dev/null
    code=$?
    set -e
    echo "MI-RU ended with exit code $code"
    print_run_log
    exit $code
fi

shot="$build/miru-window.png"
rm -f "$shot"
# The renderer saves its picture once both cameras have shown for ten frames (a few seconds
# under Wine's software rasteriser).
MIRU_CAPTURE_FRAME="Z:${shot//\//\\}" "$wine" "$exe" </dev/null >/dev/null 2>&1 &
app=$!
if ! rect=$("$wine" "$helper" wait 60 </dev/null | tr -d '\r'); then
    echo "The MI-RU window did not appear" >&2
    kill "$app" 2>/dev/null || true
    exit 1
fi
for attempt in $(seq 1 240); do
    [ -s "$shot" ] && break
    sleep 0.5
done
sleep 0.5  # the encoder closes the file right after writing it
if [ -s "$shot" ]; then
    echo "Screenshot of the MI-RU picture ($(identify -format '%wx%h' "$shot" 2>/dev/null)): $shot"
else
    echo "No screenshot was saved" >&2
fi

# ---- A recording and a photo press, as a user makes them: R, about ten seconds, R; Space ----
# Waits until a log line of this run matches the pattern; prints it.
wait_for_log() {
    local pattern=$1 seconds=$2 i=0 line
    while [ $i -lt $((seconds * 10)) ]; do
        line=$(tail -n +"$((log_lines_before + 1))" "$log" 2>/dev/null | tr -d '\r' | grep -E "$pattern" | tail -1)
        if [ -n "$line" ]; then echo "  $line"; return 0; fi
        sleep 0.1
        i=$((i + 1))
    done
    echo "  (no log line matching \"$pattern\" within $seconds s)"
    return 1
}
demo_status=0
if [ -n "$roaming" ]; then
    echo "Recording and photo (the window gets the user's keys):"
    wait_for_log "Kameras live" 30 >/dev/null || true
    "$wine" "$helper" key R </dev/null
    wait_for_log "Aufnahme läuft|Aufnahme-Start fehlgeschlagen" 30 || demo_status=1
    sleep 10
    "$wine" "$helper" key R </dev/null
    wait_for_log "Aufnahme gespeichert|Aufnahme fehlgeschlagen" 120 || demo_status=1
    "$wine" "$helper" key space </dev/null
    wait_for_log "Fotos gespeichert|Keine Fotos gespeichert|Foto nicht möglich" 60 || demo_status=1
fi

"$wine" "$helper" close </dev/null
set +e
wait "$app"
code=$?
set -e
echo "MI-RU ended with exit code $code"

# ---- Cockpit screenshots (MIRU_SCREENSHOTS=cockpit): the picture with the cockpit in the light
# and the dark appearance and with the cockpit hidden, one run of the app each, saved as
# build/miru-window-light.png, -dark.png and -hidden.png. The appearance is set in the run
# prefix's settings for these runs and restored afterwards. Until the picture is saved the
# cockpit is kept as wanted through the app's own input paths: a mouse move over the window
# shows it, timer 2 (as if 6 s had passed without input) hides it.
set_appearance() {
    local ini="$roaming/MI-RU/settings.ini" text=""
    [ -f "$ini" ] && text=$(iconv -f UTF-16 -t UTF-8 "$ini" | tr -d '\r')
    text=$(grep -v -e '^appearanceMode=' -e '^$' <<<"$text" || true)
    grep -q '^\[MIRU\]' <<<"$text" || text=$'[MIRU]\n'"$text"
    mkdir -p "$roaming/MI-RU"
    { printf '\xff\xfe'; printf '%s\nappearanceMode=%s\n' "$text" "$1" | grep -v '^$' | sed 's/$/\r/' |
        iconv -f UTF-8 -t UTF-16LE; } >"$ini"
}
cockpit_shot() {  # name appearanceMode hide(0/1)
    local file="$build/miru-window-$1.png" pid keep=(0x200 0 0x00C800C8)  # WM_MOUSEMOVE at (200, 200)
    [ "$3" = 1 ] && keep=(0x113 2)                                          # WM_TIMER 2
    rm -f "$file"
    set_appearance "$2"
    MIRU_CAPTURE_FRAME="Z:${file//\//\\}" "$wine" "$exe" </dev/null >/dev/null 2>&1 &
    pid=$!
    if "$wine" "$helper" wait 60 </dev/null >/dev/null; then
        for attempt in $(seq 1 240); do
            [ -s "$file" ] && break
            "$wine" "$helper" post "${keep[@]}" </dev/null || true
            sleep 0.3
        done
        sleep 0.5
        "$wine" "$helper" close </dev/null || true
    fi
    wait "$pid" || true
    if [ -s "$file" ]; then echo "Screenshot ($1): $file"; else echo "No screenshot ($1) was saved" >&2; fi
}
if [ "${MIRU_SCREENSHOTS:-}" = cockpit ] && [ $code -eq 0 ] && [ -n "$roaming" ]; then
    ini="$roaming/MI-RU/settings.ini"
    saved_mode=$( (iconv -f UTF-16 -t UTF-8 "$ini" 2>/dev/null || true) | tr -d '\r' |
        sed -n 's/^appearanceMode=//p' | head -1)
    cockpit_shot light 1 0
    cockpit_shot dark 2 0
    cockpit_shot hidden 1 1
    set_appearance "${saved_mode:-0}"
fi

print_run_log

# The saved files and what ffprobe reads in the recording.
if [ -n "$roaming" ]; then
    movie=$(tail -n +"$((log_lines_before + 1))" "$log" | tr -d '\r' | sed -n 's/.*Aufnahme gespeichert: //p' | tail -1)
    echo "Saved files (recording folder $recordings_unix):"
    tail -n +"$((log_lines_before + 1))" "$log" | tr -d '\r' | sed -n 's/.*Foto gespeichert: .*\\/  /p'
    if [ -n "$movie" ] && [ -f "$recordings_unix/$movie" ]; then
        echo "  $movie"
        if command -v ffprobe >/dev/null; then
            echo "ffprobe of $recordings_unix/$movie:"
            ffprobe -v error -show_entries format=duration,size:stream=index,codec_type,codec_name,width,height,nb_frames,sample_rate,channels,duration \
                -of compact=p=0 "$recordings_unix/$movie" | sed 's/^/  /'
        fi
    else
        demo_status=1
    fi
fi
[ $code -ne 0 ] && exit $code
exit $demo_status
