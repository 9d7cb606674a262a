// The cockpit's pure rules: its geometry at two scales, the hit test on it, and the texts it
// shows.
#include <gtest/gtest.h>

#include "app/texts.h"
#include "render/cockpit_layout.h"
#include "render/cockpit_values.h"

namespace {

UiStateRecord Ui(float scale, bool visible = true, bool live = true)
{
    UiStateRecord ui = {};
    ui.dpiScale = scale;
    ui.cockpitVisible = visible;
    ui.live = live;
    return ui;
}

void ExpectRect(const CockpitRect& r, float left, float top, float right, float bottom, float s)
{
    EXPECT_FLOAT_EQ(r.left, left * s);
    EXPECT_FLOAT_EQ(r.top, top * s);
    EXPECT_FLOAT_EQ(r.right, right * s);
    EXPECT_FLOAT_EQ(r.bottom, bottom * s);
}

}  // namespace

// 1280 x 800 with the bars shown, and the same window at twice the scale (every distance doubles).
TEST(CockpitLayout, BarsButtonsAndSliderAtScaleOneAndTwo)
{
    for (float s : {1.0f, 2.0f}) {
        SCOPED_TRACE(s);
        const float W = 1280 * s, H = 800 * s;
        const CockpitLayout l = CockpitLayoutFor(W, H, Ui(s), {});
        EXPECT_FLOAT_EQ(l.scale, s);
        EXPECT_FLOAT_EQ(l.topBarHeight, 52 * s);
        EXPECT_FLOAT_EQ(H - l.bottomBarHeight, 716 * s);
        ExpectRect(l.videoRect, 0, 52, 1280, 716, s);
        EXPECT_FLOAT_EQ(l.bottomCenterY, 758 * s);
        EXPECT_FLOAT_EQ(l.photoCenterX, 598 * s);
        EXPECT_FLOAT_EQ(l.recordCenterX, 677 * s);
        EXPECT_FLOAT_EQ(l.stabCenterX, 1054 * s);
        ExpectRect(l.sliderTrack, 1096, 747, 1256, 751, s);
        ExpectRect(l.sliderHitRect, 1088, 737, 1264, 761, s);
        ExpectRect(l.gearRect, 1239, 12, 1267, 40, s);
    }
    // A non-positive scale counts as 1; a window lower than the bars keeps an empty picture.
    const CockpitLayout low = CockpitLayoutFor(1280, 100, Ui(0.0f), {});
    EXPECT_FLOAT_EQ(low.scale, 1.0f);
    ExpectRect(low.videoRect, 0, 52, 1280, 52, 1);
}

// The free-space text ends 48 px before the right edge; the restart button (22 px high, right of
// the status text) exists only while not live; unmeasured texts take fixed widths.
TEST(CockpitLayout, RightGroupAndRestartOnlyWhileNotLive)
{
    CockpitTextWidths widths;
    widths.status = 60;
    widths.freeSpace = 100;
    UiStateRecord ui = Ui(1.0f);
    wcscpy(ui.freeSpaceText, L"3 h 10 min");
    const CockpitLayout live = CockpitLayoutFor(1280, 800, ui, widths);
    EXPECT_FLOAT_EQ(live.freeSpaceX, 1280 - 48 - 100);
    EXPECT_FLOAT_EQ(live.reconnectRect.right, 0);
    ui.live = false;
    const CockpitLayout down = CockpitLayoutFor(1280, 800, ui, widths);
    EXPECT_FLOAT_EQ(down.statusTextX, live.statusTextX - 10.5f);  // the group stays centred
    EXPECT_FLOAT_EQ(down.reconnectRect.left, down.statusTextX + 60 + 3);
    EXPECT_FLOAT_EQ(down.reconnectRect.bottom - down.reconnectRect.top, 22);
    ui.freeSpaceText[0] = L'\0';
    EXPECT_FLOAT_EQ(CockpitLayoutFor(1280, 800, ui, {}).resolutionPillX, 1280 - 48 - 70);
}

// Edges of the click areas (the presses through the window are tested with the main window).
TEST(CockpitLayout, HitTestEdgesAndHiddenBars)
{
    const CockpitLayout l = CockpitLayoutFor(1280, 800, Ui(1.0f), {});
    auto at = [&](float x, float y) { return CockpitItemAt(l, true, x, y, 800); };
    EXPECT_EQ(at(1253, 26), ItemSettings);
    EXPECT_EQ(at(1088, 737), ItemMacroSize);
    EXPECT_EQ(at(1264, 749), ItemNone);  // right and bottom edges are outside
    EXPECT_EQ(at(1176, 761), ItemNone);
    EXPECT_EQ(at(598 + 28, 758), ItemPhoto);
    EXPECT_EQ(at(677, 758 - 33), ItemRecord);
    EXPECT_EQ(at(677, 758 - 34), ItemNone);
    EXPECT_EQ(at(640, 400), ItemVideo);

    // Hidden bars: the whole window is picture and the slider has no track.
    const CockpitLayout hidden = CockpitLayoutFor(1280, 800, Ui(1.0f, false), {});
    ExpectRect(hidden.videoRect, 0, 0, 1280, 800, 1);
    EXPECT_EQ(CockpitItemAt(hidden, true, 1176, 749, 800), ItemVideo);
    float value = 0.5f;
    EXPECT_FALSE(CockpitSliderValueAt(hidden, 1176, &value));
    EXPECT_FLOAT_EQ(value, 0.5f);
}

TEST(CockpitValues, LabelsAndTimerTexts)
{
    wchar_t text[64];
    TextsSetLanguageForTest(0);
    CockpitSliderLabel(text, 64, 0.305f);
    EXPECT_STREQ(text, L"MACRO SIZE 31 %");
    TextsSetLanguageForTest(-1);

    CockpitTimerText(text, 16, 75);
    EXPECT_STREQ(text, L"01:15");
    CockpitTimerText(text, 16, 6000);
    EXPECT_STREQ(text, L"100:00");
    EXPECT_EQ(CockpitShownRate(0xFFFFFFFFu), 0);
    EXPECT_EQ(CockpitShownRate(24), 24);
}
