#include "record/file_names.h"

#include <cwchar>

namespace {

// The suffix for try n: none for 1, "_n" from 2.
void SuffixFor(int32_t n, wchar_t (&suffix)[16])
{
    if (n <= 1) suffix[0] = L'\0';
    else swprintf(suffix, 16, L"_%d", n);
}

bool Finish(int written, wchar_t* out, int32_t capacity)
{
    if (written >= 0 && written < capacity) return true;
    if (capacity > 0) out[0] = L'\0';
    return false;
}

}  // namespace

bool TempRecordingName(const wchar_t* folder, int64_t seconds, int32_t n, wchar_t* out, int32_t capacity)
{
    if (!out || capacity < 1) return false;
    wchar_t suffix[16];
    SuffixFor(n, suffix);
    return Finish(swprintf(out, static_cast<size_t>(capacity), L"%ls\\miru-%lld%ls.mp4", folder,
                           static_cast<long long>(seconds), suffix),
                  out, capacity);
}

bool FinalRecordingName(const wchar_t* folder, const LogTime& t, int32_t n, wchar_t* out, int32_t capacity)
{
    if (!out || capacity < 1) return false;
    wchar_t suffix[16];
    SuffixFor(n, suffix);
    return Finish(swprintf(out, static_cast<size_t>(capacity), L"%ls\\MI-RU-%04d-%02d-%02d_%02d-%02d-%02d%ls.mp4",
                           folder, t.year, t.month, t.day, t.hour, t.minute, t.second, suffix),
                  out, capacity);
}

bool PhotoStamp(const LogTime& t, wchar_t* out, int32_t capacity)
{
    if (!out || capacity < 1) return false;
    return Finish(swprintf(out, static_cast<size_t>(capacity), L"%04d-%02d-%02d_%02d-%02d-%02d", t.year, t.month,
                           t.day, t.hour, t.minute, t.second),
                  out, capacity);
}

bool PhotoName(const wchar_t* folder, const wchar_t* stamp, const wchar_t* kind, int32_t n, wchar_t* out,
               int32_t capacity)
{
    if (!out || capacity < 1) return false;
    wchar_t suffix[16];
    SuffixFor(n, suffix);
    return Finish(
        swprintf(out, static_cast<size_t>(capacity), L"%ls\\MI-RU-%ls-%ls%ls.jpg", folder, stamp, kind, suffix), out,
        capacity);
}

bool StagingRecordingName(const wchar_t* folder, const wchar_t* tempFile, wchar_t* out, int32_t capacity)
{
    if (!out || capacity < 1) return false;
    return Finish(swprintf(out, static_cast<size_t>(capacity), L"%ls\\%ls.tmp", folder, FileNamePart(tempFile)), out,
                  capacity);
}

bool StagingRecordingSource(const wchar_t* tempFolder, const wchar_t* staging, wchar_t* out, int32_t capacity)
{
    if (!out || capacity < 1) return false;
    const wchar_t* name = FileNamePart(staging);
    const size_t length = wcslen(name);
    constexpr size_t TAIL = 8;  // ".mp4.tmp"
    if (wcsncmp(name, L"miru-", 5) != 0 || length <= 5 + TAIL || wcscmp(name + length - TAIL, L".mp4.tmp") != 0)
        return Finish(-1, out, capacity);
    return Finish(swprintf(out, static_cast<size_t>(capacity), L"%ls\\%.*ls", tempFolder, static_cast<int>(length - 4),
                           name),
                  out, capacity);
}

const wchar_t* FileNamePart(const wchar_t* path)
{
    const wchar_t* slash = wcsrchr(path, L'\\');
    return slash ? slash + 1 : path;
}
