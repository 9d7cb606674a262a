// Free space at the recording destination, shown as the recording time it still holds.
#include "record/free_space_text.h"

#include <charconv>
#include <cmath>
#include <cstddef>
#include <cwchar>

#include "app/texts.h"

namespace {

constexpr double kMiB = 1048576.0;
constexpr double kBytesPerGb = 1000000000.0;
constexpr int32_t kTimeCapacity = 48;
constexpr int32_t kSizeCapacity = 32;
constexpr int32_t kWholeCapacity = kTimeCapacity + kSizeCapacity + 16;

// Rounds halves away from zero and keeps the result inside int (no real disk reaches the limit).
int RoundToInt(double value)
{
    const double rounded = std::round(value);
    return rounded >= 2147483647.0 ? 2147483647 : static_cast<int>(rounded);
}

int TruncToInt(double value)
{
    return value >= 2147483647.0 ? 2147483647 : static_cast<int>(value);
}

// "%.0f GB" / "%.1f GB" without the C library's locale: the decimal separator is a point in
// both languages, whatever locale a host or a component may have set.
void FormatGigabytes(double gb, int decimals, wchar_t* out, int32_t capacity)
{
    char digits[kSizeCapacity];
    const auto result = std::to_chars(digits, digits + sizeof digits - 4, gb, std::chars_format::fixed, decimals);
    std::size_t n = result.ec == std::errc{} ? static_cast<std::size_t>(result.ptr - digits) : 0;
    const char suffix[] = " GB";
    for (char c : suffix) digits[n++] = c;  // copies the terminator too
    for (std::size_t i = 0; i < n && i < static_cast<std::size_t>(capacity); i++) out[i] = static_cast<wchar_t>(digits[i]);
    out[capacity - 1] = L'\0';
}

}  // namespace

double RecordingBytesPerMinute(bool high)
{
    return high ? 170.0 * kMiB : 100.0 * kMiB;
}

void FormatFreeSpaceText(int64_t freeBytes, bool high, wchar_t* out, int32_t capacity)
{
    if (!out || capacity < 1) return;
    out[0] = L'\0';

    const double bytes = freeBytes > 0 ? static_cast<double>(freeBytes) : 0.0;
    const double gb = bytes / kBytesPerGb;
    const double minutes = bytes / RecordingBytesPerMinute(high);

    wchar_t timePart[kTimeCapacity];
    int sizeDecimals = 1;
    if (minutes >= 600.0) {
        swprintf(timePart, kTimeCapacity, PickText(L"\u2248 %d Std", L"\u2248 %d hrs"), RoundToInt(minutes / 60.0));
        sizeDecimals = gb >= 100.0 ? 0 : 1;
    } else if (minutes >= 90.0) {
        swprintf(timePart, kTimeCapacity, PickText(L"\u2248 %d Std %d Min", L"\u2248 %d hrs %d min"),
                 TruncToInt(minutes / 60.0), TruncToInt(std::fmod(minutes, 60.0)));
        sizeDecimals = gb >= 100.0 ? 0 : 1;
    } else {
        swprintf(timePart, kTimeCapacity, PickText(L"\u2248 %d Min", L"\u2248 %d min"), RoundToInt(minutes));
    }

    wchar_t sizePart[kSizeCapacity];
    FormatGigabytes(gb, sizeDecimals, sizePart, kSizeCapacity);

    // Composed in full first, then cut: a short buffer still gets the text's beginning.
    wchar_t whole[kWholeCapacity];
    swprintf(whole, kWholeCapacity, PickText(L"%ls \u00b7 %ls frei", L"%ls \u00b7 %ls free"), timePart, sizePart);
    const std::size_t length = wcslen(whole);
    const std::size_t kept = length < static_cast<std::size_t>(capacity) ? length : static_cast<std::size_t>(capacity) - 1;
    wmemcpy(out, whole, kept);
    out[kept] = L'\0';
}
