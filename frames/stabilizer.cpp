#include "frames/stabilizer.h"

#include <cmath>
#include <mutex>
#include <shared_mutex>

#include "app/texts.h"
#include "diag/log.h"
#include "diag/perf_clock.h"
#include "frames/stab_diag.h"
#include "frames/stab_measure.h"
#include "frames/stab_path.h"
#include "settings/settings_record.h"

namespace {

// Switch lock: guards `enabled` and `resetRequested` only. Never held while the state lock is
// taken or while logging.
std::shared_mutex switchLock;
bool enabled = false;
bool resetRequested = false;

// State lock: guards `state`, the measurement's static working memory and the diagnostics
// accumulators. StabProcessFrame holds it exclusively for its whole run (one measurement, well
// under a millisecond); StabGetCorrection takes it shared.
std::shared_mutex stateLock;
struct StabState {
    bool haveReference;
    int32_t lastSourceTag;  // -1 after disabling
    int32_t refIndex;       // spectrum slot of the previous frame
    StabPath path;
};
StabState state{false, -1, 0, {}};

double Finite(double value, double replacement)
{
    return std::isfinite(value) ? value : replacement;
}

void Write(double* out, double value)
{
    if (out) *out = value;
}

// A new path also starts a new diagnostics window, so that a report never spans a time in
// which nothing was measured (switched off, cameras restarting).
void ResetState()
{
    state.haveReference = false;
    state.path = StabPath{};
    StabDiagStop();
}

}  // namespace

StabParams StabReadParams()
{
    StabParams p;
    p.gain = Finite(Settings.stabGain, 0.5);
    p.smoothing = Finite(Settings.stabSmoothing, 0.85);
    p.cropZoom = Finite(Settings.stabCropZoom, 1.15);
    if (p.cropZoom <= 0.0) p.cropZoom = 1.15;
    p.lead = Finite(Settings.stabLead, 0.0);
    return p;
}

void StabSetEnabled(bool on)
{
    bool wasOn;
    {
        std::unique_lock lock(switchLock);
        wasOn = enabled;
        enabled = on;
        if (on) resetRequested = true;
    }
    if (on && !wasOn) {
        const StabParams p = StabReadParams();
        LogWrite(LOG_INFO,
                 PickText(L"Stabilisierung an \u2014 St\u00e4rke %.1f \u00b7 Gl\u00e4ttung %.3f \u00b7 Crop %.2f "
                          L"\u00b7 Vorhersage %.2f",
                          L"Stabilization on \u2014 strength %.1f \u00b7 smoothing %.3f \u00b7 crop %.2f "
                          L"\u00b7 prediction %.2f"),
                 p.gain, p.smoothing, p.cropZoom, p.lead);
    }
}

void StabRequestReset()
{
    std::unique_lock lock(switchLock);
    resetRequested = true;
}

double StabCurrentZoom()
{
    bool on;
    {
        std::shared_lock lock(switchLock);
        on = enabled;
    }
    return on ? StabReadParams().cropZoom : 1.0;
}

void StabGetCorrection(double* x, double* y)
{
    std::shared_lock lock(stateLock);
    Write(x, state.path.corrX);
    Write(y, state.path.corrY);
}

void StabProcessFrame(const uint8_t* pixels, int32_t width, int32_t height, int32_t stride, int32_t sourceTag,
                      double* outX, double* outY, double* outZoom)
{
    bool on;
    bool resetDue;
    {
        std::unique_lock lock(switchLock);
        on = enabled;
        resetDue = resetRequested;
        resetRequested = false;
    }

    StabDiagReport report{};
    {
        std::unique_lock lock(stateLock);
        if (!on) {
            state.haveReference = false;
            state.lastSourceTag = -1;
            state.path.corrX = 0.0;
            state.path.corrY = 0.0;
            state.path.motionEnvelope = 0.0;
            StabDiagStop();
            Write(outX, 0.0);
            Write(outY, 0.0);
            Write(outZoom, 1.0);
            return;
        }
        if (resetDue || sourceTag != state.lastSourceTag) ResetState();
        state.lastSourceTag = sourceTag;

        const StabParams params = StabReadParams();
        // The previous correction stands until a new one is computed.
        Write(outX, state.path.corrX);
        Write(outY, state.path.corrY);
        Write(outZoom, params.cropZoom);

        if (!pixels || width < STAB_REGION_WIDTH || height < STAB_REGION_HEIGHT ||
            static_cast<int64_t>(stride) < static_cast<int64_t>(width) * 4)
            return;

        const double t0 = PerfClockSeconds();
        const int32_t current = state.refIndex ^ 1;
        StabMeasureForward(pixels, width, height, stride, current);
        if (!state.haveReference) {
            // The first frame after a reset only becomes the reference.
            state.haveReference = true;
            state.refIndex = current;
            return;
        }
        const StabShift shift = StabMeasureCorrelate(state.refIndex, current);
        const double t1 = PerfClockSeconds();
        state.refIndex = current;

        const bool diagnostics = Settings.devStabDiag;
        // No usable peak: a value that is not finite, or a surface without any positive value,
        // which is what a uniform frame (blank, saturated, covered lens) gives, as its
        // cross-power spectrum vanishes. Counting that as "no motion" would hide the failure.
        const bool failed = !(std::isfinite(shift.shiftX) && std::isfinite(shift.shiftY) &&
                              std::isfinite(shift.peakValue) && shift.peakValue > 0.0f);
        if (failed) {
            // The correction stands; the frame still became the reference.
            if (diagnostics) report = StabDiagAddError(t1);
        } else {
            const StabStep step = StabPathAdvance(state.path, shift.shiftX, shift.shiftY, width, height, params);
            Write(outX, state.path.corrX);
            Write(outY, state.path.corrY);
            if (diagnostics)
                report = StabDiagAddFrame(t1, (t1 - t0) * 1000.0, step.motion, step.correctionPixels,
                                          step.stillness);
        }
        if (!diagnostics) StabDiagStop();
    }
    StabDiagLog(report);
}
