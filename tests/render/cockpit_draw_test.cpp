// The cockpit drawn into a readable Direct2D target and read back pixel by pixel: bar colours,
// level meter, photo and record buttons, the recording timer, and the overlays' clip.
// Geometry is checked where it does not depend on Wine's fonts and glyph boxes.
#include <gtest/gtest.h>
#include <windows.h>

#include <d3d11.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "app/texts.h"
#include "app/ui_state.h"
#include "app/win_owners.h"
#include "capture/capture_state.h"
#include "render/cockpit_kit.h"
#include "render/graphics_services.h"
#include "settings/settings_store.h"

namespace {

struct Rgb {
    int r, g, b;
};

// A W x H Direct2D target on its own Direct3D device with a CPU-readable copy.
class Surface {
public:
    bool Make(uint32_t width, uint32_t height)
    {
        width_ = width;
        height_ = height;
        const UINT flags = D3D11_CREATE_DEVICE_BGRA_SUPPORT;
        if (FAILED(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_HARDWARE, nullptr, flags, nullptr, 0, D3D11_SDK_VERSION,
                                     &d3d_, nullptr, nullptr)) &&
            FAILED(D3D11CreateDevice(nullptr, D3D_DRIVER_TYPE_WARP, nullptr, flags, nullptr, 0, D3D11_SDK_VERSION,
                                     &d3d_, nullptr, nullptr)))
            return false;
        ComOwner<IDXGIDevice> dxgi;
        ID2D1Factory1* factory = GetD2DFactory();  // the cockpit's paths come from this factory
        if (!factory || FAILED(d3d_->QueryInterface(__uuidof(IDXGIDevice), reinterpret_cast<void**>(&dxgi))) ||
            FAILED(factory->CreateDevice(dxgi.Get(), &device_)) ||
            FAILED(device_->CreateDeviceContext(D2D1_DEVICE_CONTEXT_OPTIONS_NONE, &context_)))
            return false;
        D2D1_BITMAP_PROPERTIES1 properties = D2D1::BitmapProperties1(
            D2D1_BITMAP_OPTIONS_TARGET, D2D1::PixelFormat(DXGI_FORMAT_B8G8R8A8_UNORM, D2D1_ALPHA_MODE_PREMULTIPLIED));
        if (FAILED(context_->CreateBitmap(D2D1::SizeU(width, height), nullptr, 0, properties, &target_))) return false;
        properties.bitmapOptions = D2D1_BITMAP_OPTIONS_CPU_READ | D2D1_BITMAP_OPTIONS_CANNOT_DRAW;
        if (FAILED(context_->CreateBitmap(D2D1::SizeU(width, height), nullptr, 0, properties, &readback_)))
            return false;
        context_->SetTarget(target_.Get());
        return true;
    }
    // One frame on a grey picture at the clock time `ms`; false when Direct2D failed.
    bool Draw(bool dark, uint64_t ms)
    {
        context_->BeginDraw();
        context_->Clear(D2D1::ColorF(0.5f, 0.5f, 0.5f, 1.0f));
        CockpitDrawAtTime(context_.Get(), static_cast<float>(width_), static_cast<float>(height_), dark, ms);
        if (FAILED(context_->EndDraw())) return false;
        const D2D1_POINT_2U origin = {0, 0};
        const D2D1_RECT_U all = {0, 0, width_, height_};
        D2D1_MAPPED_RECT mapped = {};
        if (FAILED(readback_->CopyFromBitmap(&origin, target_.Get(), &all)) ||
            FAILED(readback_->Map(D2D1_MAP_OPTIONS_READ, &mapped)))
            return false;
        pixels_.resize(static_cast<size_t>(width_) * height_);
        for (uint32_t y = 0; y < height_; y++)
            memcpy(&pixels_[static_cast<size_t>(y) * width_], mapped.bits + static_cast<size_t>(y) * mapped.pitch,
                   width_ * 4);
        readback_->Unmap();
        return true;
    }
    Rgb At(int x, int y) const
    {
        const uint32_t p = pixels_[static_cast<size_t>(y) * width_ + x];  // opaque: premultiplied = straight
        return {static_cast<int>((p >> 16) & 0xFF), static_cast<int>((p >> 8) & 0xFF), static_cast<int>(p & 0xFF)};
    }

private:
    uint32_t width_ = 0, height_ = 0;
    ComOwner<ID3D11Device> d3d_;
    ComOwner<ID2D1Device> device_;
    ComOwner<ID2D1DeviceContext> context_;
    ComOwner<ID2D1Bitmap1> target_;
    ComOwner<ID2D1Bitmap1> readback_;
    std::vector<uint32_t> pixels_;
};

bool Near(Rgb a, Rgb b, int tolerance = 3)
{
    return std::abs(a.r - b.r) <= tolerance && std::abs(a.g - b.g) <= tolerance && std::abs(a.b - b.b) <= tolerance;
}

::testing::AssertionResult Looks(const Surface& surface, int x, int y, Rgb expected, int tolerance = 3)
{
    const Rgb seen = surface.At(x, y);
    if (Near(seen, expected, tolerance)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "(" << x << ", " << y << ") is " << seen.r << "," << seen.g << ","
                                         << seen.b << " instead of " << expected.r << "," << expected.g << ","
                                         << expected.b;
}

constexpr Rgb PANEL_LIGHT = {236, 236, 236};
constexpr Rgb PANEL_DARK = {34, 34, 34};
constexpr Rgb GOLD = {196, 147, 63};
constexpr Rgb RED = {255, 69, 58};
constexpr Rgb PICTURE = {128, 128, 128};

// An ink colour of alpha a over a panel colour, per channel.
Rgb Over(Rgb top, float alpha, Rgb under)
{
    auto mix = [&](int t, int u) { return static_cast<int>(std::lround(t * alpha + u * (1.0f - alpha))); };
    return {mix(top.r, under.r), mix(top.g, under.g), mix(top.b, under.b)};
}

class CockpitDrawTest : public testing::Test {
protected:
    void SetUp() override
    {
        TextsSetLanguageForTest(0);
        UiStateReset();
        SettingsResetDefaults();
        CockpitResetAnimation();
        CaptureResetMicLevel();
        ASSERT_TRUE(surface.Make(1280, 800));
    }
    void TearDown() override { CaptureResetMicLevel(); }
    void Level(float level)
    {
        CaptureResetMicLevel();
        CaptureMixMicLevel(2.0f * level);  // the meter's smoothing halves a first block
    }
    Surface surface;
};

TEST_F(CockpitDrawTest, BarColoursAndTheLevelMeterInBothAppearances)
{
    constexpr int yB = 758;
    Level(0.69f);
    ASSERT_TRUE(surface.Draw(false, 1000));
    EXPECT_TRUE(Looks(surface, 640, 5, PANEL_LIGHT));
    EXPECT_TRUE(Looks(surface, 400, 790, PANEL_LIGHT));
    EXPECT_TRUE(Looks(surface, 640, 400, PICTURE));
    const Rgb unlitLight = Over({26, 26, 26}, 0.18f, PANEL_LIGHT);
    for (int i = 0; i < 8; i++) EXPECT_TRUE(Looks(surface, 56 + 8 * i, yB, i < 6 ? GOLD : unlitLight)) << i;

    Level(0.95f);
    ASSERT_TRUE(surface.Draw(true, 1000));
    EXPECT_TRUE(Looks(surface, 640, 5, PANEL_DARK));
    EXPECT_TRUE(Looks(surface, 400, 790, PANEL_DARK));
    for (int i = 0; i < 8; i++) EXPECT_TRUE(Looks(surface, 56 + 8 * i, yB, i < 6 ? GOLD : RED)) << i;

    UiState.micMuted = true;
    ASSERT_TRUE(surface.Draw(true, 1000));
    const Rgb unlitDark = Over({245, 245, 242}, 0.18f, PANEL_DARK);
    for (int i = 0; i < 8; i++) EXPECT_TRUE(Looks(surface, 56 + 8 * i, yB, unlitDark)) << i;

    // Hidden: only the picture, even where the bars were.
    UiState.cockpitVisible = false;
    ASSERT_TRUE(surface.Draw(false, 1000));
    EXPECT_TRUE(Looks(surface, 640, 5, PICTURE));
    EXPECT_TRUE(Looks(surface, 56, yB, PICTURE));
}

TEST_F(CockpitDrawTest, PhotoButtonDimmedWhileNotLiveAndRecordSymbolMorphsIn200Ms)
{
    constexpr int yB = 758;
    const Rgb ink = {26, 26, 26};
    ASSERT_TRUE(surface.Draw(false, 1000));
    EXPECT_TRUE(Looks(surface, 621, yB, Over(ink, 0.35f, PANEL_LIGHT), 6));  // on the photo ring
    EXPECT_TRUE(Looks(surface, 677 + 20, yB, RED));                          // disc of radius 22
    UiState.live = true;
    ASSERT_TRUE(surface.Draw(false, 1000));
    EXPECT_TRUE(Looks(surface, 621, yB, ink, 6));

    // Half-way after 0.1 s (side 35), a square of side 26 after 0.2 s.
    UiState.recording = true;
    ASSERT_TRUE(surface.Draw(false, 1100));
    EXPECT_TRUE(Looks(surface, 677 + 16, yB, RED));
    EXPECT_FALSE(Near(surface.At(677 + 19, yB), RED));
    ASSERT_TRUE(surface.Draw(false, 1200));
    EXPECT_TRUE(Looks(surface, 677 + 12, yB, RED));
    EXPECT_FALSE(Near(surface.At(677 + 14, yB), RED));
}

TEST_F(CockpitDrawTest, TimerPillCentredOnThePictureBelowTheTopBar)
{
    UiState.recording = true;
    UiState.recordSeconds = 75;
    ASSERT_TRUE(surface.Draw(false, 1000));
    // The pill darkens the grey picture: find its rows and its extent on a row inside it.
    auto darkened = [&](int x, int y) { return surface.At(x, y).g < PICTURE.g - 20; };
    int top = -1;
    for (int y = 52; y < 120 && top < 0; y++)
        for (int x = 400; x < 880; x++)
            if (darkened(x, y)) {
                top = y;
                break;
            }
    EXPECT_EQ(top, 62);
    int left = 640, right = 640;
    while (left > 300 && (darkened(left - 1, 70) || surface.At(left - 1, 70).g > PICTURE.g + 20)) left--;
    while (right < 980 && (darkened(right + 1, 70) || surface.At(right + 1, 70).g > PICTURE.g + 20)) right++;
    EXPECT_NEAR((left + right + 1) / 2.0, 640.0, 1.0) << left << " .. " << right;
    EXPECT_GT(right - left, 60);

    // The text formats are made once per scale.
    IDWriteTextFormat* timer = CockpitFormat(FONT_TIMER);
    ASSERT_TRUE(surface.Draw(false, 1033));
    EXPECT_EQ(CockpitFormat(FONT_TIMER), timer);
    UiState.dpiScale = 2.0f;
    ASSERT_TRUE(surface.Draw(false, 1066));
    ASSERT_NE(CockpitFormat(FONT_TIMER), nullptr);
    EXPECT_FLOAT_EQ(CockpitFormat(FONT_TIMER)->GetFontSize(), 26.0f);
}

// A 3-pixel picture shows none of the overlays (a 4-pixel one does); the flash still covers
// the whole window.
TEST_F(CockpitDrawTest, TinyPictureShowsNoOverlaysButTheFlash)
{
    Settings.devStabSliders = true;  // a panel across the middle of the picture
    Surface tiny;
    ASSERT_TRUE(tiny.Make(1280, 52 + 84 + 4));
    ASSERT_TRUE(tiny.Draw(false, 1000));
    EXPECT_FALSE(Near(tiny.At(100, 53), PICTURE));

    ASSERT_TRUE(tiny.Make(1280, 52 + 84 + 3));
    ASSERT_TRUE(tiny.Draw(false, 1000));
    EXPECT_TRUE(Looks(tiny, 100, 53, PICTURE));

    UiState.photoFlash = 0.75f;
    ASSERT_TRUE(tiny.Draw(false, 1000));  // the same clock time: no decay yet
    EXPECT_TRUE(Looks(tiny, 100, 53, Over({255, 255, 255}, 0.75f, PICTURE)));
    EXPECT_TRUE(Looks(tiny, 640, 5, Over({255, 255, 255}, 0.75f, PANEL_LIGHT)));
    EXPECT_TRUE(Looks(tiny, 640, 130, Over({255, 255, 255}, 0.75f, PANEL_LIGHT)));
}

}  // namespace
