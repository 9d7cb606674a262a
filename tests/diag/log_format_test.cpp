// The log's pure parts: message formatting and cutting, the file line both ways, the read-back
// of a file text and the export text.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "diag/log_export.h"
#include "diag/log_format.h"
#include "diag/log_readback.h"

namespace {

std::wstring Format(const wchar_t* format, ...)
{
    wchar_t message[LOG_MESSAGE_CAPACITY];
    va_list args;
    va_start(args, format);
    LogFormatMessage(message, format, args);
    va_end(args);
    return message;
}

constexpr LogTime someTime{2024, 3, 2, 5, 7, 8, 9, 45};

std::wstring FileLine(const LogEntry& entry)
{
    wchar_t line[LOG_LINE_CAPACITY];
    LogFormatFileLine(line, entry);
    return line;
}

std::vector<LogEntry> ReadBack(const std::wstring& text, bool startsInsideFile)
{
    std::vector<LogEntry> entries;
    LogReadBackText({text.data(), text.size()}, startsInsideFile,
                    [](const LogEntry& entry, void* context) {
                        static_cast<std::vector<LogEntry>*>(context)->push_back(entry);
                    },
                    &entries);
    return entries;
}

bool Parses(const std::wstring& line)
{
    LogEntry entry;
    return LogParseLine(line.data(), line.size(), &entry);
}

std::wstring Export(const std::vector<LogEntry>& entries, const LogTime& now)
{
    wchar_t* text = LogBuildExportText({entries.data(), entries.size()}, L"Windows 10.0 (Build 1)", now);
    std::wstring result = text ? text : L"(null)";
    free(text);
    return result;
}

const std::wstring separator(32, L'\u2014');

}  // namespace

TEST(LogFormat, MessageUpTo1023CharactersFormatsLongerBecomesTheFallback)
{
    EXPECT_EQ(Format(L"Kamera %ls: %d", L"Wide", 3), L"Kamera Wide: 3");
    std::wstring fits(1023, L'a');
    EXPECT_EQ(Format(L"%ls", fits.c_str()), fits);
    std::wstring tooLong(1024, L'b');
    EXPECT_EQ(Format(L"%ls", tooLong.c_str()), L"(Log-Nachricht nicht formatierbar)");
    EXPECT_EQ(Format(L"x%ls", fits.c_str()), L"(Log-Nachricht nicht formatierbar)");
}

TEST(LogFormat, EntryKeeps511CharactersWithoutSplittingASurrogatePair)
{
    std::wstring exact(511, L'x');
    EXPECT_EQ(std::wstring(LogMakeEntry(someTime, LOG_WARN, exact.c_str()).text), exact);
    EXPECT_EQ(LogMakeEntry(someTime, 7, L"").level, LOG_INFO);
    // A pair across the limit goes as a whole instead of leaving half a character.
    std::wstring pair = std::wstring(510, L'p') + L'\xD83D' + L'\xDE00' + L"q";
    EXPECT_EQ(std::wstring(LogMakeEntry(someTime, LOG_INFO, pair.c_str()).text), std::wstring(510, L'p'));
}

TEST(LogReadBack, WrittenLinesParseBackToTheirEntries)
{
    for (uint32_t level = LOG_INFO; level <= LOG_ERROR; level++) {
        LogEntry written = LogMakeEntry(someTime, level, L"  Text mit  Doppel-Leerzeichen");
        std::wstring line = FileLine(written);
        line.pop_back();
        LogEntry read;
        ASSERT_TRUE(LogParseLine(line.data(), line.size(), &read)) << level;
        EXPECT_EQ(read.level, level);
        EXPECT_STREQ(read.text, written.text);
        const LogTime expected{2024, 3, 0, 5, 7, 8, 9, 0};
        EXPECT_EQ(memcmp(&read.time, &expected, sizeof expected), 0);
    }
    LogEntry entry;
    ASSERT_TRUE(LogParseLine(L"2024-01-01 00:00:00  INFO  ", 27, &entry));
    EXPECT_STREQ(entry.text, L"");
    std::wstring longText = L"2024-01-01 00:00:00  WARN  " + std::wstring(700, L'l');
    ASSERT_TRUE(LogParseLine(longText.data(), longText.size(), &entry));
    EXPECT_EQ(std::wstring(entry.text), std::wstring(511, L'l'));
}

TEST(LogReadBack, LinesFailingAnyTestAreRejected)
{
    EXPECT_TRUE(Parses(L"1970-01-01 00:00:60  WARN  x"));
    EXPECT_TRUE(Parses(L"9999-12-31 23:59:59  EVENT  x"));
    const wchar_t* rejected[] = {
        L"2024-01-01 00:00:00  INFO ",       // 26 characters
        L"2024-13-01 00:00:00  INFO  x",     // month 13
        L"1969-12-31 23:59:59  INFO  x",     // before 1970
        L"2024-01-32 00:00:00  INFO  x",     // day 32
        L"2024-01-01 24:00:00  INFO  x",     // hour 24
        L"2024-01-01 00:00:61  INFO  x",     // second 61
        L"2024-01-01 00:00:00  DEBUG  x",    // unknown label
        L"2024-01-01 00:00:00  INFOX  x",    // label with more
        L"2024-01-01 00:00:00  info  x",     // label in other case
        L"2024-01-01 00:00:00  INFO x y z",  // no double space after the label
        L"2024-01-01 00:00:00 INFO  x yz",   // one space before the label
        L"2024-01-01T00:00:00  INFO  x",     // no space at 10
        L"2024-01-01 00:00:00\t INFO  x",    // tab at 19
        L"24-01-01 00:00:00  INFO  xxxxxx",  // short year shifts the columns
        L"Fortsetzung einer Meldung mit Zeilenumbruch",
    };
    for (const wchar_t* line : rejected) EXPECT_FALSE(Parses(line)) << std::wstring(line).size();
}

TEST(LogReadBack, SplitsLinesAcceptsCrLfAndAnUnterminatedLastLine)
{
    std::wstring text = L"2024-01-01 00:00:01  INFO  eins\r\n"
                        L"\n"
                        L"fremder Text\n"
                        L"2024-13-01 00:00:02  INFO  Monat 13\n"
                        L"2024-01-01 00:00:03  WARN  zwei\r\r\n"
                        L"2024-01-01 00:00:04  FEHLER  drei";
    std::vector<LogEntry> entries = ReadBack(text, false);
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_STREQ(entries[0].text, L"eins");
    EXPECT_STREQ(entries[1].text, L"zwei\r");  // only one carriage return is a line end
    EXPECT_EQ(entries[1].level, LOG_WARN);
    EXPECT_STREQ(entries[2].text, L"drei");
    EXPECT_EQ(entries[2].level, LOG_ERROR);

    std::wstring cutShort = L"2024-01-01 00:00:01  INFO  eins\n2024-01-01 00:00:0";
    EXPECT_EQ(ReadBack(cutShort, false).size(), 1u);
}

TEST(LogReadBack, TailDropsItsFirstLineEvenWhenItLooksWhole)
{
    std::vector<LogEntry> entries = ReadBack(L"2024-01-01 00:00:01  INFO  Rest\n2024-01-01 00:00:02  INFO  ganz", true);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_STREQ(entries[0].text, L"ganz");
    EXPECT_TRUE(ReadBack(L"2024-01-01 00:00:01  INFO  ohne Zeilenende", true).empty());
}

TEST(LogExport, HeaderThenEntriesOldestFirstWithoutFinalLineFeed)
{
    const std::wstring header =
        L"MI-RU Diagnose-Protokoll\nWindows 10.0 (Build 1)\nErstellt: 2025-01-02 03:04:05\n" + separator + L"\n";
    const LogTime now{2025, 1, 0, 2, 3, 4, 5, 6};
    EXPECT_EQ(Export({}, now), header);
    std::vector<LogEntry> entries = {
        LogMakeEntry(LogTime{2024, 1, 0, 1, 1, 2, 3, 4}, LOG_INFO, L"eins"),
        LogMakeEntry(LogTime{2024, 1, 0, 1, 13, 14, 15, 999}, LOG_ERROR, L"zwei %ls"),
        LogMakeEntry(LogTime{2024, 1, 0, 1, 23, 59, 60, 0}, LOG_EVENT, L""),
    };
    EXPECT_EQ(Export(entries, now), header + L"01:02:03.004  INFO    eins\n"
                                             L"13:14:15.999  FEHLER  zwei %ls\n"
                                             L"23:59:60.000  EVENT   ");
}

TEST(LogExport, FullRingOfLongestTextsFitsItsRoom)
{
    std::wstring longest(511, L'\u00fc');
    std::vector<LogEntry> entries(LOG_RING_CAPACITY, LogMakeEntry(someTime, LOG_ERROR, longest.c_str()));
    std::wstring text = Export(entries, someTime);
    std::wstring line = L"07:08:09.045  FEHLER  " + longest;
    size_t lines = 0;
    for (size_t at = text.find(line); at != std::wstring::npos; at = text.find(line, at + 1)) lines++;
    EXPECT_EQ(lines, LOG_RING_CAPACITY);
    EXPECT_EQ(text.substr(text.size() - line.size()), line);
}
