#!/usr/bin/env bash
# The release (built by scripts/release.sh, the test wine.release_build): it holds none of the
# stand-ins' and test hooks' symbols and strings that the development MI-RU.exe holds, imports
# only Windows system DLLs (dbghelp not among them: the crash handler loads it when needed), keeps
# the executable with its symbol table beside the shipped one, and carries the project's version
# in its version resource, its installer and its log. Under Wine - where there are no cameras -
# it starts with a completed setup, reports that it found no cameras although the environment
# asks for virtual ones, and ends with exit code 0 when its window is closed.
# Usage: release_check.sh <source root> <release tree> <development MI-RU.exe> <miru_window.exe>
#                         <objdump> <nm> <prefix folder>
set -uo pipefail
root=$1 tree=$2 dev_exe=$3 helper=$4 objdump=$5 nm=$6 prefix=$7
status=0
fail() { echo "FAIL: $*"; status=1; }

linked="$tree/app/MI-RU.exe"  # with its symbol table
shipped="$tree/dist/MI-RU.exe"
symbols="$tree/dist/symbols/MI-RU.exe"
version=$(sed -n 's/^project(MIRU VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
msi="$tree/dist/MI-RU-$version-x64.msi"
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
    "Testabsturz"               # the crash on purpose (its log line)
)
for marker in "${markers[@]}"; do
    grep -qF -- "$marker" <<<"$dev_texts" || fail "development MI-RU.exe lacks \"$marker\" (stale marker?)"
    found=$(grep -F -- "$marker" <<<"$release_texts" | head -3 | tr '\n' ' ')
    if [ -n "$found" ]; then fail "release holds \"$marker\": $found"; else echo "absent from the release: $marker"; fi
done
# Only some development builds have the frame capture; no release has it.
grep -qF "MIRU_CAPTURE_FRAME" <<<"$release_texts" && fail "release holds MIRU_CAPTURE_FRAME"
# The crash handler is there, with dbghelp looked up only when it runs.
grep -qF "MiniDumpWriteDump" <<<"$release_texts" || fail "release lacks the crash handler"

sh "$root/tests/app/check_imports.sh" "$objdump" "$shipped" || fail "imports"
"$objdump" -p "$shipped" | grep -i 'DLL Name: dbghelp' >/dev/null && fail "the release imports dbghelp.dll"

# The copy for support is the shipped program with its symbol table.
SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 0) \
    x86_64-w64-mingw32-strip --strip-all -o "$tree/restripped.exe" "$symbols" 2>/dev/null
if cmp -s "$tree/restripped.exe" "$shipped" && "$nm" "$symbols" | grep ' T WinMain$' >/dev/null; then
    echo "dist/symbols/MI-RU.exe: the shipped program with its symbol table"
else
    fail "dist/symbols/MI-RU.exe is not the shipped program with its symbol table"
fi
rm -f "$tree/restripped.exe"

# ---- One version: the project's, in the resource and the installer (the log: below) ----
# The resource's fixed numbers (FILEVERSION, PRODUCTVERSION) and its two strings.
resource=$(python3 - "$shipped" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
at = data.find(struct.pack("<I", 0xFEEF04BD))  # VS_FIXEDFILEINFO
ms, ls, pms, pls = struct.unpack_from("<IIII", data, at + 8)
four = lambda hi, lo: f"{hi >> 16}.{hi & 0xFFFF}.{lo >> 16}.{lo & 0xFFFF}"
def text(key):  # the value after the key's terminator and padding, up to its terminator
    i = data.find((key + "\0").encode("utf-16-le"), at) + 2 * len(key) + 2
    while data[i:i + 2] == b"\0\0":
        i += 2
    j = i
    while data[j:j + 2] != b"\0\0":
        j += 2
    return data[i:j].decode("utf-16-le")
print(four(ms, ls), four(pms, pls), text("FileVersion"), text("ProductVersion"))
PY
)
installer=$(msiinfo export "$msi" Property 2>/dev/null | tr -d '\r' | awk -F'\t' '$1 == "ProductVersion" { print $2 }')
echo "version $version: resource $resource, installer $installer ($(basename "$msi"))"
[ -n "$version" ] || fail "no version in CMakeLists.txt"
[ "$resource" = "$version.0 $version.0 $version.0 $version" ] || fail "version resource: $resource"
[ "$installer" = "$version" ] || fail "installer version: \"$installer\""

# ---- A start under Wine, in a prefix of its own ----
source "$root/scripts/wine-prefix.sh"
source "$root/tests/app/wine_app.sh"
wine_prefix_use "$prefix"
wine_prefix_ready >/dev/null
app_user_folders
app_settings  # no cameras are bound
shot="$prefix/drive_c/shot.png"
rm -f "$shot"
# The development build would show virtual cameras and save a frame with these; the release
# reads no environment switch.
MIRU_VIRTUAL_DEVICES=default MIRU_CAPTURE_FRAME='C:\shot.png' app_run_without_cameras "$shipped" "$helper"
"$server" -k </dev/null >/dev/null 2>&1
echo "Log of the run:"
tr -d '\r' <"$log" 2>/dev/null | sed 's/^/  /'
grep -qE "Virtuelle Kameras|Kameras live|Kamera [01] konfiguriert" "$log" 2>/dev/null && fail "the release used cameras"
[ -e "$shot" ] && fail "the release saved a frame for MIRU_CAPTURE_FRAME"
grep -qF "MI-RU App v$version" "$log" 2>/dev/null || fail "the log's start line does not carry v$version"
[ $status -eq 0 ] && echo "release check passed"
exit $status
