// The cockpit's pure rules: its geometry, the hit test on it, and the texts it shows.
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

}  // namespace

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
    EXPECT_FLOAT_EQ(hidden.videoRect.top, 0);
    EXPECT_FLOAT_EQ(hidden.videoRect.bottom, 800);
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
