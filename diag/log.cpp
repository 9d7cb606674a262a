// The log's core: the ring of the newest entries and the operations of diag/log.h. Formatting
// and parsing live in their own modules, the operating system behind diag/log_platform.h.
#include "diag/log.h"

#include <cstdarg>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <shared_mutex>

#include "diag/log_export.h"
#include "diag/log_format.h"
#include "diag/log_platform.h"
#include "diag/log_readback.h"

namespace {

// The ring: appending writes slot (start + count) mod capacity; when full, start advances and
// the oldest entry is overwritten.
// ringLock guards ring, ringCount and ringStart: exclusive for one entry copy when appending
// and for clearing, shared while a snapshot copies entries out. Nothing else runs under it.
LogEntry ring[LOG_RING_CAPACITY];
uint32_t ringCount = 0;
uint32_t ringStart = 0;
std::shared_mutex ringLock;

struct FreeDeleter {
    void operator()(void* block) const { free(block); }
};

void RingAppend(const LogEntry& entry)
{
    std::unique_lock lock(ringLock);
    ring[(ringStart + ringCount) % LOG_RING_CAPACITY] = entry;
    if (ringCount < LOG_RING_CAPACITY)
        ringCount++;
    else
        ringStart = (ringStart + 1) % LOG_RING_CAPACITY;
}

void RingClear()
{
    std::unique_lock lock(ringLock);
    ringCount = 0;
    ringStart = 0;
}

void TakeReadBackEntry(const LogEntry& entry, void*)
{
    RingAppend(entry);
}

}  // namespace

void LogWrite(uint32_t level, const wchar_t* format, ...)
{
    if (!format) return;
    // Fixed buffers only: the log is called on failure paths, where an allocation may fail too.
    wchar_t message[LOG_MESSAGE_CAPACITY];
    va_list args;
    va_start(args, format);
    LogFormatMessage(message, format, args);
    va_end(args);

    LogEntry entry = LogMakeEntry(LogPlatformNow(), level, message);
    RingAppend(entry);

    wchar_t line[LOG_LINE_CAPACITY];
    LogFormatFileLine(line, entry);
    LogPlatformDebugOutput(line);
    // A line that misses the file stays in the ring and the debugger output.
    LogPlatformAppendLine(line);
    LogPlatformNotifyChanged();
}

void LogLoadAtStartup()
{
    size_t length = 0;
    bool startsInsideFile = false;
    std::unique_ptr<wchar_t, FreeDeleter> text(LogPlatformReadTail(&length, &startsInsideFile));
    if (text) LogReadBackText({text.get(), length}, startsInsideFile, TakeReadBackEntry, nullptr);
    // A run that ended mid-line (crash, full disk) left the file without its final line feed;
    // ending that line first keeps this run's lines, the start event among them, readable.
    if (text && length > 0 && text.get()[length - 1] != L'\n') LogPlatformAppendLine(L"\n");
    text.reset();

    wchar_t system[LOG_SYSTEM_TEXT_CAPACITY];
    SystemVersionText(system);
    LogWrite(LOG_EVENT, L"App gestartet \u2014 %ls", system);
}

uint32_t LogSnapshot(LogEntry* dest, uint32_t capacity)
{
    if (!dest || capacity < 1) return 0;
    std::shared_lock lock(ringLock);
    uint32_t k = capacity < ringCount ? capacity : ringCount;
    for (uint32_t i = 0; i < k; i++)
        dest[i] = ring[(ringStart + ringCount - k + i) % LOG_RING_CAPACITY];
    return k;
}

void LogClear()
{
    RingClear();
    // A file that stays (held open elsewhere) is not reported: the event below still marks
    // where the cleared log begins.
    LogPlatformDeleteFile();
    LogWrite(LOG_EVENT, L"Protokoll geleert");
}

wchar_t* LogExportText()
{
    std::unique_ptr<LogEntry, FreeDeleter> entries(
        static_cast<LogEntry*>(malloc(LOG_RING_CAPACITY * sizeof(LogEntry))));
    if (!entries) return nullptr;
    uint32_t count = LogSnapshot(entries.get(), LOG_RING_CAPACITY);
    wchar_t system[LOG_SYSTEM_TEXT_CAPACITY];
    SystemVersionText(system);
    wchar_t folder[LOG_FOLDER_CAPACITY];
    LogPlatformFolder(folder, LOG_FOLDER_CAPACITY);
    return LogBuildExportText({entries.get(), count}, system, folder, LogPlatformNow());
}

void SystemVersionText(wchar_t* dest)
{
    uint32_t version[3] = {};
    bool known = LogPlatformWindowsVersion(version);
    LogFormatSystemText(std::span<wchar_t, LOG_SYSTEM_TEXT_CAPACITY>(dest, LOG_SYSTEM_TEXT_CAPACITY),
                        known ? version : nullptr);
}

#ifdef MIRU_TEST_HOOKS
void LogResetForTest()
{
    RingClear();
}
#endif
