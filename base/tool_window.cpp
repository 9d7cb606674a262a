#include "base/tool_window.h"

#include "base/window_place.h"

bool ToolWindowRegister(ToolWindowClass& windowClass, HWND owner)
{
    if (windowClass.registered) return true;
    WNDCLASSW registration = {};
    registration.lpfnWndProc = windowClass.procedure;
    registration.hInstance = GetModuleHandleW(nullptr);
    registration.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    registration.hbrBackground = windowClass.background;
    registration.hIcon = owner ? reinterpret_cast<HICON>(GetClassLongPtrW(owner, GCLP_HICON)) : nullptr;
    if (!registration.hIcon) registration.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    registration.lpszClassName = windowClass.name;
    if (!RegisterClassW(&registration) && GetLastError() != ERROR_CLASS_ALREADY_EXISTS) return false;
    windowClass.registered = true;
    return true;
}

HWND ToolWindowCreate(const ToolWindowClass& windowClass, HWND owner, const wchar_t* title, DWORD style,
                      int clientWidth, int clientHeight)
{
    UINT dpi = owner ? GetDpiForWindow(owner) : GetDpiForSystem();
    if (dpi == 0) dpi = USER_DEFAULT_SCREEN_DPI;
    RECT rect = {0, 0, MulDiv(clientWidth, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI),
                 MulDiv(clientHeight, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI)};
    AdjustWindowRectExForDpi(&rect, style, FALSE, 0, dpi);
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    POINT place = {CW_USEDEFAULT, CW_USEDEFAULT};
    WindowPlaceCentred(owner, width, height, &place);
    HWND window = CreateWindowExW(0, windowClass.name, title, style, place.x, place.y, width, height, owner, nullptr,
                                  GetModuleHandleW(nullptr), nullptr);
    if (!window) return nullptr;
    ShowWindow(window, SW_SHOW);
    UpdateWindow(window);
    return window;
}

void ToolWindowRaise(HWND window)
{
    if (IsIconic(window)) ShowWindow(window, SW_RESTORE);
    SetForegroundWindow(window);
}

UINT ToolWindowFollowDpi(HWND window, WPARAM wParam, LPARAM lParam)
{
    const RECT* r = reinterpret_cast<const RECT*>(lParam);
    SetWindowPos(window, nullptr, r->left, r->top, r->right - r->left, r->bottom - r->top,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    return HIWORD(wParam);
}

LRESULT ToolWindowDefault(HWND window, UINT message, WPARAM wParam, LPARAM lParam, void (*onDestroy)())
{
    switch (message) {
    case WM_CLOSE:
        DestroyWindow(window);
        return 0;
    case WM_DESTROY:
        if (onDestroy) onDestroy();
        return 0;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}
