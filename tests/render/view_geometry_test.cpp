#include <gtest/gtest.h>

#include <cmath>

#include "render/view_geometry.h"
#include "render/watermark_layout.h"

namespace {

void ExpectRect(const ViewRect& r, ViewRect want, float tolerance = 0.01f)
{
    EXPECT_NEAR(r.left, want.left, tolerance);
    EXPECT_NEAR(r.top, want.top, tolerance);
    EXPECT_NEAR(r.right, want.right, tolerance);
    EXPECT_NEAR(r.bottom, want.bottom, tolerance);
}

TEST(ViewGeometry, CameraSourceRectCoversZoomsAndShifts)
{
    struct Case { int32_t w, h; double dw, zoom, shiftX, shiftY; SourceRect want; };
    const Case cases[] = {
        {1280, 720, 1600, 1.0, 0, 0, {0, 0, 1280, 720}},
        {640, 480, 1600, 1.0, 0, 0, {0, 60, 640, 360}},            // cover: 4:3 cut to 16:9
        {1280, 720, 1600, 0.5, 0, 0, {0, 0, 1280, 720}},           // zoom below 1 counts as 1
        {1280, 720, 1600, 2.0, 0, 0, {320, 180, 640, 360}},        // the middle half
        {1280, 720, 1600, 2.0, 0.1, -0.05, {448, 144, 640, 360}},  // shifts, unclamped
        {1280, 720, 0, 2.0, 0.1, 0.1, {0, 0, 1280, 720}},          // degenerate: the whole image
    };
    for (const Case& c : cases) {
        const SourceRect r = CameraSourceRect(c.w, c.h, c.dw, 900, c.zoom, c.shiftX, c.shiftY);
        EXPECT_TRUE(std::fabs(r.x - c.want.x) < 1e-9 && std::fabs(r.y - c.want.y) < 1e-9 &&
                    std::fabs(r.width - c.want.width) < 1e-9 && std::fabs(r.height - c.want.height) < 1e-9)
            << c.w << "x" << c.h << " zoom " << c.zoom << ": " << r.x << " " << r.y << " " << r.width << " " << r.height;
    }
}

TEST(ViewGeometry, CompositionPipBoxIsWholePixelsOnTheBottomEdge)
{
    struct Case { float w, h, f; bool drawn; ViewRect want; };
    const Case cases[] = {
        {1920, 1080, 0.3f, true, {672, 756, 1248, 1080}},   {2560, 1440, 0.3f, true, {896, 1008, 1664, 1440}},
        {1920, 1080, 0.5f, true, {480, 540, 1440, 1080}},   {1920, 1080, 0.9995f, true, {0, 0, 1920, 1080}},
        {1000, 400, 1.0f, true, {0, 400 - 563, 1000, 400}},  // keeps 16:9, may reach above the frame
        {1920, 1080, 0.005f, true, {955, 1074, 965, 1080}}, {1920, 1080, 0.004f, false, {}},
        {1920, 1080, -1.0f, false, {}},                     {1920, 1080, std::nanf(""), false, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " f " << c.f);
        ViewRect box{};
        ASSERT_EQ(CompositionPipBox(c.w, c.h, c.f, &box), c.drawn);
        if (c.drawn) ExpectRect(box, c.want, 0);
    }
}

// The video area between the bars (52 and 84 pixels at scale 1) and the picture on its bottom
// edge, 16:9, narrowed when the area is low.
TEST(ViewGeometry, WindowVideoAreaAndPicture)
{
    struct Case { float w, h; bool bars; float scale, f; ViewRect video; WindowPip kind; ViewRect pip; };
    const Case cases[] = {
        {1280, 800, true, 1, 0.3f, {0, 52, 1280, 716}, WindowPip::Partial, {448, 500, 832, 716}},
        {1280, 800, false, 1, 0.3f, {0, 0, 1280, 800}, WindowPip::Partial, {448, 584, 832, 800}},
        {2560, 1600, true, 2, 0.3f, {0, 104, 2560, 1432}, WindowPip::Partial, {896, 1000, 1664, 1432}},
        {1280, 300, true, 1, 0.9f, {0, 52, 1280, 216}, WindowPip::Partial, {494.22f, 52, 785.78f, 216}},
        {1280, 300, true, 1, 0.9995f, {0, 52, 1280, 216}, WindowPip::Full, {0, 52, 1280, 216}},
        {1280, 300, true, 1, 1.5f, {0, 52, 1280, 216}, WindowPip::Full, {0, 52, 1280, 216}},
        {1280, 300, true, 1, 0.004f, {0, 52, 1280, 216}, WindowPip::None, {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.w << "x" << c.h << " f " << c.f);
        const ViewRect video = WindowVideoRect(c.w, c.h, c.bars, c.scale);
        ExpectRect(video, c.video);
        ViewRect pip{};
        ASSERT_EQ(WindowPipRect(video, c.f, &pip), c.kind);
        if (c.kind != WindowPip::None) ExpectRect(pip, c.pip);
    }
    EXPECT_FLOAT_EQ(WindowPipCornerRadius({448, 500, 832, 716}, 1.0f), 8.0f);
    EXPECT_FLOAT_EQ(WindowPipCornerRadius({896, 1000, 1664, 1432}, 2.0f), 16.0f);
    EXPECT_FLOAT_EQ(WindowPipCornerRadius({0, 0, 10, 5}, 1.0f), 5.0f);  // limited by a tiny picture
    const ViewRect low = WindowVideoRect(1280, 100, true, 1.0f);         // too low for the bars
    EXPECT_EQ(low.bottom - low.top, 0.0f);
}

TEST(ViewGeometry, StabilisationFrameFollowsTheTurnedPicture)
{
    const ViewRect pip{448, 584, 832, 800};  // 384 x 216, centre (640, 692)
    ExpectRect(StabFrameRect(pip, 0, 0, 1.0), pip);
    ExpectRect(StabFrameRect(pip, 0, 0, 1.25), {400, 557, 880, 827});  // grows about the centre
    ExpectRect(StabFrameRect(pip, 0, 0, 0.5), pip);                    // below 1 counts as 1
    // The centre moves by z * offset * picture size in the offset's direction on both axes (the
    // picture is turned, and so is the image drawn in the frame).
    ExpectRect(StabFrameRect(pip, 0.05, -0.1, 1.25), {400 + 24, 557 - 27, 880 + 24, 827 - 27});
}

TEST(WatermarkLayout, SizesAndPlacementAt1080And1440)
{
    const WatermarkSizes sizes = WatermarkSizesFor(1080);
    EXPECT_NEAR(sizes.brandSize, 28.08f, 1e-3);
    EXPECT_NEAR(sizes.margin, 37.8f, 1e-3);
    EXPECT_NEAR(sizes.practiceFontSize, 25.92f, 1e-3);
    EXPECT_NEAR(sizes.markSize, 32.292f, 1e-3);
    EXPECT_NEAR(sizes.markWidth, 36.3285f, 1e-3);
    EXPECT_NEAR(WatermarkSizesFor(1440).margin, 50.4f, 1e-3);

    // The mark sits before the brand text with a gap; where the texts end is checked in the drawn
    // overlay.
    const WatermarkPlacement place = WatermarkPlace(sizes, 1920, 1080, {300, 20, 6}, {150, 24, 6});
    EXPECT_NEAR(place.brandX - place.markX, 36.3285f + 0.45f * 28.08f, 1e-3);
    EXPECT_NEAR(place.markY + 0.5f * sizes.markSize, place.brandY + 15, 1e-3);  // middle of the line box
}

}  // namespace
