#include "base/text_copy.h"

#include <cwchar>

void CopyTextCut(wchar_t* dest, int32_t capacity, const wchar_t* text)
{
    if (!dest || capacity < 1) return;
    dest[0] = L'\0';
    AppendTextCut(dest, capacity, text);
}

void AppendTextCut(wchar_t* dest, int32_t capacity, const wchar_t* text)
{
    if (!dest || capacity < 1) return;
    size_t length = wcsnlen(dest, static_cast<size_t>(capacity) - 1);
    const size_t limit = static_cast<size_t>(capacity) - 1;
    while (text && length < limit && *text != L'\0') dest[length++] = *text++;
    dest[length] = L'\0';
}
