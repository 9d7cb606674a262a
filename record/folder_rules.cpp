// Decisions of the recording-folder routines (see folder_rules.h).
#include "record/folder_rules.h"

#include <cwchar>
#include <cwctype>

#include "diag/log.h"

namespace {

bool Usable(KnownFolderResult result)
{
    return result.hr >= 0 && result.path && result.path[0] != L'\0';
}

bool IsSeparator(wchar_t c)
{
    return c == L'\\' || c == L'/';
}

// \\server\share..., or \\?\UNC\server\share...; not the other paths of the device namespaces
// \\?\ and \\.\ (drives, volumes).
bool IsUncName(std::wstring_view path)
{
    const auto separator = [&](size_t i) { return i < path.size() && IsSeparator(path[i]); };
    if (path.size() < 3 || !separator(0) || !separator(1)) return false;
    const bool deviceNamespace = (path[2] == L'?' || path[2] == L'.') && (path.size() == 3 || separator(3));
    if (!deviceNamespace) return !separator(2);
    return path.size() > 7 && std::towupper(path[4]) == L'U' && std::towupper(path[5]) == L'N' &&
           std::towupper(path[6]) == L'C' && separator(7);
}

}  // namespace

bool ComposeSuggestedFolder(KnownFolderResult videos, KnownFolderResult profile, wchar_t* out,
                            int32_t capacity)
{
    if (!out || capacity < 1) return false;
    out[0] = L'\0';
    const wchar_t* base = Usable(videos) ? videos.path : Usable(profile) ? profile.path : nullptr;
    if (!base) {
        LogWrite(LOG_WARN, L"Vorschlags-Ordner nicht ermittelbar (0x%08lX)", LogHresult(profile.hr));
        return false;
    }
    const int n = swprintf(out, static_cast<size_t>(capacity), L"%ls\\MI-RU Aufnahmen", base);
    if (n < 0 || n >= capacity) {
        out[0] = L'\0';
        return false;
    }
    return true;
}

bool PickerStartFolder(const wchar_t* suggestion, wchar_t* out, int32_t capacity)
{
    if (!out || capacity < 1) return false;
    out[0] = L'\0';
    if (!suggestion) return false;
    const wchar_t* last = wcsrchr(suggestion, L'\\');
    if (!last || last == suggestion) return false;
    const size_t length = static_cast<size_t>(last - suggestion);
    if (length >= static_cast<size_t>(capacity)) return false;
    wmemcpy(out, suggestion, length);
    out[length] = L'\0';
    return true;
}

bool PickerBeginOutput(wchar_t* out, int32_t capacity)
{
    if (!out || capacity < 1) return false;
    out[0] = L'\0';
    return true;
}

bool AdoptPickedFolder(const wchar_t* path, wchar_t* out, int32_t capacity)
{
    if (!path || !out || capacity < 1) return false;
    const size_t length = wcslen(path);
    if (length >= static_cast<size_t>(capacity)) {
        const int shown = length > 2147483647u ? 2147483647 : static_cast<int>(length);
        LogWrite(LOG_ERROR, L"Ordnerauswahl: Pfad zu lang (%d Zeichen)", shown);
        return false;
    }
    wmemcpy(out, path, length + 1);
    LogWrite(LOG_EVENT, L"Aufnahmeordner gesetzt: %ls", out);
    return true;
}

std::wstring FreeSpaceQueryPath(std::wstring_view folder)
{
    std::wstring query(folder);
    // "If this parameter is a UNC name, it must include a trailing backslash" (GetDiskFreeSpaceExW).
    if (IsUncName(folder) && !IsSeparator(folder.back())) query.push_back(L'\\');
    return query;
}
