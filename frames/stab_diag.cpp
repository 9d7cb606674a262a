#include "frames/stab_diag.h"

#include <cmath>

#include "app/texts.h"
#include "diag/log.h"

namespace {

constexpr double windowSeconds = 5.0;

struct Window {
    bool started;
    double start;  // clock seconds
    int32_t frames;
    int32_t errors;
    double sumMs, maxMs;
    double sumMotion, maxMotion;
    double sumCorrection, maxCorrection;
    double sumStillness;
};
Window window{};  // guarded by the stabiliser's state lock

void Begin(double now)
{
    if (window.started) return;
    window = Window{};
    window.started = true;
    window.start = now;
}

StabDiagReport Check(double now)
{
    StabDiagReport r{};
    const double elapsed = now - window.start;
    if (!(elapsed >= windowSeconds)) return r;
    const int32_t n = window.frames;
    if (n > 0) {
        r.kind = STAB_REPORT_SUMMARY;
        r.framesPerSecond = n / elapsed;
        r.meanMs = window.sumMs / n;
        r.maxMs = window.maxMs;
        r.meanMotion = window.sumMotion / n;
        r.maxMotion = window.maxMotion;
        r.meanCorrection = window.sumCorrection / n;
        r.maxCorrection = window.maxCorrection;
        r.gatePercent = static_cast<int32_t>(std::lround(window.sumStillness / n * 100.0));
        r.errors = window.errors;
    } else if (window.errors > 0) {
        r.kind = STAB_REPORT_NO_MEASUREMENT;
        r.seconds = static_cast<int32_t>(elapsed);
        r.errors = window.errors;
    }
    window = Window{};
    window.started = true;
    window.start = now;
    return r;
}

void Raise(double& maximum, double value)
{
    if (value > maximum) maximum = value;
}

}  // namespace

StabDiagReport StabDiagAddFrame(double now, double measurementMs, double motion, double correctionPixels,
                                double stillness)
{
    Begin(now);
    window.frames++;
    window.sumMs += measurementMs;
    window.sumMotion += motion;
    window.sumCorrection += correctionPixels;
    window.sumStillness += stillness;
    Raise(window.maxMs, measurementMs);
    Raise(window.maxMotion, motion);
    Raise(window.maxCorrection, correctionPixels);
    return Check(now);
}

StabDiagReport StabDiagAddError(double now)
{
    Begin(now);
    window.errors++;
    return Check(now);
}

void StabDiagStop()
{
    window.started = false;
}

void StabDiagLog(const StabDiagReport& r)
{
    if (r.kind == STAB_REPORT_SUMMARY) {
        LogWrite(LOG_INFO,
                 PickText(L"Stab-Diagnose: %.0f/s \u00b7 Messung %.1f ms (max %.1f) \u00b7 Bewegung %.1f px "
                          L"(max %.1f) \u00b7 Korrektur %.1f px (max %.1f) \u00b7 Gate %d%% \u00b7 Fehler %d",
                          L"Stab diagnostics: %.0f/s \u00b7 measurement %.1f ms (max %.1f) \u00b7 motion %.1f px "
                          L"(max %.1f) \u00b7 correction %.1f px (max %.1f) \u00b7 gate %d%% \u00b7 errors %d"),
                 r.framesPerSecond, r.meanMs, r.maxMs, r.meanMotion, r.maxMotion, r.meanCorrection,
                 r.maxCorrection, r.gatePercent, r.errors);
    } else if (r.kind == STAB_REPORT_NO_MEASUREMENT) {
        LogWrite(LOG_WARN,
                 PickText(L"Stab-Diagnose: keine Messung in %d s \u00b7 Fehler %d",
                          L"Stab diagnostics: no measurement in %d s \u00b7 errors %d"),
                 r.seconds, r.errors);
    }
}
