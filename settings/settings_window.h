#pragma once
// The tabbed settings window (at most one; opening it again raises it).
#include <windows.h>

// Opens or raises the settings window, owned by `owner` (the main window when null).
void OpenSettings(HWND owner);
