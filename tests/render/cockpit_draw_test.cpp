// The cockpit drawn into a readable Direct2D target and read back pixel by pixel: bar colours,
// level meter, photo and record buttons, and the recording timer.
// Geometry is checked where it does not depend on Wine's fonts and glyph boxes.
#include <gtest/gtest.h>
#include <windows.h>

#include <cmath>

#include "app/texts.h"
#include "base/ui_state.h"
#include "capture/capture_state.h"
#include "render/cockpit_kit.h"
#include "settings/settings_store.h"
#include "tests/support/d2d_canvas.h"

namespace {

// One cockpit frame over a grey picture at the clock time `ms`, read back.
Picture Draw(D2DCanvas& canvas, bool dark, uint64_t ms)
{
    ID2D1DeviceContext* context = canvas.Context();
    const D2D1_SIZE_F size = context->GetSize();
    context->BeginDraw();
    context->Clear(D2D1::ColorF(0.5f, 0.5f, 0.5f, 1.0f));
    CockpitDrawAtTime(context, size.width, size.height, dark, ms);
    EXPECT_HRESULT_SUCCEEDED(context->EndDraw());
    return canvas.Read();
}

constexpr uint32_t PANEL_LIGHT = Argb(255, 236, 236, 236);
constexpr uint32_t PANEL_DARK = Argb(255, 34, 34, 34);
constexpr uint32_t GOLD = Argb(255, 196, 147, 63);
constexpr uint32_t RED = Argb(255, 255, 69, 58);
constexpr uint32_t PICTURE = Argb(255, 128, 128, 128);
constexpr uint32_t INK_LIGHT = Argb(255, 26, 26, 26);
constexpr uint32_t INK_DARK = Argb(255, 245, 245, 242);

// An opaque colour with alpha a over another, per channel.
uint32_t Over(uint32_t top, float alpha, uint32_t under)
{
    uint32_t mixed = 0xFF000000u;
    for (int shift = 0; shift < 24; shift += 8) {
        const float t = static_cast<float>((top >> shift) & 0xFF), u = static_cast<float>((under >> shift) & 0xFF);
        mixed |= static_cast<uint32_t>(std::lround(t * alpha + u * (1.0f - alpha))) << shift;
    }
    return mixed;
}

::testing::AssertionResult Looks(const Picture& picture, int x, int y, uint32_t expected, uint32_t tolerance = 3)
{
    const uint32_t seen = picture.At(x, y);
    if (NearColor(seen, expected, tolerance)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << x << ", " << y << ") is " << std::hex << seen << " instead of "
                                         << expected;
}

class CockpitDrawTest : public testing::Test {
protected:
    void SetUp() override
    {
        TextsSetLanguageForTest(0);
        UiStateReset();
        SettingsResetDefaults();
        CockpitResetAnimation();
        ASSERT_TRUE(canvas.Ready());
    }
    void TearDown() override { CaptureResetMicLevel(); }
    void Level(float level)
    {
        CaptureResetMicLevel();
        CaptureMixMicLevel(2.0f * level);  // the meter's smoothing halves a first block
    }
    D2DCanvas canvas{1280, 800};
};

TEST_F(CockpitDrawTest, BarColoursAndTheLevelMeterInBothAppearances)
{
    constexpr int yB = 758;
    Level(0.69f);
    Picture p = Draw(canvas, false, 1000);
    EXPECT_TRUE(Looks(p, 640, 5, PANEL_LIGHT));
    EXPECT_TRUE(Looks(p, 400, 790, PANEL_LIGHT));
    EXPECT_TRUE(Looks(p, 640, 400, PICTURE));
    for (int i = 0; i < 8; i++) EXPECT_TRUE(Looks(p, 56 + 8 * i, yB, i < 6 ? GOLD : Over(INK_LIGHT, 0.18f, PANEL_LIGHT)));

    Level(0.95f);
    p = Draw(canvas, true, 1000);
    EXPECT_TRUE(Looks(p, 640, 5, PANEL_DARK));
    EXPECT_TRUE(Looks(p, 400, 790, PANEL_DARK));
    for (int i = 0; i < 8; i++) EXPECT_TRUE(Looks(p, 56 + 8 * i, yB, i < 6 ? GOLD : RED));

    UiState.micMuted = true;
    p = Draw(canvas, true, 1000);
    for (int i = 0; i < 8; i++) EXPECT_TRUE(Looks(p, 56 + 8 * i, yB, Over(INK_DARK, 0.18f, PANEL_DARK)));

    // Hidden: only the picture, even where the bars were.
    UiState.cockpitVisible = false;
    p = Draw(canvas, false, 1000);
    EXPECT_TRUE(Looks(p, 640, 5, PICTURE));
    EXPECT_TRUE(Looks(p, 56, yB, PICTURE));
}

TEST_F(CockpitDrawTest, PhotoButtonDimmedWhileNotLiveAndRecordSymbolMorphsIn200Ms)
{
    constexpr int yB = 758;
    Picture p = Draw(canvas, false, 1000);
    EXPECT_TRUE(Looks(p, 621, yB, Over(INK_LIGHT, 0.35f, PANEL_LIGHT), 6));  // on the photo ring
    EXPECT_TRUE(Looks(p, 677 + 20, yB, RED));                                // disc of radius 22
    UiState.live = true;
    p = Draw(canvas, false, 1000);
    EXPECT_TRUE(Looks(p, 621, yB, INK_LIGHT, 6));

    // Half-way after 0.1 s (side 35), a square of side 26 after 0.2 s.
    UiState.recording = true;
    p = Draw(canvas, false, 1100);
    EXPECT_TRUE(Looks(p, 677 + 16, yB, RED));
    EXPECT_FALSE(NearColor(p.At(677 + 19, yB), RED, 3));
    p = Draw(canvas, false, 1200);
    EXPECT_TRUE(Looks(p, 677 + 12, yB, RED));
    EXPECT_FALSE(NearColor(p.At(677 + 14, yB), RED, 3));
}

TEST_F(CockpitDrawTest, TextFormatsAreMadeOncePerScale)
{
    UiState.recording = true;
    UiState.recordSeconds = 75;
    Draw(canvas, false, 1000);
    IDWriteTextFormat* timer = CockpitFormat(FONT_TIMER);
    Draw(canvas, false, 1033);
    EXPECT_EQ(CockpitFormat(FONT_TIMER), timer);
    UiState.dpiScale = 2.0f;
    Draw(canvas, false, 1066);
    ASSERT_NE(CockpitFormat(FONT_TIMER), nullptr);
    EXPECT_FLOAT_EQ(CockpitFormat(FONT_TIMER)->GetFontSize(), 26.0f);
}

}  // namespace
