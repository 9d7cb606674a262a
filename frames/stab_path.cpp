#include "frames/stab_path.h"

#include <algorithm>
#include <cmath>

double StabStillness(double envelope, int32_t width)
{
    const double quiet = 0.008 * width;
    const double moving = 0.021 * width;
    const double g = (envelope - quiet) / (moving - quiet);
    if (g < 0.0) return 1.0;
    const double c = std::min(g, 1.0);
    return 1.0 - c * c * (3.0 - 2.0 * c);
}

double StabMargin(double cropZoom)
{
    return (cropZoom - 1.0) / (2.0 * cropZoom);
}

StabStep StabPathAdvance(StabPath& p, double shiftX, double shiftY, int32_t width, int32_t height,
                         const StabParams& params)
{
    StabStep step{};
    step.motion = std::hypot(shiftX, shiftY);

    // Both axes enter alike. The window is drawn centred at frame centre + correction x size in
    // the frame's own coordinates, so a window that follows the content's movement (path up
    // when the content moves right or down) holds the content still; with the opposite sign it
    // would move against the content and double the shake.
    p.prevPathX = p.pathX;
    p.prevPathY = p.pathY;
    p.pathX += shiftX;
    p.pathY += shiftY;

    // Peak hold that decays by 10 % per frame, capped at 4.2 % of the width.
    p.motionEnvelope = std::max(std::min(step.motion, 0.042 * width), 0.9 * p.motionEnvelope);
    const double s = StabStillness(p.motionEnvelope, width);
    step.stillness = s;

    const double a = params.smoothing * s + 0.6 * (1.0 - s);
    p.smoothX = a * p.smoothX + (1.0 - a) * p.pathX;
    p.smoothY = a * p.smoothY + (1.0 - a) * p.pathY;

    const double m = StabMargin(params.cropZoom);
    if (!(m > 0.0)) {
        p.corrX = 0.0;
        p.corrY = 0.0;
        return step;
    }
    // Deviation from the smoothed path, extended by `lead` times the last step; tanh keeps
    // m x target inside the margin and the stillness fades it out during large movements.
    const double tx = std::tanh(((p.pathX - p.prevPathX) * params.lead + p.pathX - p.smoothX) / width *
                                params.gain * s / m);
    const double ty = std::tanh(((p.pathY - p.prevPathY) * params.lead + p.pathY - p.smoothY) / height *
                                params.gain * s / m);
    const double limit = 0.12 * m * std::max(2.0 * params.gain, 1.0);
    p.corrX += std::clamp(tx * m - p.corrX, -limit, limit);
    p.corrY += std::clamp(ty * m - p.corrY, -limit, limit);
    step.correctionPixels = std::hypot(width * p.corrX, height * p.corrY);
    return step;
}
