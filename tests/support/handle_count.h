#pragma once
// Handles open in this process, for leak checks. Wine's GetProcessHandleCount always reports 0,
// so there the handle table's lower part is probed instead (enough for a test process).
#include <windows.h>

DWORD OpenHandleCount();
