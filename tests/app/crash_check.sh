#!/usr/bin/env bash
# Crash dumps under Wine, in a prefix of its own: the development MI-RU.exe runs with the virtual
# headset live (camera frames in memory) and is crashed on purpose on a thread of its own
# (WM_APP_TEST_CRASH, diag/crash_dump.h). Then: a minidump "MI-RU-<date>_<time>.dmp" is in the
# MI-RU folder and is valid (tests/app/minidump_check.py: signature, stream directory, threads,
# modules, the exception, stacks only - far less than one camera frame); the log has one FEHLER
# line naming it; of six dumps five stay (the oldest goes, other files stay); the process ended
# with the exception's code at once: no shutdown step ran (the settings file is not rewritten),
# so a running recording's file and marker would stay for the next start's recovery. A second
# run ends in std::terminate (an uncaught C++ exception) and leaves a dump as well.
# Usage: crash_check.sh <source root> <development MI-RU.exe> <miru_window.exe> <prefix folder>
set -uo pipefail
root=$1 exe=$2 helper=$3 prefix=$4
status=0
fail() { echo "FAIL: $*"; status=1; }
WM_APP_TEST_CRASH=0xBF00  # WM_APP + 0x3F00

source "$root/scripts/wine-prefix.sh"
source "$root/tests/app/wine_app.sh"
wine_prefix_use "$prefix"
wine_prefix_ready >/dev/null
"$server" -k </dev/null >/dev/null 2>&1  # leftovers of an earlier run
app_user_folders
# The virtual headset's two cameras (their identifiers as the stand-in reports them), no sound.
device() { echo '\\?\usb#vid_0c45&pid_636b&mi_00#7&'"$1"'&0&0000#{e5323777-f976-4f5b-9b55-b94699c46e44}\global'; }
app_settings "wideDeviceID=$(device 1a2b3c4d)" "macroDeviceID=$(device 2c4e6f81)"
folder="$roaming/MI-RU"
for day in 1 2 3 4 5; do echo "dump $day" >"$folder/MI-RU-2020-01-0${day}_08-00-00.dmp"; done
echo "not a dump of ours" >"$folder/notizen.dmp"
settings_sum=$(sha256sum <"$folder/settings.ini")

MIRU_VIRTUAL_DEVICES=default "$wine" "$exe" </dev/null >/dev/null 2>&1 &
app=$!
if ! "$wine" "$helper" wait 60 </dev/null >/dev/null 2>&1; then
    fail "the main window did not appear"
elif ! app_wait_log "Kameras live" 60; then
    fail "the virtual cameras did not go live"
else
    "$wine" "$helper" post $WM_APP_TEST_CRASH 1 </dev/null >/dev/null 2>&1 || fail "the crash message was not posted"
fi
# Under Wine the dump takes some seconds (its dbghelp reads the Unix modules too).
app_wait_end 90
"$server" -k </dev/null >/dev/null 2>&1
echo "MI-RU.exe ended with exit code $app_code"
# The access violation's code 0xC0000005, cut to its low byte by the Unix exit status.
[ "$app_code" -eq 5 ] || fail "exit code $app_code, not that of the access violation"

dumps=$(cd "$folder" && ls MI-RU-*.dmp 2>/dev/null | sort | tr '\n' ' ')
echo "dumps in the MI-RU folder: $dumps"
new=$(cd "$folder" && ls MI-RU-2[0-9][0-9][0-9]-*.dmp 2>/dev/null | grep -v '^MI-RU-2020-' | sort | tail -1)
if [ -z "$new" ]; then
    fail "no new dump"
else
    python3 "$root/tests/app/minidump_check.py" "$folder/$new" 0xC0000005 || fail "$new is no valid minidump"
    lines=$(tr -d '\r' <"$log" | grep -c "  FEHLER  Absturz (Ausnahme 0xC0000005) .* Speicherabbild gespeichert: C:\\\\.*\\\\MI-RU\\\\$new\$")
    [ "$lines" -eq 1 ] || fail "$lines log lines name $new"
fi
[ "$(cd "$folder" && ls MI-RU-*.dmp | wc -l)" -eq 5 ] || fail "not five dumps: $dumps"

# An uncaught C++ exception (std::terminate) on a thread of its own leaves a dump too. The dump
# names carry seconds: the second crash must not reuse the first one's name.
sleep 1
"$wine" "$exe" </dev/null >/dev/null 2>&1 &
app=$!
if "$wine" "$helper" wait 60 </dev/null >/dev/null 2>&1; then
    "$wine" "$helper" post $WM_APP_TEST_CRASH 2 </dev/null >/dev/null 2>&1 || fail "the crash message was not posted"
else
    fail "the main window did not appear for the terminate case"
fi
app_wait_end 90
"$server" -k </dev/null >/dev/null 2>&1
echo "MI-RU.exe (std::terminate) ended with exit code $app_code"
[ "$app_code" -eq $((0xBD)) ] || fail "exit code $app_code, not that of the terminate crash (0xE0000ABD)"
last=$(cd "$folder" && ls MI-RU-2[0-9][0-9][0-9]-*.dmp 2>/dev/null | grep -v '^MI-RU-2020-' | sort | tail -1)
if [ -z "$last" ] || [ "$last" = "$new" ]; then
    fail "no dump of the terminate crash"
else
    python3 "$root/tests/app/minidump_check.py" "$folder/$last" 0xE0000ABD || fail "$last is no valid minidump"
fi
[ "$(cd "$folder" && ls MI-RU-*.dmp | wc -l)" -eq 5 ] || fail "not five dumps after the second crash"
[ -e "$folder/MI-RU-2020-01-01_08-00-00.dmp" ] && fail "the oldest dump stayed"
[ -e "$folder/notizen.dmp" ] || fail "a file that is no dump of ours was deleted"
[ "$(sha256sum <"$folder/settings.ini")" = "$settings_sum" ] || fail "the settings were saved after the crash"
echo "Log of the run:"
tr -d '\r' <"$log" 2>/dev/null | sed 's/^/  /'
[ $status -eq 0 ] && echo "crash dump check passed"
exit $status
