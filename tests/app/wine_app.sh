# Sourced by the Wine checks that run whole programs (the release, the installer, crash dumps),
# after scripts/wine-prefix.sh has set up their prefix. Failures go through the caller's fail().
#   app_user_folders         sets $roaming and $localdata, the user's application data folders,
#                            and $log, the log file of MI-RU there
#   app_settings [LINE...]   a fresh MI-RU folder under $roaming whose settings.ini has the setup
#                            completed (the wizard would wait for a user), the recording folder
#                            C:\MI-RU Aufnahmen (created; Wine links the user's Videos folder to
#                            the Unix home) and the given INI lines
#   app_wait_log PATTERN SECONDS
#                            waits until the log has a line matching PATTERN (grep -E) or the
#                            app ended ($app) or the time is up; false then
#   app_run_without_cameras EXE HELPER
#                            starts EXE, waits for its window and for "Kameras nicht erkannt" in
#                            the log, closes the window through WM_CLOSE and waits for the end;
#                            $app_code is its exit code (124 when it did not end)
#   app_wait_end SECONDS     waits that long for $app to end; $app_code is its exit code, 124
#                            when it still runs (it is then killed)

app_user_folders() {
    roaming=$(find "$WINEPREFIX/drive_c/users" -mindepth 3 -maxdepth 3 -type d -path '*/AppData/Roaming' \
        ! -path '*/Public/*' | head -1)
    [ -n "$roaming" ] || { echo "FAIL: no roaming folder in $WINEPREFIX"; exit 1; }
    localdata="$(dirname "$roaming")/Local"
    log="$roaming/MI-RU/miru-diagnose.log"
}

app_settings() {
    rm -rf "$roaming/MI-RU" "$WINEPREFIX/drive_c/MI-RU Aufnahmen"
    mkdir -p "$roaming/MI-RU" "$WINEPREFIX/drive_c/MI-RU Aufnahmen"
    { printf '\xff\xfe'
      { printf '[MIRU]\ndidCompleteOnboarding=1\nrecordingFolder=C:\\MI-RU Aufnahmen\n'
        for line in "$@"; do printf '%s\n' "$line"; done
      } | sed 's/$/\r/' | iconv -f UTF-8 -t UTF-16LE
    } >"$roaming/MI-RU/settings.ini"
}

app_wait_log() {
    local i
    for ((i = 0; i < $2 * 10; i++)); do
        grep -qE "$1" "$log" 2>/dev/null && return 0
        kill -0 "$app" 2>/dev/null || break
        sleep 0.1
    done
    grep -qE "$1" "$log" 2>/dev/null
}

app_wait_end() {
    local i
    app_code=124
    for ((i = 0; i < $1 * 10; i++)); do
        kill -0 "$app" 2>/dev/null || { wait "$app"; app_code=$?; return 0; }
        sleep 0.1
    done
    kill "$app" 2>/dev/null
}

app_run_without_cameras() {
    local exe=$1 helper=$2
    "$wine" "$exe" </dev/null >/dev/null 2>&1 &
    app=$!
    if ! "$wine" "$helper" wait 60 </dev/null >/dev/null 2>&1; then
        fail "the main window did not appear"
    else
        # The camera search gives up after its 60 attempts 0.8 s apart (cameras that went live
        # end the wait too: the caller's checks fail on them).
        app_wait_log "Kameras nicht erkannt|Kameras live" 120
        grep -q "Kameras nicht erkannt" "$log" 2>/dev/null || fail "no \"Kameras nicht erkannt\" in the log"
        "$wine" "$helper" close </dev/null >/dev/null 2>&1 || fail "the main window could not be closed"
    fi
    app_wait_end 30
    echo "$(basename "$exe") ended with exit code $app_code"
    [ "$app_code" -eq 0 ] || fail "exit code $app_code"
}
