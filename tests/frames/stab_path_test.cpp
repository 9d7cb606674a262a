#include <gtest/gtest.h>

#include <cmath>

#include "frames/stab_path.h"

namespace {

constexpr int32_t W = 1920;
constexpr int32_t H = 1080;

StabParams Params(double gain = 0.5, double cropZoom = 1.15, double lead = 0.0)
{
    return StabParams{gain, 0.85, cropZoom, lead};
}

TEST(StabPathTest, StillnessGateBetweenQuietAndMoving)
{
    EXPECT_EQ(StabStillness(0.008 * W, W), 1.0);
    EXPECT_NEAR(StabStillness(0.0145 * W, W), 0.5, 1e-12);  // half way: smoothstep 0.5
    EXPECT_EQ(StabStillness(0.021 * W, W), 0.0);
}

// Gain 0.5, crop 1.15: margin 0.0652, at most 0.12 x 0.0652 = 0.78 % of the frame per frame.
TEST(StabPathTest, MarginRateLimitAndAPanFadingTheCorrectionOut)
{
    const double m = StabMargin(1.15);
    EXPECT_NEAR(m, 0.0652, 1e-4);
    const double limit = 0.12 * m;
    StabPath p{};
    bool reachedLimit = false;
    for (int32_t k = 0; k < 200; k++) {
        const double beforeX = p.corrX, beforeY = p.corrY;
        // A steady drift inside the quiet band (full gain), then shaking back and forth with the
        // strongest prediction, whose targets jump further than the limit.
        const double shift = k < 100 ? 10.0 : (k % 2 ? 14.0 : -14.0);
        StabPathAdvance(p, shift, -shift, W, H, Params(0.5, 1.15, k < 100 ? 0.0 : 1.5));
        EXPECT_LE(std::fabs(p.corrX - beforeX), limit + 1e-15);
        EXPECT_LE(std::fabs(p.corrY - beforeY), limit + 1e-15);
        reachedLimit |= std::fabs(p.corrX - beforeX) > limit - 1e-12;
        EXPECT_TRUE(std::fabs(p.corrX) <= m && std::fabs(p.corrY) <= m) << k;
    }
    EXPECT_TRUE(reachedLimit);

    // A pan of 3 % of the width per frame closes the gate; the correction returns to 0, never
    // faster than the limit.
    ASSERT_GT(std::fabs(p.corrX), 0.002);
    for (int32_t k = 0; k < 40; k++) {
        const double before = p.corrX;
        EXPECT_EQ(StabPathAdvance(p, 0.03 * W, 0.0, W, H, Params()).stillness, 0.0);
        EXPECT_LE(std::fabs(p.corrX - before), limit + 1e-15);
    }
    EXPECT_EQ(p.corrX, 0.0);

    // Gain 2 allows four times the step.
    StabPath fast{};
    StabPathAdvance(fast, 14.0, 0.0, W, H, Params(2.0));
    EXPECT_TRUE(fast.corrX > limit * 1.5 && fast.corrX <= 4 * limit + 1e-15) << fast.corrX;
}

TEST(StabPathTest, NoCropNoCorrection)
{
    StabPath p{};
    p.corrX = 0.02;  // left over from a larger crop
    for (int32_t k = 0; k < 10; k++) {
        const StabStep step = StabPathAdvance(p, 5.0, 5.0, W, H, Params(0.5, 1.0));
        EXPECT_TRUE(p.corrX == 0.0 && p.corrY == 0.0 && step.correctionPixels == 0.0);
    }
    EXPECT_EQ(p.pathX, 50.0);  // the path is still followed
}

}  // namespace
