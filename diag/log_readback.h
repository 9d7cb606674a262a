#pragma once
// Reading log file lines back into entries, free of operating-system calls.
#include <cstddef>
#include <cstdint>
#include <span>

#include "diag/log.h"

// Only the file's last 2 MiB are read back at start.
constexpr uint64_t LOG_READ_BACK_BYTES = 0x200000;

// The byte offset where reading back starts for a file of `size` bytes.
constexpr uint64_t LogReadBackStart(uint64_t size)
{
    return size > LOG_READ_BACK_BYTES ? size - LOG_READ_BACK_BYTES : 0;
}

// Parses one line (without its line feed, `length` characters, no terminator needed) of the
// form "YYYY-MM-DD hh:mm:ss  LABEL  text". False, leaving *out alone, when it is not one.
bool LogParseLine(const wchar_t* line, size_t length, LogEntry* out);

using LogTakeEntry = void (*)(const LogEntry& entry, void* context);

// Splits `text` at line feeds (one trailing carriage return per line is removed) and hands
// every line that parses to `take`, in file order. With `startsInsideFile` the text begins
// somewhere inside a line, so everything up to the first line feed is dropped. The last line
// needs no line feed. Returns the number of entries taken.
uint32_t LogReadBackText(std::span<const wchar_t> text, bool startsInsideFile, LogTakeEntry take,
                         void* context);
