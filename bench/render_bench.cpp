// Cost of the live picture under Wine (or Windows): the product's compositions and window
// frames beside the bare Direct2D calls they consist of, interleaved in one run. Absolute times
// under Wine's software rasteriser say little; the ratio product / bare calls is what counts.
//   CompositorCompose at 1920 x 1080 and 2560 x 1440 with two 1080p camera Frames and the
//   watermark overlay, against: two bitmaps from memory, the draw, CopyFromBitmap, Map and the
//   row copy on a device of the same kind;
//   RendererDrawFrame at 1280 x 800 with two published 1080p Frames, against: two
//   CopyFromMemory into kept bitmaps, the draw and Present on a swap chain of the same kind.
#include <windows.h>
#include <d2d1_1.h>
#include <d3d11.h>
#include <dxgi1_2.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "base/ui_state.h"
#include "frames/frame_store.h"
#include "render/compositor.h"
#include "render/renderer.h"
#include "render/view_geometry.h"
#include "render/watermark.h"

namespace {

constexpr int ROUNDS = 5;
constexpr int FRAMES_PER_ROUND = 3;

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A camera-like image: every pixel differs, alpha opaque.
Frame* CameraFrame(uint32_t seed)
{
    Frame* frame = FrameCreate(1920, 1080);
    uint32_t state = seed;
    for (int32_t y = 0; y < 1080; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(frame->pixels + static_cast<size_t>(y) * frame->stride);
        for (int32_t x = 0; x < 1920; ++x) {
            state = state * 1664525u + 1013904223u;
            row[x] = 0xFF000000u | (state >> 8);
        }
    }
    frame->stabZoom = 1.25;
    frame->stabOffsetX = 0.02;
    return frame;
}

D2D1_BITMAP_PROPERTIES1 Properties(D2D1_BITMAP_OPTIONS options)
{
    return D2D1::BitmapProperties1(options, D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED),
                                   96, 96);
}

ID2D1DeviceContext* MakeContext(ID3D11Device** device)
{
    ID3D11DeviceContext* immediate = nullptr;
    D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, D3D11_CREATE_DEVICE_BGRA_SUPPORT, nullptr, 0,
                      D3D11_SDK_VERSION, device, nullptr, &immediate);
    if (immediate) immediate->Release();
    IDXGIDevice* dxgi = nullptr;
    (*device)->QueryInterface(__uuidof(IDXGIDevice), reinterpret_cast<void**>(&dxgi));
    ID2D1Factory1* factory = nullptr;
    D2D1CreateFactory(D2D1_FACTORY_TYPE_SINGLE_THREADED, __uuidof(ID2D1Factory1), nullptr,
                      reinterpret_cast<void**>(&factory));
    ID2D1Device* d2d = nullptr;
    factory->CreateDevice(dxgi, &d2d);
    ID2D1DeviceContext* context = nullptr;
    d2d->CreateDeviceContext(D2D1_DEVICE_CONTEXT_OPTIONS_NONE, &context);
    d2d->Release();
    factory->Release();
    dxgi->Release();
    return context;
}

struct Split {
    double upload = 0, draw = 0, readback = 0, copy = 0;
};

// The compositor's work as bare calls; adds the parts' times to `split`.
struct BareComposer {
    int32_t width, height;
    ID3D11Device* device = nullptr;
    ID2D1DeviceContext* context = nullptr;
    ID2D1Bitmap1* target = nullptr;
    ID2D1Bitmap1* readback = nullptr;
    ID2D1Bitmap1* overlay = nullptr;

    BareComposer(int32_t w, int32_t h, const uint8_t* overlayPixels) : width(w), height(h)
    {
        context = MakeContext(&device);
        D2D1_BITMAP_PROPERTIES1 t = Properties(D2D1_BITMAP_OPTIONS_TARGET);
        D2D1_BITMAP_PROPERTIES1 r = Properties(D2D1_BITMAP_OPTIONS_CPU_READ | D2D1_BITMAP_OPTIONS_CANNOT_DRAW);
        D2D1_BITMAP_PROPERTIES1 n = Properties(D2D1_BITMAP_OPTIONS_NONE);
        context->CreateBitmap(D2D1::SizeU(w, h), nullptr, 0, &t, &target);
        context->CreateBitmap(D2D1::SizeU(w, h), nullptr, 0, &r, &readback);
        context->CreateBitmap(D2D1::SizeU(w, h), overlayPixels, w * 4, &n, &overlay);
    }
    ~BareComposer()
    {
        context->SetTarget(nullptr);
        overlay->Release();
        readback->Release();
        target->Release();
        context->Release();
        device->Release();
    }
    void Compose(const Frame* wide, const Frame* macro, uint8_t* out, Split* split)
    {
        double t0 = Now();
        D2D1_BITMAP_PROPERTIES1 n = Properties(D2D1_BITMAP_OPTIONS_NONE);
        ID2D1Bitmap1* a = nullptr;
        ID2D1Bitmap1* b = nullptr;
        context->CreateBitmap(D2D1::SizeU(wide->width, wide->height), wide->pixels, wide->stride, &n, &a);
        context->CreateBitmap(D2D1::SizeU(macro->width, macro->height), macro->pixels, macro->stride, &n, &b);
        double t1 = Now();
        context->SetTarget(target);
        context->BeginDraw();
        context->Clear(D2D1::ColorF(0, 0, 0, 1));
        float W = static_cast<float>(width), H = static_cast<float>(height);
        D2D1_RECT_F whole = D2D1::RectF(0, 0, W, H);
        context->SetTransform(D2D1::Matrix3x2F(-1, 0, 0, -1, W, H));
        context->DrawBitmap(a, &whole, 1.0f, D2D1_INTERPOLATION_MODE_LINEAR, nullptr, nullptr);
        ViewRect box{};
        CompositionPipBox(W, H, 0.3f, &box);
        D2D1_RECT_F pip = D2D1::RectF(box.left, box.top, box.right, box.bottom);
        SourceRect s = CameraSourceRect(macro->width, macro->height, box.right - box.left, box.bottom - box.top,
                                        macro->stabZoom, macro->stabOffsetX, macro->stabOffsetY);
        D2D1_RECT_F src = D2D1::RectF(static_cast<float>(s.x), static_cast<float>(s.y), static_cast<float>(s.x + s.width),
                                      static_cast<float>(s.y + s.height));
        context->SetTransform(D2D1::Matrix3x2F(-1, 0, 0, -1, box.left + box.right, box.top + box.bottom));
        context->DrawBitmap(b, &pip, 1.0f, D2D1_INTERPOLATION_MODE_LINEAR, &src, nullptr);
        context->SetTransform(D2D1::Matrix3x2F::Identity());
        context->DrawBitmap(overlay, &whole, 1.0f, D2D1_INTERPOLATION_MODE_LINEAR, nullptr, nullptr);
        context->EndDraw();
        double t2 = Now();
        readback->CopyFromBitmap(nullptr, target, nullptr);
        D2D1_MAPPED_RECT mapped{};
        readback->Map(D2D1_MAP_OPTIONS_READ, &mapped);
        double t3 = Now();
        for (int32_t row = 0; row < height; ++row)
            std::memcpy(out + static_cast<size_t>(row) * width * 4, mapped.bits + static_cast<size_t>(row) * mapped.pitch,
                        static_cast<size_t>(width) * 4);
        double t4 = Now();
        readback->Unmap();
        a->Release();
        b->Release();
        split->upload += t1 - t0;
        split->draw += t2 - t1;
        split->readback += t3 - t2;
        split->copy += t4 - t3;
    }
};

void BenchCompositor(int32_t width, int32_t height, const Frame* wide, const Frame* macro)
{
    uint8_t* overlay = WatermarkBuildOverlay(width, height, L"Praxis Dr. Muster");
    OffscreenCompositor* compositor = CompositorCreate(width, height);
    if (!overlay || !compositor) {
        std::printf("compositor %dx%d: could not be made\n", width, height);
        return;
    }
    BareComposer bare(width, height, overlay);
    std::vector<uint8_t> out(static_cast<size_t>(width) * height * 4);
    std::vector<double> product, baseline;
    Split split;
    CompositorCompose(compositor, wide, macro, 0.3f, overlay, width, height, out.data(), width * 4);  // warm-up
    bare.Compose(wide, macro, out.data(), &split);
    split = Split{};
    for (int round = 0; round < ROUNDS; ++round) {
        double start = Now();
        for (int i = 0; i < FRAMES_PER_ROUND; ++i)
            CompositorCompose(compositor, wide, macro, 0.3f, overlay, width, height, out.data(), width * 4);
        product.push_back((Now() - start) * 1000.0 / FRAMES_PER_ROUND);
        start = Now();
        for (int i = 0; i < FRAMES_PER_ROUND; ++i) bare.Compose(wide, macro, out.data(), &split);
        baseline.push_back((Now() - start) * 1000.0 / FRAMES_PER_ROUND);
    }
    double frames = ROUNDS * FRAMES_PER_ROUND;
    double p = Median(product), b = Median(baseline);
    std::printf("CompositorCompose %dx%d: %.1f ms/frame, bare calls %.1f ms/frame, ratio %.3f\n", width, height, p, b,
                p / b);
    std::printf("  bare split: upload %.1f ms, draw %.1f ms, read-back %.1f ms, row copy %.1f ms\n",
                split.upload * 1000 / frames, split.draw * 1000 / frames, split.readback * 1000 / frames,
                split.copy * 1000 / frames);
    CompositorDestroy(compositor);
    std::free(overlay);
}

HWND MakeWindow(int32_t width, int32_t height)
{
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"MIRU_RENDER_BENCH";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, L"MIRU_RENDER_BENCH", L"", WS_POPUP, 0, 0, width, height, nullptr, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    ShowWindow(window, SW_SHOWNA);
    return window;
}

// The renderer's work as bare calls on a swap chain of its own.
struct BareWindow {
    HWND window;
    ID3D11Device* device = nullptr;
    IDXGISwapChain1* swapChain = nullptr;
    ID2D1DeviceContext* context = nullptr;
    ID2D1Bitmap1* target = nullptr;
    ID2D1Bitmap1* camera[2] = {};

    explicit BareWindow(HWND w) : window(w)
    {
        context = MakeContext(&device);
        IDXGIDevice* dxgi = nullptr;
        IDXGIAdapter* adapter = nullptr;
        IDXGIFactory2* factory = nullptr;
        device->QueryInterface(__uuidof(IDXGIDevice), reinterpret_cast<void**>(&dxgi));
        dxgi->GetAdapter(&adapter);
        adapter->GetParent(__uuidof(IDXGIFactory2), reinterpret_cast<void**>(&factory));
        DXGI_SWAP_CHAIN_DESC1 d{};
        d.Width = 1280;
        d.Height = 800;
        d.Format = DXGI_FORMAT_B8G8R8A8_UNORM;
        d.SampleDesc.Count = 1;
        d.BufferUsage = DXGI_USAGE_RENDER_TARGET_OUTPUT;
        d.BufferCount = 2;
        d.Scaling = DXGI_SCALING_NONE;
        d.SwapEffect = DXGI_SWAP_EFFECT_FLIP_DISCARD;
        d.AlphaMode = DXGI_ALPHA_MODE_IGNORE;
        if (FAILED(factory->CreateSwapChainForHwnd(device, window, &d, nullptr, nullptr, &swapChain))) {
            d.Scaling = DXGI_SCALING_STRETCH;
            factory->CreateSwapChainForHwnd(device, window, &d, nullptr, nullptr, &swapChain);
        }
        factory->Release();
        adapter->Release();
        dxgi->Release();
        IDXGISurface* surface = nullptr;
        swapChain->GetBuffer(0, __uuidof(IDXGISurface), reinterpret_cast<void**>(&surface));
        D2D1_BITMAP_PROPERTIES1 t = Properties(D2D1_BITMAP_OPTIONS_TARGET | D2D1_BITMAP_OPTIONS_CANNOT_DRAW);
        context->CreateBitmapFromDxgiSurface(surface, &t, &target);
        surface->Release();
        context->SetTarget(target);
        D2D1_BITMAP_PROPERTIES1 n = Properties(D2D1_BITMAP_OPTIONS_NONE);
        for (ID2D1Bitmap1*& bitmap : camera) context->CreateBitmap(D2D1::SizeU(1920, 1080), nullptr, 0, &n, &bitmap);
    }
    ~BareWindow()
    {
        context->SetTarget(nullptr);
        for (ID2D1Bitmap1* bitmap : camera) bitmap->Release();
        target->Release();
        context->Release();
        swapChain->Release();
        device->Release();
    }
    void Draw(const Frame* wide, const Frame* macro, Split* split)
    {
        double t0 = Now();
        camera[0]->CopyFromMemory(nullptr, wide->pixels, wide->stride);
        camera[1]->CopyFromMemory(nullptr, macro->pixels, macro->stride);
        double t1 = Now();
        context->BeginDraw();
        context->Clear(D2D1::ColorF(0, 0, 0, 1));
        ViewRect video = WindowVideoRect(1280, 800, false, 1.0f);
        ViewRect pip{};
        WindowPipRect(video, 0.3f, &pip);
        for (int i = 0; i < 2; ++i) {
            const Frame* f = i ? macro : wide;
            ViewRect r = i ? pip : video;
            SourceRect s = CameraSourceRect(f->width, f->height, r.right - r.left, r.bottom - r.top, i ? f->stabZoom : 1.0,
                                            i ? f->stabOffsetX : 0.0, 0.0);
            D2D1_RECT_F dest = D2D1::RectF(r.left, r.top, r.right, r.bottom);
            D2D1_RECT_F src = D2D1::RectF(static_cast<float>(s.x), static_cast<float>(s.y),
                                          static_cast<float>(s.x + s.width), static_cast<float>(s.y + s.height));
            context->SetTransform(D2D1::Matrix3x2F(-1, 0, 0, -1, r.left + r.right, r.top + r.bottom));
            context->DrawBitmap(camera[i], &dest, 1.0f, D2D1_INTERPOLATION_MODE_LINEAR, &src, nullptr);
        }
        context->SetTransform(D2D1::Matrix3x2F::Identity());
        context->EndDraw();
        double t2 = Now();
        swapChain->Present(1, 0);
        double t3 = Now();
        split->upload += t1 - t0;
        split->draw += t2 - t1;
        split->readback += t3 - t2;  // Present
    }
};

void BenchRenderer(Frame* wide, Frame* macro)
{
    HWND productWindow = MakeWindow(1280, 800);
    HWND bareWindow = MakeWindow(1280, 800);
    UiStateReset();
    UiState.live = true;
    UiState.cockpitVisible = false;
    if (!RendererInit(productWindow)) {
        std::printf("renderer: could not be made\n");
        return;
    }
    FramePublish(SLOT_WIDE, wide);
    FramePublish(SLOT_MACRO, macro);
    BareWindow bare(bareWindow);
    std::vector<double> product, baseline;
    Split split;
    RendererDrawFrame();
    bare.Draw(wide, macro, &split);
    split = Split{};
    for (int round = 0; round < ROUNDS; ++round) {
        double start = Now();
        for (int i = 0; i < FRAMES_PER_ROUND; ++i) RendererDrawFrame();
        product.push_back((Now() - start) * 1000.0 / FRAMES_PER_ROUND);
        start = Now();
        for (int i = 0; i < FRAMES_PER_ROUND; ++i) bare.Draw(wide, macro, &split);
        baseline.push_back((Now() - start) * 1000.0 / FRAMES_PER_ROUND);
    }
    double frames = ROUNDS * FRAMES_PER_ROUND;
    double p = Median(product), b = Median(baseline);
    std::printf("RendererDrawFrame 1280x800: %.1f ms/frame, bare calls %.1f ms/frame, ratio %.3f\n", p, b, p / b);
    std::printf("  bare split: upload %.1f ms, draw %.1f ms, present %.1f ms\n", split.upload * 1000 / frames,
                split.draw * 1000 / frames, split.readback * 1000 / frames);
    FrameClearPublished();
    RendererShutdown();
    DestroyWindow(productWindow);
    DestroyWindow(bareWindow);
}

}  // namespace

int main()
{
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    Frame* wide = CameraFrame(1);
    Frame* macro = CameraFrame(2);
    BenchCompositor(1920, 1080, wide, macro);
    BenchCompositor(2560, 1440, wide, macro);
    BenchRenderer(wide, macro);
    FrameRelease(wide);
    FrameRelease(macro);
    CoUninitialize();
    return 0;
}
