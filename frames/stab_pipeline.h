#pragma once
// Shared layout of the measurement's fixed tables and static working memory, and the kernel
// sets that run the measurement on them (SSE2 baseline, AVX2/FMA when the processor has it).
//
// The 2-D transform of the 256 x 256 real input is done as real-input transforms: pairs of
// rows travel as one complex row, so only half of the spectrum (columns 0..128) is computed and
// stored. Every 256-point transform runs lane-parallel: a block of adjacent columns is copied
// (with bit reversal and, where needed, a transpose) into a small contiguous buffer, transformed
// there by all eight stages, and copied out. No single-column copies with a large stride.
#include <cstdint>

constexpr int32_t STAB_N = 256;             // grid size of the measurement
constexpr int32_t STAB_HALF = 129;          // columns 0..128 of a real input's spectrum
constexpr int32_t STAB_HALF_PADDED = 136;   // the same padded to whole 8-float vectors
constexpr int32_t STAB_REGION_WIDTH = 960;  // measured region, centred in the frame
constexpr int32_t STAB_REGION_HEIGHT = 540;

struct StabTables {
    alignas(64) float window[STAB_N];  // Hann window
    alignas(64) float twiddleRe[STAB_N / 2];
    alignas(64) float twiddleIm[STAB_N / 2];  // e^(-2 pi i k / 256)
    alignas(64) float invColWidth[STAB_N];    // 1 / (cell width x 256): luma weights sum to 256
    alignas(64) float invRowHeight[STAB_N];   // 1 / cell height
    int32_t colStart[STAB_N + 1];
    int32_t rowStart[STAB_N + 1];
    uint8_t bitReverse[STAB_N];
};

// All 64-byte aligned; the whole record is static (about 1.4 MB), nothing is allocated per frame.
struct StabWork {
    // Mean luma per cell, row-major [y][x].
    alignas(64) float cells[STAB_N * STAB_N];
    // Split real/imaginary planes after the pass along x: [u][y], u = 0..135 (rows 129..135 stay
    // zero); on the way back the same planes hold the pass along y before the last pass.
    alignas(64) float half[2][STAB_HALF_PADDED * STAB_N];
    // Two half spectra (previous and current frame), each split into re/im planes [v][u].
    alignas(64) float spectrum[2][2][STAB_N * STAB_HALF_PADDED];
    // Correlation surface (real part of the inverse transform), row-major [y][x].
    alignas(64) float surface[STAB_N * STAB_N];
    // One block of lanes on its way through a 256-point transform: per row re lanes, im lanes.
    alignas(64) float block[STAB_N * 2 * 8];
    // Luma of one cell row per pixel column (plus tail room for whole-vector loads).
    alignas(64) int32_t columnLuma[STAB_REGION_WIDTH + 16];
};

struct StabKernelSet {
    // Mean luma cells of the 960 x 540 region starting at `region`; returns their sum.
    double (*cells)(const uint8_t* region, int32_t stride, const StabTables& tables, StabWork& work);
    // Window (with the cells' mean removed) and forward transform into spectrum `slot`.
    void (*forward)(float mean, int32_t slot, const StabTables& tables, StabWork& work);
    // Normalised cross-power of spectra `previous` and `current` and inverse transform into the
    // surface. Returns the surface's largest value and stores the index (y * 256 + x) of its
    // first occurrence in row-major order, or -1 when the largest value is not a number.
    float (*correlate)(int32_t previous, int32_t current, const StabTables& tables, StabWork& work,
                       int32_t* peakIndex);
};

extern const StabKernelSet stabKernelsSse2;
extern const StabKernelSet stabKernelsAvx2;
