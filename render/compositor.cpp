#include "render/compositor.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>

#include "base/win_owners.h"
#include "diag/log.h"

namespace {

std::atomic<bool> warpWarned{false};

D2D1_BITMAP_PROPERTIES1 BitmapProperties(D2D1_BITMAP_OPTIONS options)
{
    return D2D1::BitmapProperties1(options, D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED),
                                   96.0f, 96.0f);
}

HRESULT CreateDevice(D3D_DRIVER_TYPE type, ID3D11Device** device, ID3D11DeviceContext** context)
{
    return D3D11CreateDevice(nullptr, type, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT, nullptr, 0, D3D11_SDK_VERSION,
                             device, nullptr, context);
}

// Makes the device and the Direct2D objects; false (logged) leaves the record for Destroy.
bool BuildCompositor(OffscreenCompositor* c)
{
    HRESULT hr = CreateDevice(D3D_DRIVER_TYPE_HARDWARE, &c->d3dDevice, &c->d3dContext);
    if (FAILED(hr)) {
        bool expected = false;
        if (warpWarned.compare_exchange_strong(expected, true))
            LogWrite(LOG_WARN,
                     L"Offscreen-Compositor: Hardware-D3D11-Ger\u00e4t nicht verf\u00fcgbar (0x%08lX) \u2014 "
                     L"Software-Renderer (WARP) wird verwendet",
                     LogHresult(hr));
        hr = CreateDevice(D3D_DRIVER_TYPE_WARP, &c->d3dDevice, &c->d3dContext);
        if (FAILED(hr)) {
            LogWrite(LOG_ERROR, L"Offscreen-Compositor: D3D11-Ger\u00e4t konnte nicht erstellt werden (0x%08lX)",
                     LogHresult(hr));
            return false;
        }
    }
    hr = c->d3dDevice->QueryInterface(__uuidof(IDXGIDevice), reinterpret_cast<void**>(&c->dxgiDevice));
    if (FAILED(hr)) {
        LogWrite(LOG_ERROR, L"Offscreen-Compositor: DXGI-Ger\u00e4t nicht verf\u00fcgbar (0x%08lX)", LogHresult(hr));
        return false;
    }
    {
        // A factory of the compositor's own (the shared one belongs to the UI thread); the device
        // keeps it alive.
        ComOwner<ID2D1Factory1> factory;
        hr = D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory1), nullptr,
                               reinterpret_cast<void**>(&factory));
        if (SUCCEEDED(hr)) hr = factory->CreateDevice(c->dxgiDevice, &c->d2dDevice);
    }
    if (FAILED(hr)) {
        LogWrite(LOG_ERROR, L"Offscreen-Compositor: D2D-Ger\u00e4t konnte nicht erstellt werden (0x%08lX)",
                 LogHresult(hr));
        return false;
    }
    hr = c->d2dDevice->CreateDeviceContext(D2D1_DEVICE_CONTEXT_OPTIONS_NONE, &c->d2dContext);
    if (FAILED(hr)) {
        LogWrite(LOG_ERROR, L"Offscreen-Compositor: D2D-Kontext konnte nicht erstellt werden (0x%08lX)",
                 LogHresult(hr));
        return false;
    }
    D2D1_SIZE_U size = D2D1::SizeU(static_cast<UINT32>(c->width), static_cast<UINT32>(c->height));
    D2D1_BITMAP_PROPERTIES1 target = BitmapProperties(D2D1_BITMAP_OPTIONS_TARGET);
    hr = c->d2dContext->CreateBitmap(size, nullptr, 0, &target, &c->targetBitmap);
    if (FAILED(hr)) {
        LogWrite(LOG_ERROR, L"Offscreen-Compositor: Ziel-Bitmap %dx%d konnte nicht erstellt werden (0x%08lX)",
                 c->width, c->height, LogHresult(hr));
        return false;
    }
    D2D1_BITMAP_PROPERTIES1 readback =
        BitmapProperties(D2D1_BITMAP_OPTIONS_CPU_READ | D2D1_BITMAP_OPTIONS_CANNOT_DRAW);
    hr = c->d2dContext->CreateBitmap(size, nullptr, 0, &readback, &c->readbackBitmap);
    if (FAILED(hr)) {
        LogWrite(LOG_ERROR, L"Offscreen-Compositor: Readback-Bitmap konnte nicht erstellt werden (0x%08lX)",
                 LogHresult(hr));
        return false;
    }
    return true;
}

template <class T>
void ReleaseField(T*& field)
{
    if (field) field->Release();
    field = nullptr;
}

// A camera Frame as a bitmap; null with `failed` set when Direct2D refused, null without it
// when the Frame has no usable image (it is then left out).
ID2D1Bitmap1* FrameBitmap(ID2D1DeviceContext* context, const Frame* frame, HRESULT* code)
{
    *code = S_OK;
    if (!frame || !frame->pixels || frame->width <= 0 || frame->height <= 0) return nullptr;
    return CreateBitmapFromPixels(context, frame->pixels, static_cast<uint32_t>(frame->width),
                                  static_cast<uint32_t>(frame->height), frame->stride, code);
}

// A failed frame: the first of a streak logs "Offscreen-Compositor: <what> (0x...)<note>" (both
// plain text), the ones after it are only counted. Always false.
bool ComposeFailed(OffscreenCompositor* c, const wchar_t* what, HRESULT hr, const wchar_t* note = L"")
{
    if (LogStreakFailed(c->composeFailures))
        LogWrite(LOG_ERROR, L"Offscreen-Compositor: %ls (0x%08lX)%ls", what, LogHresult(hr), note);
    return false;
}

}  // namespace

ID2D1Bitmap1* CreateBitmapFromPixels(ID2D1DeviceContext* context, const void* pixels, uint32_t width,
                                     uint32_t height, int32_t pitch, HRESULT* code)
{
    *code = S_OK;
    // Compared in signed 64-bit arithmetic, so a negative pitch never passes.
    if (!context || !pixels || width == 0 || height == 0 || static_cast<int64_t>(width) * 4 > pitch)
        return nullptr;
    D2D1_BITMAP_PROPERTIES1 properties = BitmapProperties(D2D1_BITMAP_OPTIONS_NONE);
    ID2D1Bitmap1* bitmap = nullptr;
    HRESULT hr = context->CreateBitmap(D2D1::SizeU(width, height), pixels, static_cast<UINT32>(pitch), &properties,
                                       &bitmap);
    *code = hr;
    if (FAILED(hr)) {
        if (bitmap) bitmap->Release();
        return nullptr;
    }
    return bitmap;
}

OffscreenCompositor* CompositorCreate(int32_t width, int32_t height)
{
    if (width < 1 || height < 1) {
        LogWrite(LOG_ERROR, L"Offscreen-Compositor: ung\u00fcltige Gr\u00f6\u00dfe %dx%d", width, height);
        return nullptr;
    }
    auto* c = static_cast<OffscreenCompositor*>(std::calloc(1, sizeof(OffscreenCompositor)));
    if (!c) {
        LogWrite(LOG_ERROR, L"Offscreen-Compositor: kein Speicher");
        return nullptr;
    }
    c->width = width;
    c->height = height;
    if (!BuildCompositor(c)) {
        CompositorDestroy(c);
        return nullptr;
    }
    return c;
}

void CompositorDestroy(OffscreenCompositor* c)
{
    if (!c) return;
    if (c->d2dContext) c->d2dContext->SetTarget(nullptr);
    ReleaseField(c->overlayBitmap);
    ReleaseField(c->readbackBitmap);
    ReleaseField(c->targetBitmap);
    ReleaseField(c->d2dContext);
    ReleaseField(c->d2dDevice);
    ReleaseField(c->dxgiDevice);
    ReleaseField(c->d3dContext);
    ReleaseField(c->d3dDevice);
    std::free(c);
}

bool CompositorCompose(OffscreenCompositor* c, const Frame* wide, const Frame* macro, float pipFraction,
                       const uint8_t* overlay, int32_t overlayWidth, int32_t overlayHeight, uint8_t* out,
                       int32_t outStride)
{
    if (!c || !c->d2dContext || !c->targetBitmap || !c->readbackBitmap || !out || outStride < 1) return false;
    ID2D1DeviceContext* context = c->d2dContext;

    HRESULT hr = S_OK;
    ComOwner<ID2D1Bitmap1> wideBitmap(FrameBitmap(context, wide, &hr));
    if (!wideBitmap && FAILED(hr)) return ComposeFailed(c, L"Wide-Bitmap konnte nicht erstellt werden", hr);
    ComOwner<ID2D1Bitmap1> macroBitmap(FrameBitmap(context, macro, &hr));
    if (!macroBitmap && FAILED(hr)) return ComposeFailed(c, L"Makro-Bitmap konnte nicht erstellt werden", hr);

    ID2D1Bitmap1* overlayBitmap = nullptr;
    if (overlayWidth >= 1 && overlayHeight >= 1 && overlay) {
        if (c->overlayBitmap && c->overlaySource == overlay && c->overlayWidth == overlayWidth &&
            c->overlayHeight == overlayHeight) {
            overlayBitmap = c->overlayBitmap;
        } else {
            ReleaseField(c->overlayBitmap);
            c->overlaySource = nullptr;
            // The pitch in 64 bits: a width beyond INT32_MAX / 4 must not wrap into a valid one.
            int64_t pitch = static_cast<int64_t>(overlayWidth) * 4;
            c->overlayBitmap = pitch <= INT32_MAX
                                   ? CreateBitmapFromPixels(context, overlay, static_cast<uint32_t>(overlayWidth),
                                                            static_cast<uint32_t>(overlayHeight),
                                                            static_cast<int32_t>(pitch), &hr)
                                   : nullptr;
            if (c->overlayBitmap) {
                c->overlaySource = overlay;
                c->overlayWidth = overlayWidth;
                c->overlayHeight = overlayHeight;
                overlayBitmap = c->overlayBitmap;
            } else if (FAILED(hr)) {
                return ComposeFailed(c, L"Overlay-Bitmap konnte nicht erstellt werden", hr);
            }
        }
    }

    context->SetTarget(c->targetBitmap);
    context->BeginDraw();
    bool withMacro = static_cast<bool>(macroBitmap);
    CompositorDrawLayout(context, wideBitmap.Get(), wideBitmap ? wide->width : 0, wideBitmap ? wide->height : 0,
                         macroBitmap.Get(), withMacro ? macro->width : 0, withMacro ? macro->height : 0,
                         static_cast<float>(c->width), static_cast<float>(c->height), pipFraction,
                         withMacro ? macro->stabZoom : 1.0, withMacro ? macro->stabOffsetX : 0.0,
                         withMacro ? macro->stabOffsetY : 0.0, overlayBitmap);
    hr = context->EndDraw();
    if (FAILED(hr))
        return ComposeFailed(c, L"EndDraw fehlgeschlagen", hr,
                             hr == static_cast<HRESULT>(D2DERR_RECREATE_TARGET) ? L" \u2014 Ger\u00e4t verloren" : L"");
    hr = c->readbackBitmap->CopyFromBitmap(nullptr, c->targetBitmap, nullptr);
    if (FAILED(hr)) return ComposeFailed(c, L"CopyFromBitmap fehlgeschlagen", hr);
    D2D1_MAPPED_RECT mapped{};
    hr = c->readbackBitmap->Map(D2D1_MAP_OPTIONS_READ, &mapped);
    if (FAILED(hr) || !mapped.bits) {
        if (SUCCEEDED(hr)) c->readbackBitmap->Unmap();
        return ComposeFailed(c, L"Map fehlgeschlagen", hr);
    }
    size_t rowBytes = std::min(static_cast<size_t>(c->width) * 4, static_cast<size_t>(outStride));
    for (int32_t row = 0; row < c->height; ++row)
        std::memcpy(out + static_cast<size_t>(row) * static_cast<size_t>(outStride),
                    mapped.bits + static_cast<size_t>(row) * mapped.pitch, rowBytes);
    hr = c->readbackBitmap->Unmap();
    if (FAILED(hr)) LogWrite(LOG_WARN, L"Offscreen-Compositor: Unmap fehlgeschlagen (0x%08lX)", LogHresult(hr));
    LogStreakSucceeded(c->composeFailures, L"Offscreen-Compositor: Komposition");
    return true;
}

void CompositorDrawLayout(ID2D1DeviceContext* context, ID2D1Bitmap* wide, int32_t wideWidth, int32_t wideHeight,
                          ID2D1Bitmap* macro, int32_t macroWidth, int32_t macroHeight, float frameWidth,
                          float frameHeight, float pipFraction, double macroZoom, double macroShiftX,
                          double macroShiftY, ID2D1Bitmap* overlay)
{
    if (!context || !(frameWidth > 0.0f) || !(frameHeight > 0.0f)) return;
    // A clear needs no brush that could fail: the frame is opaque black under everything, so no
    // earlier frame can show through.
    context->Clear(D2D1::ColorF(0.0f, 0.0f, 0.0f, 1.0f));
    if (wide) DrawCameraFrame(context, wide, wideWidth, wideHeight, D2D1::RectF(0, 0, frameWidth, frameHeight), 1.0, 0, 0);
    ViewRect box{};
    if (macro && CompositionPipBox(frameWidth, frameHeight, pipFraction, &box))
        DrawCameraFrame(context, macro, macroWidth, macroHeight, D2D1::RectF(box.left, box.top, box.right, box.bottom),
                        macroZoom, macroShiftX, macroShiftY);
    if (overlay) {
        D2D1_RECT_F whole = D2D1::RectF(0, 0, frameWidth, frameHeight);
        context->DrawBitmap(overlay, &whole, 1.0f,
                            D2D1_INTERPOLATION_MODE_LINEAR, nullptr, nullptr);
    }
}

void DrawCameraFrame(ID2D1DeviceContext* context, ID2D1Bitmap* bitmap, int32_t w, int32_t h, const D2D1_RECT_F& dest,
                     double zoom, double shiftX, double shiftY)
{
    float destWidth = dest.right - dest.left;
    float destHeight = dest.bottom - dest.top;
    if (!context || !bitmap || w <= 0 || h <= 0 || !(destWidth > 0.0f) || !(destHeight > 0.0f)) return;
    SourceRect src = CameraSourceRect(w, h, destWidth, destHeight, zoom, shiftX, shiftY);
    D2D1_RECT_F source = D2D1::RectF(static_cast<float>(src.x), static_cast<float>(src.y),
                                     static_cast<float>(src.x + src.width), static_cast<float>(src.y + src.height));
    D2D1_MATRIX_3X2_F saved;
    context->GetTransform(&saved);
    // Turned about dest's centre before the caller's transform applies.
    D2D1::Matrix3x2F turn(-1.0f, 0.0f, 0.0f, -1.0f, dest.left + dest.right, dest.top + dest.bottom);
    context->SetTransform(turn * *D2D1::Matrix3x2F::ReinterpretBaseType(&saved));
    context->DrawBitmap(bitmap, &dest, 1.0f, D2D1_INTERPOLATION_MODE_LINEAR, &source, nullptr);
    context->SetTransform(saved);
}
