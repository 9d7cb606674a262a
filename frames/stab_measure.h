#pragma once
// The stabiliser's measurement: how far the content of the central 960 x 540 pixels of a frame
// has moved since an earlier frame (phase correlation on a 256 x 256 grid of luma cells).
// Not thread-safe: one caller at a time (the stabiliser calls it under its state lock).
#include <cstdint>

#include "frames/stab_pipeline.h"

struct StabShift {
    int32_t peakX;    // cell column of the correlation peak, 0..255
    int32_t peakY;    // cell row
    float peakValue;  // not finite when the measurement failed
    double shiftX;    // pixels; positive: the current content lies further right
    double shiftY;    // pixels; positive: further down
};

// Measures a frame into spectrum slot 0 or 1. The caller checks the size: width >= 960,
// height >= 540, stride >= width * 4, pixels not null.
void StabMeasureForward(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride, int32_t slot);

// Shift of the content of slot `current` against slot `previous`.
StabShift StabMeasureCorrelate(int32_t previous, int32_t current);

// The shift read from a correlation surface (256 x 256, row-major) with its peak at `index`
// (y * 256 + x): the peak cell, refined by a parabola through its neighbours on each axis
// (wrapping around the edges), and converted to pixels. Cells 0..128 are shifts of 0..+128
// cells, cells 129..255 of -127..-1.
StabShift StabShiftFromSurface(const float* surface, int32_t index);

// Fills the fixed tables (Hann window, twiddles, bit reversal, cell bounds).
void StabTablesBuild(StabTables& tables);

// Kernel choice: the AVX2 set when the processor supports it, else SSE2. Tests and the
// benchmark may force one; forcing AVX2 on a processor without it fails and changes nothing.
enum : int32_t { STAB_KERNELS_AUTO = 0, STAB_KERNELS_SSE2 = 1, STAB_KERNELS_AVX2 = 2 };
bool StabMeasureSelectKernels(int32_t choice);
bool StabCpuHasAvx2();

#ifdef MIRU_TEST_HOOKS
// Tests only: called with every correlation result before it is returned (null removes it).
void StabMeasureSetHookForTest(void (*hook)(StabShift* shift));
#endif
