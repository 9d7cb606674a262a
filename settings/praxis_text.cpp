#include "settings/praxis_text.h"

#include <cwchar>

namespace {

bool IsControl(wchar_t c)
{
    return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == 0x3000 || c == 0xA0;
}

bool IsQuote(wchar_t c)
{
    return c == L'"' || c == L'\'';
}

}  // namespace

bool PraxisTextStrip(wchar_t* text)
{
    if (!text) return false;
    wchar_t* out = text;
    for (const wchar_t* in = text; *in; in++)
        if (!IsControl(*in)) *out++ = *in;
    const bool removed = *out != 0;
    *out = 0;
    return removed;
}

void PraxisTextToIni(const wchar_t* text, wchar_t* out, size_t capacity)
{
    if (!out || capacity == 0) return;
    out[0] = 0;
    if (!text) return;
    const size_t length = wcslen(text);
    const bool quote = length > 0 && (IsBlank(text[0]) || IsBlank(text[length - 1]) || IsQuote(text[0]) ||
                                      IsQuote(text[length - 1]));
    if (!quote) {
        const size_t kept = length < capacity - 1 ? length : capacity - 1;
        wmemcpy(out, text, kept);
        out[kept] = 0;
        return;
    }
    if (capacity < 3) return;
    const size_t kept = length < capacity - 3 ? length : capacity - 3;
    out[0] = L'"';
    wmemcpy(out + 1, text, kept);
    out[kept + 1] = L'"';
    out[kept + 2] = 0;
}
