// The log file on Windows: what reaches the file, the read-back of large and odd files,
// appends from many threads, clearing, and the note to the main window.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/app_messages.h"
#include "diag/log.h"
#include "settings/settings_store.h"
#include "tests/support/test_folder.h"

namespace {

constexpr size_t MiB = 0x100000;

std::wstring LogFilePath(const TestSettingsFolder& folder)
{
    return folder.File(L"miru-diagnose.log");
}

std::vector<std::string> FileLines(const TestSettingsFolder& folder)
{
    std::string bytes = ReadFileBytes(LogFilePath(folder));
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end = bytes.find('\n'); end != std::string::npos; end = bytes.find('\n', start)) {
        lines.push_back(bytes.substr(start, end - start));
        start = end + 1;
    }
    EXPECT_EQ(start, bytes.size()) << "file does not end with a line feed";
    return lines;
}

// The part after "YYYY-MM-DD hh:mm:ss", which must be a plausible local time.
std::string AfterTimestamp(const std::string& line)
{
    unsigned y, mo, d, h, mi, s;
    if (line.size() < 19 || sscanf(line.c_str(), "%4u-%2u-%2u %2u:%2u:%2u", &y, &mo, &d, &h, &mi, &s) != 6 ||
        y < 2000 || mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || s > 60)
        return "(bad timestamp) " + line;
    return line.substr(19);
}

std::vector<LogEntry> Snapshot()
{
    std::vector<LogEntry> entries(LOG_RING_CAPACITY);
    entries.resize(LogSnapshot(entries.data(), LOG_RING_CAPACITY));
    return entries;
}

bool IsStartEvent(const LogEntry& entry)
{
    const wchar_t prefix[] = L"App gestartet \u2014 Windows ";
    return entry.level == LOG_EVENT && wcsncmp(entry.text, prefix, wcslen(prefix)) == 0;
}

// The text thread `thread` logs as its `number`th entry: long enough that a torn copy shows.
std::wstring ThreadText(int thread, int number)
{
    return L"T" + std::to_wstring(thread) + L" N" + std::to_wstring(number) + L" " +
           std::wstring(40 + (number * 7 + thread) % 300, static_cast<wchar_t>(L'a' + thread));
}

// Checks one ring snapshot: every text is one a thread wrote, at that thread's level, and each
// thread's entries appear in the order it wrote them. Returns the number of faults.
int CheckConsistent(const std::vector<LogEntry>& entries)
{
    int faults = 0;
    int last[8] = {-1, -1, -1, -1, -1, -1, -1, -1};
    for (const LogEntry& entry : entries) {
        int thread = -1, number = -1;
        if (swscanf(entry.text, L"T%d N%d", &thread, &number) != 2 || thread < 0 || thread > 7 ||
            ThreadText(thread, number) != entry.text || entry.level != static_cast<uint32_t>(thread % 4) ||
            number <= last[thread]) {
            faults++;
            continue;
        }
        last[thread] = number;
    }
    return faults;
}

}  // namespace

TEST(LogFile, LinesReachTheFileCutFormattedAndInUtf8)
{
    TestSettingsFolder folder;
    LogWrite(LOG_INFO, L"%ls", std::wstring(511, L'a').c_str());
    LogWrite(LOG_INFO, L"%ls", std::wstring(600, L'b').c_str());
    LogWrite(7, L"Stufe %d", 7);
    LogWrite(LOG_WARN, L"Pr\u00fcfung \u00e4\u00f6\u00fc\u00df \u2014 %ls", L"Gr\u00fc\u00dfe");

    std::vector<std::string> lines = FileLines(folder);
    ASSERT_EQ(lines.size(), 4u);
    EXPECT_EQ(AfterTimestamp(lines[0]), "  INFO  " + std::string(511, 'a'));
    EXPECT_EQ(AfterTimestamp(lines[1]), "  INFO  " + std::string(511, 'b'));
    EXPECT_EQ(AfterTimestamp(lines[2]), "  INFO  Stufe 7");
    EXPECT_EQ(AfterTimestamp(lines[3]), "  WARN  Pr\xC3\xBC" "fung \xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F \xE2\x80\x94 Gr\xC3\xBC\xC3\x9F" "e");
}

TEST(LogFile, FiveMiBFileGivesTheNewest1000ValidLinesOfItsTailThenTheStart)
{
    TestSettingsFolder folder;
    std::string file;
    char line[128];
    for (int i = 0; file.size() < 3 * MiB; i++) {
        snprintf(line, sizeof line, "2022-01-01 00:00:00  INFO  vorher %d\n", i);
        file += line;
    }
    const std::string continuation = "  Fortsetzung einer mehrzeiligen Meldung " + std::string(200, '.') + "\n";
    int newest = 0;
    for (; file.size() < 5 * MiB; newest++) {
        snprintf(line, sizeof line, "2024-05-06 07:08:09  EVENT  neu %d\n", newest);
        file += line + continuation;
    }
    WriteFileBytes(LogFilePath(folder), file);

    LogLoadAtStartup();
    std::vector<LogEntry> entries = Snapshot();
    ASSERT_EQ(entries.size(), 1000u);
    for (int i = 0; i < 999; i++) {
        ASSERT_EQ(std::wstring(entries[i].text), L"neu " + std::to_wstring(newest - 999 + i)) << i;
        ASSERT_EQ(entries[i].level, LOG_EVENT);
        ASSERT_EQ(entries[i].time.year, 2024);
        ASSERT_EQ(entries[i].time.second, 9);
    }
    EXPECT_TRUE(IsStartEvent(entries[999]));
    // Only appended to: the old content is untouched, the start event follows it.
    std::string after = ReadFileBytes(LogFilePath(folder));
    ASSERT_GT(after.size(), file.size());
    EXPECT_EQ(after.compare(0, file.size(), file), 0);
    EXPECT_NE(after.find("  EVENT  App gestartet \xE2\x80\x94 Windows ", file.size()), std::string::npos);
}

TEST(LogFile, TailReadBackDropsTheCutLineAndSkipsForeignLines)
{
    TestSettingsFolder folder;
    // Valid lines before the last 2 MiB must not come back although the ring has room.
    std::string head;
    while (head.size() < 300000) head += "2022-01-01 00:00:00  INFO  vorher\n";
    head += "Fremdtext, in dessen Mitte die letzten 2 MiB beginnen: ";
    // The cut leaves a first line that would match on its own.
    std::string tail = "2024-02-03 04:05:06  WARN  abgeschnitten\n"
                       "2024-02-03 04:05:07  INFO  Pr\xC3\xBC" "fung \xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F\r\n"
                       "2024-13-03 04:05:08  INFO  Monat 13\n"
                       "2024-02-03 04:05:09  DEBUG  fremde Stufe\n";
    const std::string last = "2024-02-03 04:05:10  FEHLER  letzte ohne Zeilenende";
    while (tail.size() + last.size() < 2 * MiB) {
        size_t room = 2 * MiB - tail.size() - last.size();
        tail += std::string(room > 500 ? 499 : room - 1, 'x') + "\n";
    }
    tail += last;
    ASSERT_EQ(tail.size(), 2 * MiB);
    WriteFileBytes(LogFilePath(folder), head + tail);

    LogLoadAtStartup();
    std::vector<LogEntry> entries = Snapshot();
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_STREQ(entries[0].text, L"Pr\u00fcfung \u00e4\u00f6\u00fc\u00df");
    EXPECT_EQ(entries[0].level, LOG_INFO);
    EXPECT_STREQ(entries[1].text, L"letzte ohne Zeilenende");
    EXPECT_EQ(entries[1].level, LOG_ERROR);
    EXPECT_EQ(entries[1].time.minute, 5);
    EXPECT_EQ(entries[1].time.second, 10);
    EXPECT_TRUE(IsStartEvent(entries[2]));
}

TEST(LogFile, EightThreadsKeepTheRingConsistentAndEveryLineInTheFile)
{
    TestSettingsFolder folder;
    constexpr int threads = 8;
    constexpr int perThread = 500;
    std::atomic<int> writersLeft{threads};
    std::atomic<int> faults{0};
    std::atomic<int> snapshots{0};

    std::thread reader([&] {
        std::vector<LogEntry> entries(LOG_RING_CAPACITY);
        while (writersLeft.load() > 0) {
            entries.resize(LOG_RING_CAPACITY);
            entries.resize(LogSnapshot(entries.data(), LOG_RING_CAPACITY));
            faults += CheckConsistent(entries);
            snapshots++;
        }
    });
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; t++) {
        writers.emplace_back([&, t] {
            for (int n = 0; n < perThread; n++)
                LogWrite(static_cast<uint32_t>(t % 4), L"%ls", ThreadText(t, n).c_str());
            writersLeft--;
        });
    }
    for (std::thread& writer : writers) writer.join();
    reader.join();

    EXPECT_EQ(faults.load(), 0);
    EXPECT_GT(snapshots.load(), 0);
    std::vector<LogEntry> settled = Snapshot();
    EXPECT_EQ(settled.size(), LOG_RING_CAPACITY);
    EXPECT_EQ(CheckConsistent(settled), 0);

    std::multiset<std::string> expected, written;
    constexpr const char* labels[] = {"  INFO  ", "  EVENT  ", "  WARN  ", "  FEHLER  "};
    for (int t = 0; t < threads; t++) {
        for (int n = 0; n < perThread; n++) {
            std::wstring text = ThreadText(t, n);
            expected.insert(labels[t % 4] + std::string(text.begin(), text.end()));
        }
    }
    for (const std::string& line : FileLines(folder)) written.insert(AfterTimestamp(line));
    EXPECT_EQ(written.size(), expected.size());
    EXPECT_TRUE(written == expected) << "lines missing, doubled or garbled in the file";
}

TEST(LogFile, ClearLeavesExactlyItsEventInRingAndFile)
{
    TestSettingsFolder folder;
    for (int i = 0; i < 30; i++) LogWrite(LOG_WARN, L"vorher %d", i);
    LogClear();
    std::vector<LogEntry> entries = Snapshot();
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(entries[0].level, LOG_EVENT);
    EXPECT_STREQ(entries[0].text, L"Protokoll geleert");
    std::vector<std::string> lines = FileLines(folder);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(AfterTimestamp(lines[0]), "  EVENT  Protokoll geleert");

    wchar_t* text = LogExportText();
    ASSERT_NE(text, nullptr);
    std::wstring exported = text;
    free(text);
    EXPECT_EQ(exported.rfind(L"MI-RU Diagnose-Protokoll\nWindows ", 0), 0u);
    EXPECT_EQ(exported.substr(exported.size() - 27), L"  EVENT   Protokoll geleert");
}

TEST(LogFile, EntriesWithoutFileStayInMemoryAndStillNotifyTheMainWindow)
{
    TestSettingsFolder folder;
    HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    mainWindow = window;
    // A folder in place of the file makes the append fail.
    ASSERT_TRUE(CreateDirectoryW(LogFilePath(folder).c_str(), nullptr));
    LogWrite(LOG_WARN, L"ohne Datei");
    // Without an application data folder there is no file at all (not even at the drive root).
    SettingsSetFolderOverride(L"");
    LogWrite(LOG_INFO, L"kein Ordner");
    SettingsSetFolderOverride(folder.Path());
    mainWindow = nullptr;
    EXPECT_EQ(GetFileAttributesW(L"\\miru-diagnose.log"), INVALID_FILE_ATTRIBUTES);

    MSG message;
    int notes = 0;
    while (PeekMessageW(&message, window, WM_APP_LOG_CHANGED, WM_APP_LOG_CHANGED, PM_REMOVE))
        notes += message.wParam == 0 && message.lParam == 0;
    DestroyWindow(window);
    EXPECT_EQ(notes, 2);
    std::vector<LogEntry> entries = Snapshot();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_STREQ(entries[0].text, L"ohne Datei");
    EXPECT_STREQ(entries[1].text, L"kein Ordner");
}

TEST(LogFile, SystemTextNamesTheRunningVersion)
{
    wchar_t text[256];
    SystemVersionText(text);
    unsigned long major = 0, minor = 0, build = 0;
    wchar_t rest[64] = {};
    ASSERT_EQ(swscanf(text, L"Windows %lu.%lu (Build %lu)%63l[^\n]", &major, &minor, &build, rest), 4) << text;
    EXPECT_GE(major, 6u);
    EXPECT_STREQ(rest, L" \u00B7 MI-RU App v1.1 (2)");
}
