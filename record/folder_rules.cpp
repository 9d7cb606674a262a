// Decisions of the recording-folder routines (see folder_rules.h).
#include "record/folder_rules.h"

#include <cwchar>

#include "diag/log.h"

namespace {

bool Usable(KnownFolderResult result)
{
    return result.hr >= 0 && result.path && result.path[0] != L'\0';
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
