#pragma once
// Handles open in this process, for leak checks. Wine's GetProcessHandleCount always reports 0,
// so there the handle table's lower part is probed instead (enough for a test process).
#include <windows.h>

inline DWORD OpenHandleCount()
{
    DWORD count = 0;
    if (GetProcessHandleCount(GetCurrentProcess(), &count) && count > 0) return count;
    DWORD flags = 0;
    for (UINT_PTR value = 4; value < 0x2000; value += 4)
        if (GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags)) ++count;
    return count;
}
