#!/usr/bin/env bash
# Builds the benchmarks natively in release mode without sanitizers (build/bench) and runs them:
#  - the stabiliser's measurement against the plain reference, an FFTW pipeline and OpenCV's
#    phaseCorrelate, as times and ratios from one run;
#  - the camera frame intake copy against memcpy of the same bytes.
#   MIRU_BENCH_DIR  build folder (default: build/bench)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${MIRU_BENCH_DIR:-$root/build/bench}

"$root/scripts/install-deps.sh" bench

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMIRU_SANITIZE=OFF -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j 2 --target stab_bench intake_bench
"$build/bench/stab_bench"
"$build/bench/intake_bench"
