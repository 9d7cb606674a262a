#pragma once
// The decisions behind the recording-folder routines, free of Windows calls so they can be
// checked on their own: which known folder the suggestion uses, where the picker starts,
// whether a chosen path fits the caller's buffer and how a folder is named to the free-space
// query.
#include <cstdint>
#include <string>
#include <string_view>

// One known-folder lookup: its HRESULT and the path it gave (null when none).
struct KnownFolderResult {
    int32_t hr;
    const wchar_t* path;
};

// "<base>\MI-RU Aufnahmen" from the Videos folder, or from the profile folder when Videos
// failed or gave no path. Empties `out` first; false (and `out` empty) when neither folder is
// usable — logged with the profile lookup's code — or when the text does not fit.
bool ComposeSuggestedFolder(KnownFolderResult videos, KnownFolderResult profile, wchar_t* out,
                            int32_t capacity);

// The picker's start folder: the suggestion cut at its last backslash (normally the Videos
// folder). False when the suggestion is empty, has no backslash after its first unit, or the
// parent does not fit `out`.
bool PickerStartFolder(const wchar_t* suggestion, wchar_t* out, int32_t capacity);

// Checks the picker's arguments and empties `out`; false when `out` is null or capacity < 1.
bool PickerBeginOutput(wchar_t* out, int32_t capacity);

// The HRESULT a cancelled picker returns (HRESULT_FROM_WIN32(ERROR_CANCELLED)).
constexpr int32_t PICKER_CANCELLED_HR = static_cast<int32_t>(0x800704C7u);

// Stores a chosen path when it is shorter than `capacity` and logs the new folder; otherwise
// logs the path's length and leaves `out` untouched.
bool AdoptPickedFolder(const wchar_t* path, wchar_t* out, int32_t capacity);

// The folder as GetDiskFreeSpaceExW takes it: a UNC name (\\server\share..., also
// \\?\UNC\server\share...) with a trailing backslash, which the function requires; any other
// path as it is.
std::wstring FreeSpaceQueryPath(std::wstring_view folder);
