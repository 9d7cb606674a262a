#!/usr/bin/env bash
# Builds the release of MI-RU.exe (CMake option MIRU_RELEASE: no stand-ins, no test hooks, no
# tests) in its own build tree and puts the executable users get, stripped of its symbol table,
# with its SHA-256 checksum into <tree>/dist. Prints the size and the imported DLLs.
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

# The build tree keeps the linked file with its symbol table (for crash addresses and the
# release check); users get the stripped copy. Its header time is the last commit's, so that
# the same sources give the same file and checksum.
dist="$tree/dist"
mkdir -p "$dist"
SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct 2>/dev/null || echo 0)
export SOURCE_DATE_EPOCH
x86_64-w64-mingw32-strip --strip-all -o "$dist/MI-RU.exe.new" "$tree/app/MI-RU.exe"
mv -f "$dist/MI-RU.exe.new" "$dist/MI-RU.exe"
(cd "$dist" && sha256sum MI-RU.exe >MI-RU.exe.sha256)

echo "Release: $dist/MI-RU.exe ($(stat -c %s "$dist/MI-RU.exe") bytes)"
echo "SHA-256: $(cut -d' ' -f1 "$dist/MI-RU.exe.sha256") ($dist/MI-RU.exe.sha256)"
echo "Imports:" $(x86_64-w64-mingw32-objdump -p "$dist/MI-RU.exe" | sed -n 's/^[[:space:]]*DLL Name: //p')
