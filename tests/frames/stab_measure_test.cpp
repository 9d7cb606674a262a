#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "frames/stab_measure.h"
#include "frames/stab_pipeline.h"
#include "tests/frames/stab_test_frames.h"

namespace {

// The kernel sets this processor can run: SSE2 always, AVX2 when present.
std::vector<int32_t> KernelChoices()
{
    std::vector<int32_t> choices{STAB_KERNELS_SSE2};
    if (StabCpuHasAvx2()) choices.push_back(STAB_KERNELS_AVX2);
    return choices;
}

StabShift MeasurePair(const TestImage& previous, const TestImage& current)
{
    StabMeasureForward(previous.pixels.data(), previous.width, previous.height, previous.stride, 0);
    StabMeasureForward(current.pixels.data(), current.width, current.height, current.stride, 1);
    return StabMeasureCorrelate(0, 1);
}

// A frame cut from `scene` with its content moved by (dx, dy).
TestImage Cut(const TestImage& scene, int32_t width, int32_t height, int32_t dx, int32_t dy, int32_t stride = 0)
{
    TestImage frame = MakeImage(width, height, stride);
    CutFrame(scene, dx, dy, frame);
    return frame;
}

void Paint(TestImage& image, int32_t x0, int32_t y0, int32_t x1, int32_t y1, uint8_t b, uint8_t g, uint8_t r)
{
    for (int32_t y = y0; y < y1; y++)
        for (int32_t x = x0; x < x1; x++) {
            uint8_t* p = image.pixels.data() + static_cast<size_t>(y) * image.stride + x * 4;
            p[0] = b, p[1] = g, p[2] = r;
        }
}

class StabMeasureTest : public ::testing::Test {
protected:
    void TearDown() override { StabMeasureSelectKernels(STAB_KERNELS_AUTO); }
};

// Each cell is the mean of 29 blue + 150 green + 77 red over 256; the cells split the region at
// column 480 and row 270. Only the central 960 x 540 pixels count (origin (160, 90) at 720p).
TEST_F(StabMeasureTest, OnlyTheCentralRegionIsMeasured)
{
    // Texture outside the region changes nothing: two flat regions have nothing to correlate.
    TestImage a = Cut(MakeScene(1280, 720, 3), 1280, 720, 0, 0, 1280 * 4 + 64);
    TestImage b = Cut(MakeScene(1280, 720, 4), 1280, 720, 0, 0, 1280 * 4 + 64);
    Paint(a, 160, 90, 1120, 630, 90, 90, 90);
    Paint(b, 160, 90, 1120, 630, 90, 90, 90);
    EXPECT_FALSE(MeasurePair(a, b).peakValue > 0.0f);
}

// The examples: 15 px right is exactly 4 cells; 15 px up is -7.11 cells, peak row 249, the rest
// from the sub-cell refinement. Random textures moved up to 40 px each way, other sizes and
// strides: both kernel sets find the same peak and shifts within 0.001 px of each other.
TEST_F(StabMeasureTest, MeasuresKnownMovementsAlikeOnEveryKernelSet)
{
    struct Case { int32_t seed, width, height, stride, dx, dy, peakX, peakY; };
    std::vector<Case> cases{{7, 1920, 1080, 0, 0, 0, 0, 0}, {7, 1920, 1080, 0, 15, 0, 4, 0}, {7, 1920, 1080, 0, 0, -15, 0, 249}};
    uint32_t state = 12345;
    auto next = [&state] { return static_cast<int32_t>((state = state * 1664525u + 1013904223u) >> 8) % 81 - 40; };
    for (int32_t k = 0; k < 6; k++) cases.push_back({100 + k, 960, 540, 0, next(), next(), -1, -1});
    cases.push_back({9, 1280, 720, 1280 * 4 + 32, -31, 17, -1, -1});
    cases.push_back({9, 1024, 600, 0, 12, -9, -1, -1});

    std::vector<StabShift> first;
    for (int32_t choice : KernelChoices()) {
        ASSERT_TRUE(StabMeasureSelectKernels(choice));
        for (size_t k = 0; k < cases.size(); k++) {
            const Case& c = cases[k];
            SCOPED_TRACE(testing::Message() << "kernels " << choice << " case " << k);
            const TestImage scene = MakeScene(c.width + 80, c.height + 80, c.seed);
            const StabShift s = MeasurePair(Cut(scene, c.width, c.height, 0, 0, c.stride),
                                            Cut(scene, c.width, c.height, c.dx, c.dy, c.stride));
            EXPECT_NEAR(s.shiftX, c.dx, 0.5);
            EXPECT_NEAR(s.shiftY, c.dy, 0.5);
            EXPECT_TRUE(c.peakX < 0 || (s.peakX == c.peakX && s.peakY == c.peakY)) << s.peakX << " " << s.peakY;
            if (first.size() < cases.size()) {
                first.push_back(s);
                continue;
            }
            EXPECT_TRUE(s.peakX == first[k].peakX && s.peakY == first[k].peakY);
            EXPECT_NEAR(s.shiftX, first[k].shiftX, 0.001);
            EXPECT_NEAR(s.shiftY, first[k].shiftY, 0.001);
        }
    }
}

}  // namespace
