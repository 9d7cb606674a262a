#pragma once
// The window renderer: the live picture with the cockpit in the main window, drawn on the UI
// thread through Direct3D 11 and Direct2D.
#include <windows.h>
#include <unknwn.h>
#include <cstdint>

// Once at start-up, after the main window exists. False: the program cannot show anything.
bool RendererInit(HWND window);
// The client area's new size in pixels (WM_SIZE, not while minimised).
void RendererResize(int32_t width, int32_t height);
// Draws and presents one frame (frame timer and WM_PAINT).
void RendererDrawFrame();
// Releases everything; also safe when RendererInit never ran or failed.
void RendererShutdown();

// True while device, swap chain, context and target exist (false while the device is lost).
bool RendererIsReady();

// The steps whose results development builds' tests can replace.
enum class RendererStep { EndDraw, Present, DxgiFactory };

#ifdef MIRU_TEST_HOOKS
// Tests only: draws one frame like RendererDrawFrame and copies the finished picture before
// presenting it: a window capture that does not depend on how the system composes flip-model
// windows. On success *pixels is a malloc block (release with free()) of *width x *height
// premultiplied BGRA pixels, rows top-down and tightly packed. False when no frame was drawn.
bool RendererCaptureFrame(uint8_t** pixels, int32_t* width, int32_t* height);
// Tests only: the next `count` results of a step are replaced by `code`.
void RendererFailForTest(RendererStep step, HRESULT code, int32_t count);
// Tests only: every D3D device made from now on holds a reference to `observer` until the
// device is destroyed (null stops it), so a test can see devices that were never released.
void RendererObserveDevicesForTest(IUnknown* observer);
// Tests only: how many times a swap chain was replaced or resized while the device context
// still held the old one's bindings and queued work (never cleared and flushed before).
int32_t RendererUnsettledSwapChainCallsForTest();
#endif
