#include "diag/log_readback.h"

#include <cwchar>

#include "diag/log_format.h"

namespace {

// "YYYY-MM-DD hh:mm:ss" ends at 19, the two spaces before the label at 19 and 20.
constexpr size_t labelStart = 21;

// A scan that runs past character 20 belongs to a line that the label test rejects anyway, so
// scanning a copy of the first characters gives the same verdict as scanning the whole line.
constexpr size_t scanPrefix = 32;

bool InRange(unsigned value, unsigned low, unsigned high)
{
    return value >= low && value <= high;
}

// The level whose label fills line[labelStart, end) exactly, or -1.
int32_t LevelOfLabel(const wchar_t* line, size_t end)
{
    size_t length = end - labelStart;
    for (uint32_t level = LOG_INFO; level <= LOG_ERROR; level++) {
        const wchar_t* label = LogLevelLabel(level);
        if (wcslen(label) == length && wmemcmp(label, line + labelStart, length) == 0)
            return static_cast<int32_t>(level);
    }
    return -1;
}

}  // namespace

bool LogParseLine(const wchar_t* line, size_t length, LogEntry* out)
{
    if (length <= 26) return false;

    wchar_t head[scanPrefix + 1];
    size_t headLength = length < scanPrefix ? length : scanPrefix;
    wmemcpy(head, line, headLength);
    head[headLength] = 0;
    unsigned year, month, day, hour, minute, second;
    if (swscanf(head, L"%4u-%2u-%2u %2u:%2u:%2u", &year, &month, &day, &hour, &minute, &second) != 6)
        return false;
    if (line[19] != L' ' || line[20] != L' ') return false;
    if (!InRange(year, 1970, 9999) || !InRange(month, 1, 12) || !InRange(day, 1, 31) ||
        hour > 23 || minute > 59 || second > 60)
        return false;

    size_t gap = labelStart;
    while (gap + 1 < length && !(line[gap] == L' ' && line[gap + 1] == L' ')) gap++;
    if (gap + 1 >= length) return false;
    int32_t level = LevelOfLabel(line, gap);
    if (level < 0) return false;

    LogEntry entry{};
    entry.time = LogTime{static_cast<uint16_t>(year),   static_cast<uint16_t>(month), 0,
                         static_cast<uint16_t>(day),    static_cast<uint16_t>(hour),
                         static_cast<uint16_t>(minute), static_cast<uint16_t>(second), 0};
    entry.level = static_cast<uint32_t>(level);
    size_t textStart = gap + 2;
    LogCopyText(entry.text, line + textStart, length - textStart);
    *out = entry;
    return true;
}

uint32_t LogReadBackText(std::span<const wchar_t> text, bool startsInsideFile, LogTakeEntry take,
                         void* context)
{
    size_t position = 0;
    if (startsInsideFile) {
        while (position < text.size() && text[position] != L'\n') position++;
        // Past the line feed; without one the whole text is the cut first line.
        position++;
    }
    uint32_t taken = 0;
    while (position < text.size()) {
        size_t end = position;
        while (end < text.size() && text[end] != L'\n') end++;
        size_t length = end - position;
        if (length > 0 && text[position + length - 1] == L'\r') length--;
        LogEntry entry;
        if (length > 0 && LogParseLine(text.data() + position, length, &entry)) {
            take(entry, context);
            taken++;
        }
        position = end + 1;
    }
    return taken;
}
