#pragma once
// The write side of the log, free of operating-system calls: the message, the stored entry,
// the file line and the system text.
#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <span>

#include "diag/log.h"

constexpr size_t LOG_MESSAGE_CAPACITY = 1024;
constexpr size_t LOG_LINE_CAPACITY = 576;
constexpr size_t LOG_SYSTEM_TEXT_CAPACITY = 256;
constexpr size_t LOG_FOLDER_CAPACITY = 260;

// Formats `format` with `args` into `dest`. A failed or too long result (1024 characters or
// more) becomes "(Log-Nachricht nicht formatierbar)".
void LogFormatMessage(std::span<wchar_t, LOG_MESSAGE_CAPACITY> dest, const wchar_t* format,
                      va_list args);

// Copies at most 511 characters of `source` (its first `length`, or up to a terminator) into
// `dest` and terminates it. A surrogate pair is never split: its first half is dropped
// with the second.
void LogCopyText(std::span<wchar_t, LOG_TEXT_CAPACITY> dest, const wchar_t* source, size_t length);

// A zeroed entry with the time, the level (4 and more become INFO) and the message cut to 511.
LogEntry LogMakeEntry(const LogTime& time, uint32_t level, const wchar_t* message);

// The file line "YYYY-MM-DD hh:mm:ss  LABEL  text\n" (541 characters at most for a real time).
void LogFormatFileLine(std::span<wchar_t, LOG_LINE_CAPACITY> dest, const LogEntry& entry);

// "Windows major.minor (Build n) · MI-RU App v<version>", or without numbers when the version
// is unknown (`version` null: three numbers major, minor, build otherwise).
void LogFormatSystemText(std::span<wchar_t, LOG_SYSTEM_TEXT_CAPACITY> dest,
                         const uint32_t* version);
