#pragma once
// The main window MIRU_MAIN: the hub of the program on the UI thread. It draws the live
// picture on a timer, turns keys and mouse input into actions, passes device changes to the
// camera control, applies the application messages of the worker threads and, on WM_DESTROY,
// shuts the application down.
#include <windows.h>
#include <cstdint>

#include "app/recording_flow.h"
#include "base/app_messages.h"
#include "res/resource_ids.h"

constexpr const wchar_t* MAIN_WINDOW_CLASS = L"MIRU_MAIN";
constexpr const wchar_t* MAIN_WINDOW_TITLE = L"MI-RU";
constexpr int MAIN_ICON_ID = IDI_MIRU;

// Timers of the main window alone, beside those of base/app_messages.h.
enum : UINT_PTR {
    TIMER_NOTICE = 5,        // one shot: the cockpit notice ends
    TIMER_STOP_OVERDUE = 6,  // one shot: a requested stop has not ended in time
};

// Main-window state; UI thread only. Reset when the window is created.
struct MainWindowState {
    bool rendererReady;              // the renderer was initialised for this window
    HDEVNOTIFY deviceNotification;   // null when registration failed
    bool fullScreen;
    WINDOWPLACEMENT savedPlacement;  // placement before full screen
    RecordingFlow recordingFlow;     // Idle / Recording / Stopping and closeRequested
    bool mouseTracking;              // TrackMouseEvent(TME_LEAVE) is armed
    bool mouseCaptured;              // mouse captured for a cockpit slider drag
    int32_t frameTickCount;          // frame-timer ticks, wraps after 30
};
extern MainWindowState MainWindow;

// RegisterClassExW of MIRU_MAIN; on failure logs the cause and returns false.
bool MainWindowRegisterClass(HINSTANCE instance);
// The window with a client area of 1280 x 800 at the system DPI; null (logged) on failure.
HWND MainWindowCreate(HINSTANCE instance);
// Window size for a client area of width x height at 96 dpi, scaled to `dpi`.
SIZE MainWindowSizeForClient(int32_t width, int32_t height, UINT dpi);

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
