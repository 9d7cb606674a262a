#pragma once
// Control of the log's native stand-in platform (native build only): a settable clock and the
// log file as text in memory.
#include <cstdint>
#include <string>

#include "diag/log.h"

// Real local time again, no file, no notifications counted.
void NativeLogReset();
void NativeLogSetClock(const LogTime& time);
// Makes `text` the log file; with `startsInsideFile` it reads back as the tail of a longer file.
void NativeLogSetFile(const std::wstring& text, bool startsInsideFile);
// The log file's text ("" when there is none).
std::wstring NativeLogFile();
uint32_t NativeLogNotifications();
