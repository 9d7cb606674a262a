#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdlib>

#include "base/ui_state.h"
#include "render/renderer.h"
#include "render/view_geometry.h"
#include "settings/settings_record.h"
#include "settings/settings_store.h"
#include "tests/diag/log_probe.h"
#include "tests/support/d2d_canvas.h"

namespace {

constexpr uint32_t BLACK = Argb(255, 0, 0, 0);
constexpr uint32_t RED = Argb(255, 255, 0, 0);
constexpr uint32_t GREEN = Argb(255, 0, 255, 0);

// Counts the references the renderer's devices hold on it.
struct DeviceObserver : IUnknown {
    std::atomic<ULONG> references{1};
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID id, void** out) override
    {
        if (id != __uuidof(IUnknown)) return E_NOINTERFACE;
        AddRef();
        *out = this;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++references; }
    ULONG STDMETHODCALLTYPE Release() override { return --references; }
};

bool Logged(const std::wstring& text)
{
    for (const std::wstring& entry : LogTexts())
        if (entry == text) return true;
    return false;
}

int CountLogged(const std::wstring& text)
{
    int count = 0;
    for (const std::wstring& entry : LogTexts()) count += entry == text;
    return count;
}

// The main window's stand-in: a 1280 x 800 client area.
class Renderer : public ::testing::Test {
protected:
    void SetUp() override
    {
        UiStateReset();
        FrameClearPublished();
        WNDCLASSW windowClass{};
        windowClass.lpfnWndProc = DefWindowProcW;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = L"MIRU_RENDER_TEST";
        RegisterClassW(&windowClass);
        window = CreateWindowExW(0, L"MIRU_RENDER_TEST", L"", WS_POPUP, 0, 0, 1280, 800, nullptr, nullptr,
                                 GetModuleHandleW(nullptr), nullptr);
        ASSERT_NE(window, nullptr);
        ShowWindow(window, SW_SHOWNA);
        ASSERT_TRUE(RendererInit(window));
        UiState.live = true;
    }
    void TearDown() override
    {
        RendererShutdown();
        DestroyWindow(window);
        for (RendererStep step : {RendererStep::EndDraw, RendererStep::Present, RendererStep::DxgiFactory})
            RendererFailForTest(step, S_OK, 0);
        RendererObserveDevicesForTest(nullptr);
        FrameClearPublished();
        EXPECT_EQ(FrameLiveCount(), 0);
    }
    Picture Capture()
    {
        uint8_t* pixels = nullptr;
        int32_t width = 0, height = 0;
        if (!RendererCaptureFrame(&pixels, &width, &height)) return Picture{};
        Picture picture = Picture::FromBgra(pixels, width, height, width * 4);
        std::free(pixels);
        return picture;
    }
    static void Publish(uint32_t slot, Frame* frame)
    {
        FramePublish(slot, frame);
        FrameRelease(frame);
    }
    static Frame* Quadrants(int32_t w, int32_t h)
    {
        return MakeTestFrame(w, h, [w, h](int32_t x, int32_t y) { return QuadrantColour(x, y, w, h); });
    }
    // Left half red, right half green.
    static Frame* Halves(int32_t w, int32_t h)
    {
        return MakeTestFrame(w, h, [w](int32_t x, int32_t) { return x < w / 2 ? RED : GREEN; });
    }
    LogSandbox log;
    HWND window = nullptr;
};

TEST_F(Renderer, WideFillsTheVideoAreaTurnedAndMacroStandsOnItsBottom)
{
    Publish(SLOT_WIDE, Quadrants(320, 200));
    Publish(SLOT_MACRO, MakeTestFrame(160, 90, [](int32_t, int32_t) { return RED; }));
    UiState.cockpitVisible = true;
    Picture p = Capture();
    ASSERT_EQ(p.width, 1280);
    ASSERT_EQ(p.height, 800);
    // Video area (0, 52, 1280, 716); the cockpit's bars above and below keep their panel colour.
    EXPECT_TRUE(NearColor(p.At(20, 60), QUAD_BOTTOM_RIGHT, 2));
    EXPECT_TRUE(NearColor(p.At(1260, 60), QUAD_BOTTOM_LEFT, 2));
    EXPECT_TRUE(NearColor(p.At(20, 708), QUAD_TOP_RIGHT, 2));
    EXPECT_TRUE(NearColor(p.At(1260, 708), QUAD_TOP_LEFT, 2));
    const uint32_t panel = IsDarkAppearance() ? Argb(255, 34, 34, 34) : Argb(255, 236, 236, 236);
    EXPECT_EQ(p.At(640, 40), panel);
    EXPECT_EQ(p.At(20, 730), panel);
    // Picture (448, 500, 832, 716), away from its rounded corners and border.
    EXPECT_TRUE(NearColor(p.At(640, 600), RED, 2));
    EXPECT_TRUE(NearColor(p.At(455, 700), RED, 2));
    EXPECT_TRUE(NearColor(p.At(825, 700), RED, 2));
    EXPECT_TRUE(NearColor(p.At(440, 700), QUAD_TOP_RIGHT, 2));
    EXPECT_TRUE(NearColor(p.At(840, 700), QUAD_TOP_LEFT, 2));
    EXPECT_TRUE(NearColor(p.At(600, 492), QUAD_TOP_RIGHT, 2));
    // The white border along the straight left edge (Wine strokes the arcs' neighbourhood
    // unreliably, so the top edge is not sampled).
    EXPECT_TRUE(NearColor(p.At(448, 650), Argb(255, 255, 255, 255), 40));

    // Without the cockpit the video area is the whole window: picture (448, 584, 832, 800).
    UiState.cockpitVisible = false;
    p = Capture();
    ASSERT_EQ(p.width, 1280);
    EXPECT_TRUE(NearColor(p.At(20, 10), QUAD_BOTTOM_RIGHT, 2));
    EXPECT_TRUE(NearColor(p.At(640, 795), RED, 2));
    EXPECT_TRUE(NearColor(p.At(600, 575), QUAD_TOP_RIGHT, 2));
}

// The placeholder: a dark blue-cyan gradient, neither black nor a camera's colour.
bool IsPlaceholder(uint32_t pixel)
{
    uint32_t r = (pixel >> 16) & 0xFF, g = (pixel >> 8) & 0xFF, b = pixel & 0xFF;
    return b > r && b > 8 && b < 90 && g < 90;
}

TEST_F(Renderer, PlaceholdersWhenACameraHasNoImage)
{
    UiState.cockpitVisible = false;
    Picture p = Capture();
    ASSERT_EQ(p.width, 1280);
    EXPECT_TRUE(IsPlaceholder(p.At(30, 30)));
    EXPECT_TRUE(IsPlaceholder(p.At(460, 600)));

    // Published Frames are not shown while the cameras are not live.
    Publish(SLOT_WIDE, Quadrants(320, 200));
    Publish(SLOT_MACRO, Halves(320, 180));
    UiState.live = false;
    p = Capture();
    EXPECT_TRUE(IsPlaceholder(p.At(30, 30)));
    EXPECT_TRUE(IsPlaceholder(p.At(460, 600)));

    // A Macro Frame whose rows do not fit its stride shows the placeholder, without a log line.
    UiState.live = true;
    Frame* broken = Halves(320, 180);
    broken->stride = 100;
    Publish(SLOT_MACRO, broken);
    LogResetForTest();
    p = Capture();
    EXPECT_TRUE(NearColor(p.At(30, 30), QUAD_BOTTOM_RIGHT, 2));
    EXPECT_TRUE(IsPlaceholder(p.At(460, 600)));
    EXPECT_TRUE(LogTexts().empty());
}

TEST_F(Renderer, StabiliserShiftMovesTheMacroContentAndTheFrameLinesUp)
{
    UiState.cockpitVisible = false;  // picture (448, 584, 832, 800), 384 x 216
    auto publishMacro = [](double offsetX, double zoom) {
        Frame* macro = Halves(320, 180);
        macro->stabOffsetX = offsetX;
        macro->stabZoom = zoom;
        Publish(SLOT_MACRO, macro);
    };
    // Zoom 2 shows the middle half; turned, the image's red/green edge sits mid-picture.
    publishMacro(0.0, 2.0);
    Picture p = Capture();
    ASSERT_EQ(p.width, 1280);
    EXPECT_TRUE(NearColor(p.At(678, 700), RED, 2));
    // Shifting the window right by 0.1 of the image moves that edge right by 0.2 of the picture.
    publishMacro(0.1, 2.0);
    p = Capture();
    EXPECT_TRUE(NearColor(p.At(678, 700), GREEN, 2));
    EXPECT_TRUE(NearColor(p.At(755, 700), RED, 2));

    // The developer frame draws the whole image where it lies: its edge continues the picture's.
    Settings.devStabFrame = true;
    Settings.stabilizeMacro = false;
    publishMacro(0.1, 1.5);
    p = Capture();
    ViewRect frame = StabFrameRect(ViewRect{448, 584, 832, 800}, 0.1, 0.0, 1.5);
    int32_t left = static_cast<int32_t>(frame.left);
    auto isAmber = [](uint32_t px) { return ((px >> 16) & 0xFF) > 100 && (px & 0xFF) < 80 && ((px >> 8) & 0xFF) > 60; };
    EXPECT_FALSE(isAmber(p.At(left, 700)));  // off while stabilisation is off

    Settings.stabilizeMacro = true;
    p = Capture();
    int32_t edge = static_cast<int32_t>(0.5f * (frame.left + frame.right));  // 697.6
    EXPECT_EQ(edge, 697);
    EXPECT_TRUE(NearColor(p.At(edge - 8, 700), GREEN, 2));  // inside the picture
    EXPECT_TRUE(NearColor(p.At(edge + 8, 700), RED, 2));
    auto dominant = [](uint32_t px, int channel) {
        int r = (px >> 16) & 0xFF, g = (px >> 8) & 0xFF;
        return channel == 0 ? r > g + 40 : g > r + 40;
    };
    EXPECT_TRUE(dominant(p.At(edge - 8, 560), 1));  // above the picture, inside the frame
    EXPECT_TRUE(dominant(p.At(edge + 8, 560), 0));
    EXPECT_TRUE(isAmber(p.At(left, 700)));
    EXPECT_FALSE(isAmber(p.At(left - 5, 700)));
    EXPECT_TRUE(isAmber(p.At(edge, static_cast<int32_t>(frame.top))));
}

TEST_F(Renderer, LostTargetOrDeviceIsRebuiltAndThePictureReturns)
{
    Publish(SLOT_WIDE, Quadrants(320, 200));
    UiState.cockpitVisible = false;
    ASSERT_TRUE(NearColor(Capture().At(20, 10), QUAD_BOTTOM_RIGHT, 2));

    RendererFailForTest(RendererStep::EndDraw, static_cast<HRESULT>(0x8899000C), 1);
    EXPECT_TRUE(Capture().pixels.empty());
    EXPECT_TRUE(Logged(L"Renderer: Direct2D-Ziel verloren \u2014 Ger\u00e4t wird neu aufgebaut"));
    EXPECT_TRUE(RendererIsReady());
    EXPECT_TRUE(NearColor(Capture().At(20, 10), QUAD_BOTTOM_RIGHT, 2));

    RendererFailForTest(RendererStep::Present, static_cast<HRESULT>(0x887A0005), 1);
    RendererDrawFrame();
    EXPECT_TRUE(Logged(L"Renderer: Grafikger\u00e4t verloren (0x887A0005) \u2014 Neuaufbau"));
    EXPECT_TRUE(RendererIsReady());
    EXPECT_TRUE(NearColor(Capture().At(20, 10), QUAD_BOTTOM_RIGHT, 2));

    // Another EndDraw failure is logged once per code in a row, and nothing is rebuilt.
    RendererFailForTest(RendererStep::EndDraw, E_OUTOFMEMORY, 3);
    for (int i = 0; i < 3; ++i) RendererDrawFrame();
    EXPECT_EQ(CountLogged(L"Renderer: EndDraw fehlgeschlagen (0x8007000E)"), 1);
    EXPECT_TRUE(RendererIsReady());
}

TEST_F(Renderer, DeviceThatCannotBeMadeStaysLostWithoutLeaking)
{
    Publish(SLOT_WIDE, Quadrants(320, 200));
    UiState.cockpitVisible = false;
    DeviceObserver observer;
    RendererObserveDevicesForTest(&observer);
    RendererFailForTest(RendererStep::DxgiFactory, E_FAIL, 3);
    RendererFailForTest(RendererStep::EndDraw, static_cast<HRESULT>(0x8899000C), 1);
    RendererDrawFrame();  // lost target: the rebuild fails at the DXGI step
    EXPECT_FALSE(RendererIsReady());
    const std::wstring failure = L"Renderer: DXGI-Factory nicht verf\u00fcgbar (0x80004005)";
    EXPECT_EQ(CountLogged(failure), 1);

    // Every 90th frame request tries again; each failed try leaves no device behind.
    for (int attempt = 2; attempt <= 3; ++attempt) {
        for (int i = 0; i < 89; ++i) RendererDrawFrame();
        EXPECT_EQ(CountLogged(failure), attempt - 1);
        RendererDrawFrame();
        EXPECT_EQ(CountLogged(failure), attempt);
        EXPECT_FALSE(RendererIsReady());
    }
    EXPECT_EQ(observer.references.load(), 1u);

    for (int i = 0; i < 89; ++i) RendererDrawFrame();
    Picture p = Capture();  // the 90th request rebuilds and draws
    EXPECT_TRUE(RendererIsReady());
    ASSERT_EQ(p.width, 1280);
    EXPECT_TRUE(NearColor(p.At(20, 10), QUAD_BOTTOM_RIGHT, 2));
    EXPECT_EQ(observer.references.load(), 2u);  // the working device holds the observer
    RendererShutdown();
    EXPECT_EQ(observer.references.load(), 1u);
}

}  // namespace
