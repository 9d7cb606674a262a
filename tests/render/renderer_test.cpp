#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstdlib>

#include "base/ui_state.h"
#include "render/renderer.h"
#include "settings/settings_store.h"
#include "tests/diag/log_probe.h"
#include "tests/support/d2d_canvas.h"
#include "tests/support/log_count.h"

namespace {

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
    static Frame* Quadrants()
    {
        return MakeTestFrame(320, 200, [](int32_t x, int32_t y) { return QuadrantColour(x, y, 320, 200); });
    }
    // Left half red, right half green.
    static Frame* Halves() { return MakeTestFrame(320, 180, [](int32_t x, int32_t) { return x < 160 ? RED : GREEN; }); }
    // The picture without the cockpit, checked at (x, y) against `colour`.
    bool Shows(int32_t x, int32_t y, uint32_t colour) { return NearColor(Capture().At(x, y), colour, 2); }
    LogSandbox log;
    HWND window = nullptr;
};

TEST_F(Renderer, WideFillsTheVideoAreaTurnedAndMacroStandsOnItsBottom)
{
    Publish(SLOT_WIDE, Quadrants());
    Publish(SLOT_MACRO, MakeTestFrame(160, 90, [](int32_t, int32_t) { return RED; }));
    UiState.cockpitVisible = true;
    Picture p = Capture();
    ASSERT_EQ(p.width, 1280);
    ASSERT_EQ(p.height, 800);
    // Video area (0, 52, 1280, 716), turned; the cockpit's bars keep their panel colour; the
    // picture (448, 500, 832, 716) away from its rounded corners, its white left border.
    const uint32_t panel = IsDarkAppearance() ? Argb(255, 34, 34, 34) : Argb(255, 236, 236, 236);
    const struct { int32_t x, y; uint32_t colour; } expected[] = {
        {20, 60, QUAD_BOTTOM_RIGHT}, {1260, 60, QUAD_BOTTOM_LEFT}, {20, 708, QUAD_TOP_RIGHT},
        {1260, 708, QUAD_TOP_LEFT},  {640, 40, panel},             {20, 730, panel},
        {640, 600, RED},             {455, 700, RED},              {825, 700, RED},
        {440, 700, QUAD_TOP_RIGHT},  {840, 700, QUAD_TOP_LEFT},    {600, 492, QUAD_TOP_RIGHT}};
    for (const auto& e : expected) EXPECT_TRUE(NearColor(p.At(e.x, e.y), e.colour, 2)) << e.x << ", " << e.y;
    EXPECT_TRUE(NearColor(p.At(448, 650), Argb(255, 255, 255, 255), 40));
}

// The placeholder: a dark blue-cyan gradient, neither black nor a camera's colour.
bool IsPlaceholder(uint32_t pixel)
{
    uint32_t r = (pixel >> 16) & 0xFF, g = (pixel >> 8) & 0xFF, b = pixel & 0xFF;
    return b > r && b > 8 && b < 90 && g < 90;
}

// No Frame, Frames published while not live, a Macro Frame whose rows do not fit its stride;
// a whole Macro Frame is shown through the stabiliser's window.
TEST_F(Renderer, PlaceholdersWhenACameraHasNoImageAndTheStabilisedMacroOtherwise)
{
    UiState.cockpitVisible = false;
    Picture p = Capture();
    EXPECT_TRUE(IsPlaceholder(p.At(30, 30)) && IsPlaceholder(p.At(460, 600)));
    Publish(SLOT_WIDE, Quadrants());
    Publish(SLOT_MACRO, Halves());
    UiState.live = false;
    p = Capture();
    EXPECT_TRUE(IsPlaceholder(p.At(30, 30)) && IsPlaceholder(p.At(460, 600)));

    UiState.live = true;
    Frame* broken = Halves();
    broken->stride = 100;
    Publish(SLOT_MACRO, broken);
    LogResetForTest();
    p = Capture();
    EXPECT_TRUE(NearColor(p.At(30, 30), QUAD_BOTTOM_RIGHT, 2));
    EXPECT_TRUE(IsPlaceholder(p.At(460, 600)));
    EXPECT_TRUE(LogTexts().empty());

    // Zoom 2 shows the middle half of the image; moved right by 0.1 of the image, its turned
    // red/green edge stands 0.2 of the picture (448 .. 832) right of the picture's middle.
    Frame* shifted = Halves();
    shifted->stabOffsetX = 0.1;
    shifted->stabZoom = 2.0;
    Publish(SLOT_MACRO, shifted);
    EXPECT_TRUE(Shows(700, 700, GREEN));
    EXPECT_TRUE(Shows(740, 700, RED));
}

TEST_F(Renderer, LostTargetOrDeviceIsRebuiltAndThePictureReturns)
{
    Publish(SLOT_WIDE, Quadrants());
    UiState.cockpitVisible = false;
    ASSERT_TRUE(Shows(20, 10, QUAD_BOTTOM_RIGHT));

    RendererFailForTest(RendererStep::EndDraw, static_cast<HRESULT>(0x8899000C), 1);
    EXPECT_TRUE(Capture().pixels.empty());
    EXPECT_EQ(TimesLogged(LOG_ANY_LEVEL, L"Renderer: Direct2D-Ziel verloren \u2014 Ger\u00e4t wird neu aufgebaut"), 1u);
    EXPECT_TRUE(RendererIsReady() && Shows(20, 10, QUAD_BOTTOM_RIGHT));

    RendererFailForTest(RendererStep::Present, static_cast<HRESULT>(0x887A0005), 1);
    RendererDrawFrame();
    EXPECT_EQ(TimesLogged(LOG_ANY_LEVEL, L"Renderer: Grafikger\u00e4t verloren (0x887A0005) \u2014 Neuaufbau"), 1u);
    EXPECT_TRUE(RendererIsReady() && Shows(20, 10, QUAD_BOTTOM_RIGHT));

    // Another EndDraw failure is logged once per code in a row, and nothing is rebuilt.
    RendererFailForTest(RendererStep::EndDraw, E_OUTOFMEMORY, 3);
    for (int i = 0; i < 3; ++i) RendererDrawFrame();
    EXPECT_EQ(TimesLogged(LOG_ANY_LEVEL, L"Renderer: EndDraw fehlgeschlagen (0x8007000E)"), 1u);
    EXPECT_TRUE(RendererIsReady());

    // Both rebuilds replaced the window's one flip-model swap chain, and a resize follows: each
    // only after the old device context was cleared and flushed.
    RendererResize(1000, 700);
    EXPECT_TRUE(RendererIsReady());
    EXPECT_EQ(RendererUnsettledSwapChainCallsForTest(), 0);
}

TEST_F(Renderer, DeviceThatCannotBeMadeStaysLostWithoutLeaking)
{
    Publish(SLOT_WIDE, Quadrants());
    UiState.cockpitVisible = false;
    DeviceObserver observer;
    RendererObserveDevicesForTest(&observer);
    RendererFailForTest(RendererStep::DxgiFactory, E_FAIL, 3);
    RendererFailForTest(RendererStep::EndDraw, static_cast<HRESULT>(0x8899000C), 1);
    RendererDrawFrame();  // lost target: the rebuild fails at the DXGI step
    EXPECT_FALSE(RendererIsReady());
    const std::wstring failure = L"Renderer: DXGI-Factory nicht verf\u00fcgbar (0x80004005)";
    EXPECT_EQ(TimesLogged(LOG_ANY_LEVEL, failure), 1u);

    // Every 90th frame request tries again; each failed try leaves no device behind.
    for (size_t attempt = 2; attempt <= 3; ++attempt) {
        for (int i = 0; i < 89; ++i) RendererDrawFrame();
        EXPECT_EQ(TimesLogged(LOG_ANY_LEVEL, failure), attempt - 1);
        RendererDrawFrame();
        EXPECT_EQ(TimesLogged(LOG_ANY_LEVEL, failure), attempt);
        EXPECT_FALSE(RendererIsReady());
    }
    EXPECT_EQ(observer.references.load(), 1u);

    for (int i = 0; i < 89; ++i) RendererDrawFrame();
    EXPECT_TRUE(Shows(20, 10, QUAD_BOTTOM_RIGHT));  // the 90th request rebuilds and draws
    EXPECT_EQ(observer.references.load(), 2u);      // the working device holds the observer
    RendererShutdown();
    EXPECT_EQ(observer.references.load(), 1u);
}

}  // namespace
