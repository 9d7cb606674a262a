// The log's pure parts: message formatting and cutting, the file line both ways, the read-back
// of a file text and the export text.
#include <gtest/gtest.h>

#include <cstdarg>
#include <cstdlib>
#include <cstring>
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

std::wstring Export(const std::vector<LogEntry>& entries, const LogTime& now, const wchar_t* dumpFolder = L"")
{
    wchar_t* text = LogBuildExportText({entries.data(), entries.size()}, L"Windows 10.0 (Build 1)", dumpFolder, now);
    std::wstring result = text ? text : L"(null)";
    free(text);
    return result;
}

const std::wstring separator(32, L'\u2014');

}  // namespace

TEST(LogFormat, MessageUpTo1023CharactersFormatsLongerBecomesTheFallback)
{
    EXPECT_EQ(Format(L"Kamera %ls: %d", L"Wide", 3), L"Kamera Wide: 3");
    const std::wstring fits(1023, L'a');
    EXPECT_EQ(Format(L"%ls", fits.c_str()), fits);
    EXPECT_EQ(Format(L"x%ls", fits.c_str()), L"(Log-Nachricht nicht formatierbar)");

    // The conversions the program's messages use read the same with every C runtime: %ls is a
    // wide string (not narrow, as some runtimes' wide printf takes %s), %zu and %lld are 64-bit,
    // %.1f rounds, %08lX of a failure code has eight digits.
    EXPECT_EQ(Format(L"%ls|%zu|%lld|%.1f|%.0f|%08lX|%d%%", L"Ger\u00e4t", static_cast<size_t>(8294400),
                     -5000000000LL, 2.36, 1234.5678, 0x80070005ul, 7),
              L"Ger\u00e4t|8294400|-5000000000|2.4|1235|80070005|7%");
}

TEST(LogFormat, EntryKeeps511CharactersWithoutSplittingASurrogatePair)
{
    const std::wstring exact(511, L'x');
    EXPECT_EQ(std::wstring(LogMakeEntry(someTime, LOG_WARN, (exact + L"y").c_str()).text), exact);
    EXPECT_EQ(LogMakeEntry(someTime, 7, L"").level, LOG_INFO);
    // A pair across the limit goes as a whole instead of leaving half a character.
    std::wstring pair = std::wstring(510, L'p') + L'\xD83D' + L'\xDE00' + L"q";
    EXPECT_EQ(std::wstring(LogMakeEntry(someTime, LOG_INFO, pair.c_str()).text), std::wstring(510, L'p'));
}

// Lines written for every level come back as their entries (the time to the second), lines
// failing any test are skipped, CR LF and a last line without line feed are accepted.
TEST(LogReadBack, WrittenLinesComeBackAndLinesFailingAnyTestAreSkipped)
{
    std::wstring text;
    for (uint32_t level = LOG_INFO; level <= LOG_ERROR; level++) {
        wchar_t line[LOG_LINE_CAPACITY];
        LogFormatFileLine(line, LogMakeEntry(someTime, level, L"  Text mit  Doppel-Leerzeichen"));
        text += line;
    }
    for (const wchar_t* rejected : {
             L"2024-13-01 00:00:00  INFO  x",     // month 13
             L"2024-01-01 24:00:00  INFO  x",     // hour 24
             L"2024-01-01 00:00:00  DEBUG  x",    // unknown label
             L"2024-01-01 00:00:00  INFO x y z",  // no double space after the label
             L"Fortsetzung einer Meldung mit Zeilenumbruch", L""})
        text += std::wstring(rejected) + L"\n";
    text += L"1970-01-01 00:00:60  WARN  x\r\n9999-12-31 23:59:59  EVENT  \n2024-01-01 00:00:00  WARN  " +
            std::wstring(700, L'l') + L"\n2024-01-01 00:00:03  WARN  zwei\r\r\n2024-01-01 00:00:04  FEHLER  drei";

    std::vector<LogEntry> entries = ReadBack(text, false);
    ASSERT_EQ(entries.size(), 9u);
    const LogTime seconds{2024, 3, 0, 5, 7, 8, 9, 0};
    for (uint32_t level = LOG_INFO; level <= LOG_ERROR; level++) {
        EXPECT_EQ(entries[level].level, level);
        EXPECT_STREQ(entries[level].text, L"  Text mit  Doppel-Leerzeichen");
        EXPECT_EQ(memcmp(&entries[level].time, &seconds, sizeof seconds), 0);
    }
    EXPECT_TRUE(entries[4].level == LOG_WARN && entries[4].text == std::wstring(L"x"));
    EXPECT_TRUE(entries[5].level == LOG_EVENT && entries[5].text[0] == 0);
    EXPECT_EQ(std::wstring(entries[6].text), std::wstring(511, L'l'));
    EXPECT_STREQ(entries[7].text, L"zwei\r");  // only one carriage return is a line end
    EXPECT_TRUE(entries[8].level == LOG_ERROR && entries[8].text == std::wstring(L"drei"));
    EXPECT_EQ(ReadBack(L"2024-01-01 00:00:01  INFO  eins\n2024-01-01 00:00:0", false).size(), 1u);

    // The tail of a longer file begins inside a line, even when that line looks whole.
    entries = ReadBack(L"2024-01-01 00:00:01  INFO  eins\n2024-01-01 00:00:04  FEHLER  zwei", true);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_STREQ(entries[0].text, L"zwei");
    EXPECT_TRUE(ReadBack(L"2024-01-01 00:00:01  INFO  ohne Zeilenende", true).empty());
}

// The export's room is sized for a full ring of the longest texts.
TEST(LogExport, HeaderThenEntriesOldestFirstWithoutFinalLineFeed)
{
    const std::wstring header =
        L"MI-RU Diagnose-Protokoll\nWindows 10.0 (Build 1)\nErstellt: 2025-01-02 03:04:05\n" + separator + L"\n";
    const LogTime now{2025, 1, 0, 2, 3, 4, 5, 6};
    EXPECT_EQ(Export({}, now), header);
    // Support learns where crash dumps are.
    EXPECT_EQ(Export({}, now, L"C:\\Users\\\u00c4rztin\\AppData\\Roaming\\MI-RU"),
              L"MI-RU Diagnose-Protokoll\nWindows 10.0 (Build 1)\nErstellt: 2025-01-02 03:04:05\n"
              L"Absturz-Speicherabbilder: C:\\Users\\\u00c4rztin\\AppData\\Roaming\\MI-RU\\MI-RU-*.dmp\n" +
                  separator + L"\n");
    std::vector<LogEntry> entries = {
        LogMakeEntry(LogTime{2024, 1, 0, 1, 1, 2, 3, 4}, LOG_INFO, L"eins"),
        LogMakeEntry(LogTime{2024, 1, 0, 1, 13, 14, 15, 999}, LOG_ERROR, L"zwei %ls"),
        LogMakeEntry(LogTime{2024, 1, 0, 1, 23, 59, 60, 0}, LOG_EVENT, L""),
    };
    EXPECT_EQ(Export(entries, now), header + L"01:02:03.004  INFO    eins\n"
                                             L"13:14:15.999  FEHLER  zwei %ls\n"
                                             L"23:59:60.000  EVENT   ");

    std::wstring longest(511, L'\u00fc');
    entries.assign(LOG_RING_CAPACITY, LogMakeEntry(someTime, LOG_ERROR, longest.c_str()));
    const std::wstring folder(259, L'\u00e4');
    std::wstring full = L"MI-RU Diagnose-Protokoll\nWindows 10.0 (Build 1)\nErstellt: 2024-03-05 07:08:09\n"
                        L"Absturz-Speicherabbilder: " + folder + L"\\MI-RU-*.dmp\n" + separator;
    for (size_t i = 0; i < LOG_RING_CAPACITY; i++) full += L"\n07:08:09.045  FEHLER  " + longest;
    EXPECT_EQ(Export(entries, someTime, folder.c_str()), full);
}
