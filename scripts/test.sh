#!/usr/bin/env bash
# Builds and runs every test: the native build under AddressSanitizer/UBSan, then the Windows
# build under Wine, with the check of the release build (scripts/release.sh). Installs what a
# fresh Debian 12 machine lacks. Exits non-zero on failure.
#   MIRU_BUILD_DIR  build root (default: build)
#   extra arguments are passed to both ctest runs (for example -R frames)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${MIRU_BUILD_DIR:-$root/build}
jobs=$(nproc)

"$root/scripts/install-deps.sh" test

cmake -S "$root" -B "$build/native" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build/native" -j "$jobs"
cmake -S "$root" -B "$build/win" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build/win" -j "$jobs"
# The release tree too, before the tests start: wine.release_build, which its checks need, then only
# confirms that it is up to date.
MIRU_BUILD_DIR="$build" "$root/scripts/release.sh"

# Graphics and window tests need an X display; without one, a private Xvfb serves the run.
xvfb_pid=""
cleanup() { if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi; }
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
    source "$root/scripts/xvfb.sh"
    xvfb_start
    xvfb_pid=$XVFB_PID
fi

status=0
echo "== native tests (sanitizers) =="
(cd "$build/native" && ctest --output-on-failure -j "$jobs" "$@") || status=1
echo "== Windows tests (Wine) =="
(cd "$build/win" && ctest --output-on-failure -j "$jobs" "$@") || status=1
exit $status
