#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>

#include "render/watermark.h"
#include "tests/diag/log_probe.h"
#include "tests/support/d2d_canvas.h"

namespace {

struct Box {
    float left, top, right, bottom;
};

int32_t OpaquePixelsIn(const Picture& p, const Box& box)
{
    int32_t count = 0;
    for (int32_t y = std::max(0, static_cast<int32_t>(box.top)); y < std::min<int32_t>(p.height, box.bottom); ++y)
        for (int32_t x = std::max(0, static_cast<int32_t>(box.left)); x < std::min<int32_t>(p.width, box.right); ++x)
            count += (p.At(x, y) >> 24) > 128;
    return count;
}

// The practice text starts a margin in, the brand group (gold dot, white rings, text) ends a
// margin before the right edge, both lines end a margin above the bottom; everything else is
// fully transparent (outlines and antialiasing reach a few pixels out).
void CheckOverlay(int32_t W, int32_t H)
{
    SCOPED_TRACE(testing::Message() << W << "x" << H);
    uint8_t* overlay = WatermarkBuildOverlay(W, H, L"Praxis Dr. Muster");
    ASSERT_NE(overlay, nullptr);
    const Picture p = Picture::FromBgra(overlay, W, H, W * 4);
    std::free(overlay);
    const WatermarkSizes sizes = WatermarkSizesFor(static_cast<float>(H));
    const float margin = sizes.margin, reach = sizes.brandOutline + 4.0f;
    int32_t left = W, right = -1, top = H, bottom = -1, gold = 0;
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x) {
            if (p.At(x, y) == 0) continue;
            left = std::min(left, x), right = std::max(right, x), top = std::min(top, y), bottom = std::max(bottom, y);
            gold += x > W / 2 && NearColor(p.At(x, y), Argb(255, 196, 147, 63), 4);
        }
    EXPECT_NEAR(left, margin, reach);
    EXPECT_NEAR(right + 1, W - margin, reach);
    EXPECT_LE(bottom + 1, H - margin + reach);
    EXPECT_GT(top, H - margin - 2 * sizes.markSize);  // one line high
    EXPECT_GT(gold, 4);
    EXPECT_GT(OpaquePixelsIn(p, Box{margin, top * 1.0f, W / 3.0f, H - margin}), 50);          // practice text
    EXPECT_GT(OpaquePixelsIn(p, Box{W * 2 / 3.0f, top * 1.0f, W - margin, H - margin}), 50);  // brand group
}

TEST(Watermark, OverlayPlacesTextAndMarkAndIsTransparentElsewhere)
{
    LogSandbox log;
    CheckOverlay(1920, 1080);
    CheckOverlay(2560, 1440);
}

TEST(Watermark, InvalidSizesAndEmptyText)
{
    LogSandbox log;
    for (auto [w, h] : {std::pair{0, 1080}, {1920, 0}, {16385, 10}, {10, 16385}}) {
        EXPECT_EQ(WatermarkBuildOverlay(w, h, nullptr), nullptr);
        EXPECT_EQ(LastLog(), L"FEHLER Wasserzeichen: ungueltige Groesse " + std::to_wstring(w) + L"x" +
                                 std::to_wstring(h));
    }
    // Without practice text only the brand group at the right is drawn.
    uint8_t* overlay = WatermarkBuildOverlay(640, 360, L"");
    ASSERT_NE(overlay, nullptr);
    Picture p = Picture::FromBgra(overlay, 640, 360, 640 * 4);
    std::free(overlay);
    EXPECT_EQ(OpaquePixelsIn(p, Box{0, 0, 320, 360}), 0);
    EXPECT_GT(OpaquePixelsIn(p, Box{320, 300, 640, 360}), 20);
}

}  // namespace
