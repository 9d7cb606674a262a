#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "render/compositor.h"
#include "tests/diag/log_probe.h"
#include "tests/support/d2d_canvas.h"

namespace {

constexpr uint32_t BLACK = Argb(255, 0, 0, 0);
constexpr uint32_t MACRO_RED = Argb(255, 200, 30, 40);

struct FrameOwner {
    Frame* frame;
    explicit FrameOwner(Frame* made) : frame(made) {}
    ~FrameOwner() { FrameRelease(frame); }
};

Frame* SolidFrame(int32_t width, int32_t height, uint32_t colour)
{
    return MakeTestFrame(width, height, [colour](int32_t, int32_t) { return colour; });
}

// Composes into a tightly packed buffer; an empty picture when Compose fails.
Picture Compose(OffscreenCompositor* c, const Frame* wide, const Frame* macro, float f,
                const uint8_t* overlay = nullptr, int32_t ow = 0, int32_t oh = 0)
{
    std::vector<uint8_t> out(static_cast<size_t>(c->width) * c->height * 4);
    if (!CompositorCompose(c, wide, macro, f, overlay, ow, oh, out.data(), c->width * 4)) return Picture{};
    return Picture::FromBgra(out.data(), c->width, c->height, c->width * 4);
}

class Compositor : public ::testing::Test {
protected:
    void TearDown() override { EXPECT_EQ(FrameLiveCount(), 0); }
    LogSandbox log;
};

TEST_F(Compositor, InvalidSizesEmptyInputsAndBadPitches)
{
    EXPECT_EQ(CompositorCreate(0, 1080), nullptr);
    EXPECT_EQ(LastLog(), L"FEHLER Offscreen-Compositor: ung\u00fcltige Gr\u00f6\u00dfe 0x1080");
    CompositorDestroy(nullptr);

    OffscreenCompositor* c = CompositorCreate(64, 36);
    ASSERT_NE(c, nullptr);
    // Nothing to draw: opaque black, every pixel, and true.
    Picture picture = Compose(c, nullptr, nullptr, 0.3f);
    ASSERT_EQ(picture.pixels.size(), 64u * 36u);
    EXPECT_EQ(std::count(picture.pixels.begin(), picture.pixels.end(), BLACK), 64 * 36);
    uint8_t out[64 * 36 * 4];
    EXPECT_FALSE(CompositorCompose(c, nullptr, nullptr, 0.3f, nullptr, 0, 0, nullptr, 256));
    EXPECT_FALSE(CompositorCompose(c, nullptr, nullptr, 0.3f, nullptr, 0, 0, out, 0));
    // A Frame whose stride is shorter than a row is left out, not an error.
    FrameOwner wide(SolidFrame(64, 36, MACRO_RED));
    wide.frame->stride = 8;
    picture = Compose(c, wide.frame, nullptr, 0.3f);
    ASSERT_FALSE(picture.pixels.empty());
    EXPECT_EQ(picture.At(32, 18), BLACK);
    CompositorDestroy(c);

    // Bitmaps from pixels: short, negative and overflowing pitches and no pixels are refused.
    D2DCanvas canvas(4, 4);
    ASSERT_TRUE(canvas.Ready());
    uint32_t pixels[16] = {};
    HRESULT code = E_FAIL;
    EXPECT_EQ(CreateBitmapFromPixels(canvas.Context(), pixels, 4, 4, 15, &code), nullptr);
    EXPECT_EQ(code, S_OK);
    EXPECT_EQ(CreateBitmapFromPixels(canvas.Context(), pixels, 4, 4, -16, &code), nullptr);
    EXPECT_EQ(CreateBitmapFromPixels(canvas.Context(), pixels, 0x40000000u, 1, 0, &code), nullptr);
    EXPECT_EQ(CreateBitmapFromPixels(canvas.Context(), nullptr, 4, 4, 16, &code), nullptr);
    ID2D1Bitmap1* bitmap = CreateBitmapFromPixels(canvas.Context(), pixels, 4, 4, 16, &code);
    ASSERT_NE(bitmap, nullptr);
    bitmap->Release();
}

TEST_F(Compositor, WideIsTurnedBy180DegreesPixelExact)
{
    constexpr int32_t W = 320, H = 180;
    // Every pixel distinct: x in red and the low half of blue, y in green and the high half.
    auto mark = [](int32_t x, int32_t y) {
        return Argb(255, x & 0xFF, y & 0xFF, ((x >> 8) & 0x0F) | (((y >> 8) & 0x0F) << 4));
    };
    FrameOwner wide(MakeTestFrame(W, H, mark));
    OffscreenCompositor* c = CompositorCreate(W, H);
    ASSERT_NE(c, nullptr);
    Picture picture = Compose(c, wide.frame, nullptr, 0.3f);
    ASSERT_EQ(picture.pixels.size(), static_cast<size_t>(W) * H);
    int32_t wrong = 0;
    for (int32_t y = 0; y < H; ++y)
        for (int32_t x = 0; x < W; ++x) wrong += picture.At(x, y) != mark(W - 1 - x, H - 1 - y);
    EXPECT_EQ(wrong, 0);
    CompositorDestroy(c);
}

// The Macro box's edges (its sizes, and when there is none, are the geometry's): inside is Macro,
// one pixel outside is black.
TEST_F(Compositor, MacroPictureBoxEdges)
{
    FrameOwner macro(SolidFrame(160, 90, MACRO_RED));
    OffscreenCompositor* c = CompositorCreate(1920, 1080);
    ASSERT_NE(c, nullptr);
    const Picture p = Compose(c, nullptr, macro.frame, 0.3f);
    ASSERT_FALSE(p.pixels.empty());
    EXPECT_TRUE(p.At(672, 756) == MACRO_RED && p.At(1247, 1079) == MACRO_RED);
    EXPECT_TRUE(p.At(671, 1079) == BLACK && p.At(1248, 1079) == BLACK && p.At(672, 755) == BLACK);
    CompositorDestroy(c);
}

TEST_F(Compositor, OutputStrideAndOverlayCache)
{
    constexpr int32_t W = 8, H = 4;
    OffscreenCompositor* c = CompositorCreate(W, H);
    ASSERT_NE(c, nullptr);
    // A wider stride leaves each row's padding alone; a narrower one copies only that many bytes.
    std::vector<uint8_t> out(static_cast<size_t>(H) * 40 + 16, 0xAB);
    ASSERT_TRUE(CompositorCompose(c, nullptr, nullptr, 0.3f, nullptr, 0, 0, out.data(), 40));
    EXPECT_TRUE(out[0] == 0x00 && out[31] == 0xFF && out[32] == 0xAB && out[39] == 0xAB && out[40 + 31] == 0xFF);
    std::fill(out.begin(), out.end(), 0xAB);
    ASSERT_TRUE(CompositorCompose(c, nullptr, nullptr, 0.3f, nullptr, 0, 0, out.data(), 12));
    EXPECT_TRUE(out[11] == 0xFF && out[3 * 12 + 11] == 0xFF && out[4 * 12] == 0xAB);

    // The overlay is drawn over the frame and made once per buffer (and size).
    std::vector<uint8_t> overlayA(W * H * 4, 0), overlayB(W * H * 4, 0);
    overlayA[0] = overlayA[1] = overlayA[2] = overlayA[3] = 0xFF;  // top-left pixel opaque white
    Picture picture = Compose(c, nullptr, nullptr, 0.3f, overlayA.data(), W, H);
    ASSERT_FALSE(picture.pixels.empty());
    EXPECT_EQ(picture.At(0, 0), Argb(255, 255, 255, 255));
    EXPECT_EQ(picture.At(1, 0), BLACK);  // transparent overlay keeps the black
    ID2D1Bitmap1* cached = c->overlayBitmap;
    ASSERT_NE(cached, nullptr);
    cached->AddRef();  // keeps its address taken, so a re-made bitmap must differ
    Compose(c, nullptr, nullptr, 0.3f, overlayA.data(), W, H);
    Compose(c, nullptr, nullptr, 0.3f);  // no overlay this frame: the cache stays
    EXPECT_EQ(c->overlayBitmap, cached);
    Compose(c, nullptr, nullptr, 0.3f, overlayB.data(), W, H);
    EXPECT_NE(c->overlayBitmap, cached);
    cached->Release();
    CompositorDestroy(c);
}

}  // namespace
