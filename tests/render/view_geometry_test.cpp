#include <gtest/gtest.h>

#include <cmath>

#include "render/view_geometry.h"
#include "render/watermark_layout.h"

namespace {

void ExpectRect(const ViewRect& r, float left, float top, float right, float bottom, float tolerance = 0.01f)
{
    EXPECT_NEAR(r.left, left, tolerance);
    EXPECT_NEAR(r.top, top, tolerance);
    EXPECT_NEAR(r.right, right, tolerance);
    EXPECT_NEAR(r.bottom, bottom, tolerance);
}

void ExpectSource(const SourceRect& r, double x, double y, double w, double h)
{
    EXPECT_NEAR(r.x, x, 1e-9);
    EXPECT_NEAR(r.y, y, 1e-9);
    EXPECT_NEAR(r.width, w, 1e-9);
    EXPECT_NEAR(r.height, h, 1e-9);
}

TEST(ViewGeometry, CameraSourceRectCoversZoomsAndShifts)
{
    ExpectSource(CameraSourceRect(1280, 720, 1600, 900, 1.0, 0, 0), 0, 0, 1280, 720);
    ExpectSource(CameraSourceRect(640, 480, 1600, 900, 1.0, 0, 0), 0, 60, 640, 360);
    // A 16:9 image in a 4:3 box loses its sides.
    ExpectSource(CameraSourceRect(1920, 1080, 400, 300, 1.0, 0, 0), 240, 0, 1440, 1080);
    // Zoom below 1 counts as 1; zoom 2 takes the middle half.
    ExpectSource(CameraSourceRect(1280, 720, 1600, 900, 0.5, 0, 0), 0, 0, 1280, 720);
    ExpectSource(CameraSourceRect(1280, 720, 1600, 900, 2.0, 0, 0), 320, 180, 640, 360);
    // Shifts move the window by fractions of the image size, unclamped.
    ExpectSource(CameraSourceRect(1280, 720, 1600, 900, 2.0, 0.1, -0.05), 448, 144, 640, 360);
    ExpectSource(CameraSourceRect(1280, 720, 1600, 900, 1.0, 0.25, 0), 320, 0, 1280, 720);
    // Degenerate sizes give the whole image.
    ExpectSource(CameraSourceRect(1280, 720, 0, 900, 2.0, 0.1, 0.1), 0, 0, 1280, 720);
    ExpectSource(CameraSourceRect(0, 720, 100, 100, 1.0, 0, 0), 0, 0, 0, 720);
}

TEST(ViewGeometry, CompositionPipBoxIsWholePixelsOnTheBottomEdge)
{
    ViewRect box{};
    ASSERT_TRUE(CompositionPipBox(1920, 1080, 0.3f, &box));
    ExpectRect(box, 672, 756, 1248, 1080, 0);
    ASSERT_TRUE(CompositionPipBox(2560, 1440, 0.3f, &box));
    ExpectRect(box, 896, 1008, 1664, 1440, 0);
    ASSERT_TRUE(CompositionPipBox(1920, 1080, 0.5f, &box));
    ExpectRect(box, 480, 540, 1440, 1080, 0);
    ASSERT_TRUE(CompositionPipBox(1920, 1080, 0.9995f, &box));
    ExpectRect(box, 0, 0, 1920, 1080, 0);
    // Not 16:9: the full-width picture keeps 16:9 and may reach above the frame.
    ASSERT_TRUE(CompositionPipBox(1000, 400, 1.0f, &box));
    ExpectRect(box, 0, 400 - 563, 1000, 400, 0);
    EXPECT_FALSE(CompositionPipBox(1920, 1080, 0.004f, &box));
    EXPECT_FALSE(CompositionPipBox(1920, 1080, -1.0f, &box));
    EXPECT_FALSE(CompositionPipBox(1920, 1080, std::nanf(""), &box));
    ASSERT_TRUE(CompositionPipBox(1920, 1080, 0.005f, &box));
}

TEST(ViewGeometry, WindowVideoAreaAndPicture)
{
    ViewRect video = WindowVideoRect(1280, 800, true, 1.0f);
    ExpectRect(video, 0, 52, 1280, 716);
    ViewRect pip{};
    ASSERT_EQ(WindowPipRect(video, 0.3f, &pip), WindowPip::Partial);
    ExpectRect(pip, 448, 500, 832, 716);
    EXPECT_FLOAT_EQ(WindowPipCornerRadius(pip, 1.0f), 8.0f);

    video = WindowVideoRect(1280, 800, false, 1.0f);
    ExpectRect(video, 0, 0, 1280, 800);
    ASSERT_EQ(WindowPipRect(video, 0.3f, &pip), WindowPip::Partial);
    ExpectRect(pip, 448, 584, 832, 800);

    video = WindowVideoRect(2560, 1600, true, 2.0f);
    ExpectRect(video, 0, 104, 2560, 1432);
    ASSERT_EQ(WindowPipRect(video, 0.3f, &pip), WindowPip::Partial);
    ExpectRect(pip, 896, 1000, 1664, 1432);
    EXPECT_FLOAT_EQ(WindowPipCornerRadius(pip, 2.0f), 16.0f);

    // A low window limits the picture's height and narrows it to 16:9.
    video = WindowVideoRect(1280, 300, true, 1.0f);
    ExpectRect(video, 0, 52, 1280, 216);
    ASSERT_EQ(WindowPipRect(video, 0.9f, &pip), WindowPip::Partial);
    ExpectRect(pip, 494.22f, 52, 785.78f, 216);

    EXPECT_EQ(WindowPipRect(video, 0.004f, &pip), WindowPip::None);
    ASSERT_EQ(WindowPipRect(video, 0.9995f, &pip), WindowPip::Full);
    ExpectRect(pip, 0, 52, 1280, 216);
    EXPECT_EQ(WindowPipRect(video, 1.5f, &pip), WindowPip::Full);

    // Too low for the bars: an empty video area.
    video = WindowVideoRect(1280, 100, true, 1.0f);
    EXPECT_EQ(video.bottom - video.top, 0.0f);
    // A tiny picture's radius is limited by its own size.
    EXPECT_FLOAT_EQ(WindowPipCornerRadius(ViewRect{0, 0, 10, 5}, 1.0f), 5.0f);
}

TEST(ViewGeometry, StabilisationFrameFollowsTheTurnedPicture)
{
    ViewRect pip{448, 584, 832, 800};  // 384 x 216, centre (640, 692)
    ExpectRect(StabFrameRect(pip, 0, 0, 1.0), 448, 584, 832, 800);
    // Zoom 1.25 grows the frame about the centre; below 1 counts as 1.
    ExpectRect(StabFrameRect(pip, 0, 0, 1.25), 400, 557, 880, 827);
    ExpectRect(StabFrameRect(pip, 0, 0, 0.5), 448, 584, 832, 800);
    // Offsets move the centre by z * offset * picture size, in the offset's direction on both
    // axes (the picture is turned, and so is the image drawn in the frame).
    ViewRect frame = StabFrameRect(pip, 0.05, -0.1, 1.25);
    EXPECT_NEAR(0.5f * (frame.left + frame.right), 640 + 1.25 * 0.05 * 384, 0.01);
    EXPECT_NEAR(0.5f * (frame.top + frame.bottom), 692 - 1.25 * 0.1 * 216, 0.01);
    EXPECT_NEAR(frame.right - frame.left, 480, 0.01);
}

TEST(ViewGeometry, HsvToRgbaSectors)
{
    auto expect = [](RgbaColor c, float r, float g, float b) {
        EXPECT_NEAR(c.r, r, 1e-6);
        EXPECT_NEAR(c.g, g, 1e-6);
        EXPECT_NEAR(c.b, b, 1e-6);
        EXPECT_EQ(c.a, 1.0f);
    };
    expect(HsvToRgba(0.0, 1.0, 1.0), 1, 0, 0);
    expect(HsvToRgba(1.0 / 3.0, 1.0, 1.0), 0, 1, 0);
    expect(HsvToRgba(-1.0 / 3.0, 1.0, 0.5), 0, 0, 0.5f);  // wraps to 2/3
    expect(HsvToRgba(0.6, 0.3, 0.06), 0.042f, 0.0492f, 0.06f);
}

TEST(WatermarkLayout, SizesAndPlacementAt1080And1440)
{
    WatermarkSizes sizes = WatermarkSizesFor(1080);
    EXPECT_NEAR(sizes.brandSize, 28.08f, 1e-3);
    EXPECT_NEAR(sizes.margin, 37.8f, 1e-3);
    EXPECT_NEAR(sizes.practiceFontSize, 25.92f, 1e-3);
    EXPECT_NEAR(sizes.markSize, 32.292f, 1e-3);
    EXPECT_NEAR(sizes.markWidth, 36.3285f, 1e-3);
    EXPECT_NEAR(WatermarkSizesFor(1440).margin, 50.4f, 1e-3);

    TextLineMetrics practice{300, 20, 6};
    TextLineMetrics brand{150, 24, 6};
    WatermarkPlacement place = WatermarkPlace(sizes, 1920, 1080, practice, brand);
    EXPECT_NEAR(place.practiceX, 37.8f, 1e-3);
    // The practice line box ends one margin above the bottom edge.
    EXPECT_NEAR(place.practiceY + practice.ascent + practice.descent, 1080 - 37.8f, 1e-3);
    // The brand text ends at the right margin, after the mark and the gap.
    EXPECT_NEAR(place.brandX + brand.width, 1920 - 37.8f, 1e-3);
    EXPECT_NEAR(place.brandX - place.markX, 36.3285f + 0.45f * 28.08f, 1e-3);
    EXPECT_NEAR(place.brandY + brand.ascent + brand.descent, 1080 - 37.8f, 1e-3);
    // The mark's middle is the middle of the brand line box.
    EXPECT_NEAR(place.markY + 0.5f * sizes.markSize, place.brandY + 0.5f * (brand.ascent + brand.descent), 1e-3);
}

}  // namespace
