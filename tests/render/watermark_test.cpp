#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>

#include "render/graphics_services.h"
#include "render/watermark.h"
#include "tests/diag/log_probe.h"
#include "tests/support/d2d_canvas.h"

namespace {

struct Box {
    float left, top, right, bottom;
    bool Contains(int32_t x, int32_t y) const
    {
        return x + 1 > left && x < right && y + 1 > top && y < bottom;
    }
};

Box Grow(Box box, float by)
{
    return Box{box.left - by, box.top - by, box.right + by, box.bottom + by};
}

int32_t OpaquePixelsIn(const Picture& p, const Box& box)
{
    int32_t count = 0;
    for (int32_t y = std::max(0, static_cast<int32_t>(box.top)); y < std::min<int32_t>(p.height, box.bottom); ++y)
        for (int32_t x = std::max(0, static_cast<int32_t>(box.left)); x < std::min<int32_t>(p.width, box.right); ++x)
            count += (p.At(x, y) >> 24) > 128;
    return count;
}

// Builds the overlay and checks it against the placement computed from the same text metrics.
void CheckOverlay(int32_t W, int32_t H)
{
    SCOPED_TRACE(testing::Message() << W << "x" << H);
    const wchar_t* practiceText = L"Praxis Dr. Muster";
    uint8_t* overlay = WatermarkBuildOverlay(W, H, practiceText);
    ASSERT_NE(overlay, nullptr);
    Picture p = Picture::FromBgra(overlay, W, H, W * 4);
    std::free(overlay);

    WatermarkSizes sizes = WatermarkSizesFor(static_cast<float>(H));
    TextLineMetrics practice{}, brand{};
    IDWriteTextLayout* layout = MakeTextLayout(GetDWriteFactory(), practiceText, L"Segoe UI", nullptr,
                                               DWRITE_FONT_WEIGHT_MEDIUM, sizes.practiceFontSize, &practice);
    ASSERT_NE(layout, nullptr);
    layout->Release();
    layout = MakeTextLayout(GetDWriteFactory(), BRAND_WEB_ADDRESS, BrandFontFamily(), BrandFontCollection(),
                            DWRITE_FONT_WEIGHT_BLACK, sizes.brandSize, &brand);
    ASSERT_NE(layout, nullptr);
    layout->Release();
    ASSERT_GT(brand.width, 0.0f);
    ASSERT_GT(brand.ascent, 0.0f);
    WatermarkPlacement place = WatermarkPlace(sizes, static_cast<float>(W), static_cast<float>(H), practice, brand);

    // The mark: gold dot in the large ring's centre, white rings at their outer points.
    float u = sizes.markSize / 160.0f;
    EXPECT_TRUE(NearColor(p.At(static_cast<int32_t>(place.markX + 65 * u), static_cast<int32_t>(place.markY + 80 * u)),
                          Argb(255, 196, 147, 63), 4));
    for (float ringX : {15.0f, 157.0f}) {
        uint32_t ring = p.At(static_cast<int32_t>(place.markX + ringX * u), static_cast<int32_t>(place.markY + 80 * u));
        EXPECT_GT(ring >> 24, 100u) << ringX;
        EXPECT_GT((ring >> 16) & 0xFF, (ring >> 24) * 3 / 4) << ringX;  // white, not the shadow
    }
    Box practiceBox{place.practiceX, place.practiceY, place.practiceX + practice.width,
                    place.practiceY + practice.ascent + practice.descent};
    Box brandBox{place.brandX, place.brandY, place.brandX + brand.width, place.brandY + brand.ascent + brand.descent};
    Box markBox{place.markX + 10 * u, place.markY + 25 * u, place.markX + 162 * u, place.markY + 135 * u};
    EXPECT_GT(OpaquePixelsIn(p, practiceBox), 50);
    EXPECT_GT(OpaquePixelsIn(p, brandBox), 50);
    // The brand text ends at the right margin, the lines a margin above the bottom.
    EXPECT_NEAR(brandBox.right, W - sizes.margin, 0.01f);
    EXPECT_NEAR(practiceBox.bottom, H - sizes.margin, 0.01f);

    // Everything else is fully transparent (outlines and antialiasing reach a few pixels out).
    float reach = sizes.brandOutline + 2.0f;
    Box keep[3] = {Grow(practiceBox, reach), Grow(brandBox, reach), Grow(markBox, reach)};
    int32_t stray = 0;
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x)
            if (p.At(x, y) != 0 && !keep[0].Contains(x, y) && !keep[1].Contains(x, y) && !keep[2].Contains(x, y))
                ++stray;
    EXPECT_EQ(stray, 0);
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

TEST(Watermark, BrandMarkNeedsAPositiveSize)
{
    D2DCanvas canvas(64, 64);
    ASSERT_TRUE(canvas.Ready());
    ID2D1DeviceContext* context = canvas.Context();
    context->BeginDraw();
    context->Clear(D2D1::ColorF(0, 0, 0, 0));
    DrawBrandMark(context, 0, 0, 0.0f, D2D1::ColorF(1, 1, 1, 1));
    DrawBrandMark(context, 0, 0, -10.0f, D2D1::ColorF(1, 1, 1, 1));
    DrawBrandMark(nullptr, 0, 0, 64.0f, D2D1::ColorF(1, 1, 1, 1));
    ASSERT_EQ(context->EndDraw(), S_OK);
    Picture empty = canvas.Read();
    EXPECT_EQ(std::count(empty.pixels.begin(), empty.pixels.end(), 0u), 64 * 64);

    context->BeginDraw();
    DrawBrandMark(context, 0, 0, 64.0f, D2D1::ColorF(1, 1, 1, 1));
    ASSERT_EQ(context->EndDraw(), S_OK);
    Picture mark = canvas.Read();
    EXPECT_TRUE(NearColor(mark.At(26, 32), Argb(255, 196, 147, 63), 4));  // dot at (65u, 80u), u = 0.4
    EXPECT_EQ(mark.At(63, 0), 0u);
}

}  // namespace
