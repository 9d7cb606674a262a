#include "render/cockpit_layout.h"

#include <algorithm>

namespace {

// Widths used when a text could not be measured, in multiples of the scale.
constexpr float FALLBACK_BRAND = 48.0f;
constexpr float FALLBACK_STATUS = 80.0f;
constexpr float FALLBACK_RESOLUTION = 50.0f;
constexpr float FALLBACK_FREE_SPACE = 90.0f;

float Measured(float width, float fallback, float s)
{
    return width >= 0.0f ? width : fallback * s;
}

bool Contains(const CockpitRect& r, float x, float y)
{
    return r.left <= x && x < r.right && r.top <= y && y < r.bottom;
}

bool WithinRadius(float x, float y, float cx, float cy, float radius)
{
    const float dx = x - cx;
    const float dy = y - cy;
    return dx * dx + dy * dy <= radius * radius;
}

}  // namespace

CockpitLayout CockpitLayoutFor(float W, float H, const UiStateRecord& ui, const CockpitTextWidths& widths)
{
    CockpitLayout l = {};
    const float s = ui.dpiScale > 0.0f ? ui.dpiScale : 1.0f;  // also catches NaN
    l.scale = s;
    l.visible = ui.cockpitVisible;
    if (!l.visible) {
        l.videoRect = {0.0f, 0.0f, W, std::max(H, 0.0f)};
        return l;
    }

    l.topBarHeight = 52 * s;
    l.bottomBarHeight = 84 * s;
    // A window lower than both bars keeps an empty, never inverted picture area.
    l.videoRect = {0.0f, 52 * s, W, std::max(52 * s, H - 84 * s)};
    l.topCenterY = 26 * s;
    l.markX = 18 * s;
    l.markY = 11 * s;
    l.markSize = 30 * s;
    l.brandTextX = 62.75f * s;
    l.gearRect = {W - 41 * s, 12 * s, W - 13 * s, 40 * s};
    l.gearCenterX = W - 27 * s;
    l.lineHeight = 14 * s;

    const float yB = H - 42 * s;
    l.bottomCenterY = yB;
    l.micRect = {18 * s, yB - 20 * s, 121 * s, yB + 20 * s};
    l.micIconX = 34 * s;
    l.meterX = 54 * s;
    l.photoCenterX = W / 2 - 42 * s;
    l.recordCenterX = W / 2 + 37 * s;
    l.stabRect = {W - 252 * s, yB - 16 * s, W - 200 * s, yB + 16 * s};
    l.stabCenterX = W - 226 * s;
    l.sliderTrack = {W - 184 * s, yB - 11 * s, W - 24 * s, yB - 7 * s};
    l.sliderCenterY = yB - 9 * s;
    l.sliderLabelY = yB + 4 * s;
    l.sliderHitRect = {W - 192 * s, yB - 21 * s, W - 16 * s, yB + 3 * s};

    // The top bar's texts fill in from the right (gear, free space, resolution); the status
    // group is centred between the brand and the resolution pill.
    const float brandEnd = l.brandTextX + Measured(widths.brand, FALLBACK_BRAND, s);
    float right = W - 48 * s;
    if (ui.freeSpaceText[0] != L'\0') {
        l.freeSpaceX = right - Measured(widths.freeSpace, FALLBACK_FREE_SPACE, s);
        right = l.freeSpaceX - 12 * s;
    }
    l.resolutionPillWidth = Measured(widths.resolution, FALLBACK_RESOLUTION, s) + 20 * s;
    l.resolutionPillX = right - l.resolutionPillWidth;

    const float statusWidth = Measured(widths.status, FALLBACK_STATUS, s);
    const float center = (brandEnd + l.resolutionPillX) / 2;
    const float group = 14 * s + statusWidth + (ui.live ? 0.0f : 21 * s);
    const float x0 = center - group / 2;
    l.statusDotX = x0 + 3.5f * s;
    l.statusTextX = x0 + 14 * s;
    if (!ui.live) {
        const float c = l.statusTextX + statusWidth + 14 * s;
        l.reconnectRect = {c - 11 * s, l.topCenterY - 11 * s, c + 11 * s, l.topCenterY + 11 * s};
    }
    return l;
}

CockpitItem CockpitItemAt(const CockpitLayout& l, bool live, float x, float y, float H)
{
    if (!l.visible) return Contains(l.videoRect, x, y) ? ItemVideo : ItemNone;
    const float s = l.scale;
    if (y < l.topBarHeight) {
        if (Contains(l.gearRect, x, y)) return ItemSettings;
        if (live) return ItemNone;
        const bool restartShown = l.reconnectRect.right - l.reconnectRect.left > 0.0f;
        return restartShown && Contains(l.reconnectRect, x, y) ? ItemRestart : ItemNone;
    }
    if (y >= H - l.bottomBarHeight) {
        const float yB = l.bottomCenterY;
        if (Contains(l.sliderHitRect, x, y)) return ItemMacroSize;
        if (live && WithinRadius(x, y, l.photoCenterX, yB, COCKPIT_PHOTO_HIT * s)) return ItemPhoto;
        if (WithinRadius(x, y, l.recordCenterX, yB, COCKPIT_RECORD_HIT * s)) return ItemRecord;
        if (Contains(l.micRect, x, y)) return ItemMute;
        if (Contains(l.stabRect, x, y)) return ItemStabilise;
        return ItemNone;
    }
    return Contains(l.videoRect, x, y) ? ItemVideo : ItemNone;
}

bool CockpitSliderValueAt(const CockpitLayout& l, float x, float* value)
{
    const float trackWidth = l.sliderTrack.right - l.sliderTrack.left;
    if (!(trackWidth > 0.0f)) return false;
    *value = std::clamp((x - l.sliderTrack.left) / trackWidth, 0.0f, 1.0f);
    return true;
}
