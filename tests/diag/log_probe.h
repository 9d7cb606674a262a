#pragma once
// What tests read back from the log ring, and the log's sandbox for a test.
#include <string>
#include <vector>

#include "diag/log.h"
#ifdef _WIN32
#include "tests/support/test_folder.h"
#endif

// The entries in the ring, oldest first.
inline std::vector<LogEntry> LogEntries()
{
    std::vector<LogEntry> entries(LOG_RING_CAPACITY);
    entries.resize(LogSnapshot(entries.data(), LOG_RING_CAPACITY));
    return entries;
}

// The texts of the entries at `level` (or of all), oldest first.
inline std::vector<std::wstring> LogTexts(uint32_t level = UINT32_MAX)
{
    std::vector<std::wstring> texts;
    for (const LogEntry& entry : LogEntries())
        if (level == UINT32_MAX || entry.level == level) texts.emplace_back(entry.text);
    return texts;
}

// The newest entry as "LEVEL text", or "" when the log is empty.
inline std::wstring LastLog()
{
    LogEntry entry{};
    return LogSnapshot(&entry, 1) ? std::wstring(LogLevelLabel(entry.level)) + L" " + entry.text : L"";
}

// An empty ring while it lives; on Windows also a fresh settings folder, which keeps the log
// file out of the user's folder (the native log has no file).
#ifdef _WIN32
using LogSandbox = TestSettingsFolder;
#else
struct LogSandbox {
    LogSandbox() { LogResetForTest(); }
};
#endif
