#pragma once
// Diagnostics of the stabiliser (developer option): per five-second window the measured frame
// rate, measurement time, motion, correction, stillness gate and failed measurements.
// The accumulators are guarded by the stabiliser's state lock; a finished window is returned
// as a report and logged by the caller after the lock is dropped.
#include <cstdint>

enum : int32_t { STAB_REPORT_NONE = 0, STAB_REPORT_SUMMARY = 1, STAB_REPORT_NO_MEASUREMENT = 2 };

struct StabDiagReport {
    int32_t kind;
    double framesPerSecond;
    double meanMs, maxMs;
    double meanMotion, maxMotion;            // pixels
    double meanCorrection, maxCorrection;    // pixels
    int32_t gatePercent;                     // mean stillness x 100, rounded
    int32_t errors;
    int32_t seconds;                         // elapsed whole seconds (no-measurement warning)
};

// A measured frame at clock time `now` (seconds).
StabDiagReport StabDiagAddFrame(double now, double measurementMs, double motion, double correctionPixels,
                                double stillness);
// A measurement that gave no finite result.
StabDiagReport StabDiagAddError(double now);
// Diagnostics switched off: the next counted frame starts a new window.
void StabDiagStop();
// Logs a report (nothing for STAB_REPORT_NONE). Call without holding a lock.
void StabDiagLog(const StabDiagReport& report);
