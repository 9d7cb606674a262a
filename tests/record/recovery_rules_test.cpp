// What a recording cut off by a crash leaves: the marker's start time and the leftover's content.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "record/recovery_rules.h"
#include "tests/record/mp4_boxes.h"

namespace {

// The marker holds the local start time; the temporary name holds the start in seconds.
TEST(RecoveryRules, MarkerStartTimes)
{
    char stamp[32];
    ASSERT_TRUE(RecordingMarkerFormat({2026, 12, 0, 6, 21, 5, 9, 0}, stamp, sizeof(stamp)));
    EXPECT_STREQ(stamp, "2026-12-06_21-05-09");
    LogTime back = {};
    ASSERT_TRUE(RecordingMarkerParse(stamp, strlen(stamp), &back));
    EXPECT_TRUE(back.year == 2026 && back.month == 12 && back.day == 6 && back.hour == 21 && back.second == 9);
    for (const char* bad : {"2026-02-30_10-00-00", "2026-12-06 21-05-09", "2026-13-01_00-00-00", "2026-12-06_24-00-00",
                            "2026-12-06_21-05", ""})
        EXPECT_FALSE(RecordingMarkerParse(bad, strlen(bad), &back)) << bad;
    EXPECT_TRUE(RecordingMarkerParse("2024-02-29_00-00-00", 19, &back));

    int64_t seconds = 0;
    EXPECT_TRUE(TempRecordingSeconds(L"C:\\t\\miru-1765051200_2.mp4", &seconds));
    EXPECT_EQ(seconds, 1765051200);
    EXPECT_FALSE(TempRecordingSeconds(L"C:\\t\\miru-.mp4", &seconds));
    EXPECT_FALSE(TempRecordingSeconds(L"C:\\t\\other-5.mp4", &seconds));
}

// ---- Files cut off at some point ----

// A plain file's media data box whose 64-bit size is filled in at the end.
std::string LargeMdat(uint64_t size)
{
    return U32(1) + "mdat" + U32(static_cast<uint32_t>(size >> 32)) + U32(static_cast<uint32_t>(size));
}

bool failReads = false;
LeftoverScan Scan(const std::string& bytes, size_t drop = 0)
{
    auto read = [](void* context, uint64_t offset, uint8_t* out, size_t count) -> size_t {
        if (failReads) return 0;
        memcpy(out, static_cast<const std::string*>(context)->data() + offset, count);
        return count;
    };
    std::string cut = bytes.substr(0, bytes.size() - drop);
    return ScanLeftover(cut.size(), read, &cut);
}

TEST(RecoveryRules, FragmentedFilesPlayUpToTheirLastCompleteFragment)
{
    const std::string head = Box("ftyp", 24) + Box("moov", 600);
    EXPECT_EQ(Scan("").content, LeftoverContent::Empty);
    EXPECT_EQ(Scan(head).content, LeftoverContent::Empty);  // killed before the first fragment
    EXPECT_TRUE(Scan(head).complete);
    EXPECT_EQ(Scan(head + Box("moof", 100)).content, LeftoverContent::Empty);  // no data behind it yet
    const std::string one = head + Box("moof", 100) + Box("mdat", 5000);
    EXPECT_EQ(Scan(one).content, LeftoverContent::Playable);
    EXPECT_EQ(Scan(one, 1).content, LeftoverContent::Unplayable);  // its data cut short

    const std::string two = one + Box("moof", 100) + Box("mdat", 5000);
    for (size_t drop : {size_t{0}, size_t{1}, size_t{4000}, size_t{5050}, size_t{5104}}) {
        const LeftoverScan scan = Scan(two, drop);
        EXPECT_EQ(scan.content, LeftoverContent::Playable) << drop;
        EXPECT_EQ(scan.complete, drop == 0) << drop;
    }
}

TEST(RecoveryRules, PlainFilesNeedTheirMovieBox)
{
    EXPECT_EQ(Scan(Box("ftyp", 24) + LargeMdat(16)).content, LeftoverContent::Empty);  // started, nothing written
    const std::string data(3000, '\xFF');
    EXPECT_EQ(Scan(Box("ftyp", 24) + LargeMdat(16) + data).content, LeftoverContent::Unplayable);  // nobody can play it
    const std::string finished = Box("ftyp", 24) + LargeMdat(16 + 3000) + data + Box("moov", 700);
    EXPECT_EQ(Scan(finished).content, LeftoverContent::Playable);
    EXPECT_EQ(Scan(finished, 10).content, LeftoverContent::Unplayable);
    failReads = true;
    EXPECT_TRUE(Scan(finished).readFailed);
    failReads = false;
    // A box with an impossible size is not trusted.
    EXPECT_EQ(Scan(Box("ftyp", 24) + U32(4) + "moov").content, LeftoverContent::Unplayable);
}

}  // namespace
