// What the cockpit draws over the picture itself: the watermark preview, the recording timer
// with the storage notice, a short notice, the two developer panels, and the photo flash.
#include <algorithm>
#include <cwchar>

#include "app/texts.h"
#include "base/ui_state.h"
#include "base/win_owners.h"
#include "frames/stabilizer.h"
#include "render/cockpit_kit.h"
#include "render/cockpit_values.h"
#include "render/watermark.h"
#include "settings/settings_store.h"

namespace {

constexpr D2D1_COLOR_F TEXT_ON_PICTURE = {1.0f, 1.0f, 1.0f, 0.92f};
constexpr D2D1_COLOR_F OUTLINE = {0.0f, 0.0f, 0.0f, 0.4f};
constexpr D2D1_COLOR_F WHITE = {1.0f, 1.0f, 1.0f, 1.0f};
constexpr D2D1_COLOR_F TIMER_PILL = {0.0f, 0.0f, 0.0f, 0.4f};
constexpr D2D1_COLOR_F NOTICE_TEXT = {0.0392157f, 0.0392157f, 0.0392157f, 1.0f};
constexpr D2D1_COLOR_F FPS_PANEL = {0.0f, 0.0f, 0.0f, 0.55f};
constexpr D2D1_COLOR_F STAB_PANEL = {0.0f, 0.0f, 0.0f, 0.62f};
constexpr D2D1_COLOR_F DIM_WHITE = {1.0f, 1.0f, 1.0f, 0.7f};
constexpr D2D1_COLOR_F FOOTER = {1.0f, 1.0f, 1.0f, 0.6f};
constexpr D2D1_COLOR_F GOLD = {0.7686275f, 0.5764706f, 0.2470588f, 1.0f};
constexpr D2D1_COLOR_F GREEN = {0.2039216f, 0.7803922f, 0.3490196f, 1.0f};
constexpr D2D1_COLOR_F RED = {1.0f, 0.2705882f, 0.227451f, 1.0f};

constexpr float OUTLINE_OFFSETS[4][2] = {{-1, -1}, {1, -1}, {-1, 1}, {1, 1}};
constexpr int32_t SLOW_RECORDING_FPS = 23;  // this rate and below shows red

// A text layout drawn with a dark rim: four times offset, then in the text colour.
void DrawOutlined(const CockpitDrawContext& c, IDWriteTextLayout* layout, float x, float y)
{
    const float d = 1.2f * c.scale;
    c.brush->SetColor(OUTLINE);
    for (const auto& offset : OUTLINE_OFFSETS)
        c.dc->DrawTextLayout(D2D1::Point2F(x + offset[0] * d, y + offset[1] * d), layout, c.brush);
    c.brush->SetColor(TEXT_ON_PICTURE);
    c.dc->DrawTextLayout(D2D1::Point2F(x, y), layout, c.brush);
}

void DrawPracticeText(const CockpitDrawContext& c, const D2D1_RECT_F& v)
{
    if (!Settings.watermarkOn || Settings.praxisText[0] == L'\0') return;
    float w = 0.0f;
    float h = 0.0f;
    ComOwner<IDWriteTextLayout> layout(CockpitTextLayout(Settings.praxisText, CockpitFormat(FONT_PRACTICE), 0.0f, &w, &h));
    if (layout) DrawOutlined(c, layout.Get(), v.left + 18 * c.scale, v.bottom - 12 * c.scale - h);
}

// The brand mark and web address at the bottom right, as recordings carry them.
void DrawBrandGroup(const CockpitDrawContext& c, const D2D1_RECT_F& v)
{
    const float s = c.scale;
    float w = 0.0f;
    float h = 0.0f;
    ComOwner<IDWriteTextLayout> layout(CockpitTextLayout(BRAND_WEB_ADDRESS, CockpitFormat(FONT_ADDRESS), 0.0f, &w, &h));
    const float x0 = v.right - 18 * s - (w + 29.25f * s + 8 * s);
    const float cy = v.bottom - 12 * s - std::max(26 * s, h) / 2;
    const float y0 = cy - 13 * s;
    const float d = 1.2f * s;
    c.brush->SetColor(OUTLINE);
    for (const auto& offset : OUTLINE_OFFSETS)
        DrawBrandMarkRings(c.dc, x0 + offset[0] * d, y0 + offset[1] * d, 26 * s, c.brush);
    DrawBrandMark(c.dc, x0, y0, 26 * s, WHITE);
    if (layout) DrawOutlined(c, layout.Get(), x0 + 37.25f * s, cy - h / 2);
}

// Returns the bottom of the timer row (the video top while no recording runs).
float DrawRecordingTimer(const CockpitDrawContext& c, const D2D1_RECT_F& v)
{
    if (!UiState.recording) return v.top;
    const float s = c.scale;
    wchar_t time[16];
    CockpitTimerText(time, 16, UiState.recordSeconds);
    float tw = 0.0f;
    float th = 0.0f;
    ComOwner<IDWriteTextLayout> timeLayout(CockpitTextLayout(time, CockpitFormat(FONT_TIMER), 0.0f, &tw, &th));
    const float pw = tw + 39 * s;
    const float ph = th + 12 * s;

    float nw = 0.0f;
    float nh = 0.0f;
    ComOwner<IDWriteTextLayout> noticeLayout(
        CockpitTextLayout(UiState.statusDetail, CockpitFormat(FONT_NOTICE), 0.0f, &nw, &nh));
    const bool notice = noticeLayout.Get() != nullptr;
    const float group = pw + (notice ? 10 * s + nw + 24 * s : 0.0f);

    const float x = (v.left + v.right) / 2 - group / 2;
    const float top = v.top + 10 * s;
    const float cy = top + ph / 2;
    FillRoundRect(c, D2D1::RectF(x, top, x + pw, top + ph), ph / 2, TIMER_PILL);
    c.brush->SetColor(RED);
    c.dc->FillEllipse(D2D1::Ellipse(D2D1::Point2F(x + 16 * s, cy), 4 * s, 4 * s), c.brush);
    DrawTextMidLeft(c, time, FONT_TIMER, x + 27 * s, cy, WHITE);
    if (!notice) return top + ph;
    const float x2 = x + pw + 10 * s;
    const float nph = nh + 12 * s;
    FillRoundRect(c, D2D1::RectF(x2, cy - nph / 2, x2 + nw + 24 * s, cy + nph / 2), nph / 2, GOLD);
    DrawTextMidLeft(c, UiState.statusDetail, FONT_NOTICE, x2 + 12 * s, cy, NOTICE_TEXT);
    return top + std::max(ph, nph);
}

// A short notice (a refused photo) in a gold pill, centred below the timer row.
void DrawNotice(const CockpitDrawContext& c, const D2D1_RECT_F& v, float above)
{
    float w = 0.0f;
    float h = 0.0f;
    ComOwner<IDWriteTextLayout> layout(CockpitTextLayout(UiState.notice, CockpitFormat(FONT_NOTICE), 0.0f, &w, &h));
    if (!layout) return;
    const float s = c.scale;
    const float x = (v.left + v.right) / 2 - (w + 24 * s) / 2;
    const float top = above + 10 * s;
    FillRoundRect(c, D2D1::RectF(x, top, x + w + 24 * s, top + h + 12 * s), (h + 12 * s) / 2, GOLD);
    DrawTextMidLeft(c, UiState.notice, FONT_NOTICE, x + 12 * s, top + (h + 12 * s) / 2, NOTICE_TEXT);
}

void DrawFrameRatePanel(const CockpitDrawContext& c, const D2D1_RECT_F& v)
{
    if (!Settings.devShowFPS) return;
    const float s = c.scale;
    constexpr int32_t MAX_LINES = 3;
    wchar_t lines[MAX_LINES][32];
    int32_t n = 2;
    swprintf(lines[0], 32, L"Wide  %d fps", CockpitShownRate(UiState.framesWide));
    swprintf(lines[1], 32, L"Macro %d fps", CockpitShownRate(UiState.framesMacro));
    const int32_t recorded = CockpitShownRate(UiState.framesRecorded);
    if (UiState.recording) swprintf(lines[n++], 32, L"REC   %d fps", recorded);

    ComOwner<IDWriteTextLayout> layouts[MAX_LINES];
    float widths[MAX_LINES] = {};
    float heights[MAX_LINES] = {};
    float widest = 0.0f;
    float sum = 0.0f;
    for (int32_t i = 0; i < n; i++) {
        layouts[i].Attach(CockpitTextLayout(lines[i], CockpitFormat(FONT_VALUE), 0.0f, &widths[i], &heights[i]));
        widest = std::max(widest, widths[i]);
        sum += heights[i];
    }
    const float right = v.right - 12 * s;
    const float top = v.top + 10 * s;
    const float height = sum + 2 * s * static_cast<float>(n - 1) + 10 * s;
    FillRoundRect(c, D2D1::RectF(right - (widest + 16 * s), top, right, top + height), 6 * s, FPS_PANEL);
    float y = top + 5 * s;
    for (int32_t i = 0; i < n; i++) {
        const bool slow = i == 2 && recorded <= SLOW_RECORDING_FPS;
        if (layouts[i]) {
            c.brush->SetColor(slow ? RED : GREEN);
            c.dc->DrawTextLayout(D2D1::Point2F(right - 8 * s - widths[i], y), layouts[i].Get(), c.brush);
        }
        y += heights[i] + 2 * s;
    }
}

// Right-aligned at xr: a text's left edge so that it ends at xr.
float RightAligned(const wchar_t* text, CockpitFont font, float xr)
{
    float w = 0.0f;
    float h = 0.0f;
    ComOwner<IDWriteTextLayout> layout(CockpitTextLayout(text, CockpitFormat(font), 0.0f, &w, &h));
    return xr - w;
}

void DrawStabilisationPanel(const CockpitDrawContext& c, const D2D1_RECT_F& v)
{
    if (!Settings.devStabSliders) return;
    const float s = c.scale;
    const float x = v.left + 14 * s;
    const float y = (v.top + v.bottom) / 2 - 82.5f * s;
    FillRoundRect(c, D2D1::RectF(x, y, x + 250 * s, y + 165 * s), 12 * s, STAB_PANEL);
    const float xl = x + 12 * s;
    const float xr = x + 238 * s;

    DrawTextAt(c, L"STABILISIERUNG", FONT_SMALL_BOLD, xl, y + 12 * s, WHITE, s);
    const bool on = Settings.stabilizeMacro;
    const wchar_t* state = on ? PickText(L"Ein", L"On") : PickText(L"Aus", L"Off");
    DrawTextAt(c, state, FONT_SMALL_BOLD, RightAligned(state, FONT_SMALL_BOLD, xr), y + 12 * s, on ? GOLD : DIM_WHITE,
               0.0f);

    double cx = 0.0;
    double cy = 0.0;
    StabGetCorrection(&cx, &cy);
    wchar_t line[64];
    swprintf(line, 64, L"Korrektur  x %+.1f%%  y %+.1f%%", cx * 100.0, cy * 100.0);
    DrawTextAt(c, line, FONT_SMALL, xl, y + 32 * s, DIM_WHITE, 0.0f);

    struct Row {
        const wchar_t* label;
        const wchar_t* format;
        double value;
    };
    const Row rows[] = {
        {PickText(L"St\u00e4rke", L"Strength"), L"%.1f", Settings.stabGain},
        {PickText(L"Gl\u00e4ttung", L"Smoothing"), L"%.3f", Settings.stabSmoothing},
        {L"Crop", L"%.2f", Settings.stabCropZoom},
        {PickText(L"Vorhersage", L"Prediction"), L"%.2f", Settings.stabLead},
    };
    float rowY = y + 52 * s;
    for (const Row& row : rows) {
        wchar_t value[24];
        swprintf(value, 24, row.format, row.value);
        DrawTextAt(c, row.label, FONT_ROW, xl, rowY, WHITE, 0.0f);
        DrawTextAt(c, value, FONT_VALUE, RightAligned(value, FONT_VALUE, xr), rowY, GOLD, 0.0f);
        rowY += 22 * s;
    }
    DrawTextAt(c,
               PickText(L"Regler: Einstellungen \u2192 Kameras \u2192 Entwickler",
                        L"Sliders: Settings \u2192 Cameras \u2192 Developer"),
               FONT_FOOTER, xl, y + 140 * s, FOOTER, 0.0f);
}

}  // namespace

void CockpitDrawOverlays(const CockpitDrawContext& c, const CockpitLayout& layout)
{
    const D2D1_RECT_F v = ToD2D(layout.videoRect);
    if (v.bottom - v.top < 4 * c.scale) return;
    c.dc->PushAxisAlignedClip(v, D2D1_ANTIALIAS_MODE_PER_PRIMITIVE);
    DrawPracticeText(c, v);
    DrawBrandGroup(c, v);
    DrawNotice(c, v, DrawRecordingTimer(c, v));
    DrawFrameRatePanel(c, v);
    DrawStabilisationPanel(c, v);
    c.dc->PopAxisAlignedClip();
}

void CockpitDrawPhotoFlash(const CockpitDrawContext& c)
{
    if (!(UiState.photoFlash > 0.0f)) return;
    c.brush->SetColor(D2D1::ColorF(1.0f, 1.0f, 1.0f, UiState.photoFlash));
    c.dc->FillRectangle(D2D1::RectF(0, 0, c.width, c.height), c.brush);
}
