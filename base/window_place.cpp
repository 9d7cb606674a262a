#include "base/window_place.h"

#include <algorithm>

bool WindowPlaceCentred(HWND owner, int width, int height, POINT* topLeft)
{
    RECT rect;
    if (!owner || !topLeft || !GetWindowRect(owner, &rect)) return false;
    int x = (rect.left + rect.right - width) / 2;
    int y = (rect.top + rect.bottom - height) / 2;
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    if (GetMonitorInfoW(MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &monitor)) {
        const RECT& work = monitor.rcWork;
        x = std::max(std::min(x, static_cast<int>(work.right) - width), static_cast<int>(work.left));
        y = std::max(std::min(y, static_cast<int>(work.bottom) - height), static_cast<int>(work.top));
    }
    *topLeft = {x, y};
    return true;
}
