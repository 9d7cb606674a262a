// The log core against the native stand-in platform: the ring and LogWrite's path to the file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diag/log.h"
#include "diag/log_platform_memory.h"

namespace {

constexpr LogTime fixedTime{2024, 6, 3, 7, 9, 5, 3, 120};

struct FreshLog {
    FreshLog()
    {
        NativeLogReset();
        NativeLogSetClock(fixedTime);
        LogResetForTest();
    }
    ~FreshLog()
    {
        LogResetForTest();
        NativeLogReset();
    }
};

std::vector<LogEntry> Snapshot(uint32_t capacity = LOG_RING_CAPACITY)
{
    std::vector<LogEntry> entries(capacity);
    entries.resize(LogSnapshot(entries.data(), capacity));
    return entries;
}

}  // namespace

TEST(LogCore, The1001stEntryOverwritesTheOldest)
{
    FreshLog log;
    for (int i = 1; i <= 1001; i++) LogWrite(LOG_INFO, L"Eintrag %d", i);
    std::vector<LogEntry> all = Snapshot();
    ASSERT_EQ(all.size(), 1000u);
    for (size_t i = 0; i < all.size(); i++)
        ASSERT_EQ(std::wstring(all[i].text), L"Eintrag " + std::to_wstring(i + 2)) << i;

    std::vector<LogEntry> newest = Snapshot(3);
    ASSERT_EQ(newest.size(), 3u);
    EXPECT_STREQ(newest[0].text, L"Eintrag 999");
    EXPECT_STREQ(newest[2].text, L"Eintrag 1001");
    LogEntry one;
    EXPECT_EQ(LogSnapshot(nullptr, 5), 0u);
    EXPECT_EQ(LogSnapshot(&one, 0), 0u);
}

TEST(LogCore, WriteStoresTheEntryWritesItsLineAndNotifies)
{
    FreshLog log;
    LogWrite(LOG_ERROR, nullptr);
    EXPECT_TRUE(Snapshot().empty());
    EXPECT_EQ(NativeLogNotifications(), 0u);

    LogWrite(7, L"Ger\u00e4t %ls nicht gefunden (Fehler %lu)", L"100%", 2ul);
    LogWrite(LOG_WARN, L"%ls", std::wstring(600, L'L').c_str());
    std::vector<LogEntry> entries = Snapshot();
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].level, LOG_INFO);
    EXPECT_EQ(entries[0].time.milliseconds, 120);
    EXPECT_EQ(std::wstring(entries[1].text), std::wstring(511, L'L'));
    EXPECT_EQ(NativeLogNotifications(), 2u);
    EXPECT_EQ(NativeLogFile(), L"2024-06-07 09:05:03  INFO  Ger\u00e4t 100% nicht gefunden (Fehler 2)\n"
                               L"2024-06-07 09:05:03  WARN  " + std::wstring(511, L'L') + L"\n");
}
