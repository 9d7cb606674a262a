// The pure decisions of the capture code: device look-up, format choice, the intake's buffer
// checks and the microphone meter (the row copy, the role binding and the control's timing are
// proven through the readers and the control thread).
#include <gtest/gtest.h>

#include <cmath>
#include <cwchar>
#include <initializer_list>
#include <utility>
#include <vector>

#include "capture/device_rules.h"
#include "capture/format_choice.h"
#include "capture/frame_copy.h"
#include "capture/mic_level.h"

namespace {

TEST(DeviceRules, DevicesAreFoundByWholeIdentifiersOnly)
{
    CaptureDevice two[2] = {};
    std::wcscpy(two[0].id, L"cam-a");
    std::wcscpy(two[1].id, L"cam-b");
    EXPECT_EQ(DeviceFind(two, L"cam-b"), 1);
    EXPECT_EQ(DeviceFind(two, L"cam"), -1);
    EXPECT_EQ(DeviceFind(two, L""), -1);  // never an empty one
}

NativeFormatInfo Mode(uint32_t width, uint32_t height, uint32_t numerator, uint32_t denominator = 1)
{
    return {true, width, height, true, numerator, denominator};
}

TEST(FormatChoice, SizeComesBeforeRateAndThirtyIsPreferred)
{
    const NativeFormatInfo noSize{false, 0, 0, true, 30, 1};
    const NativeFormatInfo noRate{true, 1920, 1080, false, 0, 0};
    // Each second type beats the first, never the other way round.
    const std::pair<NativeFormatInfo, NativeFormatInfo> cases[] = {
        {Mode(1280, 720, 30), Mode(1920, 1080, 5)},
        {Mode(1920, 1080, 60), Mode(1920, 1080, 50)},
        {Mode(1920, 1080, 15), Mode(1920, 1080, 30000, 1001)},
        {Mode(3840, 2160, 30), Mode(640, 480, 30)},  // distance counts both sides of the target
        {Mode(3421, 2580, 30), noSize},              // a size-less type counts as distance 3000
        {Mode(1920, 1080, 60), noRate},              // no rate is rate 0: "at most 30.01"
    };
    for (const auto& [first, second] : cases) {
        EXPECT_TRUE(FormatBeats(FormatScoreOf(second), FormatScoreOf(first))) << second.width << "@" << second.rateNumerator;
        EXPECT_FALSE(FormatBeats(FormatScoreOf(first), FormatScoreOf(second)));
    }
    EXPECT_FALSE(FormatBeats(FormatScoreOf(Mode(1920, 1080, 30)), FormatScoreOf(Mode(1920, 1080, 30))));  // ties keep the first
}

TEST(FormatChoice, TheMicrophoneIsAskedFor48000Then44100HzWithOneOrTwoChannels)
{
    const std::pair<uint32_t, uint32_t> cases[] = {{1, 1}, {2, 2}, {4, 2}, {6, 2}, {0, 2}};  // device's → asked for
    for (const auto& [device, asked] : cases) {
        const std::array<MicRequest, 2> requests = MicRequests(device);
        EXPECT_TRUE(requests[0].sampleRate == 48000 && requests[1].sampleRate == 44100);
        EXPECT_TRUE(requests[0].channels == asked && requests[1].channels == asked) << device << " channels";
    }
}

TEST(FrameCopy, BuffersMustHoldEveryRowOfTheImage)
{
    // 10 × 4 pixels, rows 48 bytes apart (IMF2DBuffer2 gives the buffer's bounds).
    EXPECT_TRUE(IntakeSizedPlanesFit(0, 48, 3 * 48 + 40, 10, 4));
    EXPECT_FALSE(IntakeSizedPlanesFit(0, 48, 3 * 48 + 39, 10, 4));  // last row one byte short
    EXPECT_FALSE(IntakeSizedPlanesFit(0, 36, 1000, 10, 4));         // rows overlap
    EXPECT_TRUE(IntakeSizedPlanesFit(3 * 48, -48, 3 * 48 + 40, 10, 4));  // bottom-up: row 0 last in memory
    EXPECT_FALSE(IntakeSizedPlanesFit(2 * 48, -48, 1000, 10, 4));        // bottom row before the start
    // IMF2DBuffer gives no bounds: the contiguous length must hold the whole image.
    EXPECT_TRUE(IntakePlanesFit(10 * 4 * 4, -64, 10, 4));
    EXPECT_FALSE(IntakePlanesFit(10 * 4 * 4 - 1, 40, 10, 4));
    // Plain buffers follow the default stride; 0 is tightly packed.
    const IntakePlainRows flipped = IntakePlainLayout(160, -40, 10, 4);
    EXPECT_TRUE(flipped.usable && flipped.row0Offset == 120 && flipped.pitch == -40);
    EXPECT_TRUE(IntakePlainLayout(3 * 48 + 40, 48, 10, 4).usable);  // no padding needed behind the last row
    EXPECT_FALSE(IntakePlainLayout(159, 0, 10, 4).usable);
    EXPECT_FALSE(IntakePlainLayout(1000, 20, 10, 4).usable);  // a stride shorter than a row
}

template <class Sample>
std::vector<uint8_t> Bytes(std::initializer_list<Sample> values)
{
    const auto* bytes = reinterpret_cast<const uint8_t*>(values.begin());
    return {bytes, bytes + values.size() * sizeof(Sample)};
}

TEST(MicLevel, MapsMinusFiftyToZeroDecibelsOntoZeroToOneAndSmoothsByHalves)
{
    EXPECT_NEAR(*MicLevelOfBlock(Bytes<int16_t>({-32768, -32768, -32768}), false, 16), 1.0f, 1e-6f);
    // A constant 0.1 of full scale is −20 dBFS: level 0.6.
    EXPECT_NEAR(*MicLevelOfBlock(Bytes({0.1f, -0.1f, 0.1f, -0.1f}), true, 32), 0.6f, 1e-5f);
    // Below −50 dBFS reads as 0; above full scale (float) as 1; broken samples do not stick the meter.
    EXPECT_EQ(*MicLevelOfBlock(Bytes({0.001f, -0.001f}), true, 32), 0.0f);
    EXPECT_EQ(*MicLevelOfBlock(Bytes({4.0f, -4.0f}), true, 32), 1.0f);
    const float broken = MicLevelOfBlock(Bytes({std::nanf(""), 0.5f}), true, 32).value_or(-1.0f);
    EXPECT_TRUE(broken >= 0.0f && broken <= 1.0f);
    // Other formats and empty blocks leave the meter alone.
    EXPECT_FALSE(MicLevelOfBlock(Bytes<int16_t>({1000, 1000}), false, 24).has_value());
    EXPECT_FALSE(MicLevelOfBlock({}, false, 16).has_value());
    float meter = 0.8f;
    for (int i = 0; i < 4; ++i) meter = MicLevelSmooth(meter, 0.0f);
    EXPECT_FLOAT_EQ(meter, 0.05f);
}

}  // namespace
