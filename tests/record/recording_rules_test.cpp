// The recorder's pure decisions: sizes, track formats, durations, gaps in the sound, whose a
// writer failure is, the sound queue's bound, the dropped-frame check, the stop of a recording
// that records nothing, the storage thresholds and the file names with their suffixes. (The video mailbox is proven through the recorder, which
// releases every Frame it displaces.)
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "capture/stream_clock.h"
#include "record/file_names.h"
#include "record/recovery_rules.h"
#include "record/recording_rules.h"
#include "record/storage_rules.h"

namespace {

TEST(RecordingRules, SizesFormatsDurationsAndBacklog)
{
    // (The largest size and one beyond: the recorder's refused starts.)
    EXPECT_TRUE(RecordingSizeValid(1, 1));
    EXPECT_FALSE(RecordingSizeValid(0, 1080));
    EXPECT_FALSE(RecordingSizeValid(1920, -1));
    EXPECT_EQ(RecordingVideoBitrate(1920), 12'000'000u);
    EXPECT_EQ(RecordingVideoBitrate(2560), 20'000'000u);

    // The AAC encoder's inputs: 16-bit PCM at 44.1 or 48 kHz, 1, 2 or 6 channels, encoded as they
    // are; its bit rates are 12000 bytes/s and up, six times that for six channels.
    const std::pair<MicrophoneFormat, AudioTrackFormat> microphones[] = {
        {{true, 16, 48000, 2}, {true, 48000, 2, 12000}}, {{true, 16, 44100, 1}, {true, 44100, 1, 12000}},
        {{true, 16, 48000, 6}, {true, 48000, 6, 72000}}, {{true, 16, 16000, 1}, {}}, {{true, 16, 48000, 4}, {}},
        {{true, 24, 48000, 2}, {}}, {{false, 16, 48000, 2}, {}}, {{true, 0, 0, 0}, {}}};
    for (const auto& [microphone, want] : microphones) {
        const AudioTrackFormat got = RecordingAudioTrackFormat(microphone);
        EXPECT_TRUE(got.usable == want.usable && got.samplesPerSecond == want.samplesPerSecond &&
                    got.channels == want.channels && got.avgBytesPerSecond == want.avgBytesPerSecond)
            << microphone.samplesPerSecond << " Hz " << microphone.channels << " ch " << microphone.bitsPerSample;
    }

    // (The first frame's duration, the camera's spacing, a frame not later and the sound's
    // duration: the recorder's queue test.) A frame earlier than the last gets the nominal one.
    EXPECT_EQ(RecordingFrameDuration(5'000'000, 4'000'000), 333333);
    // More than one second waiting in the encoder; frames per second over the recording.
    EXPECT_FALSE(EncoderBacklogFull(10'000'000, 0));
    EXPECT_TRUE(EncoderBacklogFull(10'000'001, 0));
    EXPECT_FALSE(EncoderBacklogFull(50'000'000, 45'000'000));
    EXPECT_DOUBLE_EQ(RecordingFramesPerSecond(30, 0.5), 0.0);
    EXPECT_DOUBLE_EQ(RecordingFramesPerSecond(30, 2.0), 15.0);
}

// A gap in the sound is told by ticks from its start, one a second through it (while it lasts,
// once the pictures are a second past it); jitter of a few milliseconds is none. Win32 and
// storage errors are the drive's, anything else the encoder's.
TEST(RecordingRules, SoundGapsAndWhoseFailureItIs)
{
    SoundLine line = {};
    EXPECT_FALSE(SoundLineGap(line, 5'000'000).found);  // sound that begins late
    SoundLineWritten(line, 1'000'000, 100'000);
    EXPECT_FALSE(SoundLineGap(line, 1'150'000).found);
    const std::pair<int64_t, int32_t> gaps[] = {{1'200'000, 1}, {11'100'000, 1}, {11'100'001, 2},
                                                {26'100'000, 3}, {50'000'000'000, RECORDING_SOUND_TICKS_MAX}};
    for (const auto& [time, ticks] : gaps) {
        const SoundGap gap = SoundLineGap(line, time);
        EXPECT_TRUE(gap.found && gap.firstTick == 1'100'000 && gap.ticks == ticks) << time;
    }
    // The microphone falls silent after 0.11 s: ticks at 0.11 s and 1.11 s while the pictures go
    // on, the rest when its sound comes back at 3 s.
    int64_t tick = 0;
    EXPECT_FALSE(SoundLineTickDue(line, 11'000'000, &tick));
    EXPECT_TRUE(SoundLineTickDue(line, 11'100'001, &tick) && tick == 1'100'000);
    EXPECT_FALSE(SoundLineTickDue(line, 21'000'000, &tick));
    EXPECT_TRUE(SoundLineTickDue(line, 21'200'000, &tick) && tick == 11'100'000);
    const SoundGap back = SoundLineGap(line, 30'000'000);
    EXPECT_TRUE(back.found && back.firstTick == 21'100'000 && back.ticks == 1);
    SoundLineWritten(line, 30'000'000, 100'000);
    EXPECT_FALSE(SoundLineGap(line, 30'100'000).found);

    for (uint32_t drive : {0x80070070u, 0x80070027u, 0x8007001Du, 0x8007048Fu, 0x80070015u, 0x80030070u})
        EXPECT_TRUE(RecordingFailureIsDrive(drive)) << std::hex << drive;
    for (uint32_t encoder : {0xC00D3704u, 0xC00D36B4u, 0x80004005u, 0x887A0005u, 0x8000FFFFu})
        EXPECT_FALSE(RecordingFailureIsDrive(encoder)) << std::hex << encoder;
}

void* Item(int64_t i)
{
    return reinterpret_cast<void*>(static_cast<intptr_t>(i + 1));
}

// Sound waits while a picture is composed, up to 10 s of it; then the oldest goes, one for one.
TEST(RecordingRules, TheSoundQueueHoldsTenSecondsWhateverTheirCount)
{
    static AudioQueue queue = {};  // static: the ring is large
    const int64_t block = 100'000;  // 10 ms, as capture endpoints deliver
    for (int64_t i = 0; i < 1000; i++) {
        EXPECT_EQ(AudioQueuePush(queue, Item(i), 7'000'000 + i * block, block), nullptr);
        ASSERT_EQ(AudioQueueTakeExcess(queue), nullptr) << i;
    }
    EXPECT_EQ(AudioQueuePush(queue, Item(1000), 7'000'000 + 1000 * block, block), nullptr);
    EXPECT_EQ(AudioQueueTakeExcess(queue), Item(0));  // 10.01 s queued: the oldest goes
    EXPECT_EQ(AudioQueueTakeExcess(queue), nullptr);
    // Without durations the spacing of the times counts, a jump in them at most a second.
    AudioQueueClear(queue);
    EXPECT_EQ(AudioQueuePush(queue, Item(0), 0, 0), nullptr);
    EXPECT_EQ(AudioQueuePush(queue, Item(1), 95'000'000, -1), nullptr);  // 9.5 s later: counts 1 s
    for (int64_t i = 2; i < 902; i++) AudioQueuePush(queue, Item(i), 95'000'000 + (i - 1) * block, 0);
    EXPECT_EQ(AudioQueueTakeExcess(queue), nullptr);  // 1 s + 900 x 10 ms: exactly 10 s
    AudioQueuePush(queue, Item(902), 95'000'000 + 901 * block, 0);
    EXPECT_EQ(AudioQueueTakeExcess(queue), Item(0));
    EXPECT_EQ(AudioQueueTakeExcess(queue), Item(1));  // the long one
    EXPECT_EQ(AudioQueueTakeExcess(queue), nullptr);
    // Drained oldest first.
    for (int64_t i = 2; i <= 902; i++) ASSERT_EQ(AudioQueuePop(queue), Item(i));
    EXPECT_EQ(AudioQueuePop(queue), nullptr);

    // A single sample longer than the bound stays (the newest always does).
    AudioQueuePush(queue, Item(0), 0, 120'000'000);
    EXPECT_EQ(AudioQueueTakeExcess(queue), nullptr);
    EXPECT_EQ(AudioQueuePop(queue), Item(0));
    // Tiny samples fill the slots long before 10 s: then each new one displaces the oldest.
    for (int64_t i = 0; i < RECORDING_AUDIO_QUEUE_CAPACITY; i++) ASSERT_EQ(AudioQueuePush(queue, Item(i), i * 10, 10), nullptr);
    EXPECT_EQ(AudioQueuePush(queue, Item(-7), 0, 10), Item(0));
    EXPECT_EQ(AudioQueuePop(queue), Item(1));
}

// A recording stops when for 5 s (by the pictures' times) every picture failed; a written
// picture ends the streak, and pictures that were not tried count neither way.
TEST(RecordingRules, FiveSecondsOfFailedPicturesStopTheRecordingOnce)
{
    using O = PictureOutcome;
    struct Case {
        const char* name;
        std::vector<std::pair<double, O>> pictures;  // seconds, outcome
        int fires;                                   // index of the picture that stops, -1: none
    };
    const Case cases[] = {
        {"graphics", {{10, O::GraphicsFailed}, {12, O::GraphicsFailed}, {14.9, O::GraphicsFailed}, {15, O::GraphicsFailed},
                      {20, O::GraphicsFailed}}, 3},
        {"encoder after written", {{0, O::Written}, {1, O::EncoderFailed}, {5.9, O::EncoderFailed}, {6, O::EncoderFailed}}, 3},
        {"mixed causes", {{1, O::EncoderFailed}, {3, O::GraphicsFailed}, {6, O::EncoderFailed}}, 2},
        {"a written picture restarts", {{0, O::GraphicsFailed}, {4.9, O::Written}, {5, O::GraphicsFailed},
                                        {9.9, O::GraphicsFailed}, {10, O::GraphicsFailed}}, 4},
        {"slow but written", {{0, O::Written}, {3, O::Written}, {9, O::Written}, {20, O::Written}}, -1},
        {"not tried", {{0, O::GraphicsFailed}, {3, O::NotTried}, {6, O::NotTried}, {7, O::GraphicsFailed}}, 3},
    };
    for (const Case& c : cases) {
        NothingRecordedWatch watch = {};
        for (size_t i = 0; i < c.pictures.size(); i++) {
            const auto& [seconds, outcome] = c.pictures[i];
            EXPECT_EQ(NothingRecordedCheck(watch, static_cast<int64_t>(seconds * 1e7) + 123, outcome),
                      static_cast<int>(i) == c.fires)
                << c.name << " " << i;
        }
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

// Every name a recording, a photo and a recovered recording get: dated, with "_n" suffixes,
// refused (and emptied) when they do not fit.
TEST(FileNames, DatedNamesWithSuffixesAndLengthLimits)
{
    const LogTime time = {2026, 3, 0, 7, 9, 5, 4, 0};
    wchar_t out[400], stamp[32];
    ASSERT_TRUE(PhotoStamp(time, stamp, 32));
    auto name = [&out](bool made) { return made ? std::wstring(out) : L"(refused) " + std::wstring(out); };
    const std::wstring folder(324 - 36, L'x');  // "\MI-RU-<19>-Macro.jpg" is 36 units: 324 in all
    const std::pair<std::wstring, std::wstring> cases[] = {
        {name(FinalRecordingName(L"D:\\A", time, 1, out, 400)), L"D:\\A\\MI-RU-2026-03-07_09-05-04.mp4"},
        {name(FinalRecordingName(L"D:\\A", time, 2, out, 400)), L"D:\\A\\MI-RU-2026-03-07_09-05-04_2.mp4"},
        {name(TempRecordingName(L"C:\\t", 1767225600, 1, out, 400)), L"C:\\t\\miru-1767225600.mp4"},
        {name(TempRecordingName(L"C:\\t", 1767225600, 3, out, 400)), L"C:\\t\\miru-1767225600_3.mp4"},
        {name(PhotoName(L"D:\\F", stamp, L"Ansicht", 1, out, 400)), L"D:\\F\\MI-RU-2026-03-07_09-05-04-Ansicht.jpg"},
        {name(PhotoName(L"D:\\F", stamp, L"Wide", 2, out, 400)), L"D:\\F\\MI-RU-2026-03-07_09-05-04-Wide_2.jpg"},
        {FileNamePart(out), L"MI-RU-2026-03-07_09-05-04-Wide_2.jpg"},
        {name(PhotoTempName(L"D:\\A\\x-Wide.jpg", out, 400)), L"D:\\A\\x-Wide.jpg.tmp"},
        {name(RecoveredRecordingName(L"D:\\A", time, 1, out, 400)), L"D:\\A\\MI-RU-2026-03-07_09-05-04-wiederhergestellt.mp4"},
        {name(RecoveredRecordingName(std::wstring(380, L'x').c_str(), time, 1, out, 400)), L"(refused) "},
        {name(RecordingMarkerName(L"C:\\t\\miru-1.mp4", out, 400)), L"C:\\t\\miru-1.mp4.recording"},
        {name(RecordingMarkerTarget(L"C:\\t\\miru-1.mp4.recording", out, 400)), L"C:\\t\\miru-1.mp4"},
        {name(RecordingMarkerTarget(L"C:\\t\\miru-1.mp4", out, 400)), L"(refused) "},
        {name(RecordingMarkerName(L"C:\\t\\miru-1.mp4", out, 20)), L"(refused) "},
        // A copy to another drive, and back from its name to the file it was copied from.
        {name(StagingRecordingName(L"N:\\A", L"C:\\t\\miru-5_2.mp4", out, 400)), L"N:\\A\\miru-5_2.mp4.tmp"},
        {name(StagingRecordingSource(L"C:\\t", L"N:\\A\\miru-5_2.mp4.tmp", out, 400)), L"C:\\t\\miru-5_2.mp4"},
        {name(StagingRecordingSource(L"C:\\t", L"N:\\A\\MI-RU-x-Wide.jpg.tmp", out, 400)), L"(refused) "},
        {name(StagingRecordingSource(L"C:\\t", L"N:\\A\\miru-5.mp4", out, 400)), L"(refused) "},
        {name(StagingRecordingSource(L"C:\\t", L"N:\\A\\miru-5_2.mp4.tmp", out, 17)), L"(refused) "},
        {name(PhotoName(folder.c_str(), stamp, L"Macro", 1, out, 325)), folder + L"\\MI-RU-2026-03-07_09-05-04-Macro.jpg"},
        {name(PhotoName((folder + L"x").c_str(), stamp, L"Macro", 1, out, 325)), L"(refused) "},
    };
    for (const auto& [got, want] : cases) EXPECT_EQ(got, want);
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
