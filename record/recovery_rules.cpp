#include "record/recovery_rules.h"

#include <cstdio>
#include <cstring>
#include <cwchar>

namespace {

bool Fits(int written, wchar_t* out, int32_t capacity)
{
    if (written >= 0 && written < capacity) return true;
    if (capacity > 0) out[0] = L'\0';
    return false;
}

bool EndsWith(const wchar_t* text, const wchar_t* tail)
{
    const size_t length = wcslen(text), tailLength = wcslen(tail);
    return length >= tailLength && wcscmp(text + length - tailLength, tail) == 0;
}

uint32_t BigEndian32(const uint8_t* bytes)
{
    return (uint32_t{bytes[0]} << 24) | (uint32_t{bytes[1]} << 16) | (uint32_t{bytes[2]} << 8) | bytes[3];
}

bool IsBoxType(const uint8_t* type, const char* name)
{
    return memcmp(type, name, 4) == 0;
}

// Box types are four printable characters; anything else is media data, not a box.
bool PlausibleType(const uint8_t* type)
{
    for (int i = 0; i < 4; i++)
        if (type[i] < 0x20 || type[i] > 0x7E) return false;
    return true;
}

int DaysInMonth(int year, int month)
{
    static constexpr int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
    return month == 2 && leap ? 29 : days[month - 1];
}

}  // namespace

bool RecordingMarkerName(const wchar_t* tempFile, wchar_t* out, int32_t capacity)
{
    if (!out || capacity < 1) return false;
    return Fits(swprintf(out, static_cast<size_t>(capacity), L"%ls%ls", tempFile, RECORDING_MARKER_SUFFIX), out,
                capacity);
}

bool RecordingMarkerTarget(const wchar_t* marker, wchar_t* out, int32_t capacity)
{
    if (!out || capacity < 1) return false;
    const size_t length = EndsWith(marker, RECORDING_MARKER_SUFFIX) ? wcslen(marker) - wcslen(RECORDING_MARKER_SUFFIX) : 0;
    if (length == 0 || length >= static_cast<size_t>(capacity)) {
        out[0] = L'\0';
        return false;
    }
    wmemmove(out, marker, length);
    out[length] = L'\0';
    return true;
}

bool RecordingMarkerFormat(const LogTime& t, char* out, size_t capacity)
{
    const int written = snprintf(out, capacity, "%04d-%02d-%02d_%02d-%02d-%02d", t.year, t.month, t.day, t.hour,
                                 t.minute, t.second);
    return written == static_cast<int>(RECORDING_MARKER_STAMP_LENGTH) && static_cast<size_t>(written) < capacity;
}

bool RecordingMarkerParse(const char* text, size_t length, LogTime* time)
{
    if (!text || length < RECORDING_MARKER_STAMP_LENGTH) return false;
    static constexpr char shape[] = "dddd-dd-dd_dd-dd-dd";
    for (size_t i = 0; i < RECORDING_MARKER_STAMP_LENGTH; i++) {
        const bool digit = text[i] >= '0' && text[i] <= '9';
        if (shape[i] == 'd' ? !digit : text[i] != shape[i]) return false;
    }
    const auto number = [&](size_t at, size_t digits) {
        int value = 0;
        for (size_t i = 0; i < digits; i++) value = value * 10 + (text[at + i] - '0');
        return value;
    };
    const int year = number(0, 4), month = number(5, 2), day = number(8, 2);
    const int hour = number(11, 2), minute = number(14, 2), second = number(17, 2);
    if (year < 1970 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month) || hour > 23 ||
        minute > 59 || second > 59)
        return false;
    *time = LogTime{static_cast<uint16_t>(year), static_cast<uint16_t>(month), 0, static_cast<uint16_t>(day),
                    static_cast<uint16_t>(hour), static_cast<uint16_t>(minute), static_cast<uint16_t>(second), 0};
    return true;
}

bool TempRecordingSeconds(const wchar_t* tempFile, int64_t* seconds)
{
    const wchar_t* slash = wcsrchr(tempFile, L'\\');
    const wchar_t* name = slash ? slash + 1 : tempFile;
    if (wcsncmp(name, L"miru-", 5) != 0) return false;
    const wchar_t* digits = name + 5;
    int64_t value = 0;
    size_t count = 0;
    for (; digits[count] >= L'0' && digits[count] <= L'9'; count++) {
        if (count == 18) return false;  // beyond any plausible time
        value = value * 10 + (digits[count] - L'0');
    }
    if (count == 0 || (digits[count] != L'.' && digits[count] != L'_')) return false;
    *seconds = value;
    return true;
}

bool RecoveredRecordingName(const wchar_t* folder, const LogTime& t, int32_t n, wchar_t* out, int32_t capacity)
{
    if (!out || capacity < 1) return false;
    wchar_t suffix[16] = L"";
    if (n > 1) swprintf(suffix, 16, L"_%d", n);
    return Fits(swprintf(out, static_cast<size_t>(capacity),
                         L"%ls\\MI-RU-%04d-%02d-%02d_%02d-%02d-%02d-wiederhergestellt%ls.mp4", folder, t.year, t.month,
                         t.day, t.hour, t.minute, t.second, suffix),
                out, capacity);
}

bool PhotoTempName(const wchar_t* finalName, wchar_t* out, int32_t capacity)
{
    if (!out || capacity < 1) return false;
    return Fits(swprintf(out, static_cast<size_t>(capacity), L"%ls.tmp", finalName), out, capacity);
}

LeftoverScan ScanLeftover(uint64_t fileSize, Mp4HeaderReader read, void* context)
{
    LeftoverScan scan = {LeftoverContent::Empty, true, false};
    bool movie = false, mediaData = false, fragmentOpen = false, fragment = false, strayData = false;
    uint64_t offset = 0;
    while (offset < fileSize) {
        uint8_t header[16];
        const size_t wanted = fileSize - offset >= 16 ? 16 : static_cast<size_t>(fileSize - offset);
        const size_t got = read(context, offset, header, wanted);
        if (got != wanted) {
            scan.readFailed = true;
            scan.complete = false;
            break;
        }
        if (got < 8 || !PlausibleType(header + 4)) {
            strayData = true;  // media data behind a box whose size was never filled in
            scan.complete = false;
            break;
        }
        uint64_t size = BigEndian32(header);
        uint64_t headerBytes = 8;
        if (size == 1) {
            if (got < 16) {
                scan.complete = false;
                break;
            }
            size = (uint64_t{BigEndian32(header + 8)} << 32) | BigEndian32(header + 12);
            headerBytes = 16;
        } else if (size == 0) {
            size = fileSize - offset;  // the box runs to the end of the file
        }
        if (size < headerBytes) {
            strayData = true;
            scan.complete = false;
            break;
        }
        const bool whole = size <= fileSize - offset;
        const uint8_t* type = header + 4;
        if (IsBoxType(type, "mdat")) {
            // A fragment's data only counts once its box is whole.
            if (whole && fragmentOpen) fragment = true;
            if (whole && !fragmentOpen) mediaData = size > headerBytes || offset + size < fileSize;
            if (!whole) strayData = strayData || fileSize - offset > headerBytes;
            fragmentOpen = false;
        } else {
            fragmentOpen = whole && IsBoxType(type, "moof");
            if (whole && IsBoxType(type, "moov")) movie = true;
        }
        if (!whole) {
            scan.complete = false;
            break;
        }
        offset += size;
    }
    if (fragment || (movie && mediaData)) scan.content = LeftoverContent::Playable;
    else if (mediaData || strayData) scan.content = LeftoverContent::Unplayable;
    return scan;
}
