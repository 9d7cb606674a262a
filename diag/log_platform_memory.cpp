// The log's platform for the native build: the file is a text in memory, the clock can be
// fixed, the debugger output goes nowhere and the system version is unknown.
#include "diag/log_platform_memory.h"

#include <cstdlib>
#include <ctime>
#include <cwchar>
#include <mutex>

#include "diag/log_platform.h"

namespace {

// stateLock guards every field of `state`; held only for the field accesses of one call.
struct NativeLogState {
    bool clockFixed = false;
    LogTime clock{};
    std::wstring file;
    bool startsInsideFile = false;
    uint32_t notifications = 0;
};
NativeLogState state;
std::mutex stateLock;

}  // namespace

void NativeLogReset()
{
    std::lock_guard lock(stateLock);
    state = NativeLogState{};
}

void NativeLogSetClock(const LogTime& time)
{
    std::lock_guard lock(stateLock);
    state.clockFixed = true;
    state.clock = time;
}

void NativeLogSetFile(const std::wstring& text, bool startsInsideFile)
{
    std::lock_guard lock(stateLock);
    state.file = text;
    state.startsInsideFile = startsInsideFile;
}

std::wstring NativeLogFile()
{
    std::lock_guard lock(stateLock);
    return state.file;
}

uint32_t NativeLogNotifications()
{
    std::lock_guard lock(stateLock);
    return state.notifications;
}

LogTime LogPlatformNow()
{
    {
        std::lock_guard lock(stateLock);
        if (state.clockFixed) return state.clock;
    }
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    auto field = [](int value) { return static_cast<uint16_t>(value); };
    return LogTime{field(local.tm_year + 1900), field(local.tm_mon + 1), field(local.tm_wday),
                   field(local.tm_mday), field(local.tm_hour), field(local.tm_min), field(local.tm_sec), 0};
}

void LogPlatformDebugOutput(const wchar_t*) {}

bool LogPlatformAppendLine(const wchar_t* line)
{
    std::lock_guard lock(stateLock);
    state.file += line;
    return true;
}

bool LogPlatformDeleteFile()
{
    std::lock_guard lock(stateLock);
    state.file.clear();
    state.startsInsideFile = false;
    return true;
}

wchar_t* LogPlatformReadTail(size_t* length, bool* startsInsideFile)
{
    std::lock_guard lock(stateLock);
    *length = 0;
    *startsInsideFile = false;
    if (state.file.empty()) return nullptr;
    auto* text = static_cast<wchar_t*>(malloc(state.file.size() * sizeof(wchar_t)));
    if (!text) return nullptr;
    wmemcpy(text, state.file.data(), state.file.size());
    *length = state.file.size();
    *startsInsideFile = state.startsInsideFile;
    return text;
}

void LogPlatformNotifyChanged()
{
    std::lock_guard lock(stateLock);
    state.notifications++;
}

void LogPlatformFolder(wchar_t* dest, size_t capacity)
{
    swprintf(dest, capacity, L"C:\\MI-RU");
}

bool LogPlatformWindowsVersion(uint32_t*)
{
    return false;
}
