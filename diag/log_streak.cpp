#include "diag/log_streak.h"

#include "diag/log.h"

bool LogStreakFailed(LogStreak& streak)
{
    // Saturates: a streak of four billion frames stays one streak.
    if (streak.failures < UINT32_MAX) ++streak.failures;
    return streak.failures == 1;
}

void LogStreakSucceeded(LogStreak& streak, const wchar_t* what)
{
    if (streak.failures == 0) return;
    const unsigned long count = streak.failures;
    streak.failures = 0;
    LogWrite(LOG_INFO, L"%ls wieder in Ordnung nach %lu %ls", what ? what : L"", count,
             count == 1 ? L"Fehler" : L"Fehlern");
}
