// Cost of the cockpit per frame at 1280 x 800, beside the window renderer's frame, in one run
// under Wine (or Windows):
//  - the renderer's whole frame (two 1920 x 1080 cameras, cockpit, present) in a real window;
//  - on an offscreen target of the same size and kind: an empty frame (clear only) and the
//    same frame with the cockpit; each round of frames is waited for until the device has
//    finished it, so the wait's own latency is shared by the round's frames.
// The cockpit's cost is the difference of the offscreen pair; the renderer's frame without
// the cockpit is its whole frame less that cost. Rounds interleave all kinds; medians count.
#include <windows.h>

#include <d2d1_1.h>
#include <d3d11.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cwchar>
#include <vector>

#include "base/ui_state.h"
#include "base/win_owners.h"
#include "frames/frame_store.h"
#include "render/cockpit.h"
#include "render/graphics_services.h"
#include "render/renderer.h"
#include "settings/settings_store.h"

namespace {

constexpr int32_t WIDTH = 1280;
constexpr int32_t HEIGHT = 800;
constexpr int ROUNDS = 7;
constexpr int FRAMES_PER_ROUND = 10;

double Now()
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double Median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// An offscreen Direct2D target with a way to wait until the device has drawn everything.
struct Offscreen {
    ComOwner<ID3D11Device> d3d;
    ComOwner<ID3D11DeviceContext> immediate;
    ComOwner<ID3D11Query> done;
    ComOwner<ID2D1Device> device;
    ComOwner<ID2D1DeviceContext> context;
    ComOwner<ID2D1Bitmap1> target;

    bool Make()
    {
        const UINT flags = D3D11_CREATE_DEVICE_BGRA_SUPPORT;
        if (FAILED(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, flags, nullptr, 0, D3D11_SDK_VERSION,
                                     &d3d, nullptr, &immediate)))
            return false;
        D3D11_QUERY_DESC query = {D3D11_QUERY_EVENT, 0};
        ComOwner<IDXGIDevice> dxgi;
        ID2D1Factory1* factory = GetD2DFactory();
        if (FAILED(d3d->CreateQuery(&query, &done)) || !factory ||
            FAILED(d3d->QueryInterface(__uuidof(IDXGIDevice), reinterpret_cast<void**>(&dxgi))) ||
            FAILED(factory->CreateDevice(dxgi.Get(), &device)) ||
            FAILED(device->CreateDeviceContext(D2D1_DEVICE_CONTEXT_OPTIONS_NONE, &context)))
            return false;
        const D2D1_BITMAP_PROPERTIES1 properties = D2D1::BitmapProperties1(
            D2D1_BITMAP_OPTIONS_TARGET, D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED));
        if (FAILED(context->CreateBitmap(D2D1::SizeU(WIDTH, HEIGHT), nullptr, 0, properties, &target))) return false;
        context->SetTarget(target.Get());
        return true;
    }
    void Draw(bool withCockpit)
    {
        context->BeginDraw();
        context->Clear(D2D1::ColorF(0.2f, 0.3f, 0.25f, 1.0f));
        if (withCockpit) CockpitDraw(context.Get(), static_cast<float>(WIDTH), static_cast<float>(HEIGHT), false);
        context->EndDraw();
    }
    void Finish()
    {
        immediate->End(done.Get());
        while (immediate->GetData(done.Get(), nullptr, 0, 0) == S_FALSE) {
        }
    }
};

// A 1920 x 1080 camera image with some structure, published in a frame slot.
void PublishCamera(uint32_t slot)
{
    Frame* frame = FrameCreate(1920, 1080);
    if (!frame) return;
    for (int32_t y = 0; y < frame->height; y++) {
        auto* row = reinterpret_cast<uint32_t*>(frame->pixels + static_cast<size_t>(y) * frame->stride);
        for (int32_t x = 0; x < frame->width; x++)
            row[x] = 0xFF000000u | static_cast<uint32_t>((x * 255 / 1920) << 16 | (y * 255 / 1080) << 8 | (slot * 200));
    }
    FramePublish(slot, frame);
    FrameRelease(frame);
}

HWND MakeWindow()
{
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"MIRU_COCKPIT_BENCH";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"", WS_POPUP, 0, 0, WIDTH, HEIGHT, nullptr,
                                  nullptr, windowClass.hInstance, nullptr);
    if (window) ShowWindow(window, SW_SHOWNA);
    return window;
}

// Milliseconds per frame of one round; `finish` waits for the device at the round's end.
template <class Step, class Finish>
double FrameMs(Step step, Finish finish)
{
    const double start = Now();
    for (int i = 0; i < FRAMES_PER_ROUND; i++) step();
    finish();
    return (Now() - start) * 1000.0 / FRAMES_PER_ROUND;
}

// The cockpit as it shows most of the time, or during a recording with every overlay.
void SetScene(bool busy)
{
    UiState.recording = busy;
    UiState.recordSeconds = 75;
    UiStateSetStatusDetail(busy ? L"Speicher fast voll \u00b7 \u2248 9 Min" : nullptr);
    Settings.devShowFPS = busy;
    Settings.devStabSliders = busy;
}

}  // namespace

int main()
{
    SettingsResetDefaults();
    UiStateReset();
    UiState.live = true;
    UiState.status = 2;
    wcscpy(UiState.freeSpaceText, L"\u2248 3 h 12 min");
    PublishCamera(SLOT_WIDE);
    PublishCamera(SLOT_MACRO);

    Offscreen offscreen;
    HWND window = MakeWindow();
    if (!offscreen.Make() || !window || !RendererInit(window)) {
        std::fprintf(stderr, "cockpit_bench: no Direct3D/Direct2D device (an X display is needed under Wine)\n");
        return 1;
    }
    for (int i = 0; i < 5; i++) {  // warm-up: bitmaps, text formats, fonts
        RendererDrawFrame();
        offscreen.Draw(true);
    }
    offscreen.Finish();

    std::vector<double> renderer, empty, cockpit, busy;
    for (int round = 0; round < ROUNDS; round++) {
        SetScene(false);
        const auto finish = [&] { offscreen.Finish(); };
        renderer.push_back(FrameMs([] { RendererDrawFrame(); }, [] {}));  // Present waits itself
        empty.push_back(FrameMs([&] { offscreen.Draw(false); }, finish));
        cockpit.push_back(FrameMs([&] { offscreen.Draw(true); }, finish));
        SetScene(true);
        busy.push_back(FrameMs([&] { offscreen.Draw(true); }, finish));
    }
    const double emptyMs = Median(empty);
    const double cockpitMs = Median(cockpit) - emptyMs;
    const double busyMs = Median(busy) - emptyMs;
    const double rendererMs = Median(renderer);
    std::printf("Cockpit at %d x %d, %d rounds of %d frames, medians:\n", WIDTH, HEIGHT, ROUNDS, FRAMES_PER_ROUND);
    std::printf("  renderer frame (cameras, cockpit, present)   %7.2f ms\n", rendererMs);
    std::printf("  offscreen empty frame (clear)                %7.2f ms\n", emptyMs);
    std::printf("  cockpit: bars and brand                      %7.2f ms  (%.2f x the empty frame)\n", cockpitMs,
                cockpitMs / emptyMs);
    std::printf("  cockpit: recording, notice, both panels      %7.2f ms  (%.2f x the empty frame)\n", busyMs,
                busyMs / emptyMs);
    std::printf("  renderer frame without the cockpit           %7.2f ms  (cockpit adds %.0f %%)\n",
                rendererMs - cockpitMs, 100.0 * cockpitMs / (rendererMs - cockpitMs));

    RendererShutdown();
    DestroyWindow(window);
    FrameClearPublished();
    return 0;
}
