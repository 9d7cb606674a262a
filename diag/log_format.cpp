#include "diag/log_format.h"

#include <cstdint>
#include <cwchar>

#include "res/miru_version.h"

namespace {

constexpr const wchar_t* levelLabels[] = {L"INFO", L"EVENT", L"WARN", L"FEHLER"};
constexpr uint32_t levelCount = sizeof(levelLabels) / sizeof(levelLabels[0]);

constexpr const wchar_t unformattable[] = L"(Log-Nachricht nicht formatierbar)";

bool IsHighSurrogate(wchar_t c)
{
    return c >= 0xD800 && c <= 0xDBFF;
}

}  // namespace

const wchar_t* LogLevelLabel(uint32_t level)
{
    return levelLabels[level < levelCount ? level : LOG_INFO];
}

void LogFormatMessage(std::span<wchar_t, LOG_MESSAGE_CAPACITY> dest, const wchar_t* format,
                      va_list args)
{
    // C and the MinGW printf family differ on an overflow (-1 or the full length); both are
    // caught by the same test.
    int written = vswprintf(dest.data(), dest.size(), format, args);
    if (written < 0 || static_cast<size_t>(written) >= dest.size())
        wmemcpy(dest.data(), unformattable, sizeof(unformattable) / sizeof(wchar_t));
}

void LogCopyText(std::span<wchar_t, LOG_TEXT_CAPACITY> dest, const wchar_t* source, size_t length)
{
    size_t count = 0;
    while (count < length && count < dest.size() - 1 && source[count] != 0) count++;
    // A cut through a surrogate pair would leave half a character that the UTF-8 file can
    // only show as a replacement mark.
    bool cutInsidePair = count == dest.size() - 1 && count < length && source[count] != 0 &&
                         IsHighSurrogate(source[count - 1]);
    if (cutInsidePair) count--;
    wmemcpy(dest.data(), source, count);
    dest[count] = 0;
}

LogEntry LogMakeEntry(const LogTime& time, uint32_t level, const wchar_t* message)
{
    LogEntry entry{};
    entry.time = time;
    entry.level = level < levelCount ? level : LOG_INFO;
    LogCopyText(entry.text, message, SIZE_MAX);
    return entry;
}

void LogFormatFileLine(std::span<wchar_t, LOG_LINE_CAPACITY> dest, const LogEntry& entry)
{
    const LogTime& t = entry.time;
    int written = swprintf(dest.data(), dest.size(), L"%04u-%02u-%02u %02u:%02u:%02u  %ls  %.511ls\n",
                           unsigned{t.year}, unsigned{t.month}, unsigned{t.day}, unsigned{t.hour},
                           unsigned{t.minute}, unsigned{t.second}, LogLevelLabel(entry.level),
                           entry.text);
    // Unreachable: even 16-bit time fields at their maximum keep a line under 560 characters.
    if (written < 0 || static_cast<size_t>(written) >= dest.size()) dest[0] = 0;
}

void LogFormatSystemText(std::span<wchar_t, LOG_SYSTEM_TEXT_CAPACITY> dest, const uint32_t* version)
{
    int written = -1;
    if (version) {
        written = swprintf(dest.data(), dest.size(),
                           L"Windows %lu.%lu (Build %lu) \u00B7 MI-RU App v" MIRU_VERSION_TEXT,
                           static_cast<unsigned long>(version[0]),
                           static_cast<unsigned long>(version[1]),
                           static_cast<unsigned long>(version[2]));
    }
    if (written < 0) swprintf(dest.data(), dest.size(), L"Windows \u00B7 MI-RU App v" MIRU_VERSION_TEXT);
}
