#include "render/cockpit.h"

#include <algorithm>

#include "app/texts.h"
#include "base/ui_state.h"
#include "base/win_owners.h"
#include "capture/camera_control.h"
#include "diag/log.h"
#include "render/cockpit_kit.h"
#include "render/cockpit_values.h"
#include "render/watermark.h"
#include "settings/settings_store.h"

namespace {

struct Palette {
    D2D1_COLOR_F ink;
    D2D1_COLOR_F secondary;
    D2D1_COLOR_F panel;
    D2D1_COLOR_F divider;
};

constexpr D2D1_COLOR_F INK_LIGHT = {0.1f, 0.1f, 0.1f, 1.0f};
constexpr D2D1_COLOR_F INK_DARK = {0.96f, 0.96f, 0.95f, 1.0f};
constexpr Palette LIGHT = {INK_LIGHT, {0.1f, 0.1f, 0.1f, 0.55f}, {0.9254902f, 0.9254902f, 0.9254902f, 1.0f},
                           {0.1f, 0.1f, 0.1f, 0.15f}};
constexpr Palette DARK = {INK_DARK, {0.96f, 0.96f, 0.95f, 0.55f}, {0.1333333f, 0.1333333f, 0.1333333f, 1.0f},
                          {0.96f, 0.96f, 0.95f, 0.15f}};
constexpr D2D1_COLOR_F GOLD = {0.7686275f, 0.5764706f, 0.2470588f, 1.0f};
constexpr D2D1_COLOR_F GREEN = {0.2039216f, 0.7803922f, 0.3490196f, 1.0f};
constexpr D2D1_COLOR_F RED = {1.0f, 0.2705882f, 0.227451f, 1.0f};
constexpr D2D1_COLOR_F WHITE = {1.0f, 1.0f, 1.0f, 1.0f};
constexpr D2D1_COLOR_F KNOB_RIM = {0.0f, 0.0f, 0.0f, 0.25f};

constexpr wchar_t GLYPH_GEAR[] = L"\uE713";
constexpr wchar_t GLYPH_RESTART[] = L"\uE72C";
constexpr wchar_t GLYPH_MIC[] = L"\uE720";
constexpr wchar_t GLYPH_MIC_MUTED[] = L"\uE74F";
constexpr wchar_t GLYPH_CAMERA[] = L"\uE722";

constexpr int32_t METER_BARS = 8;
constexpr int32_t METER_GOLD_BARS = 6;  // the last two bars are red

// The animation clock and the record morph; UI thread only.
struct Animation {
    uint64_t previousMs;  // 0: no frame drawn yet
    float morph;          // record symbol: 0 disc ... 1 square
    bool brushFailureLogged;
};
Animation animation;

void FillRect(const CockpitDrawContext& c, float left, float top, float right, float bottom,
              const D2D1_COLOR_F& color)
{
    c.brush->SetColor(color);
    c.dc->FillRectangle(D2D1::RectF(left, top, right, bottom), c.brush);
}

void Circle(const CockpitDrawContext& c, float x, float y, float radius, const D2D1_COLOR_F& color, float stroke)
{
    c.brush->SetColor(color);
    const D2D1_ELLIPSE ellipse = D2D1::Ellipse(D2D1::Point2F(x, y), radius, radius);
    if (stroke > 0.0f) c.dc->DrawEllipse(ellipse, c.brush, stroke);
    else c.dc->FillEllipse(ellipse, c.brush);
}

void DrawTopBar(const CockpitDrawContext& c, const CockpitLayout& l, const Palette& p)
{
    const float s = c.scale;
    const float W = c.width;
    const float y = l.topCenterY;
    FillRect(c, 0, 0, W, 52 * s, p.panel);
    FillRect(c, 0, 51 * s, W, 52 * s, p.divider);
    DrawBrandMark(c.dc, l.markX, l.markY, l.markSize, p.ink);
    DrawTextMidLeft(c, L"MI-RU", FONT_BRAND, l.brandTextX, y, p.ink);

    const D2D1_COLOR_F dot = UiState.live ? GREEN : StatusIsError(UiState.status) ? RED : GOLD;
    Circle(c, l.statusDotX, y, 3.5f * s, dot, 0.0f);
    DrawTextMidLeft(c, StatusLabel(UiState.status), FONT_STATUS, l.statusTextX, y, p.ink);
    const CockpitRect& restart = l.reconnectRect;
    if (!UiState.live && restart.right - restart.left > 0.0f)
        DrawTextCentered(c, GLYPH_RESTART, FONT_RESTART_GLYPH, (restart.left + restart.right) / 2,
                         (restart.top + restart.bottom) / 2, GOLD);

    c.brush->SetColor(WithAlpha(GOLD, 0.5f));
    const D2D1_RECT_F pill =
        D2D1::RectF(l.resolutionPillX, 16 * s, l.resolutionPillX + l.resolutionPillWidth, 16 * s + l.lineHeight + 6 * s);
    c.dc->DrawRoundedRectangle(D2D1::RoundedRect(pill, 10 * s, 10 * s), c.brush, 0.5f * s);
    DrawTextMidLeft(c, CockpitResolutionLabel(Settings.resolutionHigh), FONT_VALUE, l.resolutionPillX + 10 * s, y,
                    GOLD);
    if (UiState.freeSpaceText[0] != L'\0')
        DrawTextMidLeft(c, UiState.freeSpaceText, FONT_VALUE, l.freeSpaceX, y, p.secondary);
    DrawTextCentered(c, GLYPH_GEAR, FONT_GEAR_GLYPH, l.gearCenterX, y, p.ink);
}

void DrawBottomBar(const CockpitDrawContext& c, const CockpitLayout& l, const Palette& p)
{
    const float s = c.scale;
    const float W = c.width;
    const float H = c.height;
    const float yB = l.bottomCenterY;
    FillRect(c, 0, H - 84 * s, W, H, p.panel);
    FillRect(c, 0, H - 84 * s, W, H - 83 * s, p.divider);

    if (UiState.micMuted) DrawTextCentered(c, GLYPH_MIC_MUTED, FONT_MIC_GLYPH, l.micIconX, yB, RED);
    else DrawTextCentered(c, GLYPH_MIC, FONT_MIC_GLYPH, l.micIconX, yB, p.ink);
    const int32_t lit = CockpitLitBars(CaptureGetMicLevel(), UiState.micMuted);
    for (int32_t i = 0; i < METER_BARS; i++) {
        const float left = l.meterX + 8 * s * static_cast<float>(i);
        const D2D1_COLOR_F color = i >= lit ? WithAlpha(p.ink, 0.18f) : i < METER_GOLD_BARS ? GOLD : RED;
        FillRoundRect(c, D2D1::RectF(left, yB - 9 * s, left + 5 * s, yB + 9 * s), 2 * s, color);
    }

    // The photo button is dimmed while it cannot take a photo.
    const D2D1_COLOR_F photo = WithAlpha(p.ink, p.ink.a * (UiState.live ? 1.0f : 0.35f));
    Circle(c, l.photoCenterX, yB, COCKPIT_PHOTO_RING * s, photo, 2.5f * s);
    DrawTextCentered(c, GLYPH_CAMERA, FONT_PHOTO_GLYPH, l.photoCenterX, yB, photo);

    Circle(c, l.recordCenterX, yB, COCKPIT_RECORD_RING * s, p.ink, 3 * s);
    const CockpitRecordShape shape = CockpitRecordShapeFor(animation.morph);
    const float h = shape.half * s;
    FillRoundRect(c, D2D1::RectF(l.recordCenterX - h, yB - h, l.recordCenterX + h, yB + h), shape.radius * s, RED);

    const D2D1_COLOR_F stab = Settings.stabilizeMacro ? GOLD : p.secondary;
    DrawTextCentered(c, GLYPH_CAMERA, FONT_STAB_GLYPH, l.stabCenterX, yB, stab);
    DrawShakeArcs(c, l.stabCenterX - 14 * s, yB, true, stab);
    DrawShakeArcs(c, l.stabCenterX + 14 * s, yB, false, stab);

    const CockpitRect& track = l.sliderTrack;
    const float f = std::clamp(UiState.pipSize, 0.0f, 1.0f);
    const float knob = track.left + f * (track.right - track.left);
    FillRoundRect(c, ToD2D(track), 2 * s, WithAlpha(p.ink, 0.2f));
    if (knob > track.left) FillRoundRect(c, D2D1::RectF(track.left, track.top, knob, track.bottom), 2 * s, GOLD);
    Circle(c, knob, l.sliderCenterY, 7 * s, WHITE, 0.0f);
    Circle(c, knob, l.sliderCenterY, 7 * s, KNOB_RIM, 0.5f * s);

    wchar_t label[64];
    CockpitSliderLabel(label, 64, UiState.pipSize);
    float width = 0.0f;
    float height = 0.0f;
    ComOwner<IDWriteTextLayout> measured(CockpitTextLayout(label, CockpitFormat(FONT_SMALL), s, &width, &height));
    if (measured) DrawTextAt(c, label, FONT_SMALL, track.right - width, l.sliderLabelY, p.secondary, s);
}

}  // namespace

void CockpitResetAnimation()
{
    animation.previousMs = 0;
    animation.morph = 0.0f;
}

void CockpitDrawAtTime(ID2D1DeviceContext* context, float width, float height, bool dark, uint64_t nowMs)
{
    if (!context || !(width > 1.0f) || !(height > 1.0f)) return;
    const float dt = CockpitClockStep(animation.previousMs, nowMs);
    animation.previousMs = nowMs;
    animation.morph = CockpitMorphStep(animation.morph, UiState.recording, dt);
    UiState.photoFlash = CockpitFlashDecay(UiState.photoFlash, dt);

    const float s = CockpitScale();
    if (!CockpitTextFormats(s)) return;
    const CockpitLayout layout = CockpitComputeLayout(width, height);
    const Palette& palette = dark ? DARK : LIGHT;
    ComOwner<ID2D1SolidColorBrush> brush;
    const HRESULT made = context->CreateSolidColorBrush(palette.ink, &brush);
    if (FAILED(made)) {
        if (!animation.brushFailureLogged)
            LogWrite(LOG_ERROR, L"Cockpit: Pinsel konnte nicht erstellt werden (0x%08lX)",
                     LogHresult(made));
        animation.brushFailureLogged = true;
        return;
    }
    const CockpitDrawContext c = {context, brush.Get(), width, height, s, dark};
    if (layout.visible) {
        DrawTopBar(c, layout, palette);
        DrawBottomBar(c, layout, palette);
    }
    CockpitDrawOverlays(c, layout);
    CockpitDrawPhotoFlash(c);
}

void CockpitDraw(ID2D1DeviceContext* context, float width, float height, bool dark)
{
    CockpitDrawAtTime(context, width, height, dark, GetTickCount64());
}
