// The log's operating-system side on Windows: local time, debugger output, the UTF-8 file in
// the application data folder and the note to the main window.
//
// Without an application data folder there is no log file: entries then live only in the ring
// and the debugger output. A folder elsewhere (for example under %TEMP%) would be a log nobody
// looks for, and the read-back at the next start could not find it either.
#include <windows.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cwchar>
#include <memory>
#include <mutex>

#include "base/app_messages.h"
#include "base/text_copy.h"
#include "base/win_owners.h"
#include "diag/log_platform.h"
#include "diag/log_readback.h"
#include "settings/settings_store.h"

namespace {

constexpr size_t pathCapacity = 292;
// One line of at most 575 UTF-16 units takes at most three bytes per unit.
constexpr int utf8Capacity = 1728;
// Longest wait for another thread's append: past it the line misses the file (a stalled disk)
// instead of stopping the caller, which may be the UI thread.
constexpr std::chrono::milliseconds fileLockTimeout{2000};

// fileLock serialises opening, appending and closing the file, and deleting it, so that two
// threads never meet on the read-share-only handle and no line is lost. fileLockOwner holds
// the id of the thread inside (0 when free): the folder lookup under the lock may log itself,
// and that nested call must skip the file rather than wait for its own thread.
std::timed_mutex fileLock;
std::atomic<DWORD> fileLockOwner{0};

// Holds fileLock for one file operation of this thread, or nothing when it is not obtained.
struct FileLockHolder {
    std::unique_lock<std::timed_mutex> lock;
    FileLockHolder()
    {
        if (fileLockOwner.load() == GetCurrentThreadId()) return;
        lock = std::unique_lock<std::timed_mutex>(fileLock, fileLockTimeout);
        if (lock.owns_lock()) fileLockOwner.store(GetCurrentThreadId());
    }
    ~FileLockHolder()
    {
        if (lock.owns_lock()) fileLockOwner.store(0);
    }
    FileLockHolder(const FileLockHolder&) = delete;
    FileLockHolder& operator=(const FileLockHolder&) = delete;
    bool Held() const { return lock.owns_lock(); }
};

struct FreeDeleter {
    void operator()(void* block) const { free(block); }
};

// "<folder>\miru-diagnose.log"; false without a folder or when the path does not fit.
bool LogFilePath(wchar_t (&path)[pathCapacity])
{
    wchar_t folder[SETTINGS_FOLDER_CAPACITY] = {};
    SettingsFolder(folder);
    if (folder[0] == 0) return false;
    int written = swprintf(path, pathCapacity, L"%ls\\miru-diagnose.log", folder);
    return written > 0 && static_cast<size_t>(written) < pathCapacity;
}

}  // namespace

LogTime LogPlatformNow()
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    return LogTime{now.wYear, now.wMonth, now.wDayOfWeek, now.wDay,
                   now.wHour, now.wMinute, now.wSecond,   now.wMilliseconds};
}

void LogPlatformDebugOutput(const wchar_t* line)
{
    OutputDebugStringW(line);
}

bool LogPlatformAppendLine(const wchar_t* line)
{
    char bytes[utf8Capacity];
    int count = WideCharToMultiByte(CP_UTF8, 0, line, -1, bytes, utf8Capacity, nullptr, nullptr);
    if (count <= 1) return false;

    FileLockHolder lock;
    if (!lock.Held()) return false;
    wchar_t path[pathCapacity];
    if (!LogFilePath(path)) return false;
    HandleOwner file(CreateFileW(path, FILE_APPEND_DATA, FILE_SHARE_READ, nullptr, OPEN_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return false;
    DWORD written = 0;
    DWORD size = static_cast<DWORD>(count - 1);
    return WriteFile(file.handle, bytes, size, &written, nullptr) && written == size;
}

void LogPlatformFolder(wchar_t* dest, size_t capacity)
{
    wchar_t folder[SETTINGS_FOLDER_CAPACITY] = {};
    SettingsFolder(folder);
    CopyTextCut(dest, static_cast<int32_t>(capacity), folder);
}

bool LogPlatformDeleteFile()
{
    FileLockHolder lock;
    wchar_t path[pathCapacity];
    if (!LogFilePath(path)) return true;
    // Without the lock an append may hold the file open for a moment; the delete is tried
    // anyway and fails only then.
    return DeleteFileW(path) || GetLastError() == ERROR_FILE_NOT_FOUND;
}

wchar_t* LogPlatformReadTail(size_t* length, bool* startsInsideFile)
{
    *length = 0;
    *startsInsideFile = false;
    wchar_t path[pathCapacity];
    if (!LogFilePath(path)) return nullptr;
    HandleOwner file(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.Valid()) return nullptr;
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file.handle, &size) || size.QuadPart <= 0) return nullptr;

    uint64_t start = LogReadBackStart(static_cast<uint64_t>(size.QuadPart));
    if (start > 0) {
        LARGE_INTEGER offset;
        offset.QuadPart = static_cast<LONGLONG>(start);
        if (!SetFilePointerEx(file.handle, offset, nullptr, FILE_BEGIN)) return nullptr;
    }
    auto wanted = static_cast<DWORD>(static_cast<uint64_t>(size.QuadPart) - start);
    std::unique_ptr<char, FreeDeleter> bytes(static_cast<char*>(malloc(wanted)));
    if (!bytes) return nullptr;
    DWORD got = 0;
    while (got < wanted) {
        DWORD chunk = 0;
        if (!ReadFile(file.handle, bytes.get() + got, wanted - got, &chunk, nullptr) || chunk == 0)
            break;
        got += chunk;
    }
    if (got == 0) return nullptr;

    int units = MultiByteToWideChar(CP_UTF8, 0, bytes.get(), static_cast<int>(got), nullptr, 0);
    if (units <= 0) return nullptr;
    std::unique_ptr<wchar_t, FreeDeleter> text(
        static_cast<wchar_t*>(malloc(static_cast<size_t>(units) * sizeof(wchar_t))));
    if (!text) return nullptr;
    if (MultiByteToWideChar(CP_UTF8, 0, bytes.get(), static_cast<int>(got), text.get(), units) != units)
        return nullptr;
    *length = static_cast<size_t>(units);
    *startsInsideFile = start > 0;
    return text.release();
}

void LogPlatformNotifyChanged()
{
    HWND target = AppWindow();
    if (target) PostMessageW(target, WM_APP_LOG_CHANGED, 0, 0);
}

bool LogPlatformWindowsVersion(uint32_t version[3])
{
    // RtlGetVersion reports the real version; GetVersionEx is capped by the manifest.
    using RtlGetVersionProc = LONG(WINAPI*)(RTL_OSVERSIONINFOW*);
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    if (!ntdll) return false;
    auto getVersion = reinterpret_cast<RtlGetVersionProc>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "RtlGetVersion")));
    if (!getVersion) return false;
    RTL_OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof(info);
    if (getVersion(&info) < 0) return false;
    version[0] = info.dwMajorVersion;
    version[1] = info.dwMinorVersion;
    version[2] = info.dwBuildNumber;
    return true;
}
