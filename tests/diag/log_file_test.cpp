// The log file on Windows: what reaches the file, the read-back of large and odd files,
// appends from many threads, the note to the main window and the export.
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "res/miru_version.h"
#include "settings/settings_store.h"
#include "tests/diag/log_probe.h"

namespace {

constexpr size_t MiB = 0x100000;

// The file's lines after their "YYYY-MM-DD hh:mm:ss", which must be a plausible local time.
std::vector<std::string> FileLines(const std::wstring& path)
{
    const std::string bytes = ReadFileBytes(path);
    std::vector<std::string> lines;
    size_t start = 0;
    for (size_t end = bytes.find('\n'); end != std::string::npos; start = end + 1, end = bytes.find('\n', start)) {
        const std::string line = bytes.substr(start, end - start);
        unsigned y, mo, d, h, mi, s;
        const bool timed = sscanf(line.c_str(), "%4u-%2u-%2u %2u:%2u:%2u", &y, &mo, &d, &h, &mi, &s) == 6 &&
                           y >= 2000 && mo >= 1 && mo <= 12 && d >= 1 && d <= 31 && h <= 23 && mi <= 59 && s <= 60;
        lines.push_back(timed ? line.substr(19) : "(bad timestamp) " + line);
    }
    EXPECT_EQ(start, bytes.size()) << "file does not end with a line feed";
    return lines;
}

// A 5 MiB file: 3 MiB of older valid lines, then the last 2 MiB, which begin inside a line whose
// rest looks whole, then filler and `count` lines "neu k Größe", the last without line feed.
std::string FileWithTail(int count)
{
    std::string head;
    while (head.size() < 3 * MiB) head += "2022-01-01 00:00:00  INFO  vorher\n";
    head += "Fremdtext, in dessen Mitte die letzten 2 MiB beginnen: ";
    std::string tail = "2024-02-03 04:05:06  WARN  abgeschnitten\n", lines;
    char line[128];
    for (int k = 0; k < count; k++) {
        snprintf(line, sizeof line, "%s2024-05-06 07:08:09  EVENT  neu %d Gr\xC3\xB6\xC3\x9F" "e", k ? "\n" : "", k);
        lines += line;
    }
    while (tail.size() + lines.size() < 2 * MiB)
        tail += std::string(std::min<size_t>(2 * MiB - tail.size() - lines.size(), 500) - 1, 'x') + "\n";
    return head + tail + lines;
}

// The text thread `thread` logs as its `number`th entry: long enough that a torn copy shows.
std::wstring ThreadText(int thread, int number)
{
    return L"T" + std::to_wstring(thread) + L" N" + std::to_wstring(number) + L" " +
           std::wstring(40 + (number * 7 + thread) % 300, static_cast<wchar_t>(L'a' + thread));
}

}  // namespace

TEST(LogFile, LinesInUtf8EntriesWithoutAFileAndTheExport)
{
    TestSettingsFolder folder;
    const std::wstring path = folder.File(L"miru-diagnose.log");
    LogWrite(LOG_WARN, L"Pr\u00fcfung \u00e4\u00f6\u00fc\u00df \u2014 %ls", L"Gr\u00fc\u00dfe");
    EXPECT_EQ(FileLines(path), std::vector<std::string>{"  WARN  Pr\xC3\xBC" "fung \xC3\xA4\xC3\xB6\xC3\xBC\xC3\x9F "
                                                        "\xE2\x80\x94 Gr\xC3\xBC\xC3\x9F" "e"});

    // A folder in place of the file makes the append fail; without an application data folder
    // there is no file at all (not even at the drive root). The entries stay in memory.
    ASSERT_TRUE(DeleteFileW(path.c_str()) && CreateDirectoryW(path.c_str(), nullptr));
    LogWrite(LOG_WARN, L"ohne Datei");
    SettingsSetFolderOverride(L"");
    LogWrite(LOG_INFO, L"kein Ordner");
    SettingsSetFolderOverride(folder.Path());
    EXPECT_EQ(GetFileAttributesW(L"\\miru-diagnose.log"), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(LogTexts().size(), 3u);

    // The export names the running system and where crash dumps go, and ends with the newest
    // entry (clearing is seen through the diagnostics window's test).
    wchar_t* text = LogExportText();
    ASSERT_NE(text, nullptr);
    const std::wstring exported = text;
    free(text);
    unsigned long major = 0, minor = 0, build = 0;
    wchar_t rest[64] = {};
    EXPECT_EQ(swscanf(exported.c_str(), L"MI-RU Diagnose-Protokoll\nWindows %lu.%lu (Build %lu)%63l[^\n]", &major,
                      &minor, &build, rest), 4) << exported;
    EXPECT_GE(major, 6u);
    EXPECT_STREQ(rest, L" \u00B7 MI-RU App v" MIRU_VERSION_TEXT);
    EXPECT_NE(exported.find(L"\nAbsturz-Speicherabbilder: " + std::wstring(folder.Path()) + L"\\MI-RU-*.dmp\n"),
              std::wstring::npos) << exported;
    EXPECT_TRUE(exported.ends_with(L"  INFO    kein Ordner")) << exported;
}

// With 1500 lines in the tail the ring keeps the newest 999 and the start event; with 998 it
// keeps all of them, so neither the cut line nor anything before the tail may come back.
TEST(LogFile, FiveMiBFileGivesTheNewestValidLinesOfItsTailThenTheStart)
{
    for (int count : {1500, 998}) {
        TestSettingsFolder folder;
        const std::string file = FileWithTail(count);
        WriteFileBytes(folder.File(L"miru-diagnose.log"), file);
        LogLoadAtStartup();
        const std::vector<LogEntry> entries = LogEntries();
        const int kept = std::min(count, 999);
        ASSERT_EQ(entries.size(), size_t(kept + 1)) << count;
        for (int i = 0; i < kept; i++) {
            ASSERT_EQ(std::wstring(entries[i].text), L"neu " + std::to_wstring(count - kept + i) + L" Gr\u00f6\u00dfe");
            ASSERT_TRUE(entries[i].level == LOG_EVENT && entries[i].time.year == 2024 && entries[i].time.second == 9);
        }
        EXPECT_TRUE(entries[kept].level == LOG_EVENT &&
                    std::wstring(entries[kept].text).starts_with(L"App gestartet \u2014 Windows "));
        // Only appended to: the old content is untouched; the start event follows on a line of
        // its own (the file's last line, left open as by a crash, is ended first).
        const std::string after = ReadFileBytes(folder.File(L"miru-diagnose.log"));
        EXPECT_EQ(after.compare(0, file.size(), file), 0);
        EXPECT_EQ(after.find("  EVENT  App gestartet \xE2\x80\x94 Windows ", file.size()), file.size() + 20);
    }
}

// Threads writing at once: each line reaches the file once and whole, and the ring keeps the
// newest entries whole, each thread's in the order it wrote them.
TEST(LogFile, ConcurrentWritesReachTheFileOnceAndTheRingKeepsTheNewest)
{
    TestSettingsFolder folder;
    constexpr int threads = 4, perThread = 400;
    std::vector<std::thread> writers;
    for (int t = 0; t < threads; t++)
        writers.emplace_back([t] {
            for (int n = 0; n < perThread; n++) LogWrite(LOG_WARN, L"%ls", ThreadText(t, n).c_str());
        });
    for (std::thread& writer : writers) writer.join();

    std::multiset<std::string> expected;
    for (int t = 0; t < threads; t++)
        for (int n = 0; n < perThread; n++) {
            const std::wstring text = ThreadText(t, n);
            expected.insert("  WARN  " + std::string(text.begin(), text.end()));
        }
    const std::vector<std::string> lines = FileLines(folder.File(L"miru-diagnose.log"));
    EXPECT_TRUE(std::multiset<std::string>(lines.begin(), lines.end()) == expected)
        << "lines missing, doubled or garbled in the file";

    // From the newest back, each thread's entries count down from its last one.
    const std::vector<LogEntry> ring = LogEntries();
    EXPECT_EQ(ring.size(), LOG_RING_CAPACITY);
    std::vector<int> next(threads, perThread);
    for (auto entry = ring.rbegin(); entry != ring.rend(); ++entry) {
        int t = -1;
        ASSERT_EQ(swscanf(entry->text, L"T%d", &t), 1) << entry->text;
        ASSERT_TRUE(t >= 0 && t < threads) << entry->text;
        EXPECT_EQ(entry->text, ThreadText(t, --next[t]));
    }
}
