#pragma once
// The window renderer: the live picture with the cockpit in the main window, drawn on the UI
// thread through Direct3D 11 and Direct2D.
#include <windows.h>
#include <cstdint>

// Once at start-up, after the main window exists. False: the program cannot show anything.
bool RendererInit(HWND window);
// The client area's new size in pixels (WM_SIZE, not while minimised).
void RendererResize(int32_t width, int32_t height);
// Draws and presents one frame (frame timer and WM_PAINT).
void RendererDrawFrame();
// Releases everything; also safe when RendererInit never ran or failed.
void RendererShutdown();
