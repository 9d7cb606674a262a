// What a recording cut off by a crash leaves, and the names its recovery uses.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "record/recovery_rules.h"

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

struct Bytes {
    std::vector<uint8_t> data;
    bool failReads = false;
    void U32(uint32_t v)
    {
        for (int shift : {24, 16, 8, 0}) data.push_back(static_cast<uint8_t>(v >> shift));
    }
    void Box(const char* type, uint32_t payload)
    {
        U32(8 + payload);
        data.insert(data.end(), type, type + 4);
        data.insert(data.end(), payload, 0x11);
    }
    // A plain file's media data box whose 64-bit size is filled in at the end.
    void LargeMdat(uint64_t size)
    {
        U32(1);
        data.insert(data.end(), {'m', 'd', 'a', 't'});
        U32(static_cast<uint32_t>(size >> 32));
        U32(static_cast<uint32_t>(size));
    }
    void Raw(size_t count) { data.insert(data.end(), count, 0xFF); }
    Bytes Cut(size_t drop) const
    {
        Bytes cut = *this;
        cut.data.resize(data.size() - drop);
        return cut;
    }
};

size_t Read(void* context, uint64_t offset, uint8_t* out, size_t count)
{
    const Bytes& bytes = *static_cast<const Bytes*>(context);
    if (bytes.failReads) return 0;
    memcpy(out, bytes.data.data() + offset, count);
    return count;
}

LeftoverScan Scan(const Bytes& bytes)
{
    return ScanLeftover(bytes.data.size(), Read, const_cast<Bytes*>(&bytes));
}

TEST(RecoveryRules, FragmentedFilesPlayUpToTheirLastCompleteFragment)
{
    Bytes head;
    head.Box("ftyp", 24);
    head.Box("moov", 600);
    EXPECT_EQ(Scan(Bytes{}).content, LeftoverContent::Empty);
    EXPECT_EQ(Scan(head).content, LeftoverContent::Empty);  // killed before the first fragment
    EXPECT_TRUE(Scan(head).complete);

    Bytes one = head;
    one.Box("moof", 100);
    EXPECT_EQ(Scan(one).content, LeftoverContent::Empty);  // no data behind the fragment yet
    one.Box("mdat", 5000);
    EXPECT_EQ(Scan(one).content, LeftoverContent::Playable);
    EXPECT_EQ(Scan(one.Cut(1)).content, LeftoverContent::Unplayable);  // its data cut short

    Bytes two = one;
    two.Box("moof", 100);
    two.Box("mdat", 5000);
    for (size_t drop : {size_t{0}, size_t{1}, size_t{4000}, size_t{5050}, size_t{5104}}) {
        const LeftoverScan scan = Scan(two.Cut(drop));
        EXPECT_EQ(scan.content, LeftoverContent::Playable) << drop;
        EXPECT_EQ(scan.complete, drop == 0) << drop;
    }
}

TEST(RecoveryRules, PlainFilesNeedTheirMovieBox)
{
    Bytes plain;
    plain.Box("ftyp", 24);
    plain.LargeMdat(16);
    EXPECT_EQ(Scan(plain).content, LeftoverContent::Empty);  // started, nothing written
    plain.Raw(3000);
    EXPECT_EQ(Scan(plain).content, LeftoverContent::Unplayable);  // data nobody can play

    Bytes finished;
    finished.Box("ftyp", 24);
    finished.LargeMdat(16 + 3000);
    finished.Raw(3000);
    finished.Box("moov", 700);
    EXPECT_EQ(Scan(finished).content, LeftoverContent::Playable);
    EXPECT_EQ(Scan(finished.Cut(10)).content, LeftoverContent::Unplayable);

    Bytes unreadable = finished;
    unreadable.failReads = true;
    EXPECT_TRUE(Scan(unreadable).readFailed);
    Bytes zeroSize;  // a box with an impossible size is not trusted
    zeroSize.Box("ftyp", 24);
    zeroSize.U32(4);
    zeroSize.data.insert(zeroSize.data.end(), {'m', 'o', 'o', 'v'});
    EXPECT_EQ(Scan(zeroSize).content, LeftoverContent::Unplayable);
}

}  // namespace
