#pragma once
// Names of the files a recording and a photo press make. A name already taken gets a suffix
// ("_2", "_3", ...) instead of replacing the file: the caller tries suffixes 1 (none), 2, ...
// until one is free. All return false (and an empty `out`) when the name does not fit.
#include <cstdint>

#include "diag/log.h"

// Tries per name before giving up.
constexpr int32_t FILE_NAME_MAX_TRIES = 100;

// "<folder>\miru-<seconds>.mp4", "<folder>\miru-<seconds>_<n>.mp4".
bool TempRecordingName(const wchar_t* folder, int64_t seconds, int32_t n, wchar_t* out, int32_t capacity);
// "<folder>\MI-RU-YYYY-MM-DD_hh-mm-ss.mp4", with "_<n>" before ".mp4" from n = 2.
bool FinalRecordingName(const wchar_t* folder, const LogTime& time, int32_t n, wchar_t* out, int32_t capacity);
// "YYYY-MM-DD_hh-mm-ss" (20 units with the terminator).
bool PhotoStamp(const LogTime& time, wchar_t* out, int32_t capacity);
// "<folder>\MI-RU-<stamp>-<kind>.jpg", with "_<n>" before ".jpg" from n = 2.
bool PhotoName(const wchar_t* folder, const wchar_t* stamp, const wchar_t* kind, int32_t n, wchar_t* out,
               int32_t capacity);
// A recording copied to another drive is written as "<folder>\<temporary file's name>.tmp" and
// renamed only once complete; from that name the next start finds the file it was copied from.
constexpr const wchar_t* RECORDING_STAGING_PATTERN = L"miru-*.mp4.tmp";
bool StagingRecordingName(const wchar_t* folder, const wchar_t* tempFile, wchar_t* out, int32_t capacity);
// "<tempFolder>\miru-<…>.mp4" for a staging file "…\miru-<…>.mp4.tmp"; false for other names.
bool StagingRecordingSource(const wchar_t* tempFolder, const wchar_t* staging, wchar_t* out, int32_t capacity);
// The part after the last backslash.
const wchar_t* FileNamePart(const wchar_t* path);
