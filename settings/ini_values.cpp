#include "settings/ini_values.h"

#include <cmath>
#include <cwchar>
#include <limits>

namespace {

// ASCII-only folding: the keywords are ASCII, and a locale-dependent towlower could make
// "TRUE" mean different things on different machines.
wchar_t FoldAscii(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') ? static_cast<wchar_t>(c - L'A' + L'a') : c;
}

bool EqualsIgnoringAsciiCase(const wchar_t* text, const wchar_t* lowerWord)
{
    for (; *lowerWord; ++text, ++lowerWord) {
        if (FoldAscii(*text) != *lowerWord) return false;
    }
    return *text == 0;
}

bool IsDigit(wchar_t c) { return c >= L'0' && c <= L'9'; }
bool IsSeparator(wchar_t c) { return c == L'.' || c == L','; }

// The blanks wcstol skips in the "C" locale.
bool IsCSpace(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\n' || c == L'\v' || c == L'\f' || c == L'\r';
}

}  // namespace

bool IniParseBool(const wchar_t* text, bool* value)
{
    if (!text || !value) return false;
    if (text[0] == L'1' && text[1] == 0) { *value = true; return true; }
    if (text[0] == L'0' && text[1] == 0) { *value = false; return true; }
    if (EqualsIgnoringAsciiCase(text, L"true")) { *value = true; return true; }
    if (EqualsIgnoringAsciiCase(text, L"false")) { *value = false; return true; }
    return false;
}

bool IniParseDouble(const wchar_t* text, double* value)
{
    if (!text || !value) return false;
    const wchar_t* p = text;
    while (*p == L' ' || *p == L'\t') ++p;
    bool negative = false;
    if (*p == L'+' || *p == L'-') {
        negative = *p == L'-';
        ++p;
    }
    // A number starts with a digit, or with a separator that a digit follows (".5").
    if (!IsDigit(*p) && !(IsSeparator(*p) && IsDigit(p[1]))) return false;

    double result = 0.0;
    while (IsDigit(*p)) result = result * 10.0 + (*p++ - L'0');
    if (IsSeparator(*p)) {
        ++p;
        double scale = 0.1;
        while (IsDigit(*p)) {
            result += (*p++ - L'0') * scale;
            scale *= 0.1;
        }
    }
    *value = negative ? -result : result;
    return true;
}

bool IniParseInt(const wchar_t* text, int32_t* value)
{
    // The wcstol rule (base 10, "C" locale) written out, so that the result saturates at the
    // 32-bit limits on every platform, also where long has 64 bits.
    if (!text || !value) return false;
    const wchar_t* p = text;
    while (IsCSpace(*p)) ++p;
    bool negative = false;
    if (*p == L'+' || *p == L'-') {
        negative = *p == L'-';
        ++p;
    }
    if (!IsDigit(*p)) return false;

    constexpr int64_t limit = static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1;
    int64_t magnitude = 0;
    while (IsDigit(*p)) {
        magnitude = magnitude * 10 + (*p++ - L'0');
        if (magnitude > limit) magnitude = limit;  // keeps the sum small; saturates below
    }
    int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue > std::numeric_limits<int32_t>::max()) signedValue = std::numeric_limits<int32_t>::max();
    if (signedValue < std::numeric_limits<int32_t>::min()) signedValue = std::numeric_limits<int32_t>::min();
    *value = static_cast<int32_t>(signedValue);
    return true;
}

void IniFormatDouble(double value, wchar_t* out, size_t capacity)
{
    if (!out || capacity == 0) return;
    // NaN has no fixed-point form; converting it to an integer would be undefined. It is
    // written as zero, which every clamp of the settings accepts or corrects.
    if (std::isnan(value)) value = 0.0;
    constexpr double cap = 4000000000.0;
    const bool negative = value < 0.0;
    double magnitude = negative ? -value : value;
    if (magnitude > cap) magnitude = cap;
    // At most 4e15 micro-units: fits 64 bits; the integer part (≤ 4e9) fits 32-bit unsigned long.
    const uint64_t micros = static_cast<uint64_t>(std::trunc(magnitude * 1000000.0 + 0.5));
    const unsigned long whole = static_cast<unsigned long>(micros / 1000000u);
    const unsigned long fraction = static_cast<unsigned long>(micros % 1000000u);

    wchar_t text[64];
    int written = negative ? swprintf(text, 64, L"-%lu.%06lu", whole, fraction)
                           : swprintf(text, 64, L"%lu.%06lu", whole, fraction);
    if (written < 0) written = 0;
    size_t length = static_cast<size_t>(written);
    if (length > capacity - 1) length = capacity - 1;
    for (size_t i = 0; i < length; ++i) out[i] = text[i];
    out[length] = 0;
}
