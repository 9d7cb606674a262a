#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <vector>

#include "frames/stab_measure.h"
#include "frames/stab_pipeline.h"
#include "tests/frames/stab_reference.h"
#include "tests/frames/stab_test_frames.h"

namespace {

// The kernel sets this processor can run: SSE2 always, AVX2 when present.
std::vector<int32_t> KernelChoices()
{
    std::vector<int32_t> choices{STAB_KERNELS_SSE2};
    if (StabCpuHasAvx2()) choices.push_back(STAB_KERNELS_AVX2);
    return choices;
}

// Measures a pair through the product's public measurement.
StabShift MeasurePair(const TestImage& previous, const TestImage& current)
{
    StabMeasureForward(previous.pixels.data(), previous.width, previous.height, previous.stride, 0);
    StabMeasureForward(current.pixels.data(), current.width, current.height, current.stride, 1);
    return StabMeasureCorrelate(0, 1);
}

// A frame cut from a fixed scene (or from `scene`) with its content moved by (dx, dy).
TestImage Cut(int32_t width, int32_t height, int32_t dx, int32_t dy, int32_t stride = 0,
              const TestImage* scene = nullptr)
{
    static const TestImage fixed = MakeScene(1100, 680, 7);
    TestImage frame = MakeImage(width, height, stride);
    CutFrame(scene ? *scene : fixed, dx, dy, frame);
    return frame;
}

class StabMeasureTest : public ::testing::Test {
protected:
    void TearDown() override { StabMeasureSelectKernels(STAB_KERNELS_AUTO); }
};

TEST_F(StabMeasureTest, LumaCellsEqualThePlainComputationBitForBit)
{
    // A padded stride and a region that does not start at the frame's origin.
    const TestImage frame = Cut(1280, 720, 3, -2, 1280 * 4 + 64);
    const std::vector<float> expected = ReferenceCells(frame.pixels.data(), frame.width, frame.height, frame.stride);
    double expectedSum = 0.0;
    for (float c : expected) expectedSum += c;
    auto tables = std::make_unique<StabTables>();
    auto work = std::make_unique<StabWork>();
    StabTablesBuild(*tables);
    for (int32_t choice : KernelChoices()) {
        const StabKernelSet& set = choice == STAB_KERNELS_AVX2 ? stabKernelsAvx2 : stabKernelsSse2;
        EXPECT_NEAR(set.cells(frame.pixels.data() + 90 * frame.stride + 160 * 4, frame.stride, *tables, *work),
                    expectedSum, 1e-6) << choice;
        EXPECT_TRUE(std::equal(expected.begin(), expected.end(), work->cells)) << choice;
    }
}

// Random textures moved by up to 40 px each way, other frame sizes and strides, and the
// degenerate blank and saturated frames: the product within 0.001 px of the plain reference.
TEST_F(StabMeasureTest, AgreesWithThePlainReferenceOverACorpus)
{
    std::vector<std::pair<TestImage, TestImage>> pairs;
    uint32_t state = 12345;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return static_cast<int32_t>(state >> 8);
    };
    for (int32_t k = 0; k < 10; k++) {
        const int32_t dx = next() % 81 - 40, dy = next() % 81 - 40;
        const TestImage scene = MakeScene(1044, 624, 100 + k);
        pairs.emplace_back(Cut(960, 540, 0, 0, 0, &scene), Cut(960, 540, dx, dy, 0, &scene));
    }
    pairs.emplace_back(Cut(1280, 720, 0, 0, 1280 * 4 + 32), Cut(1280, 720, -31, 17, 1280 * 4 + 32));
    pairs.emplace_back(Cut(1024, 600, 5, 5), Cut(1024, 600, 12, -9));
    const TestImage texture = Cut(960, 540, 0, 0), blank = MakeImage(960, 540, 0, 0), full = MakeImage(960, 540, 0, 255);
    for (const auto& [a, b] : {std::pair{&texture, &blank}, {&blank, &texture}, {&blank, &blank}, {&texture, &full},
                               {&full, &texture}, {&full, &full}, {&full, &blank}})
        pairs.emplace_back(*a, *b);

    std::vector<ReferenceResult> expected;
    for (const auto& [a, b] : pairs) {
        ReferenceSpectrum previous = ReferenceForward(a.pixels.data(), a.width, a.height, a.stride);
        expected.push_back(ReferenceCorrelate(previous, ReferenceForward(b.pixels.data(), b.width, b.height, b.stride)));
    }
    for (int32_t choice : KernelChoices()) {
        ASSERT_TRUE(StabMeasureSelectKernels(choice));
        for (size_t k = 0; k < pairs.size(); k++) {
            const StabShift got = MeasurePair(pairs[k].first, pairs[k].second);
            const ReferenceResult& want = expected[k];
            SCOPED_TRACE(testing::Message() << "kernels " << choice << " pair " << k);
            EXPECT_TRUE(got.peakX == want.peakX && got.peakY == want.peakY) << got.peakX << " " << got.peakY;
            EXPECT_NEAR(got.shiftX, want.shiftX, 0.001);
            EXPECT_NEAR(got.shiftY, want.shiftY, 0.001);
            EXPECT_NEAR(got.peakValue, want.peakValue, 1e-3 * std::fabs(want.peakValue) + 1e-3);
        }
    }
}

// 15 px right is exactly 4 cells; 15 px up is -7.11 cells: peak row 249, the rest from the
// sub-cell refinement.
TEST_F(StabMeasureTest, MeasuresKnownMovements)
{
    const TestImage still = Cut(1920, 1080, 0, 0);
    struct Case { int32_t dx, dy, peakX, peakY; };
    for (int32_t choice : KernelChoices()) {
        ASSERT_TRUE(StabMeasureSelectKernels(choice));
        for (const Case c : {Case{0, 0, 0, 0}, {15, 0, 4, 0}, {0, -15, 0, 249}}) {
            const StabShift s = MeasurePair(still, Cut(1920, 1080, c.dx, c.dy));
            EXPECT_TRUE(s.peakX == c.peakX && s.peakY == c.peakY) << choice << ": " << s.peakX << " " << s.peakY;
            EXPECT_NEAR(s.shiftX, c.dx, 0.3) << choice;
            EXPECT_NEAR(s.shiftY, c.dy, 0.3) << choice;
        }
    }
}

TEST_F(StabMeasureTest, ReadsTheShiftFromTheSurfacePeak)
{
    std::vector<float> surface(STAB_N * STAB_N, 0.0f);
    auto peakAt = [&surface](int32_t x, int32_t y, float left, float right, float up, float down) {
        std::fill(surface.begin(), surface.end(), 0.0f);
        surface[y * STAB_N + x] = 100.0f;
        surface[y * STAB_N + (x + STAB_N - 1) % STAB_N] = left;
        surface[y * STAB_N + (x + 1) % STAB_N] = right;
        surface[((y + STAB_N - 1) % STAB_N) * STAB_N + x] = up;
        surface[((y + 1) % STAB_N) * STAB_N + x] = down;
        return StabShiftFromSurface(surface.data(), y * STAB_N + x);
    };
    // Column 128 is +128 cells, column 129 is -127 cells.
    StabShift s = peakAt(128, 128, 10, 10, 10, 10);
    EXPECT_DOUBLE_EQ(s.shiftX, 480.0);
    EXPECT_DOUBLE_EQ(s.shiftY, 128 * 2.109375);
    s = peakAt(129, 129, 10, 10, 10, 10);
    EXPECT_DOUBLE_EQ(s.shiftX, -476.25);
    EXPECT_DOUBLE_EQ(s.shiftY, -127 * 2.109375);
    // Neighbours wrap around the edges: at (0, 0) the left one is column 255, the upper row 255.
    // Parabola through 60, 100, 20: vertex at (60 - 20) / 2 / (60 + 20 - 200) = -1/6 cell.
    s = peakAt(0, 0, 60, 20, 20, 60);
    EXPECT_NEAR(s.shiftX, -3.75 / 6, 1e-6);
    EXPECT_NEAR(s.shiftY, 2.109375 / 6, 1e-6);
    // A flat top refines to nothing; a step beyond half a cell is held at half a cell.
    EXPECT_DOUBLE_EQ(peakAt(10, 10, 100, 100, 100, 100).shiftX, 10 * 3.75);
    EXPECT_DOUBLE_EQ(peakAt(10, 10, 100, -1000, 0, 0).shiftX, 9.5 * 3.75);
}

}  // namespace
