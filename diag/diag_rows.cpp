#include "diag/diag_rows.h"

#include <cwchar>

namespace {

bool SameTime(const LogTime& a, const LogTime& b)
{
    return a.year == b.year && a.month == b.month && a.day == b.day && a.hour == b.hour && a.minute == b.minute &&
           a.second == b.second && a.milliseconds == b.milliseconds;
}

}  // namespace

bool DiagSnapshotUnchanged(std::span<const LogEntry> snapshot, int32_t lastCount, const DiagNewest& last)
{
    if (static_cast<int64_t>(snapshot.size()) != lastCount) return false;
    if (snapshot.empty()) return true;
    const LogEntry& newest = snapshot.back();
    return SameTime(newest.time, last.time) && newest.level == last.level &&
           wcsncmp(newest.text, last.text, DIAG_NEWEST_TEXT - 1) == 0;
}

void DiagRememberNewest(std::span<const LogEntry> snapshot, DiagNewest* last)
{
    if (snapshot.empty() || !last) return;
    const LogEntry& newest = snapshot.back();
    last->time = newest.time;
    last->level = newest.level;
    wcsncpy(last->text, newest.text, DIAG_NEWEST_TEXT - 1);
    last->text[DIAG_NEWEST_TEXT - 1] = 0;
}

int32_t DiagBuildRows(std::span<const LogEntry> snapshot, int32_t filterLevel, int32_t* rows)
{
    int32_t count = 0;
    for (size_t i = snapshot.size(); i-- > 0;)
        if (filterLevel == DIAG_FILTER_ALL || snapshot[i].level == static_cast<uint32_t>(filterLevel))
            rows[count++] = static_cast<int32_t>(i);
    return count;
}

void DiagFormatTime(const LogTime& time, wchar_t* out, size_t capacity)
{
    if (!out || capacity == 0) return;
    if (swprintf(out, capacity, L"%02u:%02u:%02u.%03u", unsigned{time.hour}, unsigned{time.minute},
                 unsigned{time.second}, unsigned{time.milliseconds}) < 0)
        out[0] = 0;
}
