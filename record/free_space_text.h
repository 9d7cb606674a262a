#pragma once
// Free space at the recording destination as remaining recording time. No Windows dependency.
#include <cstdint>

// Estimated bytes per minute of recording: normal size (1920x1080) or high (2560x1440).
double RecordingBytesPerMinute(bool high);

// "≈ 19 Min · 2.0 GB frei" / "≈ 7 hrs 56 min · 50.0 GB free" into `out` (always terminated,
// cut at capacity).
void FormatFreeSpaceText(int64_t freeBytes, bool high, wchar_t* out, int32_t capacity);
