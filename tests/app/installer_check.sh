#!/usr/bin/env bash
# The installer (dist/MI-RU-<version>-x64.msi of the release, the test wine.release_build) under
# Wine, in a prefix of its own, driven as an IT service would: silently with msiexec.
#   1. A package of a lower version (built here from the same executable) installs.
#   2. The release's package upgrades it: the lower version's entry is gone; the program, the
#      Start-menu shortcut and the entry in Apps & Features are there with the release's version;
#      the installed MI-RU.exe is the shipped file and runs (no cameras under Wine: it says so and
#      ends with 0 when its window is closed).
#   3. The lower package over the release's is refused and changes nothing.
#   4. Removal takes the program, its shortcut, its entry and its registry key, and leaves the
#      user's recordings, photos, settings, log and temporary recordings as they were.
# Usage: installer_check.sh <source root> <release tree> <miru_window.exe> <prefix folder>
set -uo pipefail
root=$1 tree=$2 helper=$3 prefix=$4
status=0
fail() { echo "FAIL: $*"; status=1; }

version=$(sed -n 's/^project(MIRU VERSION \([0-9.]*\).*/\1/p' "$root/CMakeLists.txt")
msi="$tree/dist/MI-RU-$version-x64.msi"
[ -f "$msi" ] || { echo "FAIL: no $msi (scripts/release.sh builds it)"; exit 1; }
# The next lower version: 1.1.2 -> 1.1.1, 1.1.0 -> 1.0.0, 2.0.0 -> 1.0.0.
IFS=. read -r major minor build <<<"$version"
if [ "$build" -gt 0 ]; then lower="$major.$minor.$((build - 1))"
elif [ "$minor" -gt 0 ]; then lower="$major.$((minor - 1)).0"
else lower="$((major - 1)).0.0"; fi
work="$prefix-packages"
rm -rf "$work" && mkdir -p "$work"
lower_msi="$work/MI-RU-$lower-x64.msi"
"$root/scripts/make-msi.sh" "$tree/dist/MI-RU.exe" "$tree/res/miru.ico" "$lower" "$lower_msi" >/dev/null ||
    { echo "FAIL: the lower version's package could not be built"; exit 1; }
code_of() { msiinfo export "$1" Property | tr -d '\r' | awk -F'\t' '$1 == "ProductCode" { print $2 }'; }
product=$(code_of "$msi") lower_product=$(code_of "$lower_msi")
upgrade=$(msiinfo export "$msi" Property | tr -d '\r' | awk -F'\t' '$1 == "UpgradeCode" { print $2 }')
echo "$(basename "$msi"): $(stat -c %s "$msi") bytes, ProductCode $product, UpgradeCode $upgrade"
echo "$(basename "$lower_msi") (built here): ProductCode $lower_product"
[ "$product" != "$lower_product" ] || fail "both versions have the ProductCode $product"

source "$root/scripts/wine-prefix.sh"
source "$root/tests/app/wine_app.sh"
wine_prefix_use "$prefix"
wine_prefix_ready >/dev/null
"$server" -k </dev/null >/dev/null 2>&1  # leftovers of an earlier run
# A fresh machine: no earlier installation.
for code in "$product" "$lower_product"; do "$wine" msiexec /x "$code" /qn </dev/null >/dev/null 2>&1; done
app_user_folders
program="$prefix/drive_c/Program Files/MI-RU"
uninstall='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall'
# Per machine, the shortcut belongs in the common Start menu; Wine's msi resolves
# ProgramMenuFolder to the user's even with ALLUSERS=1, so either is accepted.
shortcuts=("$prefix/drive_c/ProgramData/Microsoft/Windows/Start Menu/Programs/MI-RU.lnk"
           "$roaming/Microsoft/Windows/Start Menu/Programs/MI-RU.lnk")
shortcut() { local s; for s in "${shortcuts[@]}"; do [ -f "$s" ] && { echo "$s"; return 0; }; done; return 1; }
msiexec() {
    "$wine" msiexec "$@" </dev/null >/dev/null 2>&1
    local code=$?
    echo "msiexec $* -> $code"
    return $code
}
win_path() { echo "Z:${1//\//\\}"; }
# The entry's value NAME, empty when the entry or the value is missing.
entry() {
    "$wine" reg query "$uninstall\\$1" /v "$2" </dev/null 2>/dev/null | tr -d '\r' |
        awk -v name="$2" '$1 == name { $1 = ""; $2 = ""; sub(/^ +/, ""); print }'
}

# The user's files, which no installer step may touch: a recording and a photo in the recording
# folder, settings and log, and an unmarked temporary recording (the recovery leaves it alone).
app_settings
data=("$WINEPREFIX/drive_c/MI-RU Aufnahmen/MI-RU-2026-01-02_03-04-05.mp4"
      "$WINEPREFIX/drive_c/MI-RU Aufnahmen/MI-RU-2026-01-02_03-04-10-Wide.jpg"
      "$roaming/MI-RU/settings.ini" "$roaming/MI-RU/miru-diagnose.log"
      "$localdata/MI-RU/tmp/miru-1234567.mp4")
mkdir -p "$localdata/MI-RU/tmp"
for file in "${data[@]}"; do [ -f "$file" ] || head -c 65536 /dev/urandom >"$file"; done
data_sums() { sha256sum "${data[@]}" 2>&1; }
before=$(data_sums)

# 1. The lower version.
msiexec /i "$(win_path "$lower_msi")" /qn || fail "the lower version did not install"
[ "$(entry "$lower_product" DisplayVersion)" = "$lower" ] || fail "no entry for $lower"

# 2. The upgrade.
msiexec /i "$(win_path "$msi")" /qn || fail "the upgrade to $version failed"
[ -z "$(entry "$lower_product" DisplayName)" ] || fail "the entry of $lower stayed after the upgrade"
for value in DisplayName DisplayVersion Publisher; do
    echo "  Apps & Features: $value = $(entry "$product" $value)"
done
[ "$(entry "$product" DisplayName)" = "MI-RU" ] || fail "DisplayName"
[ "$(entry "$product" DisplayVersion)" = "$version" ] || fail "DisplayVersion"
[ "$(entry "$product" Publisher)" = "MI-RU" ] || fail "Publisher"
cmp -s "$program/MI-RU.exe" "$tree/dist/MI-RU.exe" && echo "  $program/MI-RU.exe: the shipped file" ||
    fail "the installed MI-RU.exe differs from dist/MI-RU.exe"
listing=$(cd "$program" 2>/dev/null && find . -mindepth 1 | sort | tr '\n' ' ')
[ "$listing" = "./MI-RU.exe " ] || fail "Program Files\\MI-RU holds: $listing"
# The shortcut opens the installed program with the product's icon, kept by Windows Installer.
if link=$(shortcut); then
    echo "  shortcut: ${link#"$prefix/"}"
    link_texts=$(strings -a "$link"; strings -a -el "$link")
    grep -qF 'C:\Program Files\MI-RU\MI-RU.exe' <<<"$link_texts" || fail "the shortcut does not open the installed program"
    grep -qF "C:\\windows\\Installer\\$product\\MIRU.ico" <<<"$link_texts" || fail "the shortcut lacks the product's icon"
    cmp -s "$prefix/drive_c/windows/Installer/$product/MIRU.ico" "$tree/res/miru.ico" ||
        fail "the installed icon is not the product's"
else
    fail "no Start-menu shortcut MI-RU"
fi
[ "$(data_sums)" = "$before" ] || fail "the upgrade changed the user's files"
app_run_without_cameras "$program/MI-RU.exe" "$helper"
grep -qF "MI-RU App v$version" "$log" || fail "the installed program's log does not start with v$version"

# 3. The lower version over the release's: refused by the launch condition (1603, which the
#    Unix exit status cuts to 67 under Wine), with the message the package carries.
msiexec /i "$(win_path "$lower_msi")" /qn
code=$?
[ $code -eq 1603 ] || [ $code -eq 67 ] || fail "the lower version over $version: exit code $code, not 1603"
msiinfo export "$lower_msi" LaunchCondition | grep "Eine neuere Version von MI-RU ist bereits installiert" >/dev/null ||
    fail "the package lacks the message for a newer installed version"
[ "$(entry "$product" DisplayVersion)" = "$version" ] && [ -z "$(entry "$lower_product" DisplayName)" ] &&
    cmp -s "$program/MI-RU.exe" "$tree/dist/MI-RU.exe" || fail "the refused package changed the installation"

# 4. Removal: the program goes, the user's files stay (the run above wrote settings and log).
before=$(data_sums)
msiexec /x "$(win_path "$msi")" /qn || fail "removal failed"
[ ! -e "$program" ] || fail "Program Files\\MI-RU stayed: $(ls -A "$program" | tr '\n' ' ')"
shortcut >/dev/null && fail "the shortcut stayed"
[ -z "$(entry "$product" DisplayName)" ] || fail "the entry in Apps & Features stayed"
"$wine" reg query 'HKLM\Software\MI-RU' </dev/null >/dev/null 2>&1 && fail "HKLM\\Software\\MI-RU stayed"
[ "$(data_sums)" = "$before" ] && echo "  the user's files are untouched: ${#data[@]} files" ||
    fail "removal changed the user's files: $(data_sums)"
"$server" -k </dev/null >/dev/null 2>&1
rm -rf "$work"
[ $status -eq 0 ] && echo "installer check passed"
exit $status
