// Closed loop: a textured 1080p scene shaken by a hand tremor, stabilised frame by frame through
// the public interface, each correction applied the way the renderer draws the visible window.
// The content must hold still in the window on both axes.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <vector>

#include "frames/stabilizer.h"
#include "settings/settings_record.h"
#include "tests/frames/stab_test_frames.h"
#ifdef _WIN32
#include "tests/support/test_folder.h"
#endif

namespace {

constexpr int32_t width = 1920;
constexpr int32_t height = 1080;
constexpr int32_t frameCount = 240;  // 8 s at 30 frames per second
constexpr double pi = 3.14159265358979323846;

// A few pixels of tremor between 5 and 12 Hz, different on each axis.
double TremorX(int32_t frame)
{
    const double t = frame / 30.0;
    return 2.2 * std::sin(2 * pi * 7.3 * t) + 1.2 * std::sin(2 * pi * 11.1 * t + 1.0);
}
double TremorY(int32_t frame)
{
    const double t = frame / 30.0;
    return 2.4 * std::sin(2 * pi * 5.6 * t + 0.5) + 1.0 * std::sin(2 * pi * 9.2 * t);
}

// Root mean square of what remains after removing the slow part (a centred one-second mean).
double HighFrequencyRms(const std::vector<double>& signal, int32_t first)
{
    const int32_t half = 15;
    double sum = 0.0;
    int32_t count = 0;
    for (int32_t k = first; k + half < static_cast<int32_t>(signal.size()); k++) {
        double mean = 0.0;
        for (int32_t j = k - half; j <= k + half; j++) mean += signal[j];
        mean /= 2 * half + 1;
        sum += (signal[k] - mean) * (signal[k] - mean);
        count++;
    }
    return std::sqrt(sum / count);
}

struct Jitter {
    double rawX, rawY;            // content moving in the frame
    double residualX, residualY;  // content moving in the visible window
};

Jitter RunTremor(double gain)
{
    Settings.stabGain = gain;
    StabSetEnabled(true);
    const TestImage scene = MakeScene(1040, 620, 3);
    TestImage frame = MakeImage(width, height);
    std::vector<double> rawX, rawY, residualX, residualY;
    for (int32_t k = 0; k < frameCount; k++) {
        const int32_t dx = static_cast<int32_t>(std::lround(TremorX(k)));
        const int32_t dy = static_cast<int32_t>(std::lround(TremorY(k)));
        CutFrame(scene, dx, dy, frame);
        double x = 0.0, y = 0.0, zoom = 1.0;
        StabProcessFrame(frame.pixels.data(), width, height, frame.stride, 1, &x, &y, &zoom);
        // The window's centre sits at the frame centre + correction x size, so the content
        // appears in the window at its position in the frame minus that offset.
        rawX.push_back(dx);
        rawY.push_back(dy);
        residualX.push_back(dx - x * width);
        residualY.push_back(dy - y * height);
    }
    StabSetEnabled(false);
    StabProcessFrame(nullptr, 0, 0, 0, 1, nullptr, nullptr, nullptr);
    const int32_t settled = 45;
    return {HighFrequencyRms(rawX, settled), HighFrequencyRms(rawY, settled), HighFrequencyRms(residualX, settled),
            HighFrequencyRms(residualY, settled)};
}

class StabClosedLoopTest : public ::testing::Test {
protected:
    void SetUp() override { SettingsResetDefaults(); }
    void TearDown() override { SettingsResetDefaults(); }
#ifdef _WIN32
    TestSettingsFolder folder;  // keeps the log file out of the user's folder
#endif
};

TEST_F(StabClosedLoopTest, HoldsTheContentStillOnBothAxes)
{
    // Default settings: clearly less shake on each axis (a wrong sign on either axis makes
    // that axis shake more than without stabilisation).
    const Jitter normal = RunTremor(0.5);
    ASSERT_GT(normal.rawX, 1.0);
    ASSERT_GT(normal.rawY, 1.0);
    EXPECT_LT(normal.residualX, 0.75 * normal.rawX);
    EXPECT_LT(normal.residualY, 0.75 * normal.rawY);

    // Full strength: most of the shake is gone.
    const Jitter strong = RunTremor(1.0);
    EXPECT_LT(strong.residualX, 0.35 * strong.rawX);
    EXPECT_LT(strong.residualY, 0.35 * strong.rawY);
    std::printf("residual/raw: default x %.3f y %.3f, gain 1 x %.3f y %.3f\n", normal.residualX / normal.rawX,
                normal.residualY / normal.rawY, strong.residualX / strong.rawX, strong.residualY / strong.rawY);
}

}  // namespace
