#include "render/renderer.h"

#include <d2d1_1.h>
#include <d2d1_1helper.h>
#include <d3d11.h>
#include <dwrite.h>
#include <dxgi1_2.h>

#include <cfloat>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "app/texts.h"
#include "base/ui_state.h"
#include "base/win_owners.h"
#include "diag/log.h"
#include "diag/log_streak.h"
#include "frames/frame_store.h"
#include "render/cockpit.h"
#include "render/compositor.h"
#include "render/frame_capture.h"
#include "render/graphics_services.h"
#include "render/view_geometry.h"
#include "settings/settings_store.h"

namespace {

constexpr int32_t LOST_FRAMES_PER_TRY = 90;  // about 3 s at the 33 ms frame timer
constexpr HRESULT DEVICE_REMOVED = static_cast<HRESULT>(0x887A0005);
constexpr HRESULT DEVICE_RESET = static_cast<HRESULT>(0x887A0007);
constexpr HRESULT RECREATE_TARGET = static_cast<HRESULT>(0x8899000C);

// The renderer's one record; used on the UI thread only, so it needs no lock.
struct RendererState {
    HWND window;
    ID3D11Device* d3dDevice;
    ID3D11DeviceContext* d3dContext;
    IDXGISwapChain1* swapChain;
    ID2D1Device* d2dDevice;
    ID2D1DeviceContext* d2dContext;
    ID2D1Bitmap1* targetBitmap;
    int32_t backBufferWidth;
    int32_t backBufferHeight;
    float renderScale;
    ID2D1Bitmap1* cameraBitmap[2];
    uint32_t cameraBitmapWidth[2];
    uint32_t cameraBitmapHeight[2];
    LogStreak cameraFailures[2];  // upload failures per camera; kept across a device rebuild
    int32_t lostFrameCount;
    uint32_t lastEndDrawError;
};
RendererState R{};

#ifdef MIRU_TEST_HOOKS
// Test faults and the device observer (UI thread, like the renderer).
struct InjectedFault {
    HRESULT code;
    int32_t count;
};
InjectedFault faults[3]{};
IUnknown* deviceObserver = nullptr;
// Swap-chain calls made while the device context still held the old buffers' state and work.
int32_t unsettledSwapChainCalls = 0;
bool contextSettled = false;  // since the last swap-chain call
bool swapChainMade = false;   // a swap chain has existed for the window before
const GUID OBSERVER_GUID = {0x6d1c2f7a, 0x43b9, 0x4e0e, {0x9a, 0x51, 0x2c, 0x7e, 0x10, 0x44, 0xb3, 0x6f}};

HRESULT Injected(RendererStep step, HRESULT actual)
{
    InjectedFault& fault = faults[static_cast<int>(step)];
    if (fault.count <= 0) return actual;
    --fault.count;
    return fault.code;
}

void ObserveDevice(ID3D11Device* device)
{
    if (deviceObserver) device->SetPrivateDataInterface(OBSERVER_GUID, deviceObserver);
}

void NoteContextSettled()
{
    contextSettled = true;
}

// Before a new swap chain for the window (`replacing` one made before) or ResizeBuffers.
void NoteSwapChainCall(bool replacing)
{
    if (replacing && !contextSettled) ++unsettledSwapChainCalls;
    contextSettled = false;
}

bool SwapChainMadeBefore()
{
    const bool made = swapChainMade;
    swapChainMade = true;
    return made;
}
#else
HRESULT Injected(RendererStep, HRESULT actual)
{
    return actual;
}

void ObserveDevice(ID3D11Device*) {}
void NoteContextSettled() {}
void NoteSwapChainCall(bool) {}
bool SwapChainMadeBefore()
{
    return true;
}
#endif

template <class T>
void ReleaseField(T*& field)
{
    if (field) field->Release();
    field = nullptr;
}

D2D1_RECT_F ToRect(const ViewRect& r)
{
    return D2D1::RectF(r.left, r.top, r.right, r.bottom);
}

D2D1_COLOR_F ToColor(const RgbaColor& c)
{
    return D2D1::ColorF(c.r, c.g, c.b, c.a);
}

// Only one flip-model swap chain may exist per window, and Direct3D destroys what was released
// only later: before a swap chain is replaced (or its buffers resized), the immediate context
// drops every binding and hands its queued work over, so that released buffers and swap chains
// are really gone ("ID3D11DeviceContext::Flush", deferred destruction with flip-model swap
// chains; "IDXGISwapChain::ResizeBuffers": nothing may still be bound to a context).
void SettleContext()
{
    if (!R.d3dContext) return;
    R.d3dContext->ClearState();
    R.d3dContext->Flush();
    NoteContextSettled();
}

void RendererTeardown()
{
    for (int i = 0; i < 2; ++i) {
        ReleaseField(R.cameraBitmap[i]);
        R.cameraBitmapWidth[i] = 0;
        R.cameraBitmapHeight[i] = 0;
    }
    if (R.d2dContext) R.d2dContext->SetTarget(nullptr);
    ReleaseField(R.targetBitmap);
    ReleaseField(R.d2dContext);
    ReleaseField(R.d2dDevice);
    ReleaseField(R.swapChain);
    SettleContext();
    ReleaseField(R.d3dContext);
    ReleaseField(R.d3dDevice);
    R.backBufferWidth = 0;
    R.backBufferHeight = 0;
    R.lastEndDrawError = 0;
}

bool RendererCreateTarget()
{
    if (!R.d2dContext || !R.swapChain) return false;
    ComOwner<IDXGISurface> surface;
    HRESULT hr = R.swapChain->GetBuffer(0, __uuidof(IDXGISurface), reinterpret_cast<void**>(&surface));
    if (FAILED(hr) || !surface) {
        LogWrite(LOG_ERROR, L"Renderer: Backbuffer nicht verf\u00fcgbar (0x%08lX)", LogHresult(FAILED(hr) ? hr : E_POINTER));
        return false;
    }
    UINT windowDpi = R.window ? GetDpiForWindow(R.window) : 0;
    float dpi = windowDpi ? static_cast<float>(windowDpi) : 96.0f;
    D2D1_BITMAP_PROPERTIES1 properties = D2D1::BitmapProperties1(
        D2D1_BITMAP_OPTIONS_TARGET | D2D1_BITMAP_OPTIONS_CANNOT_DRAW,
        D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED), dpi, dpi);
    hr = R.d2dContext->CreateBitmapFromDxgiSurface(surface.Get(), &properties, &R.targetBitmap);
    if (FAILED(hr)) {
        R.targetBitmap = nullptr;
        LogWrite(LOG_ERROR, L"Renderer: Ziel-Bitmap konnte nicht erstellt werden (0x%08lX)", LogHresult(hr));
        return false;
    }
    R.d2dContext->SetTarget(R.targetBitmap);
    // Drawing works in pixels; what must grow with the display is scaled by renderScale.
    R.d2dContext->SetDpi(96.0f, 96.0f);
    R.renderScale = dpi / 96.0f;
    return true;
}

HRESULT CreateD3DDevice(D3D_DRIVER_TYPE type)
{
    return D3D11CreateDevice(nullptr, type, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT, nullptr, 0, D3D11_SDK_VERSION,
                             &R.d3dDevice, nullptr, &R.d3dContext);
}

bool RendererCreateDevice(HWND window)
{
    ID2D1Factory1* factory = GetD2DFactory();
    if (!factory) return false;
    BrandFontFamily();  // registers the brand font before any device exists

    HRESULT hr = CreateD3DDevice(D3D_DRIVER_TYPE_HARDWARE);
    if (FAILED(hr)) {
        LogWrite(LOG_WARN,
                 L"Renderer: Hardware-D3D11-Ger\u00e4t nicht verf\u00fcgbar (0x%08lX) \u2014 Software-Renderer (WARP) "
                 L"wird verwendet",
                 LogHresult(hr));
        hr = CreateD3DDevice(D3D_DRIVER_TYPE_WARP);
        if (FAILED(hr)) {
            LogWrite(LOG_ERROR, L"Renderer: D3D11-Ger\u00e4t konnte nicht erstellt werden (0x%08lX)", LogHresult(hr));
            RendererTeardown();
            return false;
        }
    }
    ObserveDevice(R.d3dDevice);

    // The DXGI objects are owned here, so that every path below releases them.
    ComOwner<IDXGIDevice> dxgiDevice;
    ComOwner<IDXGIAdapter> adapter;
    ComOwner<IDXGIFactory2> dxgiFactory;
    hr = Injected(RendererStep::DxgiFactory,
                  R.d3dDevice->QueryInterface(__uuidof(IDXGIDevice), reinterpret_cast<void**>(&dxgiDevice)));
    if (SUCCEEDED(hr)) hr = dxgiDevice->GetAdapter(&adapter);
    if (SUCCEEDED(hr)) hr = adapter->GetParent(__uuidof(IDXGIFactory2), reinterpret_cast<void**>(&dxgiFactory));
    if (FAILED(hr)) {
        LogWrite(LOG_ERROR, L"Renderer: DXGI-Factory nicht verf\u00fcgbar (0x%08lX)", LogHresult(hr));
        RendererTeardown();
        return false;
    }

    RECT client{};
    GetClientRect(window, &client);
    int32_t width = client.right - client.left;
    int32_t height = client.bottom - client.top;
    if (width < 1) width = 1280;
    if (height < 1) height = 800;

    DXGI_SWAP_CHAIN_DESC1 description{};
    description.Width = static_cast<UINT>(width);
    description.Height = static_cast<UINT>(height);
    description.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
    description.Stereo = FALSE;
    description.SampleDesc.Count = 1;
    description.SampleDesc.Quality = 0;
    description.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
    description.BufferCount = 2;
    description.Scaling = DXGI_SCALING_NONE;
    description.SwapEffect = DXGI_SWAP_EFFECT_FLIP_DISCARD;
    description.AlphaMode = DXGI_ALPHA_MODE_IGNORE;
    description.Flags = 0;
    NoteSwapChainCall(SwapChainMadeBefore());
    hr = dxgiFactory->CreateSwapChainForHwnd(R.d3dDevice, window, &description, nullptr, nullptr, &R.swapChain);
    if (FAILED(hr)) {
        LogWrite(LOG_WARN, L"Renderer: Swapchain (Scaling NONE) fehlgeschlagen (0x%08lX) \u2014 Fallback auf STRETCH",
                 LogHresult(hr));
        description.Scaling = DXGI_SCALING_STRETCH;
        hr = dxgiFactory->CreateSwapChainForHwnd(R.d3dDevice, window, &description, nullptr, nullptr, &R.swapChain);
        if (FAILED(hr)) {
            R.swapChain = nullptr;
            LogWrite(LOG_ERROR, L"Renderer: Swapchain konnte nicht erstellt werden (0x%08lX)", LogHresult(hr));
            RendererTeardown();
            return false;
        }
    }
    // Alt+Enter never switches to exclusive full screen; the app's own full screen is a window.
    dxgiFactory->MakeWindowAssociation(window, DXGI_MWA_NO_ALT_ENTER);
    R.backBufferWidth = width;
    R.backBufferHeight = height;

    hr = factory->CreateDevice(dxgiDevice.Get(), &R.d2dDevice);
    if (SUCCEEDED(hr)) hr = R.d2dDevice->CreateDeviceContext(D2D1_DEVICE_CONTEXT_OPTIONS_NONE, &R.d2dContext);
    if (FAILED(hr)) {
        LogWrite(LOG_ERROR, L"Renderer: D2D-Ger\u00e4t/-Kontext konnte nicht erstellt werden (0x%08lX)", LogHresult(hr));
        RendererTeardown();
        return false;
    }
    if (!RendererCreateTarget()) {
        RendererTeardown();
        return false;
    }
    LogWrite(LOG_INFO, L"Renderer bereit (%dx%d)", R.backBufferWidth, R.backBufferHeight);
    return true;
}

bool RendererRebuild()
{
    HWND window = R.window;
    RendererTeardown();
    if (!window) return false;
    R.window = window;
    if (R.renderScale <= 0.0f) R.renderScale = 1.0f;
    return RendererCreateDevice(window);
}

// The camera's cached bitmap refilled from the Frame; null (placeholder) when it cannot be.
ID2D1Bitmap1* UploadCameraBitmap(int camera, const Frame* frame)
{
    if (!R.d2dContext || !frame->pixels || frame->width < 1 || frame->height < 1 ||
        static_cast<int64_t>(frame->stride) < static_cast<int64_t>(frame->width) * 4)
        return nullptr;
    uint32_t width = static_cast<uint32_t>(frame->width);
    uint32_t height = static_cast<uint32_t>(frame->height);
    if (R.cameraBitmap[camera] && (R.cameraBitmapWidth[camera] != width || R.cameraBitmapHeight[camera] != height))
        ReleaseField(R.cameraBitmap[camera]);
    if (!R.cameraBitmap[camera]) {
        D2D1_BITMAP_PROPERTIES1 properties = D2D1::BitmapProperties1(
            D2D1_BITMAP_OPTIONS_NONE, D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED),
            96.0f, 96.0f);
        HRESULT hr = R.d2dContext->CreateBitmap(D2D1::SizeU(width, height), nullptr, 0, &properties,
                                                &R.cameraBitmap[camera]);
        if (FAILED(hr)) {
            R.cameraBitmap[camera] = nullptr;
            if (LogStreakFailed(R.cameraFailures[camera]))
                LogWrite(LOG_ERROR, L"Renderer: Kamera-Bitmap %dx%d konnte nicht erstellt werden (0x%08lX)",
                         frame->width, frame->height, LogHresult(hr));
            return nullptr;
        }
        R.cameraBitmapWidth[camera] = width;
        R.cameraBitmapHeight[camera] = height;
    }
    HRESULT hr = R.cameraBitmap[camera]->CopyFromMemory(nullptr, frame->pixels, static_cast<UINT32>(frame->stride));
    if (FAILED(hr)) {
        if (LogStreakFailed(R.cameraFailures[camera]))
            LogWrite(LOG_ERROR, L"Renderer: Kamera-Frame konnte nicht kopiert werden (0x%08lX)", LogHresult(hr));
        return nullptr;
    }
    LogStreakSucceeded(R.cameraFailures[camera],
                       camera == 0 ? L"Renderer: Wide-Kamerabild" : L"Renderer: Makro-Kamerabild");
    return R.cameraBitmap[camera];
}

void DrawNoSignal(const D2D1_RECT_F& rect, bool macro)
{
    if (!R.d2dContext || !(rect.right > rect.left) || !(rect.bottom > rect.top)) return;
    ID2D1DeviceContext* context = R.d2dContext;
    // Drifts slowly between dark blue-cyan hues; the Macro placeholder out of phase.
    double t = static_cast<double>(GetTickCount64()) / 1000.0 * 0.15;
    double u = 0.5 * std::sin(t + (macro ? 3.0 : 0.0));
    D2D1_GRADIENT_STOP stops[2] = {{0.0f, ToColor(HsvToRgba((0.5 + u) * 0.08 + 0.55, 0.22, 0.2))},
                                   {1.0f, ToColor(HsvToRgba(0.6, 0.3, 0.06))}};
    ComOwner<ID2D1GradientStopCollection> stopCollection;
    ComOwner<ID2D1LinearGradientBrush> gradient;
    if (SUCCEEDED(context->CreateGradientStopCollection(stops, 2, D2D1_GAMMA_2_2, D2D1_EXTEND_MODE_CLAMP,
                                                        &stopCollection)) &&
        SUCCEEDED(context->CreateLinearGradientBrush(
            D2D1::LinearGradientBrushProperties(D2D1::Point2F(rect.left, rect.top), D2D1::Point2F(rect.right, rect.bottom)),
            stopCollection.Get(), &gradient)))
        context->FillRectangle(rect, gradient.Get());

    IDWriteFactory* dwrite = GetDWriteFactory();
    if (!dwrite) return;
    ComOwner<IDWriteTextFormat> format;
    float scale = R.renderScale > 0.0f ? R.renderScale : 1.0f;
    if (FAILED(dwrite->CreateTextFormat(L"Consolas", nullptr, static_cast<DWRITE_FONT_WEIGHT>(500), DWRITE_FONT_STYLE_NORMAL,
                                        DWRITE_FONT_STRETCH_NORMAL, (macro ? 11.0f : 13.0f) * scale, L"en-US",
                                        &format)))
        return;
    format->SetTextAlignment(DWRITE_TEXT_ALIGNMENT_CENTER);
    format->SetParagraphAlignment(DWRITE_PARAGRAPH_ALIGNMENT_CENTER);
    ComOwner<ID2D1SolidColorBrush> brush;
    if (FAILED(context->CreateSolidColorBrush(D2D1::ColorF(1.0f, 1.0f, 1.0f, 0.35f), &brush))) return;
    const wchar_t* text = macro ? PickText(L"MACRO (kein Signal)", L"MACRO (no signal)")
                                : PickText(L"WIDE (kein Signal)", L"WIDE (no signal)");
    context->DrawText(text, static_cast<UINT32>(wcslen(text)), format.Get(), rect, brush.Get(),
                      D2D1_DRAW_TEXT_OPTIONS_NONE, DWRITE_MEASURING_MODE_NATURAL);
}

D2D1_LAYER_PARAMETERS1 LayerParameters(ID2D1Geometry* mask, float opacity)
{
    return D2D1::LayerParameters1(D2D1::RectF(-FLT_MAX, -FLT_MAX, FLT_MAX, FLT_MAX), mask,
                                  D2D1_ANTIALIAS_MODE_PER_PRIMITIVE, D2D1::IdentityMatrix(), opacity, nullptr,
                                  D2D1_LAYER_OPTIONS1_NONE);
}

// The outline of the partial picture: the two top corners rounded, the bottom ones square.
// The caller owns the result; null when the path cannot be made.
ID2D1PathGeometry* PipOutline(const ViewRect& pip, float radius)
{
    ComOwner<ID2D1PathGeometry> path;
    ID2D1Factory1* factory = GetD2DFactory();
    if (!factory || FAILED(factory->CreatePathGeometry(&path))) return nullptr;
    ComOwner<ID2D1GeometrySink> sink;
    if (FAILED(path->Open(&sink))) return nullptr;
    float x = pip.left, top = pip.top, right = pip.right, bottom = pip.bottom, r = radius;
    sink->BeginFigure(D2D1::Point2F(x, bottom), D2D1_FIGURE_BEGIN_FILLED);
    sink->AddLine(D2D1::Point2F(x, top + r));
    sink->AddArc(D2D1::ArcSegment(D2D1::Point2F(x + r, top), D2D1::SizeF(r, r), 0.0f, D2D1_SWEEP_DIRECTION_CLOCKWISE,
                                  D2D1_ARC_SIZE_SMALL));
    sink->AddLine(D2D1::Point2F(right - r, top));
    sink->AddArc(D2D1::ArcSegment(D2D1::Point2F(right, top + r), D2D1::SizeF(r, r), 0.0f,
                                  D2D1_SWEEP_DIRECTION_CLOCKWISE, D2D1_ARC_SIZE_SMALL));
    sink->AddLine(D2D1::Point2F(right, bottom));
    sink->EndFigure(D2D1_FIGURE_END_CLOSED);
    if (FAILED(sink->Close())) return nullptr;
    return path.Detach();
}

void DrawMacroPicture(const ViewRect& video, ID2D1Bitmap1* macro, const Frame* frame)
{
    ID2D1DeviceContext* context = R.d2dContext;
    float scale = R.renderScale > 0.0f ? R.renderScale : 1.0f;
    ViewRect pip{};
    WindowPip kind = WindowPipRect(video, UiState.pipSize, &pip);
    if (kind == WindowPip::None) return;
    D2D1_RECT_F pipRect = ToRect(pip);

    // The developer stabilisation frame: the whole unsteadied image where it lies around the
    // steadied picture, under the picture drawn next.
    if (Settings.devStabFrame && Settings.stabilizeMacro && macro) {
        D2D1_RECT_F frameRect = ToRect(StabFrameRect(pip, frame->stabOffsetX, frame->stabOffsetY, frame->stabZoom));
        D2D1_LAYER_PARAMETERS1 layer = LayerParameters(nullptr, 0.4f);
        context->PushLayer(&layer, nullptr);
        DrawCameraFrame(context, macro, frame->width, frame->height, frameRect, 1.0, 0.0, 0.0);
        context->PopLayer();
        ComOwner<ID2D1SolidColorBrush> amber;
        if (SUCCEEDED(context->CreateSolidColorBrush(D2D1::ColorF(1.0f, 0.8f, 0.0f, 0.85f), &amber)))
            context->DrawRectangle(frameRect, amber.Get(), 1.5f * scale, nullptr);
    }

    auto drawContent = [&] {
        if (macro)
            DrawCameraFrame(context, macro, frame->width, frame->height, pipRect, frame->stabZoom, frame->stabOffsetX,
                            frame->stabOffsetY);
        else
            DrawNoSignal(pipRect, true);
    };
    if (kind == WindowPip::Full) {
        drawContent();
        return;
    }
    float pw = pip.right - pip.left;
    float ph = pip.bottom - pip.top;
    ComOwner<ID2D1PathGeometry> path;
    if (pw > 0.0f && ph > 0.0f) path.Attach(PipOutline(pip, WindowPipCornerRadius(pip, scale)));
    if (path) {
        D2D1_LAYER_PARAMETERS1 layer = LayerParameters(path.Get(), 1.0f);
        context->PushLayer(&layer, nullptr);
        drawContent();
        context->PopLayer();
    } else {
        drawContent();
    }
    ComOwner<ID2D1SolidColorBrush> border;
    if (FAILED(context->CreateSolidColorBrush(D2D1::ColorF(1.0f, 1.0f, 1.0f, 1.0f), &border))) return;
    if (path)
        context->DrawGeometry(path.Get(), border.Get(), 2.0f * scale, nullptr);
    else
        context->DrawRectangle(pipRect, border.Get(), 2.0f * scale, nullptr);
}

// Copies the drawn target into a new tightly packed buffer (before it is presented).
bool ReadTarget(uint8_t** pixels)
{
    D2D1_BITMAP_PROPERTIES1 properties = D2D1::BitmapProperties1(
        D2D1_BITMAP_OPTIONS_CPU_READ | D2D1_BITMAP_OPTIONS_CANNOT_DRAW,
        D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED), 96.0f, 96.0f);
    ComOwner<ID2D1Bitmap1> readback;
    UINT32 width = static_cast<UINT32>(R.backBufferWidth);
    UINT32 height = static_cast<UINT32>(R.backBufferHeight);
    if (FAILED(R.d2dContext->CreateBitmap(D2D1::SizeU(width, height), nullptr, 0, &properties, &readback)) ||
        FAILED(readback->CopyFromBitmap(nullptr, R.targetBitmap, nullptr)))
        return false;
    D2D1_MAPPED_RECT mapped{};
    if (FAILED(readback->Map(D2D1_MAP_OPTIONS_READ, &mapped)) || !mapped.bits) return false;
    size_t rowBytes = static_cast<size_t>(width) * 4;
    auto* copy = static_cast<uint8_t*>(std::malloc(rowBytes * height));
    if (copy)
        for (UINT32 row = 0; row < height; ++row)
            std::memcpy(copy + rowBytes * row, mapped.bits + static_cast<size_t>(mapped.pitch) * row, rowBytes);
    readback->Unmap();
    *pixels = copy;
    return copy != nullptr;
}

struct FrameHold {
    Frame* frame;
    explicit FrameHold(Frame* acquired) : frame(acquired) {}
    ~FrameHold() { FrameRelease(frame); }
    FrameHold(const FrameHold&) = delete;
    FrameHold& operator=(const FrameHold&) = delete;
};

// One frame; with `capture` the finished picture is copied out before it is presented.
bool DrawFrame(uint8_t** capture)
{
    if (!R.d2dContext || !R.targetBitmap || !R.swapChain) {
        if (!R.window) return false;
        if (++R.lostFrameCount < LOST_FRAMES_PER_TRY) return false;
        R.lostFrameCount = 0;
        if (!RendererRebuild()) return false;
    }
    R.lostFrameCount = 0;
    float W = static_cast<float>(R.backBufferWidth);
    float H = static_cast<float>(R.backBufferHeight);
    float scale = R.renderScale > 0.0f ? R.renderScale : 1.0f;
    UiState.dpiScale = scale;

    ID2D1DeviceContext* context = R.d2dContext;
    bool bothCameras = false;
    {
        FrameHold wide(FrameAcquireLatest(SLOT_WIDE));
        FrameHold macro(FrameAcquireLatest(SLOT_MACRO));
        context->BeginDraw();
        context->Clear(D2D1::ColorF(0.0f, 0.0f, 0.0f, 1.0f));
        ViewRect video = WindowVideoRect(W, H, UiState.cockpitVisible, scale);
        // No camera picture while the cameras are not live, even if a Frame is still published.
        ID2D1Bitmap1* wideBitmap = UiState.live && wide.frame ? UploadCameraBitmap(0, wide.frame) : nullptr;
        ID2D1Bitmap1* macroBitmap = UiState.live && macro.frame ? UploadCameraBitmap(1, macro.frame) : nullptr;
        bothCameras = wideBitmap && macroBitmap;
        if (W > 0.0f && video.bottom - video.top > 0.0f) {
            D2D1_RECT_F videoRect = ToRect(video);
            context->PushAxisAlignedClip(videoRect, D2D1_ANTIALIAS_MODE_PER_PRIMITIVE);
            if (wideBitmap)
                DrawCameraFrame(context, wideBitmap, wide.frame->width, wide.frame->height, videoRect, 1.0, 0.0, 0.0);
            else
                DrawNoSignal(videoRect, false);
            DrawMacroPicture(video, macroBitmap, macro.frame);
            context->PopAxisAlignedClip();
        }
        CockpitDraw(context, W, H, IsDarkAppearance());
    }

    HRESULT hr = Injected(RendererStep::EndDraw, context->EndDraw());
    if (hr == RECREATE_TARGET) {
        LogWrite(LOG_WARN, L"Renderer: Direct2D-Ziel verloren \u2014 Ger\u00e4t wird neu aufgebaut");
        RendererRebuild();
        return false;
    }
    if (FAILED(hr)) {
        if (static_cast<uint32_t>(hr) != R.lastEndDrawError) {
            R.lastEndDrawError = static_cast<uint32_t>(hr);
            LogWrite(LOG_ERROR, L"Renderer: EndDraw fehlgeschlagen (0x%08lX)", LogHresult(hr));
        }
        return false;
    }
    R.lastEndDrawError = 0;
    bool captured = capture && ReadTarget(capture);
    if (FrameCaptureDue(bothCameras)) {
        uint8_t* pixels = nullptr;
        if (ReadTarget(&pixels)) FrameCaptureSave(pixels, R.backBufferWidth, R.backBufferHeight);
        std::free(pixels);
    }
    hr = Injected(RendererStep::Present, R.swapChain->Present(1, 0));
    if (hr == DEVICE_REMOVED || hr == DEVICE_RESET) {
        LogWrite(LOG_WARN, L"Renderer: Grafikger\u00e4t verloren (0x%08lX) \u2014 Neuaufbau", LogHresult(hr));
        RendererRebuild();
    }
    return capture ? captured : true;
}

}  // namespace

bool RendererInit(HWND window)
{
    RendererTeardown();
    R.window = window;
    if (R.renderScale <= 0.0f) R.renderScale = 1.0f;
    if (!window) return false;
    return RendererCreateDevice(window);
}

void RendererResize(int32_t width, int32_t height)
{
    if (!R.d2dContext || !R.swapChain) return;
    R.d2dContext->SetTarget(nullptr);
    ReleaseField(R.targetBitmap);
    SettleContext();
    int32_t w = width < 1 ? 1 : width;
    int32_t h = height < 1 ? 1 : height;
    NoteSwapChainCall(true);
    HRESULT hr = R.swapChain->ResizeBuffers(0, static_cast<UINT>(w), static_cast<UINT>(h), DXGI_FORMAT_UNKNOWN, 0);
    if (hr == DEVICE_REMOVED || hr == DEVICE_RESET) {
        LogWrite(LOG_WARN, L"Renderer: Ger\u00e4t beim Skalieren verloren (0x%08lX) \u2014 Neuaufbau", LogHresult(hr));
        RendererRebuild();
        return;
    }
    if (FAILED(hr)) {
        LogWrite(LOG_ERROR, L"Renderer: ResizeBuffers fehlgeschlagen (0x%08lX)", LogHresult(hr));
        return;
    }
    R.backBufferWidth = w;
    R.backBufferHeight = h;
    RendererCreateTarget();
}

void RendererDrawFrame()
{
    DrawFrame(nullptr);
}

void RendererShutdown()
{
    RendererTeardown();
    R.window = nullptr;
    // Text formats do not depend on the device and survive a rebuild, but not the factories.
    CockpitReleaseTextFormats();
    GraphicsServicesRelease();
}

bool RendererIsReady()
{
    return R.d2dContext && R.targetBitmap && R.swapChain;
}

#ifdef MIRU_TEST_HOOKS
bool RendererCaptureFrame(uint8_t** pixels, int32_t* width, int32_t* height)
{
    *pixels = nullptr;
    if (!DrawFrame(pixels)) return false;
    *width = R.backBufferWidth;
    *height = R.backBufferHeight;
    return true;
}

void RendererFailForTest(RendererStep step, HRESULT code, int32_t count)
{
    faults[static_cast<int>(step)] = InjectedFault{code, count};
}

void RendererObserveDevicesForTest(IUnknown* observer)
{
    deviceObserver = observer;
}

int32_t RendererUnsettledSwapChainCallsForTest()
{
    return unsettledSwapChainCalls;
}
#endif
