#pragma once
// Decisions about recordings that a crash, a power cut or a killed process left behind, free of
// Windows calls: the marker beside a recording in progress, the name a recovered file gets, what
// an MP4 file cut off at some point still holds, and the temporary names of photos.
#include <cstddef>
#include <cstdint>

#include "diag/log.h"

// "<temporary file>.recording": exists from the start of a recording until its finalisation has
// ended; holds the local start time as "YYYY-MM-DD_hh-mm-ss" (ASCII).
constexpr const wchar_t* RECORDING_MARKER_SUFFIX = L".recording";
constexpr const wchar_t* RECORDING_MARKER_PATTERN = L"*.mp4.recording";
constexpr size_t RECORDING_MARKER_STAMP_LENGTH = 19;

bool RecordingMarkerName(const wchar_t* tempFile, wchar_t* out, int32_t capacity);
// The temporary file a marker belongs to (the marker's name without its suffix); false when
// `marker` does not end in the suffix or the result does not fit.
bool RecordingMarkerTarget(const wchar_t* marker, wchar_t* out, int32_t capacity);
// The marker's contents for a start at `time` (19 characters, no terminator needed by readers).
bool RecordingMarkerFormat(const LogTime& time, char* out, size_t capacity);
// Reads a start time back; false for anything that is not a plausible date and time.
bool RecordingMarkerParse(const char* text, size_t length, LogTime* time);
// Seconds since 1970 (UTC) from a temporary name "…\miru-<seconds>[_n].mp4"; false otherwise.
bool TempRecordingSeconds(const wchar_t* tempFile, int64_t* seconds);

// "<folder>\MI-RU-YYYY-MM-DD_hh-mm-ss-wiederhergestellt.mp4", with "_<n>" before ".mp4" from
// n = 2 (the caller tries n = 1, 2, ... until a name is free).
bool RecoveredRecordingName(const wchar_t* folder, const LogTime& start, int32_t n, wchar_t* out, int32_t capacity);

// A photo is written as "<final name>.tmp" and renamed when complete.
bool PhotoTempName(const wchar_t* finalName, wchar_t* out, int32_t capacity);

// What an MP4 file cut off at an unknown point still holds.
enum class LeftoverContent : uint8_t {
    Empty,       // nothing recorded: no bytes, only headers, or cut inside the first fragment
    Playable,    // a movie box with media data, or at least one complete fragment
    Unplayable,  // media data without anything that describes it (a plain MP4 never finished)
};

// Reads up to 16 bytes at `offset` into `out`; the count read (0 on a read error).
using Mp4HeaderReader = size_t (*)(void* context, uint64_t offset, uint8_t* out, size_t count);

// Walks the file's top-level boxes (`fileSize` bytes) through `read`. `complete` is set when
// every box ends inside the file (nothing was cut off). `readFailed` when a read failed.
struct LeftoverScan {
    LeftoverContent content;
    bool complete;
    bool readFailed;
};
LeftoverScan ScanLeftover(uint64_t fileSize, Mp4HeaderReader read, void* context);
