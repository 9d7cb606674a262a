#include "render/cockpit_kit.h"

#include <dwrite_1.h>

#include <cwchar>
#include <initializer_list>

#include "app/texts.h"
#include "base/ui_state.h"
#include "base/win_owners.h"
#include "diag/log.h"
#include "render/cockpit.h"
#include "render/cockpit_values.h"
#include "render/graphics_services.h"
#include "settings/settings_store.h"

namespace {

struct FormatSpec {
    const wchar_t* family;  // null: the brand font
    DWRITE_FONT_WEIGHT weight;
    float size;             // at scale 1
};

constexpr const wchar_t* MONO = L"Consolas";
constexpr const wchar_t* SANS = L"Segoe UI";
constexpr const wchar_t* GLYPHS = L"Segoe MDL2 Assets";
constexpr auto W400 = DWRITE_FONT_WEIGHT_NORMAL;

// In the order of CockpitFont.
constexpr FormatSpec formatSpecs[COCKPIT_FONT_COUNT] = {
    {nullptr, DWRITE_FONT_WEIGHT_BLACK, 17},
    {nullptr, DWRITE_FONT_WEIGHT_BLACK, 19},
    {MONO, W400, 10},
    {MONO, DWRITE_FONT_WEIGHT_BOLD, 10},
    {MONO, W400, 11},
    {MONO, W400, 12},
    {MONO, DWRITE_FONT_WEIGHT_MEDIUM, 12},
    {MONO, DWRITE_FONT_WEIGHT_MEDIUM, 13},
    {SANS, W400, 10},
    {SANS, W400, 11},
    {SANS, W400, 12},
    {GLYPHS, DWRITE_FONT_WEIGHT_SEMI_BOLD, 12},
    {GLYPHS, W400, 16},
    {GLYPHS, W400, 17},
    {GLYPHS, W400, 19},
    {GLYPHS, W400, 20},
};

// The format set and the scale it was made for; UI thread only.
struct FormatSet {
    IDWriteTextFormat* formats[COCKPIT_FONT_COUNT];
    float scale;
    bool valid;
    bool failureLogged;  // once per process
};
FormatSet formatSet;

IDWriteTextFormat* MakeFormat(IDWriteFactory* factory, const FormatSpec& spec, float scale)
{
    const bool brand = spec.family == nullptr;
    const wchar_t* family = brand ? BrandFontFamily() : spec.family;
    IDWriteFontCollection* collection = brand ? BrandFontCollection() : nullptr;  // null: the system's
    IDWriteTextFormat* format = nullptr;
    if (!family || FAILED(factory->CreateTextFormat(family, collection, spec.weight, DWRITE_FONT_STYLE_NORMAL,
                                                     DWRITE_FONT_STRETCH_NORMAL, spec.size * scale, L"de-DE",
                                                     &format)))
        return nullptr;
    format->SetWordWrapping(DWRITE_WORD_WRAPPING_NO_WRAP);
    return format;
}

// The drawn width of `text` in `font`: 0 for an empty text, -1 when it cannot be measured.
float MeasuredWidth(const wchar_t* text, CockpitFont font)
{
    if (!text || text[0] == L'\0') return 0.0f;
    float width = 0.0f;
    float height = 0.0f;
    ComOwner<IDWriteTextLayout> layout(CockpitTextLayout(text, CockpitFormat(font), 0.0f, &width, &height));
    return layout ? width : -1.0f;
}

void DrawLayout(const CockpitDrawContext& c, const wchar_t* text, CockpitFont font, float spacing,
                const D2D1_COLOR_F& color, float x, float y, float alignX, float alignY)
{
    float width = 0.0f;
    float height = 0.0f;
    ComOwner<IDWriteTextLayout> layout(CockpitTextLayout(text, CockpitFormat(font), spacing, &width, &height));
    if (!layout) return;
    c.brush->SetColor(color);
    c.dc->DrawTextLayout(D2D1::Point2F(x - width * alignX, y - height * alignY), layout.Get(), c.brush,
                         D2D1_DRAW_TEXT_OPTIONS_NONE);
}

}  // namespace

float CockpitScale()
{
    return UiState.dpiScale > 0.0f ? UiState.dpiScale : 1.0f;
}

void CockpitReleaseTextFormats()
{
    for (IDWriteTextFormat*& format : formatSet.formats) {
        if (format) format->Release();
        format = nullptr;
    }
    formatSet.valid = false;
    formatSet.scale = 0.0f;
}

bool CockpitTextFormats(float scale)
{
    if (formatSet.valid && formatSet.scale == scale) return true;
    CockpitReleaseTextFormats();
    IDWriteFactory* factory = GetDWriteFactory();
    if (!factory) return false;
    bool complete = true;
    for (int32_t i = 0; i < COCKPIT_FONT_COUNT; i++) {
        formatSet.formats[i] = MakeFormat(factory, formatSpecs[i], scale);
        complete = complete && formatSet.formats[i] != nullptr;
    }
    if (!complete) {
        if (!formatSet.failureLogged)
            LogWrite(LOG_ERROR, L"Cockpit: Textformate konnten nicht erstellt werden");
        formatSet.failureLogged = true;
        CockpitReleaseTextFormats();
        return false;
    }
    formatSet.scale = scale;
    formatSet.valid = true;
    return true;
}

IDWriteTextFormat* CockpitFormat(CockpitFont font)
{
    return formatSet.valid && font >= 0 && font < COCKPIT_FONT_COUNT ? formatSet.formats[font] : nullptr;
}

IDWriteTextLayout* CockpitTextLayout(const wchar_t* text, IDWriteTextFormat* format, float spacing, float* width,
                                     float* height)
{
    *width = 0.0f;
    *height = 0.0f;
    IDWriteFactory* factory = GetDWriteFactory();
    if (!text || text[0] == L'\0' || !format || !factory) return nullptr;
    const UINT32 length = static_cast<UINT32>(wcslen(text));
    ComOwner<IDWriteTextLayout> layout;
    if (FAILED(factory->CreateTextLayout(text, length, format, 1000000.0f, 1000000.0f, &layout))) return nullptr;
    if (spacing > 0.0f) {
        ComOwner<IDWriteTextLayout1> spaced;
        // Without the newer interface the text is drawn unspaced: a small difference only.
        if (SUCCEEDED(layout->QueryInterface(__uuidof(IDWriteTextLayout1), reinterpret_cast<void**>(&spaced))))
            spaced->SetCharacterSpacing(0.0f, spacing, 0.0f, DWRITE_TEXT_RANGE{0, length});
    }
    DWRITE_TEXT_METRICS metrics = {};
    // Unresolvable fonts fail here: such a layout would draw nothing.
    if (FAILED(layout->GetMetrics(&metrics))) return nullptr;
    *width = metrics.width;
    *height = metrics.height;
    return layout.Detach();
}

void DrawTextCentered(const CockpitDrawContext& c, const wchar_t* text, CockpitFont font, float x, float y,
                      const D2D1_COLOR_F& color)
{
    DrawLayout(c, text, font, 0.0f, color, x, y, 0.5f, 0.5f);
}

void DrawTextAt(const CockpitDrawContext& c, const wchar_t* text, CockpitFont font, float x, float y,
                const D2D1_COLOR_F& color, float spacing)
{
    DrawLayout(c, text, font, spacing, color, x, y, 0.0f, 0.0f);
}

void DrawTextMidLeft(const CockpitDrawContext& c, const wchar_t* text, CockpitFont font, float x, float y,
                     const D2D1_COLOR_F& color)
{
    DrawLayout(c, text, font, 0.0f, color, x, y, 0.0f, 0.5f);
}

void FillRoundRect(const CockpitDrawContext& c, const D2D1_RECT_F& rect, float radius, const D2D1_COLOR_F& color)
{
    c.brush->SetColor(color);
    c.dc->FillRoundedRectangle(D2D1::RoundedRect(rect, radius, radius), c.brush);
}

void DrawShakeArcs(const CockpitDrawContext& c, float x, float y, bool opensLeft, const D2D1_COLOR_F& color)
{
    // The paths must come from the factory of the context that draws them.
    ComOwner<ID2D1Factory> factory;
    c.dc->GetFactory(&factory);
    if (!factory) return;
    const float s = c.scale;
    const float side = opensLeft ? -1.0f : 1.0f;
    c.brush->SetColor(color);
    for (float r : {3.5f * s, 6.0f * s, 8.5f * s}) {
        const float d = r * 0.7071f;
        ComOwner<ID2D1PathGeometry> path;
        ComOwner<ID2D1GeometrySink> sink;
        if (FAILED(factory->CreatePathGeometry(&path)) || FAILED(path->Open(&sink))) continue;
        sink->BeginFigure(D2D1::Point2F(x + side * d, y - d), D2D1_FIGURE_BEGIN_HOLLOW);
        // One cubic Bezier per quarter circle (control distance 0.5523 r along the tangents):
        // the same curve as an arc segment, and drawn by every Direct2D implementation.
        const float k = 0.5523f * d;
        sink->AddBezier(D2D1::BezierSegment(D2D1::Point2F(x + side * (d + k), y - d + k),
                                            D2D1::Point2F(x + side * (d + k), y + d - k),
                                            D2D1::Point2F(x + side * d, y + d)));
        sink->EndFigure(D2D1_FIGURE_END_OPEN);
        if (FAILED(sink->Close())) continue;
        c.dc->DrawGeometry(path.Get(), c.brush, 1.5f * s);
    }
}

CockpitLayout CockpitComputeLayout(float width, float height)
{
    CockpitTextWidths widths;
    if (UiState.cockpitVisible && CockpitTextFormats(CockpitScale())) {
        widths.brand = MeasuredWidth(L"MI-RU", FONT_BRAND);
        widths.status = MeasuredWidth(StatusLabel(UiState.status), FONT_STATUS);
        widths.resolution = MeasuredWidth(CockpitResolutionLabel(Settings.resolutionHigh), FONT_VALUE);
        widths.freeSpace = MeasuredWidth(UiState.freeSpaceText, FONT_VALUE);
    }
    return CockpitLayoutFor(width, height, UiState, widths);
}
