#pragma once
// The diagnostics window MIRU_DIAG: the log newest first, filtered by level, with copy, clear
// and a way to the camera privacy settings. At most one exists.
#include <windows.h>

// Opens the window owned by `owner` (may be null), or raises the existing one and refreshes it.
void OpenDiagnostics(HWND owner);
