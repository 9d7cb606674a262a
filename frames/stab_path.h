#pragma once
// The camera path and the correction of the stabiliser: pure rules, testable without frames.
#include <cstdint>

#include "frames/stabilizer.h"

// Path, smoothed path and envelope in pixels; the correction in fractions of frame width and
// height (the centre of the visible window moves by corrX x width, corrY x height).
struct StabPath {
    double pathX, pathY;
    double prevPathX, prevPathY;
    double smoothX, smoothY;
    double motionEnvelope;
    double corrX, corrY;
};

struct StabStep {
    double motion;            // pixels, length of the measured shift
    double stillness;         // 1 at rest .. 0 during large movements
    double correctionPixels;  // length of the new correction in pixels
};

// 1 while the envelope is at most 0.8 % of the width, 0 from 2.1 % on, smooth in between.
double StabStillness(double envelope, int32_t width);

// How far the centre of the zoomed window may move, as a fraction of the frame (0 at zoom 1).
double StabMargin(double cropZoom);

// Adds one measured shift (pixels; positive: the content moved right or down) to the path and
// moves the correction towards its new target, at most by the rate limit.
StabStep StabPathAdvance(StabPath& path, double shiftX, double shiftY, int32_t width, int32_t height,
                         const StabParams& params);
