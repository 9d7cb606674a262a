#include "render/watermark.h"

#include <windows.h>
#include <wincodec.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

#include "base/win_owners.h"
#include "diag/log.h"
#include "render/graphics_services.h"

namespace {

constexpr int32_t MAX_OVERLAY_SIZE = 16384;
constexpr D2D1_COLOR_F DOT_COLOR{0.7686275f, 0.5764706f, 0.2470588f, 1.0f};  // #C4933F
constexpr D2D1_POINT_2F OUTLINE_OFFSETS[4] = {{-1, -1}, {1, -1}, {-1, 1}, {1, 1}};

// Draws the practice text and the brand group on a cleared target.
void DrawOverlayContent(ID2D1RenderTarget* target, IDWriteFactory* dwrite, float width, float height,
                        const wchar_t* practiceText)
{
    ComOwner<ID2D1SolidColorBrush> textBrush;
    ComOwner<ID2D1SolidColorBrush> shadowBrush;
    HRESULT hr = target->CreateSolidColorBrush(D2D1::ColorF(1.0f, 1.0f, 1.0f, 0.92f), &textBrush);
    if (SUCCEEDED(hr)) hr = target->CreateSolidColorBrush(D2D1::ColorF(0.0f, 0.0f, 0.0f, 0.4f), &shadowBrush);
    if (FAILED(hr)) {
        LogWrite(LOG_ERROR, L"Wasserzeichen: Pinsel konnte nicht erstellt werden (0x%08lX)", LogHresult(hr));
        return;
    }
    WatermarkSizes sizes = WatermarkSizesFor(height);

    TextLineMetrics practice{};
    ComOwner<IDWriteTextLayout> practiceLayout;
    if (practiceText && practiceText[0])
        practiceLayout.Attach(MakeTextLayout(dwrite, practiceText, L"Segoe UI", nullptr, DWRITE_FONT_WEIGHT_MEDIUM,
                                             sizes.practiceFontSize, &practice));
    TextLineMetrics brand{};
    ComOwner<IDWriteTextLayout> brandLayout(MakeTextLayout(dwrite, BRAND_WEB_ADDRESS, BrandFontFamily(),
                                                           BrandFontCollection(), DWRITE_FONT_WEIGHT_BLACK,
                                                           sizes.brandSize, &brand));
    WatermarkPlacement place = WatermarkPlace(sizes, width, height, practice, brand);

    if (practiceLayout)
        DrawOutlinedText(target, practiceLayout.Get(), place.practiceX, place.practiceY, sizes.practiceOutline,
                         textBrush.Get(), shadowBrush.Get());
    if (!brandLayout) return;
    float d = sizes.brandOutline;
    for (const D2D1_POINT_2F& offset : OUTLINE_OFFSETS)
        DrawBrandMarkRings(target, place.markX + offset.x * d, place.markY + offset.y * d, sizes.markSize,
                           shadowBrush.Get());
    DrawBrandMark(target, place.markX, place.markY, sizes.markSize, D2D1::ColorF(1.0f, 1.0f, 1.0f, 1.0f));
    DrawOutlinedText(target, brandLayout.Get(), place.brandX, place.brandY, d, textBrush.Get(), shadowBrush.Get());
}

// Copies the drawn WIC bitmap into a tightly packed malloc block; null on failure (logged).
uint8_t* CopyOut(IWICBitmap* bitmap, int32_t width, int32_t height)
{
    WICRect whole{0, 0, width, height};
    ComOwner<IWICBitmapLock> lock;
    HRESULT hr = bitmap->Lock(&whole, WICBitmapLockRead, &lock);
    if (FAILED(hr)) {
        LogWrite(LOG_ERROR, L"Wasserzeichen: Bitmap-Lock fehlgeschlagen (0x%08lX)", LogHresult(hr));
        return nullptr;
    }
    UINT stride = 0;
    UINT bufferSize = 0;
    BYTE* data = nullptr;
    if (FAILED(lock->GetStride(&stride)) || FAILED(lock->GetDataPointer(&bufferSize, &data)) || !data) {
        LogWrite(LOG_ERROR, L"Wasserzeichen: Bitmap-Zugriff fehlgeschlagen");
        return nullptr;
    }
    size_t rowBytes = static_cast<size_t>(width) * 4;
    if (stride < rowBytes || bufferSize < (static_cast<size_t>(height) - 1) * stride + rowBytes) {
        LogWrite(LOG_ERROR, L"Wasserzeichen: unerwartetes Bitmap-Layout (Stride %u)", stride);
        return nullptr;
    }
    auto* pixels = static_cast<uint8_t*>(std::malloc(rowBytes * static_cast<size_t>(height)));
    if (!pixels) {
        LogWrite(LOG_ERROR, L"Wasserzeichen: kein Speicher fuer Overlay %dx%d", width, height);
        return nullptr;
    }
    for (int32_t row = 0; row < height; ++row)
        std::memcpy(pixels + rowBytes * static_cast<size_t>(row), data + static_cast<size_t>(stride) * row, rowBytes);
    return pixels;
}

uint8_t* BuildOverlay(int32_t width, int32_t height, const wchar_t* practiceText, IDWriteFactory* dwrite)
{
    ComOwner<IWICImagingFactory> wic;
    HRESULT hr = CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, __uuidof(IWICImagingFactory),
                                  reinterpret_cast<void**>(&wic));
    if (FAILED(hr)) {
        LogWrite(LOG_ERROR, L"Wasserzeichen: WIC-Factory fehlgeschlagen (0x%08lX)", LogHresult(hr));
        return nullptr;
    }
    ComOwner<IWICBitmap> bitmap;
    hr = wic->CreateBitmap(static_cast<UINT>(width), static_cast<UINT>(height), GUID_WICPixelFormat32bppPBGRA,
                           WICBitmapCacheOnDemand, &bitmap);
    if (FAILED(hr)) {
        LogWrite(LOG_ERROR, L"Wasserzeichen: WIC-Bitmap %dx%d fehlgeschlagen (0x%08lX)", width, height, LogHresult(hr));
        return nullptr;
    }
    {
        ComOwner<ID2D1RenderTarget> target;
        D2D1_RENDER_TARGET_PROPERTIES properties = D2D1::RenderTargetProperties(
            D2D1_RENDER_TARGET_TYPE_DEFAULT,
            D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED), 96.0f, 96.0f);
        hr = GetD2DFactory()->CreateWicBitmapRenderTarget(bitmap.Get(), &properties, &target);
        if (FAILED(hr)) {
            LogWrite(LOG_ERROR, L"Wasserzeichen: Render-Target fehlgeschlagen (0x%08lX)", LogHresult(hr));
            return nullptr;
        }
        target->BeginDraw();
        target->SetTextAntialiasMode(D2D1_TEXT_ANTIALIAS_MODE_GRAYSCALE);
        target->Clear(D2D1::ColorF(0.0f, 0.0f, 0.0f, 0.0f));
        DrawOverlayContent(target.Get(), dwrite, static_cast<float>(width), static_cast<float>(height), practiceText);
        hr = target->EndDraw();
        if (FAILED(hr)) {
            LogWrite(LOG_ERROR, L"Wasserzeichen: Zeichnen fehlgeschlagen (0x%08lX)", LogHresult(hr));
            return nullptr;
        }
    }
    return CopyOut(bitmap.Get(), width, height);
}

}  // namespace

uint8_t* WatermarkBuildOverlay(int32_t width, int32_t height, const wchar_t* practiceText)
{
    if (width < 1 || width > MAX_OVERLAY_SIZE || height < 1 || height > MAX_OVERLAY_SIZE) {
        LogWrite(LOG_ERROR, L"Wasserzeichen: ungueltige Groesse %dx%d", width, height);
        return nullptr;
    }
    IDWriteFactory* dwrite = GetDWriteFactory();
    if (!GetD2DFactory() || !dwrite) {
        LogWrite(LOG_ERROR, L"Wasserzeichen: D2D/DirectWrite-Factory nicht verfuegbar");
        return nullptr;
    }
    // WIC needs COM on this thread; a thread that already has another apartment keeps it.
    bool comStarted = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
    uint8_t* pixels = BuildOverlay(width, height, practiceText, dwrite);
    if (comStarted) CoUninitialize();
    return pixels;
}

void DrawBrandMarkRings(ID2D1RenderTarget* target, float x, float y, float size, ID2D1Brush* brush)
{
    if (!target || !brush || !(size > 0.0f)) return;
    float u = size / 160.0f;
    target->DrawEllipse(D2D1::Ellipse(D2D1::Point2F(x + 65 * u, y + 80 * u), 50 * u, 50 * u), brush, 10 * u, nullptr);
    target->DrawEllipse(D2D1::Ellipse(D2D1::Point2F(x + 125 * u, y + 80 * u), 32 * u, 32 * u), brush, 10 * u, nullptr);
}

void DrawBrandMark(ID2D1RenderTarget* target, float x, float y, float size, const D2D1_COLOR_F& ringColor)
{
    if (!target || !(size > 0.0f)) return;
    ComOwner<ID2D1SolidColorBrush> ring;
    ComOwner<ID2D1SolidColorBrush> dot;
    HRESULT hr = target->CreateSolidColorBrush(ringColor, &ring);
    if (SUCCEEDED(hr)) hr = target->CreateSolidColorBrush(DOT_COLOR, &dot);
    if (FAILED(hr)) {
        LogWrite(LOG_WARN, L"MiruMark: Pinsel konnte nicht erstellt werden (0x%08lX)", LogHresult(hr));
        return;
    }
    DrawBrandMarkRings(target, x, y, size, ring.Get());
    float u = size / 160.0f;
    target->FillEllipse(D2D1::Ellipse(D2D1::Point2F(x + 65 * u, y + 80 * u), 14 * u, 14 * u), dot.Get());
}

IDWriteTextLayout* MakeTextLayout(IDWriteFactory* factory, const wchar_t* text, const wchar_t* family,
                                  IDWriteFontCollection* collection, DWRITE_FONT_WEIGHT weight, float size,
                                  TextLineMetrics* metrics)
{
    *metrics = TextLineMetrics{};
    if (!factory || !text || !family) return nullptr;
    ComOwner<IDWriteTextFormat> format;
    HRESULT hr = factory->CreateTextFormat(family, collection, weight, DWRITE_FONT_STYLE_NORMAL,
                                           DWRITE_FONT_STRETCH_NORMAL, size, L"de-DE", &format);
    if (FAILED(hr)) {
        LogWrite(LOG_WARN, L"Wasserzeichen: Textformat '%ls' fehlgeschlagen (0x%08lX)", family, LogHresult(hr));
        return nullptr;
    }
    format->SetWordWrapping(DWRITE_WORD_WRAPPING_NO_WRAP);
    IDWriteTextLayout* layout = nullptr;
    hr = factory->CreateTextLayout(text, static_cast<UINT32>(wcslen(text)), format.Get(), 1000000.0f, 1000000.0f,
                                   &layout);
    if (FAILED(hr) || !layout) {
        LogWrite(LOG_WARN, L"Wasserzeichen: Textlayout fehlgeschlagen (0x%08lX)", LogHresult(FAILED(hr) ? hr : E_POINTER));
        return nullptr;
    }
    DWRITE_TEXT_METRICS textMetrics{};
    if (SUCCEEDED(layout->GetMetrics(&textMetrics))) metrics->width = textMetrics.width;
    // Line 0 is read only when a call filled the array; a text with line breaks can have more
    // lines than the first guess, then the array is sized from the reported count.
    std::vector<DWRITE_LINE_METRICS> lines(4);
    UINT32 lineCount = 0;
    hr = layout->GetLineMetrics(lines.data(), static_cast<UINT32>(lines.size()), &lineCount);
    if (hr == E_NOT_SUFFICIENT_BUFFER && lineCount > lines.size()) {
        lines.resize(lineCount);
        hr = layout->GetLineMetrics(lines.data(), static_cast<UINT32>(lines.size()), &lineCount);
    }
    if (SUCCEEDED(hr) && lineCount >= 1) {
        metrics->ascent = lines[0].baseline;
        metrics->descent = lines[0].height - lines[0].baseline;
    }
    return layout;
}

void DrawOutlinedText(ID2D1RenderTarget* target, IDWriteTextLayout* layout, float x, float y, float d,
                      ID2D1Brush* main, ID2D1Brush* outline)
{
    if (!target || !layout || !main || !outline) return;
    for (const D2D1_POINT_2F& offset : OUTLINE_OFFSETS)
        target->DrawTextLayout(D2D1::Point2F(x + offset.x * d, y + offset.y * d), layout, outline,
                               D2D1_DRAW_TEXT_OPTIONS_NONE);
    target->DrawTextLayout(D2D1::Point2F(x, y), layout, main, D2D1_DRAW_TEXT_OPTIONS_NONE);
}
