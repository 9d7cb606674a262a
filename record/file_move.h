#pragma once
// Moving a recording into the recording folder, for its finalisation and for the recovery at the
// next start. On one volume it is a rename. Across volumes the file is copied under its staging
// name in the target folder (StagingRecordingName), flushed to the disk and only then renamed to
// its final name, so that no partial file ever carries a recording's name; the source goes last.
// A copy that breaks off removes its staging file.
#include <windows.h>

#include <cstdint>

// Writes the target's name for try n = 1, 2, ... (from 2 with a suffix, after a taken name);
// false when it does not fit.
using FileMoveNameFor = bool (*)(const void* context, int32_t n, wchar_t* out, int32_t capacity);

// Moves `source` into `folder` under the first free name `nameFor` gives; never replaces a file.
// A copy across volumes stops when `*cancel` (null: never) becomes non-zero. True with the new
// path in `moved`; false with the cause (a Win32 error) in `*error` and the source untouched.
bool FileMoveInto(const wchar_t* source, const wchar_t* folder, FileMoveNameFor nameFor, const void* context,
                  wchar_t* moved, int32_t capacity, const volatile LONG* cancel, DWORD* error);
