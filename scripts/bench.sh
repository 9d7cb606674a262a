#!/usr/bin/env bash
# Builds the benchmarks natively in release mode without sanitizers (build/bench) and runs the
# stabiliser benchmark: the product's measurement against the plain reference, an FFTW pipeline
# and OpenCV's phaseCorrelate, as times and ratios from one run.
#   MIRU_BENCH_DIR  build folder (default: build/bench)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=${MIRU_BENCH_DIR:-$root/build/bench}

"$root/scripts/install-deps.sh" bench

cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DMIRU_SANITIZE=OFF -DBUILD_TESTING=OFF >/dev/null
cmake --build "$build" -j 2 --target stab_bench
"$build/bench/stab_bench"
