#pragma once
// Seconds from the high-resolution performance counter (replaceable in development builds' tests).

double PerfClockSeconds();

#ifdef MIRU_TEST_HOOKS
// Tests only: null restores the performance counter.
void PerfClockSetForTest(double (*now)());
#endif
