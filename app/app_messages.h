#pragma once
// The main window handle and the application messages that worker threads post to it.
#include <windows.h>
#include <cstdint>

constexpr UINT WM_APP_STATUS = WM_APP + 1;           // wParam status number
constexpr UINT WM_APP_LIVE = WM_APP + 2;             // wParam 1 live / 0 not
constexpr UINT WM_APP_RECORDING_ENDED = WM_APP + 3;  // wParam success, lParam heap text or 0
constexpr UINT WM_APP_WARNING = WM_APP + 4;          // lParam heap text
constexpr UINT WM_APP_STATUS_DETAIL = WM_APP + 5;    // lParam heap text or 0
constexpr UINT WM_APP_DEVICES_CHANGED = WM_APP + 6;  // device list changed (settings window)
constexpr UINT WM_APP_LOG_CHANGED = WM_APP + 7;
constexpr UINT WM_APP_STOP_RECORDING = WM_APP + 8;
constexpr UINT WM_APP_RESTART_CAMERAS = WM_APP + 9;  // a camera or microphone choice changed

// Set on WM_CREATE, cleared on WM_DESTROY of the main window. Worker code checks it for null
// before posting.
extern HWND mainWindow;

// Posts `message` to mainWindow with a heap copy of `text` (or 0 when text is null) as lParam.
// The receiver frees the copy with FreeAppMessageText; when posting fails the copy is freed
// here. Returns whether the message was posted.
bool PostAppMessageText(UINT message, WPARAM wParam, const wchar_t* text);
void FreeAppMessageText(LPARAM text);

// Heap texts made by PostAppMessageText and not yet freed (leak checks).
int32_t AppMessageTextsOutstanding();
