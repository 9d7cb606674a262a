// The stabiliser through its public interface, on synthetic frames with known movements, a
// test clock and a hook that sees (and may replace) every measurement.
#include "frames/stabilizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <string>
#include <vector>

#include "app/texts.h"
#include "diag/perf_clock.h"
#include "frames/stab_measure.h"
#include "settings/settings_record.h"
#include "tests/diag/log_probe.h"
#include "tests/frames/stab_test_frames.h"

namespace {

double clockNow = 0.0;
double TestClock() { return clockNow; }

// Sees every measurement; can turn it into a failure.
enum class Force { None, NotFinite } force = Force::None;
std::vector<StabShift> measured;
void Hook(StabShift* shift)
{
    measured.push_back(*shift);
    if (force == Force::NotFinite) shift->shiftX = NAN;
}

// A 960 x 540 frame (the smallest measured size) of one scene, content moved by (dx, dy).
TestImage Frame(int32_t dx, int32_t dy)
{
    static const TestImage scene = MakeScene(1040, 620, 5);
    TestImage frame = MakeImage(960, 540);
    CutFrame(scene, dx, dy, frame);
    return frame;
}

struct Out {
    double x, y, zoom;
    bool operator==(const Out&) const = default;
};

Out Process(const TestImage& frame, int32_t tag = 1, int32_t stride = 0)
{
    Out out{99.0, 99.0, 99.0};
    StabProcessFrame(frame.pixels.data(), frame.width, frame.height, stride ? stride : frame.stride, tag, &out.x,
                     &out.y, &out.zoom);
    return out;
}

Out Correction()
{
    Out out{0.0, 0.0, 0.0};
    StabGetCorrection(&out.x, &out.y);
    return out;
}

class StabilizerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Clear();
        TextsSetLanguageForTest(1);
        clockNow = 100.0;
        PerfClockSetForTest(TestClock);
        force = Force::None;
        measured.clear();
        StabMeasureSetHookForTest(Hook);
    }
    void TearDown() override
    {
        Clear();
        StabMeasureSetHookForTest(nullptr);
        PerfClockSetForTest(nullptr);
        TextsSetLanguageForTest(-1);
    }
    static void Clear()
    {
        SettingsResetDefaults();
        StabSetEnabled(false);
        StabProcessFrame(nullptr, 0, 0, 0, 1, nullptr, nullptr, nullptr);  // clears the state
    }
    LogSandbox log;
};

TEST_F(StabilizerTest, OnlyWhileEnabledAndEveryResetStartsFromAFreshReference)
{
    Settings.stabCropZoom = 1.2;
    EXPECT_EQ(StabCurrentZoom(), 1.0);
    EXPECT_EQ(Process(Frame(0, 0)), (Out{0.0, 0.0, 1.0}));
    EXPECT_TRUE(measured.empty());
    StabSetEnabled(true);
    EXPECT_EQ(StabCurrentZoom(), 1.2);
    // Content moved right and up: the window follows right and up.
    Process(Frame(0, 0));
    const Out moved = Process(Frame(4, -3));
    EXPECT_TRUE(moved.x > 0.0 && moved.y < 0.0 && moved.zoom == 1.2);
    EXPECT_EQ(Correction(), (Out{moved.x, moved.y, 0.0}));
    StabSetEnabled(false);
    EXPECT_EQ(Process(Frame(8, -6)), (Out{0.0, 0.0, 1.0}));
    EXPECT_EQ(Correction(), (Out{0.0, 0.0, 0.0}));

    // The first frame only becomes the reference; a reset, a switch-on and another source each
    // start again from a fresh reference.
    Settings.stabCropZoom = 1.15;
    StabSetEnabled(true);
    measured.clear();
    auto run = [](int32_t tag) {
        return std::vector<Out>{Process(Frame(0, 0), tag), Process(Frame(3, 2), tag), Process(Frame(-2, 5), tag)};
    };
    const std::vector<Out> fresh = run(1);
    EXPECT_EQ(fresh[0], (Out{0.0, 0.0, 1.15}));
    ASSERT_EQ(measured.size(), 2u);
    EXPECT_TRUE(std::fabs(measured[0].shiftX - 3) < 0.5 && std::fabs(measured[0].shiftY - 2) < 0.5);
    Process(Frame(6, 6));
    EXPECT_NE(run(1), fresh);  // without a reset the old path and reference carry on
    StabRequestReset();
    EXPECT_EQ(run(1), fresh);
    StabSetEnabled(false);
    StabSetEnabled(true);
    EXPECT_EQ(run(1), fresh);
    EXPECT_EQ(run(2), fresh);  // another source
}

// Too small, malformed, blank or failed: the correction stands. Skipped frames leave the
// reference alone; a failed measurement still makes its frame the reference and is counted.
TEST_F(StabilizerTest, FramesThatCannotBeMeasuredKeepTheCorrection)
{
    Settings.devStabDiag = true;
    StabSetEnabled(true);
    Process(Frame(0, 0));
    const Out before = Process(Frame(4, 0));
    ASSERT_NE(before.x, 0.0);
    const size_t count = measured.size();
    EXPECT_EQ(Process(MakeImage(1920, 539)), before);
    EXPECT_EQ(Process(Frame(8, 0), 1, 960 * 4 - 4), before);  // stride shorter than a row
    Out out{};
    StabProcessFrame(nullptr, 1920, 1080, 1920 * 4, 1, &out.x, &out.y, &out.zoom);
    EXPECT_EQ(out, before);
    EXPECT_EQ(measured.size(), count);
    StabProcessFrame(Frame(12, 0).pixels.data(), 960, 540, 960 * 4, 1, nullptr, nullptr, nullptr);
    ASSERT_EQ(measured.size(), count + 1);
    EXPECT_NEAR(measured.back().shiftX, 8.0, 0.3);

    const Out good = Process(Frame(16, 2));
    force = Force::NotFinite;
    EXPECT_EQ(Process(Frame(20, 4)), good);
    force = Force::None;
    EXPECT_EQ(Correction(), (Out{good.x, good.y, 0.0}));
    Process(Frame(24, 4));
    EXPECT_NEAR(measured.back().shiftX, 4.0, 0.3);  // against the failed frame, not the one before
    EXPECT_NEAR(measured.back().shiftY, 0.0, 0.3);
    // A blank frame has nothing to correlate (all-zero surface): a failure in both directions.
    const Out last = Process(Frame(24, 4));
    EXPECT_EQ(Process(MakeImage(960, 540, 0, 0)), last);
    EXPECT_EQ(measured.back().peakValue, 0.0f);
    EXPECT_EQ(Process(Frame(24, 4)), last);
    EXPECT_NE(Process(Frame(16, 4)), last);
    clockNow = 106.0;
    Process(Frame(16, 4));
    const std::vector<std::wstring> info = LogTexts(LOG_INFO);
    ASSERT_FALSE(info.empty());
    EXPECT_TRUE(info.back().ends_with(L"Fehler 3")) << info.back();
}

TEST_F(StabilizerTest, SwitchOnIsLoggedOncePerSwitchOnAndNonNumbersFallBackToDefaults)
{
    Settings.stabGain = 1.3;
    Settings.stabLead = 0.5;
    StabSetEnabled(true);
    StabSetEnabled(true);
    StabSetEnabled(false);
    StabSetEnabled(true);
    const std::wstring line =
        L"Stabilisierung an \u2014 St\u00e4rke 1.3 \u00b7 Gl\u00e4ttung 0.850 \u00b7 Crop 1.15 \u00b7 Vorhersage 0.50";
    EXPECT_EQ(LogTexts(LOG_INFO), (std::vector<std::wstring>{line, line}));

    Settings.stabGain = NAN;
    Settings.stabSmoothing = INFINITY;
    Settings.stabCropZoom = NAN;
    Settings.stabLead = -INFINITY;
    const StabParams p = StabReadParams();
    EXPECT_TRUE(p.gain == 0.5 && p.smoothing == 0.85 && p.cropZoom == 1.15 && p.lead == 0.0);
    EXPECT_EQ(StabCurrentZoom(), 1.15);
    EXPECT_EQ(Process(Frame(0, 0)).zoom, 1.15);
    Settings.stabCropZoom = 0.0;
    EXPECT_EQ(StabReadParams().cropZoom, 1.15);
}

// Root mean square of what remains after removing the slow part (a centred one-second mean).
double HighFrequencyRms(const std::vector<double>& signal)
{
    const int32_t half = 15, settled = 45;
    double sum = 0.0;
    int32_t count = 0;
    for (int32_t k = settled; k + half < static_cast<int32_t>(signal.size()); k++, count++) {
        double mean = 0.0;
        for (int32_t j = k - half; j <= k + half; j++) mean += signal[j];
        mean /= 2 * half + 1;
        sum += (signal[k] - mean) * (signal[k] - mean);
    }
    return std::sqrt(sum / count);
}

// Closed loop: a textured 1080p scene shaken by a few pixels of tremor between 5 and 12 Hz,
// different on each axis, for 8 s at 30 frames per second. Each correction is applied the way
// the renderer draws the visible window, whose centre sits at the frame centre + correction x
// size: the content appears in it at its position in the frame minus that offset. A wrong sign
// on either axis makes that axis shake more than without stabilisation.
TEST_F(StabilizerTest, ClosedLoopHoldsTheContentStillOnBothAxes)
{
    const TestImage scene = MakeScene(1040, 620, 3);
    TestImage frame = MakeImage(1920, 1080);
    for (const double gain : {0.5, 1.0}) {
        Settings.stabGain = gain;
        StabSetEnabled(true);
        std::vector<double> raw[2], residual[2];
        for (int32_t k = 0; k < 240; k++) {
            const double t = k / 30.0, pi2 = 2 * 3.14159265358979323846;
            const int32_t dx = std::lround(2.2 * std::sin(pi2 * 7.3 * t) + 1.2 * std::sin(pi2 * 11.1 * t + 1.0));
            const int32_t dy = std::lround(2.4 * std::sin(pi2 * 5.6 * t + 0.5) + 1.0 * std::sin(pi2 * 9.2 * t));
            CutFrame(scene, dx, dy, frame);
            const Out out = Process(frame);
            raw[0].push_back(dx);
            raw[1].push_back(dy);
            residual[0].push_back(dx - out.x * 1920);
            residual[1].push_back(dy - out.y * 1080);
        }
        StabSetEnabled(false);
        // Default strength: clearly less shake on each axis; full strength: most of it is gone.
        for (int axis = 0; axis < 2; axis++) {
            ASSERT_GT(HighFrequencyRms(raw[axis]), 1.0);
            const double ratio = HighFrequencyRms(residual[axis]) / HighFrequencyRms(raw[axis]);
            std::printf("gain %.1f axis %d: residual/raw %.3f\n", gain, axis, ratio);
            EXPECT_LT(ratio, gain == 0.5 ? 0.75 : 0.35) << "gain " << gain << " axis " << axis;
        }
    }
}

}  // namespace
