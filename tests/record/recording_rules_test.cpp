// The recorder's pure decisions: sizes, track formats, durations, the two queues, the
// dropped-frame check, the storage thresholds and the file names with their suffixes.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>

#include "capture/stream_clock.h"
#include "frames/frame_store.h"
#include "record/file_names.h"
#include "record/recording_rules.h"
#include "record/storage_rules.h"

namespace {

TEST(RecordingRules, SizesFormatsAndDurations)
{
    EXPECT_TRUE(RecordingSizeValid(8192, 8192));
    EXPECT_TRUE(RecordingSizeValid(1, 1));
    EXPECT_FALSE(RecordingSizeValid(8193, 1080));
    EXPECT_FALSE(RecordingSizeValid(0, 1080));
    EXPECT_FALSE(RecordingSizeValid(1920, -1));
    EXPECT_EQ(RecordingVideoBitrate(1920), 12'000'000u);
    EXPECT_EQ(RecordingVideoBitrate(2560), 20'000'000u);

    const AudioTrackFormat stereo48 = RecordingAudioTrackFormat(true, 48000, true, 2);
    EXPECT_EQ(stereo48.samplesPerSecond, 48000u);
    EXPECT_EQ(stereo48.channels, 2u);
    const AudioTrackFormat many = RecordingAudioTrackFormat(true, 96000, true, 6);
    EXPECT_EQ(many.samplesPerSecond, 44100u);
    EXPECT_EQ(many.channels, 2u);
    const AudioTrackFormat unknown = RecordingAudioTrackFormat(false, 48000, false, 2);
    EXPECT_EQ(unknown.samplesPerSecond, 44100u);
    EXPECT_EQ(unknown.channels, 1u);

    EXPECT_EQ(RecordingFrameDuration(-1, 5'000'000), 333333);        // the first frame
    EXPECT_EQ(RecordingFrameDuration(5'000'000, 5'400'000), 400000);  // the camera's own spacing
    EXPECT_EQ(RecordingFrameDuration(5'000'000, 5'000'000), 333333);  // not later
    EXPECT_EQ(RecordingFrameDuration(5'000'000, 4'000'000), 333333);
}

TEST(RecordingRules, MailboxKeepsTheNewestPairAndHandsBackTheDisplacedOne)
{
    Frame a{}, b{}, c{};
    VideoMailbox box = {};
    VideoPair out = {};
    EXPECT_FALSE(VideoMailboxTake(box, &out));
    EXPECT_FALSE(VideoMailboxPut(box, {&a, nullptr, 0.3f, 10}, &out));
    EXPECT_TRUE(VideoMailboxPut(box, {&b, &c, 0.4f, 20}, &out));  // one overrun
    EXPECT_EQ(out.wide, &a);
    EXPECT_EQ(out.timestamp, 10);
    ASSERT_TRUE(VideoMailboxTake(box, &out));
    EXPECT_EQ(out.wide, &b);
    EXPECT_EQ(out.macro, &c);
    EXPECT_FLOAT_EQ(out.pipFraction, 0.4f);
    EXPECT_FALSE(VideoMailboxTake(box, &out));
}

TEST(RecordingRules, TheThirtyThirdSoundSampleDisplacesTheOldestAndOrderIsKept)
{
    AudioQueue queue = {};
    int items[40];
    for (int i = 0; i < 32; i++) EXPECT_EQ(AudioQueuePush(queue, &items[i]), nullptr);
    EXPECT_EQ(AudioQueuePush(queue, &items[32]), &items[0]);
    EXPECT_EQ(queue.count, 32);
    for (int i = 1; i <= 32; i++) EXPECT_EQ(AudioQueuePop(queue), &items[i]);
    EXPECT_EQ(AudioQueuePop(queue), nullptr);
    // Wrapping around the ring keeps the order.
    for (int round = 0; round < 3; round++) {
        for (int i = 0; i < 20; i++) AudioQueuePush(queue, &items[i]);
        for (int i = 0; i < 20; i++) EXPECT_EQ(AudioQueuePop(queue), &items[i]);
    }
}

// Runs a 5-second window with `written` frames and `drops` drops; whether it warned.
DropWarning Window(DropWindow& window, double& now, int32_t& total, int32_t written, int32_t drops)
{
    window.written += written;
    total += drops;
    now += 5.0;
    return DropCheck(window, now, total);
}

TEST(RecordingRules, DropWarningAtThirtyOfHundredOnceAndNotAtTwentyFive)
{
    DropWindow window = {};
    double now = 100.0;
    int32_t total = 3;
    EXPECT_FALSE(DropCheck(window, now, total).warn);  // opens the first window
    EXPECT_FALSE(Window(window, now, total, 100, 25).warn);
    const DropWarning warning = Window(window, now, total, 100, 30);
    EXPECT_TRUE(warning.warn);
    EXPECT_EQ(warning.drops, 30);
    EXPECT_EQ(warning.written, 100);
    EXPECT_FALSE(Window(window, now, total, 100, 90).warn);  // once per recording

    DropWindow early = {};
    now = 10.0;
    total = 0;
    DropCheck(early, now, total);
    early.written = 10;
    EXPECT_FALSE(DropCheck(early, now + 4.9, 50).warn);  // the window is not over yet
    EXPECT_TRUE(DropCheck(early, now + 5.0, 50).warn);
}

TEST(RecordingRules, EncoderBacklogBeyondOneSecondAndFramesPerSecond)
{
    EXPECT_FALSE(EncoderBacklogFull(10'000'000, 0));
    EXPECT_TRUE(EncoderBacklogFull(10'000'001, 0));
    EXPECT_FALSE(EncoderBacklogFull(50'000'000, 45'000'000));
    EXPECT_DOUBLE_EQ(RecordingFramesPerSecond(30, 0.5), 0.0);
    EXPECT_DOUBLE_EQ(RecordingFramesPerSecond(30, 2.0), 15.0);
}

TEST(StorageRules, ThresholdsWarningAndStop)
{
    const StorageThresholds normal = StorageThresholdsFor(false);
    EXPECT_EQ(normal.reserve, 1'000'000'000);
    EXPECT_EQ(normal.warnLevel, 2'048'576'000);
    EXPECT_EQ(StorageThresholdsFor(true).warnLevel, 2'782'579'200);

    EXPECT_EQ(StorageDecide(normal, 2'000'000'000, false), StorageAction::Warn);
    EXPECT_EQ(StorageMinutesLeft(normal, 2'000'000'000), 9);
    EXPECT_EQ(StorageDecide(normal, 2'000'000'000, true), StorageAction::None);
    EXPECT_EQ(StorageDecide(normal, 999'999'999, false), StorageAction::Stop);
    EXPECT_EQ(StorageDecide(normal, 1'000'000'000, false), StorageAction::Warn);  // exactly the reserve goes on
    EXPECT_EQ(StorageDecide(normal, 3'000'000'000, false), StorageAction::None);
    EXPECT_EQ(StorageMinutesLeft(normal, 500), 0);
}

TEST(StorageRules, TheGrowingFileCountsAgainstAnotherVolumeOnly)
{
    const StorageThresholds normal = StorageThresholdsFor(false);
    int64_t usable = 0;
    // 700 MB file, 1.5 GB free at the destination on another volume: 0.8 GB, stop.
    ASSERT_TRUE(StorageUsableBytes({50'000'000'000, true, 1'500'000'000, 700'000'000, false}, &usable));
    EXPECT_EQ(usable, 800'000'000);
    EXPECT_EQ(StorageDecide(normal, usable, false), StorageAction::Stop);
    // The same on one volume: the move is a rename, 1.5 GB stay usable.
    ASSERT_TRUE(StorageUsableBytes({1'500'000'000, true, 1'500'000'000, 700'000'000, true}, &usable));
    EXPECT_EQ(usable, 1'500'000'000);
    EXPECT_EQ(StorageDecide(normal, usable, false), StorageAction::Warn);
    // The smaller of the two counts; an unknown side falls back to the other.
    ASSERT_TRUE(StorageUsableBytes({2'000'000'000, true, -1, 5, false}, &usable));
    EXPECT_EQ(usable, 2'000'000'000);
    ASSERT_TRUE(StorageUsableBytes({-1, true, 300, 700, false}, &usable));
    EXPECT_EQ(usable, -400);  // negative from the destination still counts (and stops)
    EXPECT_FALSE(StorageUsableBytes({-1, false, -1, 700, false}, &usable));
    EXPECT_FALSE(StorageUsableBytes({-1, true, -1, 700, false}, &usable));
}

TEST(FileNames, DatedNamesWithSuffixesAndLengthLimits)
{
    const LogTime time = {2026, 3, 0, 7, 9, 5, 4, 0};
    wchar_t out[400];
    ASSERT_TRUE(FinalRecordingName(L"D:\\Aufnahmen", time, 1, out, 400));
    EXPECT_STREQ(out, L"D:\\Aufnahmen\\MI-RU-2026-03-07_09-05-04.mp4");
    ASSERT_TRUE(FinalRecordingName(L"D:\\Aufnahmen", time, 2, out, 400));
    EXPECT_STREQ(out, L"D:\\Aufnahmen\\MI-RU-2026-03-07_09-05-04_2.mp4");
    ASSERT_TRUE(TempRecordingName(L"C:\\tmp", 1767225600, 1, out, 400));
    EXPECT_STREQ(out, L"C:\\tmp\\miru-1767225600.mp4");
    ASSERT_TRUE(TempRecordingName(L"C:\\tmp", 1767225600, 3, out, 400));
    EXPECT_STREQ(out, L"C:\\tmp\\miru-1767225600_3.mp4");
    wchar_t stamp[32];
    ASSERT_TRUE(PhotoStamp(time, stamp, 32));
    ASSERT_TRUE(PhotoName(L"D:\\F", stamp, L"Ansicht", 1, out, 400));
    EXPECT_STREQ(out, L"D:\\F\\MI-RU-2026-03-07_09-05-04-Ansicht.jpg");
    ASSERT_TRUE(PhotoName(L"D:\\F", stamp, L"Wide", 2, out, 400));
    EXPECT_STREQ(out, L"D:\\F\\MI-RU-2026-03-07_09-05-04-Wide_2.jpg");
    EXPECT_STREQ(FileNamePart(out), L"MI-RU-2026-03-07_09-05-04-Wide_2.jpg");

    // A folder that makes the photo name 324 units long fits 325; one more does not.
    const std::wstring folder(324 - 36, L'x');  // "\MI-RU-<19>-Macro.jpg" is 36 units
    ASSERT_TRUE(PhotoName(folder.c_str(), stamp, L"Macro", 1, out, 325));
    EXPECT_EQ(std::wstring(out).size(), 324u);
    const std::wstring longer = folder + L"x";
    EXPECT_FALSE(PhotoName(longer.c_str(), stamp, L"Macro", 1, out, 325));
    EXPECT_STREQ(out, L"");
}

TEST(StreamClock, EachStreamSettlesOnItsEarliestArrivalThenKeepsItsSpacing)
{
    StreamClock camera = {}, microphone = {};
    // The camera starts at process time 50 s stamping from 0; its first frame arrives 40 ms
    // late, the next ones 5 ms after their instant.
    EXPECT_EQ(StreamClockMap(camera, 0, 500'400'000), 500'400'000);
    EXPECT_EQ(StreamClockMap(camera, 333'333, 500'383'333), 500'383'333);
    EXPECT_EQ(StreamClockMap(camera, 666'667, 500'716'667), 500'716'667);  // a later arrival changes nothing
    // The microphone starts 2 s later, also from 0, its blocks 10 ms after their start.
    EXPECT_EQ(StreamClockMap(microphone, 0, 520'100'000), 520'100'000);
    EXPECT_EQ(StreamClockMap(microphone, 100'000, 520'150'000), 520'150'000);
    for (int i = 3; i < STREAM_CLOCK_SETTLE_SAMPLES; i++) StreamClockMap(camera, i * 333'333LL, 500'050'000 + i * 333'333LL);
    // Settled: 5 ms after the true instants, whatever arrives later.
    EXPECT_EQ(StreamClockMap(camera, 20'000'000, 0), 520'050'000);
    EXPECT_EQ(StreamClockMap(camera, 20'333'333, 500'000'000), 520'383'333);
}

}  // namespace
