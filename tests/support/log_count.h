#pragma once
// How often a line was logged: the one count that tests of every area read the log ring with.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tests/diag/log_probe.h"

// Stands for every level in TimesLogged.
constexpr uint32_t LOG_ANY_LEVEL = UINT32_MAX;

// The entries in the log ring at `level` (or at any level) whose text begins with `start`; a
// whole line's text counts the entries with exactly that text (and any that continue it).
inline size_t TimesLogged(uint32_t level, std::wstring_view start)
{
    size_t count = 0;
    for (const LogEntry& entry : LogEntries())
        if ((level == LOG_ANY_LEVEL || entry.level == level) && std::wstring_view(entry.text).starts_with(start))
            count++;
    return count;
}
