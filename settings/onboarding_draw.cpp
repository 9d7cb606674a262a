// The wizard's pages drawn with Direct2D and DirectWrite at 96 DPI: everything is measured in
// window pixels, DIP values are scaled by the window's DPI. The render target draws into the
// window's paint DC rather than onto a swap chain of the window: the page then reaches the
// screen through the same surface as the Win32 buttons and lists on it, which a swap chain of
// the parent would cover on some systems.
#include <windows.h>
#include <d2d1.h>
#include <d2d1helper.h>
#include <dwrite.h>

#include <cmath>
#include <cwchar>
#include <span>

#include "app/texts.h"
#include "base/win_owners.h"
#include "capture/device_rules.h"
#include "capture/preview.h"
#include "diag/log.h"
#include "frames/frame_store.h"
#include "render/graphics_services.h"
#include "render/view_geometry.h"
#include "render/watermark.h"
#include "settings/onboarding.h"
#include "settings/onboarding_rules.h"
#include "settings/onboarding_state.h"
#include "settings/onboarding_texts.h"
#include "settings/settings_store.h"

namespace {

constexpr HRESULT RECREATE_TARGET = static_cast<HRESULT>(0x8899000C);  // D2DERR_RECREATE_TARGET

constexpr D2D1_COLOR_F GOLD = {0.7686f, 0.5765f, 0.2471f, 1.0f};
constexpr D2D1_COLOR_F WARNING_RED = {1.0f, 0.2706f, 0.2275f, 1.0f};
constexpr D2D1_COLOR_F CHECK_GREEN = {0.2039f, 0.7804f, 0.349f, 1.0f};
constexpr D2D1_COLOR_F WHITE = {1.0f, 1.0f, 1.0f, 1.0f};
constexpr D2D1_COLOR_F BLACK = {0.0f, 0.0f, 0.0f, 1.0f};
constexpr float BODY_OPACITY = 0.55f;
constexpr float BODY_MAX_WIDTH = 600.0f;
constexpr wchar_t WARNING_GLYPH[] = L"\uE7BA";

// Formats by use; sizes in DIP.
enum Format { WORDMARK, TITLE, BODY, SMALL, LABEL, LABEL_RIGHT, MONO, ICONS, FORMAT_COUNT };
struct FormatSpec {
    bool brand;
    const wchar_t* family;
    DWRITE_FONT_WEIGHT weight;
    float size;
};
constexpr FormatSpec FORMAT_SPECS[FORMAT_COUNT] = {
    {true, nullptr, static_cast<DWRITE_FONT_WEIGHT>(900), 48.0f},
    {true, nullptr, static_cast<DWRITE_FONT_WEIGHT>(900), 26.0f},
    {false, L"Segoe UI", DWRITE_FONT_WEIGHT_NORMAL, 13.0f},
    {false, L"Segoe UI", DWRITE_FONT_WEIGHT_NORMAL, 11.0f},
    {false, L"Segoe UI", DWRITE_FONT_WEIGHT_SEMI_BOLD, 13.0f},
    {false, L"Segoe UI", DWRITE_FONT_WEIGHT_SEMI_BOLD, 13.0f},
    {false, L"Consolas", DWRITE_FONT_WEIGHT_NORMAL, 12.0f},
    {false, L"Segoe MDL2 Assets", DWRITE_FONT_WEIGHT_NORMAL, 12.0f},
};

struct DrawResources {
    ID2D1DCRenderTarget* target;
    ID2D1SolidColorBrush* targetBrush;
    // The still parts of the page, drawn again only when the page changes; the previews and the
    // spinner are drawn over it at every paint.
    ID2D1BitmapRenderTarget* still;
    ID2D1SolidColorBrush* stillBrush;
    bool stillValid;
    UINT32 stillWidth, stillHeight;
    float spinnerY;
    // What the drawing helpers draw on: the still layer or the window's target.
    ID2D1RenderTarget* canvas;
    ID2D1SolidColorBrush* brush;
    IDWriteTextFormat* formats[FORMAT_COUNT];
    bool formatsMade;
    // Failures noted once per run
    bool targetFailureLogged, formatFailureLogged, endDrawFailureLogged, bitmapFailureLogged;
};
DrawResources res;

#ifdef MIRU_TEST_HOOKS
bool failFormatsForTest = false;
#else
constexpr bool failFormatsForTest = false;
#endif

template <class T>
void SafeRelease(T*& pointer)
{
    if (pointer) pointer->Release();
    pointer = nullptr;
}

void DropFormats()
{
    for (IDWriteTextFormat*& format : res.formats) SafeRelease(format);
    res.formatsMade = false;
}

// Everything made by the render target goes with it.
void DropTarget()
{
    for (OnboardingPreviewSlot& slot : Wizard.slots) OnboardingDrawDropSlotBitmap(slot);
    SafeRelease(res.stillBrush);
    SafeRelease(res.still);
    res.stillValid = false;
    SafeRelease(res.targetBrush);
    SafeRelease(res.target);
    res.canvas = nullptr;
    res.brush = nullptr;
}

bool MakeTarget()
{
    if (res.target) return true;
    ID2D1Factory1* factory = GetD2DFactory();
    HRESULT hr = E_FAIL;
    if (factory) {
        const D2D1_RENDER_TARGET_PROPERTIES properties = D2D1::RenderTargetProperties(
            D2D1_RENDER_TARGET_TYPE_DEFAULT, D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_IGNORE), 96.0f,
            96.0f);
        hr = factory->CreateDCRenderTarget(&properties, &res.target);
        if (SUCCEEDED(hr)) hr = res.target->CreateSolidColorBrush(WHITE, &res.targetBrush);
    }
    if (SUCCEEDED(hr)) return true;
    DropTarget();
    if (!res.targetFailureLogged) {
        res.targetFailureLogged = true;
        LogWrite(LOG_ERROR, L"Einrichtung: Zeichenfl\u00e4che konnte nicht erstellt werden (0x%08lX)", LogHresult(hr));
    }
    return false;
}

bool MakeFormats()
{
    if (res.formatsMade) return true;
    IDWriteFactory* factory = GetDWriteFactory();
    const float scale = WizardScale();
    bool made = factory != nullptr && !failFormatsForTest;
    for (int i = 0; made && i < FORMAT_COUNT; ++i) {
        const FormatSpec& spec = FORMAT_SPECS[i];
        made = SUCCEEDED(factory->CreateTextFormat(spec.brand ? BrandFontFamily() : spec.family,
                                                   spec.brand ? BrandFontCollection() : nullptr, spec.weight,
                                                   DWRITE_FONT_STYLE_NORMAL, DWRITE_FONT_STRETCH_NORMAL,
                                                   spec.size * scale, L"de-DE", &res.formats[i]));
    }
    if (!made) {
        DropFormats();
        if (!res.formatFailureLogged) {
            res.formatFailureLogged = true;
            LogWrite(LOG_ERROR, L"Einrichtung: Textformate konnten nicht erstellt werden");
        }
        return false;
    }
    res.formats[LABEL_RIGHT]->SetTextAlignment(DWRITE_TEXT_ALIGNMENT_TRAILING);
    for (Format single : {LABEL, LABEL_RIGHT, MONO, ICONS, WORDMARK, TITLE})
        res.formats[single]->SetWordWrapping(DWRITE_WORD_WRAPPING_NO_WRAP);
    res.formatsMade = true;
    return true;
}

D2D1_COLOR_F Background()
{
    return Wizard.dark ? D2D1_COLOR_F{0x22 / 255.0f, 0x22 / 255.0f, 0x22 / 255.0f, 1.0f}
                       : D2D1_COLOR_F{0xEC / 255.0f, 0xEC / 255.0f, 0xEC / 255.0f, 1.0f};
}

D2D1_COLOR_F Ink(float opacity)
{
    return Wizard.dark ? D2D1_COLOR_F{0.96f, 0.96f, 0.95f, opacity} : D2D1_COLOR_F{0.1f, 0.1f, 0.1f, opacity};
}

// The plain background when Direct2D cannot draw; the controls stay usable.
void PaintPlain(HDC dc)
{
    RECT client;
    GetClientRect(Wizard.window, &client);
    const D2D1_COLOR_F colour = Background();
    HBRUSH brush = CreateSolidBrush(RGB(static_cast<int>(colour.r * 255.0f + 0.5f), static_cast<int>(colour.g * 255.0f + 0.5f),
                                        static_cast<int>(colour.b * 255.0f + 0.5f)));
    if (!brush) return;
    FillRect(dc, &client, brush);
    DeleteObject(brush);
}

// ---- Drawing helpers ----

float Dip(float value)
{
    return value * WizardScale();
}

void Text(const wchar_t* text, Format format, const D2D1_RECT_F& box, const D2D1_COLOR_F& colour)
{
    if (!text || !text[0]) return;
    res.brush->SetColor(colour);
    res.canvas->DrawText(text, static_cast<UINT32>(wcslen(text)), res.formats[format], box, res.brush);
}

// Height of `text` laid out `width` wide; 0 when it cannot be measured.
float TextHeight(const wchar_t* text, Format format, float width)
{
    ComOwner<IDWriteTextLayout> layout;
    DWRITE_TEXT_METRICS metrics{};
    IDWriteFactory* factory = GetDWriteFactory();
    if (!factory || FAILED(factory->CreateTextLayout(text, static_cast<UINT32>(wcslen(text)), res.formats[format], width,
                                                     1.0e6f, &layout)) ||
        FAILED(layout->GetMetrics(&metrics)))
        return 0.0f;
    return metrics.height;
}

void Line(D2D1_POINT_2F from, D2D1_POINT_2F to, const D2D1_COLOR_F& colour, float width)
{
    res.brush->SetColor(colour);
    res.canvas->DrawLine(from, to, res.brush, width);
}

void FillCircle(float x, float y, float radius, const D2D1_COLOR_F& colour)
{
    res.brush->SetColor(colour);
    res.canvas->FillEllipse(D2D1::Ellipse(D2D1::Point2F(x, y), radius, radius), res.brush);
}

D2D1_RECT_F Rect(const OnboardingBox& box)
{
    return D2D1::RectF(box.left, box.top, box.right, box.bottom);
}

// The brand mark centred on (centreX, centreY): its shapes span 152 by 110 of its 160 units.
void BrandMarkCentred(float centreX, float centreY, float size)
{
    const float u = size / 160.0f;
    DrawBrandMark(res.canvas, centreX - 86.0f * u, centreY - 80.0f * u, size, GOLD);
}

// Title and text at the top of pages 1 ... 8; the bottom of the text.
float PageHeading(const OnboardingLayout& layout)
{
    const float left = layout.content.left;
    const float top = layout.content.top;
    const float width = std::fmin(Dip(BODY_MAX_WIDTH), layout.content.right - left);
    Text(OnboardingPageTitle(Wizard.page), TITLE, D2D1::RectF(left, top, layout.content.right, top + Dip(40.0f)), Ink(1.0f));
    const wchar_t* body = OnboardingPageText(Wizard.page);
    const float bodyTop = top + Dip(48.0f);
    Text(body, BODY, D2D1::RectF(left, bodyTop, left + width, layout.content.bottom), Ink(BODY_OPACITY));
    return bodyTop + TextHeight(body, BODY, width);
}

void DrawWelcome(const OnboardingLayout& layout)
{
    const float width = std::fmin(Dip(520.0f), layout.content.right - layout.content.left);
    const wchar_t* text = OnboardingPageText(PAGE_WELCOME);
    const float markSize = Dip(96.0f);
    const float wordmarkHeight = Dip(64.0f);
    const float textHeight = TextHeight(text, BODY, width);
    const float blockHeight = markSize * 110.0f / 160.0f + Dip(16.0f) + wordmarkHeight + Dip(12.0f) + textHeight;
    const float centreX = (layout.content.left + layout.content.right) * 0.5f;
    float y = (layout.content.top + layout.content.bottom - blockHeight) * 0.5f;
    BrandMarkCentred(centreX, y + markSize * 55.0f / 160.0f, markSize);
    y += markSize * 110.0f / 160.0f + Dip(16.0f);
    res.formats[WORDMARK]->SetTextAlignment(DWRITE_TEXT_ALIGNMENT_CENTER);
    Text(Pick(OnboardingTexts.productName), WORDMARK, D2D1::RectF(layout.content.left, y, layout.content.right, y + wordmarkHeight),
         Ink(1.0f));
    y += wordmarkHeight + Dip(12.0f);
    res.formats[BODY]->SetTextAlignment(DWRITE_TEXT_ALIGNMENT_CENTER);
    Text(text, BODY, D2D1::RectF(centreX - width * 0.5f, y, centreX + width * 0.5f, y + textHeight + Dip(4.0f)),
         Ink(BODY_OPACITY));
    res.formats[BODY]->SetTextAlignment(DWRITE_TEXT_ALIGNMENT_LEADING);
}

void DrawFolderPage(const OnboardingLayout& layout)
{
    const float y = layout.folderButton.bottom + Dip(28.0f);
    const float left = layout.content.left;
    if (Settings.recordingFolder[0] == L'\0') {
        Text(Pick(OnboardingTexts.suggestion), BODY, D2D1::RectF(left, y - Dip(10.0f), layout.content.right, y + Dip(30.0f)),
             Ink(BODY_OPACITY));
        return;
    }
    const float cx = left + Dip(8.0f);
    FillCircle(cx, y, Dip(8.0f), CHECK_GREEN);
    Line(D2D1::Point2F(cx - Dip(3.5f), y + Dip(0.2f)), D2D1::Point2F(cx - Dip(1.0f), y + Dip(2.8f)), WHITE, Dip(1.8f));
    Line(D2D1::Point2F(cx - Dip(1.0f), y + Dip(2.8f)), D2D1::Point2F(cx + Dip(3.8f), y - Dip(2.6f)), WHITE, Dip(1.8f));
    Text(Settings.recordingFolder, MONO, D2D1::RectF(left + Dip(24.0f), y - Dip(9.0f), layout.content.right, y + Dip(12.0f)),
         Ink(1.0f));
}

// The newest frame of a slot's preview into its bitmap (made again when the size changes).
void UpdateSlotBitmap(OnboardingPreviewSlot& slot)
{
    Frame* frame = PreviewAcquireFrame(slot.preview);
    if (!frame) return;
    if (slot.bitmap && (slot.bitmapWidth != frame->width || slot.bitmapHeight != frame->height))
        OnboardingDrawDropSlotBitmap(slot);
    if (slot.bitmap) {
        slot.bitmap->CopyFromMemory(nullptr, frame->pixels, static_cast<UINT32>(frame->stride));
    } else {
        const D2D1_BITMAP_PROPERTIES properties =
            D2D1::BitmapProperties(D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED));
        const HRESULT hr =
            res.canvas->CreateBitmap(D2D1::SizeU(static_cast<UINT32>(frame->width), static_cast<UINT32>(frame->height)),
                                     frame->pixels, static_cast<UINT32>(frame->stride), properties, &slot.bitmap);
        if (SUCCEEDED(hr)) {
            slot.bitmapWidth = frame->width;
            slot.bitmapHeight = frame->height;
        } else if (!res.bitmapFailureLogged) {
            res.bitmapFailureLogged = true;
            LogWrite(LOG_ERROR, L"Einrichtung: Vorschau-Bitmap %dx%d konnte nicht erstellt werden (0x%08lX)", frame->width,
                     frame->height, LogHresult(hr));
        }
    }
    FrameRelease(frame);
}

// A preview box: black, the camera mirrored left-right and cover-cropped inside the rounded
// corners, a light outline.
void DrawPreviewBox(OnboardingPreviewSlot& slot, const OnboardingBox& box)
{
    const D2D1_ROUNDED_RECT rounded = D2D1::RoundedRect(Rect(box), Dip(10.0f), Dip(10.0f));
    res.brush->SetColor(BLACK);
    res.canvas->FillRoundedRectangle(rounded, res.brush);
    if (slot.preview) UpdateSlotBitmap(slot);
    if (slot.preview && slot.bitmap) {
        ComOwner<ID2D1RoundedRectangleGeometry> clip;
        ComOwner<ID2D1Layer> layer;
        ID2D1Factory1* factory = GetD2DFactory();
        const bool clipped = factory && SUCCEEDED(factory->CreateRoundedRectangleGeometry(rounded, &clip)) &&
                             SUCCEEDED(res.canvas->CreateLayer(nullptr, &layer));
        if (clipped) res.canvas->PushLayer(D2D1::LayerParameters(D2D1::InfiniteRect(), clip.Get()), layer.Get());
        const SourceRect source = CameraSourceRect(slot.bitmapWidth, slot.bitmapHeight, box.right - box.left,
                                                   box.bottom - box.top, 1.0, 0.0, 0.0);
        res.canvas->SetTransform(D2D1::Matrix3x2F(-1.0f, 0.0f, 0.0f, 1.0f, box.left + box.right, 0.0f));
        res.canvas->DrawBitmap(slot.bitmap, Rect(box), 1.0f, D2D1_BITMAP_INTERPOLATION_MODE_LINEAR,
                               D2D1::RectF(static_cast<float>(source.x), static_cast<float>(source.y),
                                           static_cast<float>(source.x + source.width),
                                           static_cast<float>(source.y + source.height)));
        res.canvas->SetTransform(D2D1::Matrix3x2F::Identity());
        if (clipped) res.canvas->PopLayer();
    }
    res.brush->SetColor(D2D1_COLOR_F{1.0f, 1.0f, 1.0f, 0.25f});
    res.canvas->DrawRoundedRectangle(rounded, res.brush, Dip(1.0f));
}

void DrawWaiting(const OnboardingLayout& layout)
{
    const float centreX = (layout.content.left + layout.content.right) * 0.5f;
    float y = layout.content.top + Dip(150.0f);
    BrandMarkCentred(centreX, y, Dip(56.0f));
    y += Dip(40.0f);
    res.formats[LABEL]->SetTextAlignment(DWRITE_TEXT_ALIGNMENT_CENTER);
    Text(Pick(OnboardingTexts.noSecondCamera), LABEL, D2D1::RectF(layout.content.left, y, layout.content.right, y + Dip(22.0f)),
         Ink(1.0f));
    res.formats[LABEL]->SetTextAlignment(DWRITE_TEXT_ALIGNMENT_LEADING);
    y += Dip(26.0f);
    const float width = std::fmin(Dip(460.0f), layout.content.right - layout.content.left);
    res.formats[BODY]->SetTextAlignment(DWRITE_TEXT_ALIGNMENT_CENTER);
    const wchar_t* hint = Pick(OnboardingTexts.plugBoth);
    const float hintHeight = TextHeight(hint, BODY, width);
    Text(hint, BODY, D2D1::RectF(centreX - width * 0.5f, y, centreX + width * 0.5f, y + hintHeight + Dip(4.0f)), Ink(BODY_OPACITY));
    res.formats[BODY]->SetTextAlignment(DWRITE_TEXT_ALIGNMENT_LEADING);
    res.spinnerY = y + hintHeight + Dip(28.0f);
}

// The waiting spinner below the texts of DrawWaiting.
void DrawSpinner(const OnboardingLayout& layout)
{
    const float centreX = (layout.content.left + layout.content.right) * 0.5f;
    const float y = res.spinnerY;
    // The brightest spoke advances one step every 100 ms.
    const int32_t step = static_cast<int32_t>((GetTickCount64() / 100) % 8);
    for (int32_t spoke = 0; spoke < 8; ++spoke) {
        const float angle = static_cast<float>(spoke) * 3.14159265f / 4.0f;
        const float dx = std::sin(angle);
        const float dy = -std::cos(angle);
        const int32_t k = 7 - ((step - spoke + 8) % 8);
        D2D1_COLOR_F colour = Ink(1.0f);
        colour.a = OnboardingSpinnerOpacity(k);
        Line(D2D1::Point2F(centreX + dx * Dip(4.0f), y + dy * Dip(4.0f)),
             D2D1::Point2F(centreX + dx * Dip(8.0f), y + dy * Dip(8.0f)), colour, Dip(1.6f));
    }
}

void DrawCameraPage(const OnboardingLayout& layout)
{
    if (Wizard.cameraCount < 2) {
        DrawWaiting(layout);
        return;
    }
    const TextPair* labels[2] = {&OnboardingTexts.wideLabel, &OnboardingTexts.macroLabel};
    for (int i = 0; i < 2; ++i) {
        Text(Pick(*labels[i]), LABEL, Rect(layout.cameraLabel[i]), Ink(1.0f));
    }
    if (Settings.wideDeviceID[0] != L'\0' && wcscmp(Settings.wideDeviceID, Settings.macroDeviceID) == 0) {
        const OnboardingBox& line = layout.warning;
        Text(WARNING_GLYPH, ICONS, D2D1::RectF(line.left, line.top + Dip(2.0f), line.left + Dip(20.0f), line.bottom), WARNING_RED);
        Text(Pick(OnboardingTexts.sameCamera), LABEL, D2D1::RectF(line.left + Dip(22.0f), line.top, line.right, line.bottom),
             WARNING_RED);
    }
}

void DrawMicrophonePage(const OnboardingLayout& layout)
{
    const float y = layout.microphoneList.bottom + Dip(14.0f);
    Text(Pick(OnboardingTexts.microphoneNote), SMALL,
         D2D1::RectF(layout.content.left, y, layout.content.left + Dip(BODY_MAX_WIDTH), y + Dip(40.0f)), Ink(BODY_OPACITY));
}

void DrawUsagePage(const OnboardingLayout& layout, float textBottom)
{
    const float left = layout.content.left;
    float y = std::fmax(textBottom + Dip(18.0f), layout.content.top + Dip(124.0f));
    Text(Pick(OnboardingTexts.shortcutsHeading), LABEL, D2D1::RectF(left, y, layout.content.right, y + Dip(22.0f)), Ink(1.0f));
    y += Dip(28.0f);
    for (int32_t row = 0; row < ONBOARDING_SHORTCUT_COUNT; ++row, y += Dip(22.0f)) {
        const ShortcutRow& shortcut = OnboardingShortcut(row);
        Text(Pick(shortcut.key), MONO, D2D1::RectF(left, y + Dip(1.0f), left + Dip(170.0f), y + Dip(22.0f)), Ink(1.0f));
        Text(Pick(shortcut.action), BODY, D2D1::RectF(left + Dip(180.0f), y, layout.content.right, y + Dip(22.0f)),
             Ink(BODY_OPACITY * 1.4f));
    }
}

const wchar_t* NameOf(std::span<const CaptureDevice> devices, const wchar_t* id)
{
    const int32_t index = DeviceFind(devices, id);
    return index >= 0 ? devices[static_cast<size_t>(index)].displayName : L"\u2014";
}

void DrawDonePage(const OnboardingLayout& layout, float textBottom)
{
    const std::span<const CaptureDevice> cameras(Wizard.cameras, static_cast<size_t>(Wizard.cameraCount));
    const std::span<const CaptureDevice> microphones(Wizard.microphones, static_cast<size_t>(Wizard.microphoneCount));
    const wchar_t* leaf = OnboardingFolderLeaf(Settings.recordingFolder);
    const wchar_t* values[4] = {
        leaf[0] ? leaf : L"\u2014",
        NameOf(cameras, Settings.wideDeviceID),
        NameOf(cameras, Settings.macroDeviceID),
        Settings.micDeviceID[0] ? NameOf(microphones, Settings.micDeviceID) : Pick(OnboardingTexts.noSound),
    };
    const TextPair* labels[4] = {&OnboardingTexts.summaryFolder, &OnboardingTexts.summaryWide, &OnboardingTexts.summaryMacro,
                                 &OnboardingTexts.summaryMicrophone};
    const float left = layout.content.left;
    const float right = std::fmin(layout.content.right, left + Dip(BODY_MAX_WIDTH));
    const float top = std::fmax(textBottom + Dip(20.0f), layout.content.top + Dip(110.0f));
    const float rowHeight = Dip(36.0f);
    const D2D1_ROUNDED_RECT panel =
        D2D1::RoundedRect(D2D1::RectF(left, top, right, top + 4.0f * rowHeight + Dip(16.0f)), Dip(12.0f), Dip(12.0f));
    res.brush->SetColor(D2D1_COLOR_F{0.5f, 0.5f, 0.5f, 0.12f});
    res.canvas->FillRoundedRectangle(panel, res.brush);
    for (int row = 0; row < 4; ++row) {
        const float y = top + Dip(8.0f) + static_cast<float>(row) * rowHeight + Dip(8.0f);
        const D2D1_RECT_F line = D2D1::RectF(left + Dip(18.0f), y, right - Dip(18.0f), y + Dip(22.0f));
        Text(Pick(*labels[row]), LABEL, line, Ink(1.0f));
        Text(values[row], LABEL_RIGHT, line, Ink(BODY_OPACITY * 1.4f));
    }
}

void DrawFooter(const OnboardingLayout& layout)
{
    res.brush->SetColor(D2D1_COLOR_F{0.35f, 0.35f, 0.35f, 1.0f});
    res.canvas->FillRectangle(D2D1::RectF(0.0f, layout.footer.top, layout.footer.right, layout.footer.top + Dip(1.0f)),
                              res.brush);
    for (int32_t dot = 0; dot < ONBOARDING_PAGE_COUNT; ++dot) {
        D2D1_COLOR_F colour = dot == Wizard.page ? GOLD : Ink(0.165f);
        FillCircle(layout.firstDotX + static_cast<float>(dot) * layout.dotStep, layout.dotY, layout.dotRadius, colour);
    }
}

OnboardingLayout CurrentLayout()
{
    RECT client;
    GetClientRect(Wizard.window, &client);
    return OnboardingLayoutFor(static_cast<float>(client.right), static_cast<float>(client.bottom), WizardScale(), {});
}

// Everything that changes only with the page or a choice.
void DrawStill(const OnboardingLayout& layout)
{
    res.canvas->Clear(Background());
    float textBottom = layout.content.top;
    if (Wizard.page == PAGE_WELCOME) DrawWelcome(layout);
    else textBottom = PageHeading(layout);
    switch (Wizard.page) {
    case PAGE_FOLDER: DrawFolderPage(layout); break;
    case PAGE_CAMERAS: DrawCameraPage(layout); break;
    case PAGE_MICROPHONE: DrawMicrophonePage(layout); break;
    case PAGE_USAGE: DrawUsagePage(layout, textBottom); break;
    case PAGE_DONE: DrawDonePage(layout, textBottom); break;
    default: break;
    }
    DrawFooter(layout);
}

// The live previews, or the spinner while cameras are missing.
void DrawMoving(const OnboardingLayout& layout)
{
    if (Wizard.page != PAGE_CAMERAS) return;
    if (Wizard.cameraCount < 2) {
        DrawSpinner(layout);
        return;
    }
    for (int i = 0; i < 2; ++i) DrawPreviewBox(Wizard.slots[i], layout.previewBox[i]);
}

void UseCanvas(ID2D1RenderTarget* canvas, ID2D1SolidColorBrush* brush)
{
    res.canvas = canvas;
    res.brush = brush;
}

// Brings the still layer up to date; false when there is none (the page is then drawn whole).
bool UpdateStill(const OnboardingLayout& layout, const RECT& client)
{
    const UINT32 width = static_cast<UINT32>(client.right);
    const UINT32 height = static_cast<UINT32>(client.bottom);
    if (res.still && (res.stillWidth != width || res.stillHeight != height)) {
        SafeRelease(res.stillBrush);
        SafeRelease(res.still);
    }
    if (!res.still) {
        res.stillValid = false;
        if (FAILED(res.target->CreateCompatibleRenderTarget(D2D1::SizeF(static_cast<float>(width), static_cast<float>(height)),
                                                            &res.still)) ||
            FAILED(res.still->CreateSolidColorBrush(WHITE, &res.stillBrush))) {
            SafeRelease(res.stillBrush);
            SafeRelease(res.still);
            return false;
        }
        res.stillWidth = width;
        res.stillHeight = height;
    }
    if (res.stillValid) return true;
    UseCanvas(res.still, res.stillBrush);
    res.still->BeginDraw();
    DrawStill(layout);
    res.stillValid = SUCCEEDED(res.still->EndDraw());
    return res.stillValid;
}

// One frame on the window's target: the still layer (or the still parts drawn directly) and
// the moving parts over it.
HRESULT DrawFrame(const RECT& client)
{
    const OnboardingLayout layout = CurrentLayout();
    const bool still = UpdateStill(layout, client);
    ComOwner<ID2D1Bitmap> stillBitmap;
    if (still && FAILED(res.still->GetBitmap(&stillBitmap))) stillBitmap.Reset();
    UseCanvas(res.target, res.targetBrush);
    res.target->BeginDraw();
    if (stillBitmap) res.target->DrawBitmap(stillBitmap.Get());
    else DrawStill(layout);
    DrawMoving(layout);
    return res.target->EndDraw();
}

}  // namespace

void OnboardingPaint()
{
    PAINTSTRUCT paint;
    HDC dc = BeginPaint(Wizard.window, &paint);
    RECT client;
    GetClientRect(Wizard.window, &client);
    // Each step logs its own failure once: the surface (made or bound to the DC), the text
    // formats, the drawing.
    bool drawn = false;
    if (dc && MakeTarget() && MakeFormats()) {
        HRESULT hr = res.target->BindDC(dc, &client);
        if (FAILED(hr) && !res.targetFailureLogged) {
            res.targetFailureLogged = true;
            LogWrite(LOG_ERROR, L"Einrichtung: Zeichenfl\u00e4che konnte nicht erstellt werden (0x%08lX)", LogHresult(hr));
        }
        drawn = SUCCEEDED(hr);
        if (drawn) hr = DrawFrame(client);
        if (hr == RECREATE_TARGET) {
            DropTarget();  // made again at the next paint
        } else if (drawn && FAILED(hr) && !res.endDrawFailureLogged) {
            res.endDrawFailureLogged = true;
            LogWrite(LOG_ERROR, L"Einrichtung: Zeichnen fehlgeschlagen (0x%08lX)", LogHresult(hr));
        }
    }
    if (dc && !drawn) PaintPlain(dc);
    EndPaint(Wizard.window, &paint);
}

void OnboardingDrawDpiChanged()
{
    DropFormats();
    res.stillValid = false;
}

void OnboardingDrawInvalidate()
{
    res.stillValid = false;
}

void OnboardingDrawRelease()
{
    DropTarget();
    DropFormats();
}

void OnboardingDrawDropSlotBitmap(OnboardingPreviewSlot& slot)
{
    SafeRelease(slot.bitmap);
    slot.bitmapWidth = slot.bitmapHeight = 0;
}

#ifdef MIRU_TEST_HOOKS
void OnboardingFailTextFormatsForTest(bool fail)
{
    failFormatsForTest = fail;
}
#endif

void OnboardingDrawResetRun()
{
    OnboardingDrawRelease();
    res = DrawResources{};
}
