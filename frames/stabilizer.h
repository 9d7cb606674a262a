#pragma once
// Software stabilisation of the Macro image: phase correlation of successive frames, a
// smoothed camera path and a shifted, cropped visible window. Pixels are never changed.
#include <cstdint>

struct StabParams {
    double gain;
    double smoothing;
    double cropZoom;
    double lead;
};

// Measures one Macro frame (32-bit BGRA) and returns the visible window's centre shift as
// fractions of the frame size and its zoom. Each output may be null.
void StabProcessFrame(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride,
                      int32_t sourceTag, double* outX, double* outY, double* outZoom);

void StabSetEnabled(bool on);
void StabRequestReset();
// The configured crop zoom while enabled, 1.0 otherwise.
double StabCurrentZoom();
// The current correction (fractions of frame width and height); each output may be null.
void StabGetCorrection(double* x, double* y);
// The tuning values from the settings, with non-finite values replaced by their defaults.
StabParams StabReadParams();
