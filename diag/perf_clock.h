#pragma once
// Seconds from the high-resolution performance counter, replaceable in tests.

double PerfClockSeconds();

// Tests only: null restores the performance counter.
void PerfClockSetForTest(double (*now)());
