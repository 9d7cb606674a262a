#!/usr/bin/env bash
# The release executable: built (incrementally) by scripts/release.sh, it holds none of the
# stand-ins' and test hooks' symbols and strings that the development MI-RU.exe holds, imports
# only Windows system DLLs, and under Wine - where there are no cameras - it starts with a
# completed setup, reports that it found no cameras although the environment asks for virtual
# ones, and ends with exit code 0 when its window is closed.
# Usage: release_check.sh <source root> <release tree> <development MI-RU.exe> <miru_window.exe>
#                         <objdump> <nm> <prefix folder>
set -uo pipefail
root=$1 tree=$2 dev_exe=$3 helper=$4 objdump=$5 nm=$6 prefix=$7
status=0
fail() { echo "FAIL: $*"; status=1; }

MIRU_RELEASE_DIR="$tree" "$root/scripts/release.sh" || { echo "FAIL: release build"; exit 1; }
linked="$tree/app/MI-RU.exe"  # with its symbol table
shipped="$tree/dist/MI-RU.exe"
(cd "$tree/dist" && sha256sum --quiet -c MI-RU.exe.sha256) || fail "checksum file does not match"

# ---- Symbols and strings ----
# Every text a file holds: symbol names, and ASCII and UTF-16LE strings (the product's own
# texts are wide).
texts_of() { { "$nm" -C "$1" 2>/dev/null; strings -a "$1"; strings -a -el "$1"; } | sort -u; }
dev_texts=$(texts_of "$dev_exe")
release_texts=$( { texts_of "$linked"; texts_of "$shipped"; } | sort -u)
# Markers of the stand-ins and the hooks: each is in the development build (so this check can
# fail) and must not be in the release.
markers=(
    "ForTest"                   # test entry points of every module
    "MediaSeamInstall"          # replacement of the media seam
    "SettingsSetFolderOverride" # settings folder override
    "RendererCaptureFrame"      # test capture of the window picture
    "VirtualSeamTable"          # virtual devices behind the seam
    "VirtualSinkWriterCreate"   # substitute sink writer
    "MIRU_VIRTUAL_DEVICES"      # the switch to virtual devices
    "Virtuelle Kameras aktiv"   # its log line
    "HD USB Camera"             # the virtual cameras' name
    "substitute sink writer"    # the substitute's file comment
)
for marker in "${markers[@]}"; do
    grep -qF -- "$marker" <<<"$dev_texts" || fail "development MI-RU.exe lacks \"$marker\" (stale marker?)"
    found=$(grep -F -- "$marker" <<<"$release_texts" | head -3 | tr '\n' ' ')
    if [ -n "$found" ]; then fail "release holds \"$marker\": $found"; else echo "absent from the release: $marker"; fi
done
# Only some development builds have the frame capture; no release has it.
grep -qF "MIRU_CAPTURE_FRAME" <<<"$release_texts" && fail "release holds MIRU_CAPTURE_FRAME"

sh "$root/tests/app/check_imports.sh" "$objdump" "$shipped" || fail "imports"

# ---- A start under Wine, in a prefix of its own ----
export WINEPREFIX="$prefix" WINEARCH=win64 WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree=d;mshtml=d;winedbg.exe=d"
wine=/usr/lib/wine/wine64
server=/usr/lib/wine/wineserver
if [ ! -f "$prefix/.miru-ready" ]; then
    rm -rf "$prefix" && mkdir -p "$prefix"
    "$wine" wineboot -i </dev/null >/dev/null 2>&1
    "$server" -w
    "$wine" reg import "$root/cmake/wine-prefix.reg" </dev/null >/dev/null 2>&1
    cp /usr/share/wine/fonts/tahoma.ttf "$prefix/drive_c/windows/Fonts/" 2>/dev/null
    "$server" -w
    touch "$prefix/.miru-ready"
fi
roaming=$(find "$prefix/drive_c/users" -mindepth 3 -maxdepth 3 -type d -path '*/AppData/Roaming' \
    ! -path '*/Public/*' | head -1)
[ -n "$roaming" ] || { echo "FAIL: no roaming folder in $prefix"; exit 1; }
# A fresh settings folder with the setup completed (the wizard would wait for a user) and a
# recording folder that exists; no cameras are bound.
rm -rf "$roaming/MI-RU" "$prefix/drive_c/MI-RU Aufnahmen"
mkdir -p "$roaming/MI-RU" "$prefix/drive_c/MI-RU Aufnahmen"
{ printf '\xff\xfe'
  printf '[MIRU]\r\ndidCompleteOnboarding=1\r\nrecordingFolder=C:\\MI-RU Aufnahmen\r\n' | iconv -f UTF-8 -t UTF-16LE
} >"$roaming/MI-RU/settings.ini"
log="$roaming/MI-RU/miru-diagnose.log"
shot="$prefix/drive_c/shot.png"
rm -f "$shot"

# The development build would show virtual cameras and save a frame with these; the release
# reads no environment switch.
MIRU_VIRTUAL_DEVICES=default MIRU_CAPTURE_FRAME='C:\shot.png' "$wine" "$shipped" </dev/null >/dev/null 2>&1 &
app=$!
if ! "$wine" "$helper" wait 60 </dev/null >/dev/null 2>&1; then
    fail "the main window did not appear"
else
    # The camera search gives up after its 60 attempts 0.8 s apart (cameras that went live
    # end the wait too: the check below fails on them).
    for _ in $(seq 1 1200); do
        grep -qE "Kameras nicht erkannt|Kameras live" "$log" 2>/dev/null && break
        kill -0 "$app" 2>/dev/null || break
        sleep 0.1
    done
    grep -q "Kameras nicht erkannt" "$log" 2>/dev/null || fail "no \"Kameras nicht erkannt\" in the log"
    "$wine" "$helper" close </dev/null >/dev/null 2>&1 || fail "the main window could not be closed"
fi
code=124
for _ in $(seq 1 300); do
    kill -0 "$app" 2>/dev/null || { wait "$app"; code=$?; break; }
    sleep 0.1
done
if [ $code -eq 124 ]; then kill "$app" 2>/dev/null; fi
"$server" -k </dev/null >/dev/null 2>&1
echo "MI-RU.exe (release) ended with exit code $code"
[ $code -eq 0 ] || fail "exit code $code"
echo "Log of the run:"
tr -d '\r' <"$log" 2>/dev/null | sed 's/^/  /'
grep -qE "Virtuelle Kameras|Kameras live|Kamera [01] konfiguriert" "$log" 2>/dev/null && fail "the release used cameras"
[ -e "$shot" ] && fail "the release saved a frame for MIRU_CAPTURE_FRAME"
[ $status -eq 0 ] && echo "release check passed"
exit $status
