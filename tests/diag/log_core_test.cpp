// The log core against the native stand-in platform: the ring and LogWrite's path to the file.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diag/log_platform_memory.h"
#include "tests/diag/log_probe.h"

namespace {

class LogCore : public testing::Test {
protected:
    void SetUp() override
    {
        NativeLogReset();
        NativeLogSetClock({2024, 6, 3, 7, 9, 5, 3, 120});
        LogResetForTest();
    }
    void TearDown() override
    {
        LogResetForTest();
        NativeLogReset();
    }
};

}  // namespace

// The 1001st entry overwrites the oldest; every entry is one line in the file and one note.
TEST_F(LogCore, RingKeepsTheNewestThousandAndEveryWriteReachesFileAndWindow)
{
    LogWrite(LOG_ERROR, nullptr);  // nothing to log: no entry, no note
    LogWrite(7, L"Ger\u00e4t %ls nicht gefunden (Fehler %lu)", L"100%", 2ul);
    EXPECT_EQ(NativeLogFile(), L"2024-06-07 09:05:03  INFO  Ger\u00e4t 100% nicht gefunden (Fehler 2)\n");
    for (int i = 2; i <= 1001; i++) LogWrite(LOG_WARN, L"Eintrag %d", i);
    const std::vector<LogEntry> all = LogEntries();
    ASSERT_EQ(all.size(), 1000u);
    for (size_t i = 0; i < all.size(); i++) ASSERT_EQ(std::wstring(all[i].text), L"Eintrag " + std::to_wstring(i + 2));
    EXPECT_EQ(all[0].time.milliseconds, 120);
    const std::vector<LogEntry> newest = LogEntries(2);
    EXPECT_TRUE(newest.size() == 2 && newest[1].text == std::wstring(L"Eintrag 1001"));
    EXPECT_EQ(NativeLogNotifications(), 1001u);
    LogEntry one;
    EXPECT_EQ(LogSnapshot(nullptr, 5) + LogSnapshot(&one, 0), 0u);
}
