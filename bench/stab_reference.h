#pragma once
// A slow, plain transcription of the stabiliser's measurement: luma cells of the central
// 960 x 540 pixels, Hann window, radix-2 FFT with bit reversal and column copies, normalised
// cross-power spectrum, inverse transform, peak and sub-cell refinement: the plain baseline the
// benchmark times the fast measurement against (and checks that both agree).
#include <complex>
#include <cstdint>
#include <vector>

struct ReferenceResult {
    int32_t peakX;  // cell column of the correlation peak, 0..255
    int32_t peakY;  // cell row
    float peakValue;
    double shiftX;  // pixels; positive: the current content lies further right
    double shiftY;  // pixels; positive: further down
};

// One frame's forward spectrum, 256 x 256 complex values, row-major (row = y).
using ReferenceSpectrum = std::vector<std::complex<float>>;

// The mean luma cells before the window, row-major.
std::vector<float> ReferenceCells(const uint8_t* pixels, int32_t width, int32_t height,
                                  int32_t stride);

// The windowed cells (their mean removed) of one frame, transformed.
ReferenceSpectrum ReferenceForward(const uint8_t* pixels, int32_t width, int32_t height,
                                   int32_t stride);
// Correlates two spectra; `previous` is overwritten by the cross-power and its inverse.
ReferenceResult ReferenceCorrelate(ReferenceSpectrum& previous, const ReferenceSpectrum& current);
