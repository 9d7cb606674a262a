#pragma once
// The cockpit's drawing kit, shared by its bars, its overlays and its input: the sixteen text
// formats (made once per display scale), text layouts, the small drawing helpers and the
// layout with the top bar's texts measured.
#include <d2d1_1.h>
#include <dwrite.h>

#include <cstdint>

#include "render/cockpit_layout.h"

// The text formats by use; families, weights and sizes in cockpit_kit.cpp.
enum CockpitFont : int32_t {
    FONT_BRAND,          // brand name
    FONT_ADDRESS,        // brand web address
    FONT_SMALL,          // Macro size label, correction line
    FONT_SMALL_BOLD,     // stabilisation panel title and state
    FONT_VALUE,          // resolution, free space, frame rates, panel values
    FONT_STATUS,         // status text
    FONT_NOTICE,         // storage notice
    FONT_TIMER,          // recording time
    FONT_FOOTER,         // panel footer
    FONT_ROW,            // panel row labels
    FONT_PRACTICE,       // practice text preview
    FONT_RESTART_GLYPH,
    FONT_STAB_GLYPH,
    FONT_GEAR_GLYPH,
    FONT_PHOTO_GLYPH,
    FONT_MIC_GLYPH,
    COCKPIT_FONT_COUNT
};

// What every drawing helper gets: one brush that each element re-colours before use.
struct CockpitDrawContext {
    ID2D1DeviceContext* dc;
    ID2D1SolidColorBrush* brush;
    float width, height;  // client size in pixels
    float scale;          // s
    bool dark;
};

// The cockpit scale: the UI state's dpiScale, 1 when it is not positive.
float CockpitScale();

// Makes the sixteen formats for `scale`, or reuses them when they were made for it. False when
// any is missing (logged once per process); the cockpit is then not drawn.
bool CockpitTextFormats(float scale);
// A format of the current set; null while the set is not valid.
IDWriteTextFormat* CockpitFormat(CockpitFont font);

// A layout of `text` with `spacing` pixels after every character (0: none) and its measured
// width (without trailing white space) and height; null (sizes 0) for a null or empty text or
// format. The caller releases it.
IDWriteTextLayout* CockpitTextLayout(const wchar_t* text, IDWriteTextFormat* format, float spacing, float* width,
                                     float* height);

void DrawTextCentered(const CockpitDrawContext& c, const wchar_t* text, CockpitFont font, float x, float y,
                      const D2D1_COLOR_F& color);
void DrawTextAt(const CockpitDrawContext& c, const wchar_t* text, CockpitFont font, float x, float y,
                const D2D1_COLOR_F& color, float spacing);
void DrawTextMidLeft(const CockpitDrawContext& c, const wchar_t* text, CockpitFont font, float x, float y,
                     const D2D1_COLOR_F& color);
void FillRoundRect(const CockpitDrawContext& c, const D2D1_RECT_F& rect, float radius, const D2D1_COLOR_F& color);
// Three quarter-circle arcs beside the stabilisation glyph, bulging away from (x, y).
void DrawShakeArcs(const CockpitDrawContext& c, float x, float y, bool opensLeft, const D2D1_COLOR_F& color);

// The layout of the current UI state with the top bar's texts measured in their formats.
CockpitLayout CockpitComputeLayout(float width, float height);

inline D2D1_RECT_F ToD2D(const CockpitRect& r)
{
    return D2D1::RectF(r.left, r.top, r.right, r.bottom);
}
inline D2D1_COLOR_F WithAlpha(D2D1_COLOR_F color, float alpha)
{
    color.a = alpha;
    return color;
}

// One cockpit frame at the clock time `nowMs` (milliseconds, as GetTickCount64; CockpitDraw
// passes the real clock): the animations advance by the time since the previous frame.
void CockpitDrawAtTime(ID2D1DeviceContext* context, float width, float height, bool dark, uint64_t nowMs);
// Forgets the previous frame's time and returns the record symbol to its resting disc.
void CockpitResetAnimation();

// The overlays over the picture, clipped to the layout's video area (also while the bars are
// hidden), and the photo flash over the whole window.
void CockpitDrawOverlays(const CockpitDrawContext& c, const CockpitLayout& layout);
void CockpitDrawPhotoFlash(const CockpitDrawContext& c);
