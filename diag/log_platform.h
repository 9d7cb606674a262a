#pragma once
// What the log needs from the operating system. The Windows build implements it in
// diag/log_windows.cpp; the native test build links a stand-in with an in-memory file.
#include <cstddef>
#include <cstdint>

#include "diag/log.h"

// The local time now.
LogTime LogPlatformNow();

// Hands a finished line to the debugger output.
void LogPlatformDebugOutput(const wchar_t* line);

// Appends one finished line (ending in a line feed) to the log file as UTF-8. False when the
// line did not reach the file; the caller goes on regardless.
bool LogPlatformAppendLine(const wchar_t* line);

// Deletes the log file. False when it exists and could not be deleted.
bool LogPlatformDeleteFile();

// The tail of the log file as text, allocated with malloc (the caller frees it), or null when
// there is no file, it is empty or cannot be read. *length receives the characters (no
// terminator); *startsInsideFile is true when the text does not begin at the file's start.
wchar_t* LogPlatformReadTail(size_t* length, bool* startsInsideFile);

// Tells the user interface that the log changed; never waits for it.
void LogPlatformNotifyChanged();

// The folder of the log file (and of the crash dumps); empty when there is none. `dest` holds
// `capacity` characters.
void LogPlatformFolder(wchar_t* dest, size_t capacity);

// The running system's version (major, minor, build); false when it cannot be determined.
bool LogPlatformWindowsVersion(uint32_t version[3]);
