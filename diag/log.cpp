// Placeholder log core: ring and formatting only, replaced by the full log module.
#include "diag/log.h"

#include <cstdarg>
#include <cstdlib>
#include <cwchar>
#include <mutex>
#include <shared_mutex>

namespace {
LogEntry ring[LOG_RING_CAPACITY];
uint32_t ringCount = 0;
uint32_t ringStart = 0;
std::shared_mutex ringLock;
constexpr const wchar_t* labels[] = {L"INFO", L"EVENT", L"WARN", L"FEHLER"};
}  // namespace

const wchar_t* LogLevelLabel(uint32_t level)
{
    return labels[level < 4 ? level : 0];
}

void LogWrite(uint32_t level, const wchar_t* format, ...)
{
    if (!format) return;
    wchar_t message[1024];
    va_list args;
    va_start(args, format);
    int n = vswprintf(message, 1024, format, args);
    va_end(args);
    if (n < 0 || n >= 1024) wcscpy(message, L"(Log-Nachricht nicht formatierbar)");
    LogEntry entry{};
    entry.level = level < 4 ? level : 0;
    wcsncpy(entry.text, message, LOG_TEXT_CAPACITY - 1);
    std::unique_lock lock(ringLock);
    ring[(ringStart + ringCount) % LOG_RING_CAPACITY] = entry;
    if (ringCount < LOG_RING_CAPACITY) ringCount++;
    else ringStart = (ringStart + 1) % LOG_RING_CAPACITY;
}

void LogLoadAtStartup()
{
    wchar_t system[256];
    SystemVersionText(system);
    LogWrite(LOG_EVENT, L"App gestartet \u2014 %ls", system);
}

uint32_t LogSnapshot(LogEntry* dest, uint32_t capacity)
{
    if (!dest || capacity < 1) return 0;
    std::shared_lock lock(ringLock);
    uint32_t k = capacity < ringCount ? capacity : ringCount;
    for (uint32_t i = 0; i < k; i++) dest[i] = ring[(ringStart + ringCount - k + i) % LOG_RING_CAPACITY];
    return k;
}

void LogClear()
{
    LogResetForTest();
    LogWrite(LOG_EVENT, L"Protokoll geleert");
}

wchar_t* LogExportText()
{
    return nullptr;
}

void SystemVersionText(wchar_t* dest)
{
    wcscpy(dest, L"Windows \u00b7 MI-RU App v1.1 (2)");
}

void LogResetForTest()
{
    std::unique_lock lock(ringLock);
    ringCount = 0;
    ringStart = 0;
}
