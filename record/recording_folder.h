#pragma once
// Routines around the recording folder: suggestion, picker, reachability, free space, Explorer.
#include <windows.h>
#include <cstdint>

// "<Videos>\MI-RU Aufnahmen" (or the profile folder when there is no Videos folder); empty
// when neither is known or the text does not fit.
void SuggestRecordingFolder(wchar_t* out, int32_t capacity);

// Bytes available to the calling user at `path`; -1 when unknown.
int64_t FreeBytesForCaller(const wchar_t* path);

bool FolderExists(const wchar_t* path);

// The system folder picker. True when a folder was chosen and stored in `out`; `out` is
// emptied first, so a cancelled pick leaves it empty.
bool PickRecordingFolder(HWND owner, wchar_t* out, int32_t capacity);

void OpenFolderInExplorer(const wchar_t* path);
