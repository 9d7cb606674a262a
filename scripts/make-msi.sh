#!/usr/bin/env bash
# Builds the installer of MI-RU from an executable with wixl and res/installer/MI-RU.wxs.
# Usage: make-msi.sh <MI-RU.exe> <icon.ico> <version x.y.z> <output.msi>
# The ProductCode is a name-based UUID of the version under the UpgradeCode: every version has
# its own (so a newer package upgrades an older one), and a rebuild of a version keeps it.
# Prints the package's size and both codes.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
[ $# -eq 4 ] || { echo "usage: $0 <MI-RU.exe> <icon.ico> <version x.y.z> <output.msi>" >&2; exit 2; }
exe=$1 icon=$2 version=$3 out=$4
# Windows Installer compares the first three fields: major and minor up to 255, build up to 65535.
if ! [[ $version =~ ^([0-9]+)\.([0-9]+)\.([0-9]+)$ ]] || [ "${BASH_REMATCH[1]}" -gt 255 ] ||
   [ "${BASH_REMATCH[2]}" -gt 255 ] || [ "${BASH_REMATCH[3]}" -gt 65535 ]; then
    echo "make-msi.sh: \"$version\" is no installer version (x.y.z, at most 255.255.65535)" >&2
    exit 2
fi
wxs="$root/res/installer/MI-RU.wxs"
upgrade=$(sed -n 's/.*UpgradeCode="\([0-9A-F-]*\)".*/\1/p' "$wxs")
product=$(python3 -c 'import sys, uuid; print(str(uuid.uuid5(uuid.UUID(sys.argv[1]), "MI-RU " + sys.argv[2])).upper())' \
          "$upgrade" "$version")

# wixl takes the files named in the source from the working directory.
stage=$(mktemp -d)
trap 'rm -rf "$stage"' EXIT
cp "$exe" "$stage/MI-RU.exe"
cp "$icon" "$stage/MI-RU.ico"
if ! (cd "$stage" && wixl -a x64 -D "Version=$version" -D "ProductCode=$product" -o package.msi "$wxs" \
          >wixl.log 2>&1); then
    cat "$stage/wixl.log" >&2
    exit 1
fi
mkdir -p "$(dirname "$out")"
mv -f "$stage/package.msi" "$out"
echo "Installer: $out ($(stat -c %s "$out") bytes), ProductCode {$product}, UpgradeCode {$upgrade}"
