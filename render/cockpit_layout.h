#pragma once
// The cockpit's geometry: where the bars, buttons and the slider sit for a client size, a
// display scale and the UI state. Drawing and hit-testing use these same numbers.
#include <cstdint>

#include "base/ui_state.h"
#include "render/cockpit_input.h"

// Left, top, right, bottom in physical pixels; contains a point when left <= x < right and
// top <= y < bottom.
struct CockpitRect {
    float left, top, right, bottom;
};

struct CockpitLayout {
    float scale;  // s: every distance below is a multiple of it
    bool visible;
    float topBarHeight;
    float bottomBarHeight;
    CockpitRect videoRect;  // the picture between the bars (the whole window while hidden)
    float topCenterY;
    float markX, markY, markSize;  // brand mark box
    float brandTextX;
    float statusDotX;
    float statusTextX;
    CockpitRect reconnectRect;  // camera restart, only while not live (else all 0)
    CockpitRect gearRect;
    float gearCenterX;
    float resolutionPillX, resolutionPillWidth;
    float lineHeight;
    float freeSpaceX;
    float bottomCenterY;
    CockpitRect micRect;
    float micIconX;
    float meterX;
    float photoCenterX;
    float recordCenterX;
    CockpitRect stabRect;
    float stabCenterX;
    CockpitRect sliderTrack;
    float sliderCenterY;
    float sliderLabelY;
    CockpitRect sliderHitRect;
};

// Widths of the top bar's texts as drawn, in pixels. A negative width was not measured (no
// text formats): the layout then uses a fixed width for that text.
struct CockpitTextWidths {
    float brand = -1.0f;       // "MI-RU"
    float status = -1.0f;      // the status label
    float resolution = -1.0f;  // the recording resolution label
    float freeSpace = -1.0f;   // the free-space text (ignored while that text is empty)
};

// Ring radii and click radii of the round buttons, in multiples of the scale.
constexpr float COCKPIT_PHOTO_RING = 24.0f;
constexpr float COCKPIT_PHOTO_HIT = 28.0f;
constexpr float COCKPIT_RECORD_RING = 29.0f;
constexpr float COCKPIT_RECORD_HIT = 33.0f;

// The layout of a width x height client area. Reads cockpitVisible, live, dpiScale and
// freeSpaceText of `ui`. While hidden only scale, visible and videoRect are set.
CockpitLayout CockpitLayoutFor(float width, float height, const UiStateRecord& ui, const CockpitTextWidths& widths);

// The element under (x, y) in a client area `height` pixels high laid out as `layout`.
CockpitItem CockpitItemAt(const CockpitLayout& layout, bool live, float x, float y, float height);

// The slider value for a pointer at x: the part of the track left of x, limited to 0 ... 1.
// False (value untouched) when the track has no width.
bool CockpitSliderValueAt(const CockpitLayout& layout, float x, float* value);
