#pragma once
// The cockpit drawn over the live picture: status, buttons and the Macro size control.
#include <d2d1_1.h>

// Draws the cockpit for a width x height client area (pixels) between the renderer's
// BeginDraw and EndDraw.
void CockpitDraw(ID2D1DeviceContext* context, float width, float height, bool dark);
// Releases the cached text formats (renderer teardown; they are made again on the next draw).
void CockpitReleaseTextFormats();
