#pragma once
// What the secondary windows (settings, diagnostics) share: their class, how they open on their
// owner, how an open one comes to the front and how they close. UI thread only.
#include <windows.h>

struct ToolWindowClass {
    const wchar_t* name;
    WNDPROC procedure;
    HBRUSH background;  // null: the window paints its own background
    bool registered;
};

// Registers the class once, with the owner's icon (or the default one). A class left from an
// earlier registration in this process serves as well. False when Windows refused; the caller
// logs it.
bool ToolWindowRegister(ToolWindowClass& windowClass, HWND owner);

// Creates and shows a window of the registered class whose client area is clientWidth x
// clientHeight at 96 dpi, scaled to the owner's dpi (the system's without an owner) and
// centred on the owner. Null when Windows refused; the caller logs it.
HWND ToolWindowCreate(const ToolWindowClass& windowClass, HWND owner, const wchar_t* title, DWORD style,
                      int clientWidth, int clientHeight);

// An open window to the front, restored first when it is minimised.
void ToolWindowRaise(HWND window);

// WM_DPICHANGED: moves the window to the rectangle Windows suggests (the message's lParam) and
// returns the new dpi (the message's wParam).
UINT ToolWindowFollowDpi(HWND window, WPARAM wParam, LPARAM lParam);

// The end of a tool window's procedure: WM_CLOSE destroys the window, WM_DESTROY runs
// `onDestroy`, everything else goes to DefWindowProcW.
LRESULT ToolWindowDefault(HWND window, UINT message, WPARAM wParam, LPARAM lParam, void (*onDestroy)());
