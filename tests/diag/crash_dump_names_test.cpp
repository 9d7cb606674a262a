// The crash dumps' names and which five stay.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "diag/crash_dump_names.h"

namespace {

// The names of `found` (in folder order) that the pruning deletes after `current` was written.
std::vector<std::wstring> Deleted(const wchar_t* current, const std::vector<std::wstring>& found)
{
    CrashDumpNewest newest = {};
    for (const auto& name : found) CrashDumpOffer(newest, current, name.c_str());
    std::vector<std::wstring> deleted;
    for (const auto& name : found)
        if (CrashDumpIsSurplus(newest, current, name.c_str())) deleted.push_back(name);
    return deleted;
}

std::wstring Dump(int day, int second = 0)
{
    wchar_t name[CRASH_DUMP_NAME_CAPACITY];
    CrashDumpFileName(name, LogTime{2026, 12, 0, static_cast<uint16_t>(day), 14, 3, static_cast<uint16_t>(second), 0});
    return name;
}

}  // namespace

TEST(CrashDumpNames, DatedLikeTheRecordingsAndOnlyThatFormCounts)
{
    wchar_t name[CRASH_DUMP_NAME_CAPACITY];
    CrashDumpFileName(name, LogTime{2026, 12, 1, 7, 14, 3, 22, 999});
    EXPECT_STREQ(name, L"MI-RU-2026-12-07_14-03-22.dmp");
    for (const wchar_t* other : {L"MI-RU-2026-12-07_14-03-22.dmp.txt", L"MI-RU-2026-12-07_14-03-2.dmp",
                                 L"MI-RU-2026-12-07_14-03-22-kopie.dmp", L"MI-RU-2026-12-07 14-03-22.dmp",
                                 L"MI-RU-2026-12-07_14-03-22.mp4", L"mi-ru-2026-12-07_14-03-22.dmp", L""})
        EXPECT_FALSE(CrashDumpIsDumpName(other)) << other;
    EXPECT_TRUE(CrashDumpIsDumpName(name));
}

TEST(CrashDumpNames, TheFiveNewestStayWhateverTheFolderOrder)
{
    const std::wstring current = Dump(20);
    // Fewer than five: nothing goes; other files never go.
    EXPECT_TRUE(Deleted(current.c_str(), {Dump(3), current, L"notizen.dmp", Dump(1)}).empty());

    std::vector<std::wstring> found = {Dump(5), Dump(1), current, Dump(9),
                                       Dump(3), L"MI-RU-Kopie.dmp", Dump(7), Dump(8)};
    EXPECT_EQ(Deleted(current.c_str(), found), (std::vector<std::wstring>{Dump(1), Dump(3)}));
    std::reverse(found.begin(), found.end());
    EXPECT_EQ(Deleted(current.c_str(), found), (std::vector<std::wstring>{Dump(3), Dump(1)}));

    // A clock set back: the dump just written stays beside the four newest.
    const std::wstring early = Dump(2);
    EXPECT_EQ(Deleted(early.c_str(), {Dump(9, 1), Dump(9, 2), early, Dump(9, 3), Dump(9, 4), Dump(9, 5)}),
              std::vector<std::wstring>{Dump(9, 1)});
}
