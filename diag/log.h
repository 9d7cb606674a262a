#pragma once
// The diagnostic log: one call from any thread, a ring of the newest 1000 entries, the
// debugger output and an append-only UTF-8 file in the application data folder.
#include <cstdint>

enum : uint32_t {
    LOG_INFO = 0,
    LOG_EVENT = 1,
    LOG_WARN = 2,
    LOG_ERROR = 3,  // "FEHLER"
};

// Same layout as the Windows SYSTEMTIME (eight 16-bit fields).
struct LogTime {
    uint16_t year, month, dayOfWeek, day, hour, minute, second, milliseconds;
};

constexpr uint32_t LOG_RING_CAPACITY = 1000;
constexpr uint32_t LOG_TEXT_CAPACITY = 512;

struct LogEntry {
    LogTime time;
    uint32_t level;
    wchar_t text[LOG_TEXT_CAPACITY];
};

// Logs one entry. `format` is a wide printf format (null does nothing); never pass external
// text (device names, paths, file contents) as the format: use L"%ls".
void LogWrite(uint32_t level, const wchar_t* format, ...);

// An HRESULT (or another 32-bit status) as the value "0x%08lX" expects: %lX reads an unsigned
// long, which is 64 bits wide on some platforms, so the code is widened without its sign.
inline unsigned long LogHresult(int32_t hr)
{
    return static_cast<unsigned long>(static_cast<uint32_t>(hr));
}

// Reads the tail of the log file back into the ring and logs the start event.
void LogLoadAtStartup();

// Copies the newest min(capacity, count) entries, oldest first. Returns the number copied.
uint32_t LogSnapshot(LogEntry* dest, uint32_t capacity);

// Empties the ring, deletes the file, then logs the "Protokoll geleert" event.
void LogClear();

// The whole ring as export text; the caller frees it with free(). Null on allocation failure.
wchar_t* LogExportText();

// "Windows %lu.%lu (Build %lu) · MI-RU App v<version>" or the short form; dest holds 256.
void SystemVersionText(wchar_t* dest);

// Label of a level ("INFO", "EVENT", "WARN", "FEHLER"); levels of 4 and more read as INFO.
const wchar_t* LogLevelLabel(uint32_t level);

#ifdef MIRU_TEST_HOOKS
// Tests only: empties the ring without touching the file and without logging.
void LogResetForTest();
#endif
