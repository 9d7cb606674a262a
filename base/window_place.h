#pragma once
// Where a secondary window opens: centred on its owner and kept on the owner's monitor.
#include <windows.h>

// The top-left corner for a window of `width` x `height` centred on `owner`'s window rectangle
// and moved inside that monitor's work area. False (CW_USEDEFAULT applies) without an owner or
// when its rectangle cannot be read.
bool WindowPlaceCentred(HWND owner, int width, int height, POINT* topLeft);
