#include "frames/stabilizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cwchar>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "app/texts.h"
#include "diag/log.h"
#include "diag/perf_clock.h"
#include "frames/stab_measure.h"
#include "settings/settings_record.h"
#include "tests/frames/stab_test_frames.h"
#ifdef _WIN32
#include "tests/support/test_folder.h"
#endif

namespace {

// Test clock: each read returns `clockNow`, then advances it by `clockStep`.
double clockNow = 0.0;
double clockStep = 0.0;
double TestClock()
{
    const double now = clockNow;
    clockNow += clockStep;
    return now;
}

// Sees every correlation the stabiliser makes and can replace its result.
enum class Force { None, Shift, NotFinite };
Force force = Force::None;
double forcedX = 0.0, forcedY = 0.0;
std::vector<StabShift> measured;
void Hook(StabShift* shift)
{
    measured.push_back(*shift);
    if (force == Force::Shift) {
        shift->shiftX = forcedX;
        shift->shiftY = forcedY;
    } else if (force == Force::NotFinite) {
        shift->shiftX = NAN;
    }
}

// 960 x 540 frames (the smallest measured size) of one scene, content moved by (dx, dy).
const TestImage& Frame(int32_t dx, int32_t dy)
{
    static const TestImage scene = MakeScene(1040, 620, 5);
    static std::map<std::pair<int32_t, int32_t>, TestImage> frames;
    auto [it, added] = frames.try_emplace({dx, dy});
    if (added) {
        it->second = MakeImage(960, 540);
        CutFrame(scene, dx, dy, it->second);
    }
    return it->second;
}

struct Out {
    double x, y, zoom;
    bool operator==(const Out&) const = default;
};

Out Process(const TestImage& frame, int32_t tag = 1)
{
    Out out{99.0, 99.0, 99.0};
    StabProcessFrame(frame.pixels.data(), frame.width, frame.height, frame.stride, tag, &out.x, &out.y, &out.zoom);
    return out;
}

std::vector<std::wstring> LogLines(uint32_t level)
{
    std::vector<LogEntry> entries(LOG_RING_CAPACITY);
    const uint32_t n = LogSnapshot(entries.data(), LOG_RING_CAPACITY);
    std::vector<std::wstring> lines;
    for (uint32_t i = 0; i < n; i++)
        if (entries[i].level == level) lines.emplace_back(entries[i].text);
    return lines;
}

class StabilizerTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SettingsResetDefaults();
        TextsSetLanguageForTest(1);
        StabSetEnabled(false);
        StabProcessFrame(nullptr, 0, 0, 0, 1, nullptr, nullptr, nullptr);  // clears the state
        clockNow = 100.0;
        clockStep = 0.0;
        PerfClockSetForTest(TestClock);
        force = Force::None;
        measured.clear();
        StabMeasureSetHookForTest(Hook);
        LogResetForTest();
    }
    void TearDown() override
    {
        StabSetEnabled(false);
        StabProcessFrame(nullptr, 0, 0, 0, 1, nullptr, nullptr, nullptr);
        StabMeasureSetHookForTest(nullptr);
        PerfClockSetForTest(nullptr);
        TextsSetLanguageForTest(-1);
        SettingsResetDefaults();
    }
#ifdef _WIN32
    TestSettingsFolder folder;  // keeps the log file out of the user's folder
#endif
};

TEST_F(StabilizerTest, DisabledMeansNoCorrectionAndZoomOne)
{
    Settings.stabCropZoom = 1.2;
    EXPECT_EQ(StabCurrentZoom(), 1.0);
    EXPECT_EQ(Process(Frame(0, 0)), (Out{0.0, 0.0, 1.0}));
    EXPECT_TRUE(measured.empty());

    StabSetEnabled(true);
    EXPECT_EQ(StabCurrentZoom(), 1.2);
    // The first frame only becomes the reference; identical frames change nothing.
    EXPECT_EQ(Process(Frame(0, 0)), (Out{0.0, 0.0, 1.2}));
    const Out same = Process(Frame(0, 0));
    EXPECT_NEAR(same.x, 0.0, 1e-9);
    EXPECT_NEAR(same.y, 0.0, 1e-9);
    // Content moved right and up: the window follows right and up.
    const Out moved = Process(Frame(4, -3));
    EXPECT_GT(moved.x, 0.0);
    EXPECT_LT(moved.y, 0.0);
    EXPECT_EQ(moved.zoom, 1.2);
    double x = 0.0, y = 0.0;
    StabGetCorrection(&x, &y);
    EXPECT_EQ(x, moved.x);
    EXPECT_EQ(y, moved.y);
    StabGetCorrection(nullptr, nullptr);

    StabSetEnabled(false);
    EXPECT_EQ(StabCurrentZoom(), 1.0);
    EXPECT_EQ(Process(Frame(8, -6)), (Out{0.0, 0.0, 1.0}));
    StabGetCorrection(&x, &y);
    EXPECT_EQ(x, 0.0);
    EXPECT_EQ(y, 0.0);
}

TEST_F(StabilizerTest, EveryResetStartsFromAFreshReference)
{
    StabSetEnabled(true);
    auto run = [](int32_t tag) {
        return std::vector<Out>{Process(Frame(0, 0), tag), Process(Frame(3, 2), tag), Process(Frame(-2, 5), tag)};
    };
    const std::vector<Out> fresh = run(1);
    EXPECT_EQ(fresh[0], (Out{0.0, 0.0, 1.15}));
    EXPECT_NE(fresh[2].x, 0.0);
    EXPECT_EQ(measured.size(), 2u);

    // Without a reset the old path and reference carry on.
    Process(Frame(6, 6));
    EXPECT_NE(run(1), fresh);

    Process(Frame(6, 6));
    StabRequestReset();
    EXPECT_EQ(run(1), fresh);

    Process(Frame(6, 6));
    StabSetEnabled(false);
    StabSetEnabled(true);
    EXPECT_EQ(run(1), fresh);

    Process(Frame(6, 6));
    EXPECT_EQ(run(2), fresh);  // another source
}

TEST_F(StabilizerTest, FramesTooSmallOrMalformedAreNotMeasured)
{
    StabSetEnabled(true);
    Process(Frame(0, 0));
    const Out before = Process(Frame(4, 0));
    ASSERT_NE(before.x, 0.0);
    const size_t count = measured.size();

    const TestImage narrow = MakeImage(959, 1080);
    const TestImage low = MakeImage(1920, 539);
    EXPECT_EQ(Process(narrow), before);
    EXPECT_EQ(Process(low), before);
    Out out{};
    const TestImage& good = Frame(8, 0);
    StabProcessFrame(good.pixels.data(), 960, 540, 960 * 4 - 4, 1, &out.x, &out.y, &out.zoom);
    EXPECT_EQ(out, before);
    StabProcessFrame(nullptr, 1920, 1080, 1920 * 4, 1, &out.x, &out.y, &out.zoom);
    EXPECT_EQ(out, before);
    StabProcessFrame(good.pixels.data(), 960, 540, 960 * 4, 1, nullptr, nullptr, nullptr);
    EXPECT_EQ(measured.size(), count + 1);

    // The reference survived the skipped frames: the next frame is measured against it.
    Process(Frame(12, 0));
    ASSERT_EQ(measured.size(), count + 2);
    EXPECT_NEAR(measured.back().shiftX, 4.0, 0.3);
}

TEST_F(StabilizerTest, AFailedMeasurementKeepsTheCorrection)
{
    Settings.devStabDiag = true;
    StabSetEnabled(true);
    Process(Frame(0, 0));
    const Out good = Process(Frame(4, 2));

    force = Force::NotFinite;
    EXPECT_EQ(Process(Frame(8, 4)), good);
    force = Force::None;
    double x = 0.0, y = 0.0;
    StabGetCorrection(&x, &y);
    EXPECT_EQ(x, good.x);
    EXPECT_EQ(y, good.y);
    // The failed frame still became the reference (against the frame before it, the shift
    // would be 8 px right and 2 px down).
    Process(Frame(12, 4));
    EXPECT_NEAR(measured.back().shiftX, 4.0, 0.3);
    EXPECT_NEAR(measured.back().shiftY, 0.0, 0.3);

    // A blank frame has nothing to correlate (all-zero surface): a failure too, in both
    // directions, and the correction stands.
    const Out last = Process(Frame(12, 4));
    EXPECT_EQ(Process(MakeImage(960, 540, 0, 0)), last);
    EXPECT_EQ(measured.back().peakValue, 0.0f);
    EXPECT_EQ(Process(Frame(12, 4)), last);
    EXPECT_NE(Process(Frame(4, 4)), last);

    // Three failures counted: the forced one, the blank frame and the frame after it.
    clockNow = 106.0;
    Process(Frame(4, 4));
    const std::vector<std::wstring> info = LogLines(LOG_INFO);
    ASSERT_FALSE(info.empty());
    const std::wstring& report = info.back();
    ASSERT_GT(report.size(), 8u);
    EXPECT_EQ(report.substr(report.size() - 8), L"Fehler 3") << report;
}

TEST_F(StabilizerTest, SwitchOnIsLoggedOncePerSwitchOn)
{
    StabSetEnabled(true);
    StabSetEnabled(true);
    StabSetEnabled(false);
    Settings.stabGain = 1.3;
    Settings.stabLead = 0.5;
    Settings.stabSmoothing = 0.9;
    TextsSetLanguageForTest(0);
    StabSetEnabled(true);
    const std::vector<std::wstring> lines = LogLines(LOG_INFO);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], L"Stabilisierung an \u2014 St\u00e4rke 0.5 \u00b7 Gl\u00e4ttung 0.850 \u00b7 Crop 1.15 \u00b7 "
                        L"Vorhersage 0.00");
    EXPECT_EQ(lines[1], L"Stabilization on \u2014 strength 1.3 \u00b7 smoothing 0.900 \u00b7 crop 1.15 \u00b7 "
                        L"prediction 0.50");
}

TEST_F(StabilizerTest, ParametersThatAreNotNumbersFallBackToDefaults)
{
    Settings.stabGain = NAN;
    Settings.stabSmoothing = INFINITY;
    Settings.stabCropZoom = NAN;
    Settings.stabLead = -INFINITY;
    const StabParams p = StabReadParams();
    EXPECT_EQ(p.gain, 0.5);
    EXPECT_EQ(p.smoothing, 0.85);
    EXPECT_EQ(p.cropZoom, 1.15);
    EXPECT_EQ(p.lead, 0.0);
    StabSetEnabled(true);
    EXPECT_EQ(StabCurrentZoom(), 1.15);
    EXPECT_EQ(Process(Frame(0, 0)).zoom, 1.15);
    Settings.stabCropZoom = 0.0;
    EXPECT_EQ(StabReadParams().cropZoom, 1.15);
}

TEST_F(StabilizerTest, DiagnosticsReportEveryFiveSeconds)
{
    Settings.devStabDiag = true;
    StabSetEnabled(true);
    LogResetForTest();
    clockNow = 10.0;
    Process(Frame(0, 0));  // reference

    // Eleven measured frames, half a second apart (the last a little later), with exact shifts.
    force = Force::Shift;
    double sumCorrection = 0.0, maxCorrection = 0.0;
    for (int32_t k = 1; k <= 11; k++) {
        clockNow = k < 11 ? 10.0 + 0.5 * k : 15.6;
        clockStep = k == 5 ? 0.008 : 0.002;  // measurement time 2 ms, once 8 ms
        forcedX = k % 2 ? 3.0 : -3.0;        // motion 5 px ...
        forcedY = k % 2 ? 4.0 : -4.0;
        if (k == 7) forcedX = 30.0, forcedY = 40.0;  // ... once 50 px, which closes the gate
        Process(Frame(0, 0));
        double x = 0.0, y = 0.0;
        StabGetCorrection(&x, &y);
        const double pixels = std::hypot(960 * x, 540 * y);
        sumCorrection += pixels;
        maxCorrection = std::max(maxCorrection, pixels);
        if (k < 11) {
            EXPECT_TRUE(LogLines(LOG_INFO).empty()) << k;
        }
    }
    // 11 frames in 5.1 s; gate open for frames 1..6, closed from frame 7 on (envelope above
    // 2.1 % of the width until the end): 6/11 = 55 %.
    wchar_t expected[512];
    swprintf(expected, 512,
             L"Stab-Diagnose: 2/s \u00b7 Messung 2.5 ms (max 8.0) \u00b7 Bewegung 9.1 px (max 50.0) \u00b7 "
             L"Korrektur %.1f px (max %.1f) \u00b7 Gate 55%% \u00b7 Fehler 0",
             sumCorrection / 11, maxCorrection);
    std::vector<std::wstring> info = LogLines(LOG_INFO);
    ASSERT_EQ(info.size(), 1u);
    EXPECT_EQ(info[0], expected);
    EXPECT_GT(maxCorrection, 0.0);

    // The next window has only failures: a warning instead (English this time).
    TextsSetLanguageForTest(0);
    clockStep = 0.0;
    force = Force::NotFinite;
    for (double t : {16.0, 17.0, 18.0, 20.7}) {
        clockNow = t;
        Process(Frame(0, 0));
    }
    const std::vector<std::wstring> warnings = LogLines(LOG_WARN);
    ASSERT_EQ(warnings.size(), 1u);
    EXPECT_EQ(warnings[0], L"Stab diagnostics: no measurement in 5 s \u00b7 errors 4");

    // Switched off: nothing is counted, and switching it on again starts a new window.
    force = Force::None;
    Settings.devStabDiag = false;
    clockNow = 30.0;
    Process(Frame(0, 0));
    Settings.devStabDiag = true;
    clockNow = 31.0;
    Process(Frame(0, 0));
    clockNow = 35.5;
    Process(Frame(0, 0));
    EXPECT_EQ(LogLines(LOG_INFO).size(), 1u);
    EXPECT_EQ(LogLines(LOG_WARN).size(), 1u);
    clockNow = 36.5;
    Process(Frame(0, 0));
    info = LogLines(LOG_INFO);
    ASSERT_EQ(info.size(), 2u);
    EXPECT_EQ(info[1].rfind(L"Stab diagnostics: 1/s \u00b7 measurement 0.0 ms (max 0.0)", 0), 0u) << info[1];

    // Switching the stabiliser off and on also starts a new window: no report spans the pause.
    StabSetEnabled(false);
    Process(Frame(0, 0));
    StabSetEnabled(true);
    for (double t : {60.0, 60.5, 61.0}) {
        clockNow = t;
        Process(Frame(0, 0));
    }
    EXPECT_EQ(LogLines(LOG_INFO).size(), 3u);  // the switch-on line only
}

}  // namespace
