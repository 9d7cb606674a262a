#pragma once
// Direct2D drawing that tests can read back: an offscreen device context with a width x height
// target, and helpers for BGRA pixels and test Frames. Used by the render, cockpit and wizard
// tests.
#include <d2d1_1.h>
#include <d3d11.h>

#include <cstdint>
#include <vector>

#include "base/win_owners.h"
#include "frames/frame_store.h"

// One premultiplied BGRA pixel as 0xAARRGGBB.
constexpr uint32_t Argb(uint32_t a, uint32_t r, uint32_t g, uint32_t b)
{
    return (a << 24) | (r << 16) | (g << 8) | b;
}

// A whole picture, top-down, one uint32_t (0xAARRGGBB) per pixel.
struct Picture {
    int32_t width = 0;
    int32_t height = 0;
    std::vector<uint32_t> pixels;
    uint32_t At(int32_t x, int32_t y) const { return pixels[static_cast<size_t>(y) * width + x]; }
    // Copies a top-down BGRA buffer with the given row stride.
    static Picture FromBgra(const uint8_t* bgra, int32_t width, int32_t height, int32_t stride);
};

// True when every channel of a and b differs by at most `tolerance`.
bool NearColor(uint32_t a, uint32_t b, uint32_t tolerance);

class D2DCanvas {
public:
    D2DCanvas(int32_t width, int32_t height);
    ~D2DCanvas();

    bool Ready() const { return static_cast<bool>(context_); }
    // The context with this canvas as target; draw between BeginDraw and EndDraw.
    ID2D1DeviceContext* Context() const { return context_.Get(); }
    // The target's pixels after the last EndDraw.
    Picture Read();

private:
    int32_t width_;
    int32_t height_;
    // Members go in reverse order: the context before its bitmaps and devices.
    ComOwner<ID3D11Device> device_;
    ComOwner<ID2D1Device> d2dDevice_;
    ComOwner<ID2D1Bitmap1> readback_;
    ComOwner<ID2D1Bitmap1> target_;
    ComOwner<ID2D1DeviceContext> context_;
};

// A Frame of the given size whose pixel (x, y) is colour(x, y); the caller releases it.
template <class ColourOf>
Frame* MakeTestFrame(int32_t width, int32_t height, ColourOf colour)
{
    Frame* frame = FrameCreate(width, height);
    if (!frame) return nullptr;
    for (int32_t y = 0; y < height; ++y) {
        auto* row = reinterpret_cast<uint32_t*>(frame->pixels + static_cast<size_t>(y) * frame->stride);
        for (int32_t x = 0; x < width; ++x) row[x] = colour(x, y);
    }
    return frame;
}

// Four opaque quadrant colours: red top-left, green top-right, blue bottom-left, white
// bottom-right. Any 180-degree turn or mirror shows in which corner each lands.
uint32_t QuadrantColour(int32_t x, int32_t y, int32_t width, int32_t height);
constexpr uint32_t QUAD_TOP_LEFT = Argb(255, 255, 0, 0);
constexpr uint32_t QUAD_TOP_RIGHT = Argb(255, 0, 255, 0);
constexpr uint32_t QUAD_BOTTOM_LEFT = Argb(255, 0, 0, 255);
constexpr uint32_t QUAD_BOTTOM_RIGHT = Argb(255, 255, 255, 255);
