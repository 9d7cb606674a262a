#pragma once
// A failure that repeats with every frame is logged once per streak: the first failure logs its
// cause, the ones after it are only counted, and the success that ends the streak logs one line
// with the count. A streak belongs to one thread (or to callbacks that never overlap): the
// record is plain, so two threads never share one.
#include <cstdint>

struct LogStreak {
    uint32_t failures;  // of the running streak; 0 when none runs
};

// Counts a failure. True when it starts a streak: the caller logs the cause now.
bool LogStreakFailed(LogStreak& streak);

// A success. Ends a running streak with "<what> wieder in Ordnung nach <n> Fehlern" (INFO);
// nothing when none runs. `what` is plain text, never a format.
void LogStreakSucceeded(LogStreak& streak, const wchar_t* what);
