#pragma once
// The tabbed settings window (at most one; opening it again raises it).
#include <windows.h>

// Opens the settings window owned by `owner` (the main window when null), or raises the open one
// and re-reads the settings and the device lists into it.
void OpenSettings(HWND owner);
