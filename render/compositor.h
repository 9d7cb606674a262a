#pragma once
// The offscreen compositor: the composed view (Wide filling the frame, Macro picture-in-picture
// at the bottom, watermark on top) rendered on its own device and read back into the caller's
// buffer, for recordings and photos. Also the camera drawing rules the window shares.
#include <d2d1_1.h>
#include <d3d11.h>
#include <dxgi.h>
#include <cstdint>

#include "diag/log_streak.h"
#include "frames/frame_store.h"
#include "render/view_geometry.h"

// One compositor per user thread; the caller owns the record (CompositorDestroy).
struct OffscreenCompositor {
    int32_t width;
    int32_t height;
    ID3D11Device* d3dDevice;
    ID3D11DeviceContext* d3dContext;
    IDXGIDevice* dxgiDevice;
    ID2D1Device* d2dDevice;
    ID2D1DeviceContext* d2dContext;
    ID2D1Bitmap1* targetBitmap;
    ID2D1Bitmap1* readbackBitmap;
    ID2D1Bitmap1* overlayBitmap;  // cached; keyed by the three fields below
    const uint8_t* overlaySource;
    int32_t overlayWidth;
    int32_t overlayHeight;
    LogStreak composeFailures;  // Compose's failures, logged once per streak
};

// A compositor for width x height frames; null on failure (logged).
OffscreenCompositor* CompositorCreate(int32_t width, int32_t height);
// Releases everything; null is allowed.
void CompositorDestroy(OffscreenCompositor* compositor);

// Composes one frame into `out` (top-down premultiplied BGRA, min(width * 4, outStride) bytes
// per row). Frames and overlay stay the caller's; either Frame may be null. The overlay
// (overlayWidth * 4 bytes per row) is cached by its address and size: changed pixels need a
// different buffer. True when `out` holds the new frame; false leaves `out` untouched. A failure
// repeated frame after frame is logged once, and once more when a frame succeeds again.
bool CompositorCompose(OffscreenCompositor* compositor, const Frame* wide, const Frame* macro,
                       float pipFraction, const uint8_t* overlay, int32_t overlayWidth,
                       int32_t overlayHeight, uint8_t* out, int32_t outStride);

// The recorded layout, between the caller's BeginDraw and EndDraw: black, Wide filling
// frameWidth x frameHeight, Macro at the bottom (CompositionPipBox), overlay on top. Bitmaps
// may be null.
void CompositorDrawLayout(ID2D1DeviceContext* context, ID2D1Bitmap* wide, int32_t wideWidth,
                          int32_t wideHeight, ID2D1Bitmap* macro, int32_t macroWidth,
                          int32_t macroHeight, float frameWidth, float frameHeight,
                          float pipFraction, double macroZoom, double macroShiftX,
                          double macroShiftY, ID2D1Bitmap* overlay);

// Draws a w x h camera bitmap cover-cropped (CameraSourceRect) into dest, turned by 180
// degrees about dest's centre.
void DrawCameraFrame(ID2D1DeviceContext* context, ID2D1Bitmap* bitmap, int32_t w, int32_t h,
                     const D2D1_RECT_F& dest, double zoom, double shiftX, double shiftY);

// A premultiplied BGRA bitmap copied from pixel memory (the memory may be reused at once).
// Null without calling Direct2D (code 0) when pixels is null, a size is 0 or a row does not
// fit in pitch; null with the failure code when Direct2D refuses.
ID2D1Bitmap1* CreateBitmapFromPixels(ID2D1DeviceContext* context, const void* pixels,
                                     uint32_t width, uint32_t height, int32_t pitch,
                                     HRESULT* code);
