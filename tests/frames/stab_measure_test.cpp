#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
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

const char* KernelName(int32_t choice)
{
    return choice == STAB_KERNELS_AVX2 ? "AVX2" : "SSE2";
}

// Measures a pair through the product's public measurement.
StabShift MeasurePair(const TestImage& previous, const TestImage& current)
{
    StabMeasureForward(previous.pixels.data(), previous.width, previous.height, previous.stride, 0);
    StabMeasureForward(current.pixels.data(), current.width, current.height, current.stride, 1);
    return StabMeasureCorrelate(0, 1);
}

const TestImage& Scene()
{
    static const TestImage scene = MakeScene(1100, 680, 7);
    return scene;
}

TestImage Cut(int32_t width, int32_t height, int32_t dx, int32_t dy, int32_t stride = 0)
{
    TestImage frame = MakeImage(width, height, stride);
    CutFrame(Scene(), dx, dy, frame);
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
    const uint8_t* region = frame.pixels.data() + 90 * frame.stride + 160 * 4;
    for (int32_t choice : KernelChoices()) {
        const StabKernelSet& set = choice == STAB_KERNELS_AVX2 ? stabKernelsAvx2 : stabKernelsSse2;
        const double sum = set.cells(region, frame.stride, *tables, *work);
        EXPECT_NEAR(sum, expectedSum, 1e-6) << KernelName(choice);
        int32_t mismatches = 0;
        for (int32_t k = 0; k < STAB_N * STAB_N; k++) mismatches += work->cells[k] != expected[k];
        EXPECT_EQ(mismatches, 0) << KernelName(choice);
    }
}

TEST_F(StabMeasureTest, AgreesWithThePlainReferenceOverACorpus)
{
    // Random textures moved by up to 40 px each way, other frame sizes and strides, and the
    // degenerate blank and saturated frames.
    std::vector<std::pair<TestImage, TestImage>> pairs;
    uint32_t state = 12345;
    auto next = [&state] {
        state = state * 1664525u + 1013904223u;
        return static_cast<int32_t>(state >> 8);
    };
    for (int32_t k = 0; k < 10; k++) {
        const int32_t dx = next() % 81 - 40, dy = next() % 81 - 40;
        const TestImage scene = MakeScene(1044, 624, 100 + k);
        TestImage previous = MakeImage(960, 540);
        CutFrame(scene, 0, 0, previous);
        TestImage current = MakeImage(960, 540);
        CutFrame(scene, dx, dy, current);
        pairs.emplace_back(std::move(previous), std::move(current));
    }
    pairs.emplace_back(Cut(1280, 720, 0, 0, 1280 * 4 + 32), Cut(1280, 720, -31, 17, 1280 * 4 + 32));
    pairs.emplace_back(Cut(1024, 600, 5, 5), Cut(1024, 600, 12, -9));
    const TestImage texture = Cut(960, 540, 0, 0);
    const TestImage blank = MakeImage(960, 540, 0, 0);
    const TestImage saturated = MakeImage(960, 540, 0, 255);
    pairs.emplace_back(texture, blank);
    pairs.emplace_back(blank, texture);
    pairs.emplace_back(blank, blank);
    pairs.emplace_back(texture, saturated);
    pairs.emplace_back(saturated, texture);
    pairs.emplace_back(saturated, saturated);
    pairs.emplace_back(saturated, blank);

    std::vector<ReferenceResult> expected;
    for (const auto& [a, b] : pairs)
        expected.push_back(ReferenceMeasurePair(a.pixels.data(), b.pixels.data(), a.width, a.height, a.stride));

    for (int32_t choice : KernelChoices()) {
        ASSERT_TRUE(StabMeasureSelectKernels(choice));
        for (size_t k = 0; k < pairs.size(); k++) {
            const StabShift got = MeasurePair(pairs[k].first, pairs[k].second);
            const ReferenceResult& want = expected[k];
            SCOPED_TRACE(testing::Message() << KernelName(choice) << " pair " << k);
            EXPECT_EQ(got.peakX, want.peakX);
            EXPECT_EQ(got.peakY, want.peakY);
            EXPECT_NEAR(got.shiftX, want.shiftX, 0.001);
            EXPECT_NEAR(got.shiftY, want.shiftY, 0.001);
            EXPECT_NEAR(got.peakValue, want.peakValue, 1e-3 * std::fabs(want.peakValue) + 1e-3);
        }
    }
}

TEST_F(StabMeasureTest, MeasuresKnownMovements)
{
    for (int32_t choice : KernelChoices()) {
        ASSERT_TRUE(StabMeasureSelectKernels(choice));
        SCOPED_TRACE(KernelName(choice));
        const TestImage still = Cut(1920, 1080, 0, 0);

        const StabShift same = MeasurePair(still, still);
        EXPECT_EQ(same.peakX, 0);
        EXPECT_EQ(same.peakY, 0);
        EXPECT_NEAR(same.shiftX, 0.0, 1e-3);
        EXPECT_NEAR(same.shiftY, 0.0, 1e-3);

        // 15 px right is exactly 4 cells.
        const StabShift right = MeasurePair(still, Cut(1920, 1080, 15, 0));
        EXPECT_EQ(right.peakX, 4);
        EXPECT_EQ(right.peakY, 0);
        EXPECT_NEAR(right.shiftX, 15.0, 0.3);
        EXPECT_NEAR(right.shiftY, 0.0, 0.3);

        // 15 px up is -7.11 cells: peak row 249, the rest from the sub-cell refinement.
        const StabShift up = MeasurePair(still, Cut(1920, 1080, 0, -15));
        EXPECT_EQ(up.peakX, 0);
        EXPECT_EQ(up.peakY, 249);
        EXPECT_NEAR(up.shiftY, -15.0, 0.3);
        EXPECT_NEAR(up.shiftX, 0.0, 0.3);
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
    s = peakAt(10, 10, 100, 100, 100, 100);
    EXPECT_DOUBLE_EQ(s.shiftX, 10 * 3.75);
    s = peakAt(10, 10, 100, -1000, 0, 0);
    EXPECT_DOUBLE_EQ(s.shiftX, 9.5 * 3.75);
}

}  // namespace
