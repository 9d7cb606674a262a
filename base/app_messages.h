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

// The main window's timers (the cockpit sets its hide timer).
enum : UINT_PTR {
    TIMER_FRAME = 1,            // 33 ms: draw a frame
    TIMER_COCKPIT_HIDE = 2,     // 6 s after the cockpit was last shown
    TIMER_RECORD_CLOCK = 3,     // recording seconds
    TIMER_FREE_SPACE = 4,       // 15 s: free-space text
    TIMER_CAMERA_RESTART = 100, // one shot, 300 ms after a camera stop
};

// The main window: set on WM_CREATE, cleared at the start of WM_DESTROY. Worker threads read it
// for every post (atomically), so once it is cleared they post nothing; they check it for null.
HWND AppWindow();
void SetAppWindow(HWND window);

// Posts `message` to AppWindow() with a heap copy of `text` (or 0 when text is null) as lParam.
// The receiver frees the copy with FreeAppMessageText; when posting fails the copy is freed
// here. Returns whether the message was posted.
bool PostAppMessageText(UINT message, WPARAM wParam, const wchar_t* text);
void FreeAppMessageText(LPARAM text);

// Heap texts made by PostAppMessageText and not yet freed (leak checks).
int32_t AppMessageTextsOutstanding();

#ifdef MIRU_TEST_HOOKS
// Tests only: while set, every text copy fails as when memory has run out.
void AppMessageTextCopiesFailForTest(bool fail);
#endif
