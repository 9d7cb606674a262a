#include "app/app_messages.h"

#include <cstdlib>
#include <cwchar>

HWND mainWindow = nullptr;

bool PostAppMessageText(UINT message, WPARAM wParam, const wchar_t* text)
{
    HWND target = mainWindow;
    if (!target) return false;
    wchar_t* copy = nullptr;
    if (text) {
        size_t length = wcslen(text);
        copy = static_cast<wchar_t*>(malloc((length + 1) * sizeof(wchar_t)));
        if (!copy) return false;
        wmemcpy(copy, text, length + 1);
    }
    if (!PostMessageW(target, message, wParam, reinterpret_cast<LPARAM>(copy))) {
        free(copy);
        return false;
    }
    return true;
}

void FreeAppMessageText(LPARAM text)
{
    free(reinterpret_cast<wchar_t*>(text));
}
