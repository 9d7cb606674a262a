#pragma once
// What the diagnostics window shows of a log snapshot: the visible rows for a level filter,
// newest first, and whether a new snapshot differs from the one shown.
#include <cstddef>
#include <cstdint>
#include <span>

#include "diag/log.h"

constexpr int32_t DIAG_FILTER_ALL = -1;
constexpr size_t DIAG_NEWEST_TEXT = 64;  // the first 63 characters are compared

// The newest entry of the snapshot last shown.
struct DiagNewest {
    LogTime time;
    uint32_t level;
    wchar_t text[DIAG_NEWEST_TEXT];
};

// True when `snapshot` (oldest first) has `lastCount` entries and, unless empty, the same
// newest entry as remembered: nothing to rebuild.
bool DiagSnapshotUnchanged(std::span<const LogEntry> snapshot, int32_t lastCount, const DiagNewest& last);
// Remembers the newest entry of a non-empty snapshot.
void DiagRememberNewest(std::span<const LogEntry> snapshot, DiagNewest* last);
// Fills `rows` with snapshot positions, newest first, of the entries at `filterLevel` (every
// entry for DIAG_FILTER_ALL); `rows` holds at least snapshot.size() values. The row count.
int32_t DiagBuildRows(std::span<const LogEntry> snapshot, int32_t filterLevel, int32_t* rows);
// "hh:mm:ss.mmm"
void DiagFormatTime(const LogTime& time, wchar_t* out, size_t capacity);
