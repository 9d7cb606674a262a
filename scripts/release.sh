#!/usr/bin/env bash
# Builds the release of MI-RU.exe (CMake option MIRU_RELEASE: no stand-ins, no test hooks, no
# tests) in its own build tree and puts into <tree>/dist what users and support get:
#   MI-RU.exe, MI-RU.exe.sha256      the executable, stripped of its symbol table, and its checksum
#   MI-RU-<version>-x64.msi          the installer for practice PCs (scripts/make-msi.sh)
#   symbols/MI-RU.exe                the same executable with its symbol table, for reading the
#                                    addresses of a crash dump
# Prints the sizes, the installer's codes and the imported DLLs. The version is the project's
# (project(MIRU VERSION ...) in CMakeLists.txt).
# Installs what a fresh Debian 12 machine lacks (needs root or sudo).
#   MIRU_BUILD_DIR    build root (default: build); the release tree is <root>/release
#   MIRU_RELEASE_DIR  the release tree itself (overrides the above)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${MIRU_BUILD_DIR:-$root/build}
tree=${MIRU_RELEASE_DIR:-$build/release}

"$root/scripts/install-deps.sh" test

cmake -S "$root" -B "$tree" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=Release -DMIRU_RELEASE=ON >/dev/null
cmake --build "$tree" -j "$(nproc)" --target MI-RU
version=$(sed -n 's/^#define MIRU_VERSION_TEXT "\(.*\)"$/\1/p' "$tree/res/miru_version.h")

# The build tree's file keeps its symbol table; users get the stripped copy, support keeps the
# other. Both carry the last commit's time in their header, so that the same sources give the
# same files and checksum.
dist="$tree/dist"
mkdir -p "$dist/symbols"
SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 0)
export SOURCE_DATE_EPOCH
x86_64-w64-mingw32-strip --strip-all -o "$dist/MI-RU.exe.new" "$tree/app/MI-RU.exe"
mv -f "$dist/MI-RU.exe.new" "$dist/MI-RU.exe"
x86_64-w64-mingw32-objcopy "$tree/app/MI-RU.exe" "$dist/symbols/MI-RU.exe.new"
mv -f "$dist/symbols/MI-RU.exe.new" "$dist/symbols/MI-RU.exe"
(cd "$dist" && sha256sum MI-RU.exe >MI-RU.exe.sha256)
# One installer in dist: that of this version.
find "$dist" -maxdepth 1 -name 'MI-RU-*-x64.msi' ! -name "MI-RU-$version-x64.msi" -delete
"$root/scripts/make-msi.sh" "$dist/MI-RU.exe" "$tree/res/miru.ico" "$version" "$dist/MI-RU-$version-x64.msi"

echo "Release $version: $dist/MI-RU.exe ($(stat -c %s "$dist/MI-RU.exe") bytes)"
echo "SHA-256: $(cut -d' ' -f1 "$dist/MI-RU.exe.sha256") ($dist/MI-RU.exe.sha256)"
echo "Imports:" $(x86_64-w64-mingw32-objdump -p "$dist/MI-RU.exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
