#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "frames/frame_store.h"
#include "tests/diag/log_probe.h"

namespace {

// Each test starts with empty slots and log, and must leave no Frame behind.
class FrameStore : public ::testing::Test {
protected:
    void SetUp() override { FrameClearPublished(); }
    void TearDown() override
    {
        FrameClearPublished();
        EXPECT_EQ(FrameLiveCount(), 0);
    }
    LogSandbox log;
};

TEST_F(FrameStore, SizeChecksAndNewFrameLayout)
{
    for (const auto& size : {std::pair<int32_t, int32_t>{0, 480}, {640, -1}, {32769, 1}}) {
        EXPECT_EQ(FrameCreate(size.first, size.second), nullptr);
        EXPECT_EQ(LastLog(), L"FEHLER FrameStore: ungueltige Frame-Groesse " + std::to_wstring(size.first) + L"x" +
                                 std::to_wstring(size.second));
    }
#ifndef __SANITIZE_ADDRESS__  // the sanitizer's shadow upkeep for 4 GiB takes seconds
    // The largest size passes the check; its 4 GiB (no 32-bit overflow) may still be refused.
    LogResetForTest();
    Frame* huge = FrameCreate(32768, 32768);
    EXPECT_EQ(LastLog(), huge ? L"" : L"FEHLER FrameStore: kein Speicher fuer Frame 32768x32768 (4294967296 Bytes)");
    FrameRelease(huge);
#endif
    // A new Frame: one reference, stride 4 x width, no stabilisation; its pixels are aligned for
    // vector loads and every row is writable (the sanitizer build catches a short block).
    Frame* frame = FrameCreate(641, 3);
    ASSERT_NE(frame, nullptr);
    EXPECT_TRUE(frame->refCount.load() == 1 && frame->stride == 641 * 4 && frame->stabZoom == 1.0);
    EXPECT_EQ(reinterpret_cast<uintptr_t>(frame->pixels) % 16, 0u);
    std::memset(frame->pixels, 0xAB, static_cast<size_t>(frame->stride) * 3);
    FrameRelease(frame);
}

TEST_F(FrameStore, SlotsHoldTheirOwnReferenceAndCountPublishes)
{
    Frame* a = FrameCreate(4, 4);
    Frame* b = FrameCreate(4, 4);
    FramePublish(SLOT_WIDE, a);
    FrameRelease(a);  // the slot keeps it alive
    Frame* seen = FrameAcquireLatest(SLOT_WIDE);
    EXPECT_EQ(seen, a);
    FrameRelease(seen);
    FramePublish(SLOT_WIDE, b);  // frees a
    FramePublish(SLOT_WIDE, b);
    EXPECT_EQ(FrameLiveCount(), 1);
    for (int i = 0; i < 10; i++) FramePublish(SLOT_MACRO, b);
    FramePublish(SLOT_MACRO, nullptr);  // empties, not counted
    FramePublish(2, b);                 // ignored, nothing retained
    EXPECT_EQ(b->refCount.load(), 2);
    EXPECT_TRUE(!FrameAcquireLatest(SLOT_MACRO) && !FrameAcquireLatest(2));

    uint32_t counts[2] = {};
    FrameTakePublishCounts(counts);
    EXPECT_TRUE(counts[0] == 3 && counts[1] == 10) << counts[0] << " " << counts[1];
    FrameTakePublishCounts(counts);
    EXPECT_TRUE(counts[0] == 0 && counts[1] == 0);

    // A reader's reference outlives a clear; the clear zeroes the counters.
    FramePublish(SLOT_MACRO, b);
    Frame* held = FrameAcquireLatest(SLOT_WIDE);
    FrameRelease(b);
    FrameClearPublished();
    FrameTakePublishCounts(counts);
    EXPECT_TRUE(counts[0] == 0 && counts[1] == 0 && !FrameAcquireLatest(SLOT_WIDE));
    EXPECT_EQ(held->refCount.load(), 1);
    FrameRelease(held);

    Frame* frame = FrameCreate(8, 8);
    frame->refCount.store(0);  // a surplus release, provoked while the block is still allocated
    FrameRelease(frame);
    EXPECT_EQ(LastLog(), L"FEHLER FrameStore: Referenzzaehler unter null (-1)");
    EXPECT_EQ(FrameLiveCount(), 1);  // not freed
    frame->refCount.store(1);
    FrameRelease(frame);
}

// Publishers (two on one slot) and two readers that also clear, at once. Every pixel of a Frame
// holds its serial number: a reader that sees a mixed Frame, or (sanitizer build) touches a
// freed one, fails the test; the fixture checks that no Frame is left.
TEST_F(FrameStore, ConcurrentUseKeepsFramesIntactAndLeaksNothing)
{
    std::atomic<bool> running{true};
    std::atomic<int> bad{0};
    auto read = [&] {
        for (uint32_t n = 0; running.load(); n++) {
            Frame* frame = FrameAcquireLatest(n % 2);
            const auto* words = frame ? reinterpret_cast<const uint32_t*>(frame->pixels) : nullptr;
            for (int p = 1; words && p < 256; p++) bad += words[p] != words[0];
            FrameRelease(frame);
            if (n % 16 == 0) FrameClearPublished();
        }
    };
    auto publish = [](uint32_t slot, uint32_t seed) {
        for (uint32_t i = 0; i < 2000; i++) {
            Frame* frame = FrameCreate(16, 16);
            std::fill_n(reinterpret_cast<uint32_t*>(frame->pixels), 256, seed + i);
            FramePublish(slot, frame);
            FrameRelease(frame);
        }
    };
    std::thread readers[] = {std::thread(read), std::thread(read)};
    std::thread publishers[] = {std::thread(publish, SLOT_WIDE, 0u), std::thread(publish, SLOT_WIDE, 1u << 20),
                                std::thread(publish, SLOT_MACRO, 2u << 20)};
    for (auto& t : publishers) t.join();
    running = false;
    for (auto& t : readers) t.join();
    EXPECT_EQ(bad.load(), 0);
    EXPECT_EQ(LastLog(), L"");
}

}  // namespace
