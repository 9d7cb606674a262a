#!/usr/bin/env bash
# Builds the benchmarks natively in release mode without sanitizers (build/bench) and runs them:
#  - the stabiliser's measurement against the plain reference, an FFTW pipeline and OpenCV's
#    phaseCorrelate, as times and ratios from one run;
#  - the camera frame intake copy against memcpy of the same bytes;
#  - under Wine (build/win): the offscreen compositor and the window renderer against the bare
#    Direct2D calls they consist of, with the split of those calls; the cockpit's drawing cost
#    per frame beside the window renderer's frame.
#   MIRU_BENCH_DIR  build folder (default: build/bench)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${MIRU_BENCH_DIR:-$root/build/bench}

"$root/scripts/install-deps.sh" bench

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMIRU_SANITIZE=OFF -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j 2 --target stab_bench intake_bench
"$build/bench/stab_bench"
"$build/bench/intake_bench"

# The live picture under Wine: compositor and window renderer against the bare Direct2D calls
# they consist of, in a prefix of its own (so a test run in parallel is not disturbed).
"$root/scripts/install-deps.sh" test
win=${MIRU_BUILD_DIR:-$root/build}/win
cmake -S "$root" -B "$win" -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-x86_64.cmake" \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$win" -j 2 --target render_bench cockpit_bench keep_warm
xvfb_pid=""
prefix="$win/bench-prefix"
cleanup() {
    "$root/cmake/wine-prefix.sh" down "$prefix" || true
    if [ -n "$xvfb_pid" ]; then kill "$xvfb_pid" 2>/dev/null || true; fi
}
trap cleanup EXIT
if [ -z "${DISPLAY:-}" ]; then
    source "$root/scripts/xvfb.sh"
    xvfb_start
    xvfb_pid=$XVFB_PID
fi
"$root/cmake/wine-prefix.sh" up "$prefix" "$win/tests/support/keep_warm.exe" "$root/cmake/wine-prefix.reg"
"$root/cmake/wine-run.sh" "$prefix" "$win/bench/render_bench.exe"
"$root/cmake/wine-run.sh" "$prefix" "$win/bench/cockpit_bench.exe"
