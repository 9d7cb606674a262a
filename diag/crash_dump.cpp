// The crash handler. The handler itself only hands the crash to a thread started at install
// time and waits: the crashing thread may hold a lock (the heap's, the loader's, one of ours) or
// be out of stack, so the dump is written elsewhere, and the wait is bounded so that a dump
// that cannot be written never keeps a dying process alive. That thread loads dbghelp only now
// (a normal run never maps it) and takes none of the program's locks until the dump is on disk
// and the old ones are pruned; the log line comes last, as it takes the log's locks.
#include "diag/crash_dump.h"

#include <dbghelp.h>

#include <csignal>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <exception>

#include "base/win_owners.h"
#include "diag/crash_dump_names.h"
#include "diag/log.h"
#include "settings/settings_store.h"

namespace {

// Longest wait of the crashing thread for the dump. One takes well under a second on Windows
// and about ten under Wine (its dbghelp reads the Unix modules too); past a minute something
// blocks it, and the process ends without.
constexpr DWORD DUMP_WAIT_MS = 60000;
// A minidump of the threads' stacks, the modules and the exception, with thread times and
// unloaded modules for the support; never heap or data segments.
constexpr MINIDUMP_TYPE DUMP_TYPE =
    static_cast<MINIDUMP_TYPE>(MiniDumpNormal | MiniDumpWithThreadInfo | MiniDumpWithUnloadedModules);
constexpr size_t PATH_CAPACITY = SETTINGS_FOLDER_CAPACITY + CRASH_DUMP_NAME_CAPACITY + 1;

using MiniDumpWriteDumpFn = BOOL(WINAPI*)(HANDLE, DWORD, HANDLE, MINIDUMP_TYPE, PMINIDUMP_EXCEPTION_INFORMATION,
                                          PMINIDUMP_USER_STREAM_INFORMATION, PMINIDUMP_CALLBACK_INFORMATION);
using SymInitializeWFn = BOOL(WINAPI*)(HANDLE, PCWSTR, BOOL);

template <typename Function>
Function LookUp(HMODULE module, const char* name)
{
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(module, name)));
}

// Written by CrashDumpInstall before the handler exists; read by the dump thread afterwards.
wchar_t dumpFolder[SETTINGS_FOLDER_CAPACITY];
HANDLE requestEvent = nullptr;
HANDLE doneEvent = nullptr;
DWORD dumpThreadId = 0;
// The crash to write: claimed by the first crashing thread, filled before requestEvent is set.
LONG crashClaimed = 0;
EXCEPTION_POINTERS* crashPointers = nullptr;
DWORD crashThreadId = 0;

// Leaves the newest dumps (the one just written among them) and deletes the rest.
void PruneDumps(const wchar_t* current)
{
    wchar_t pattern[PATH_CAPACITY];
    if (swprintf(pattern, PATH_CAPACITY, L"%ls\\%ls", dumpFolder, CRASH_DUMP_PATTERN) < 0) return;
    CrashDumpNewest newest = {};
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do CrashDumpOffer(newest, current, found.cFileName);
    while (FindNextFileW(search, &found));
    FindClose(search);

    search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        wchar_t path[PATH_CAPACITY];
        // A dump that stays (opened by a viewer) is deleted at the next crash.
        if (CrashDumpIsSurplus(newest, current, found.cFileName) &&
            swprintf(path, PATH_CAPACITY, L"%ls\\%ls", dumpFolder, found.cFileName) > 0)
            DeleteFileW(path);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

// Writes the dump of the claimed crash; the log line names it or says why there is none.
void WriteDump()
{
    const unsigned long code = crashPointers->ExceptionRecord->ExceptionCode;
    SYSTEMTIME now;
    GetLocalTime(&now);
    wchar_t name[CRASH_DUMP_NAME_CAPACITY];
    CrashDumpFileName(name, LogTime{now.wYear, now.wMonth, now.wDayOfWeek, now.wDay, now.wHour, now.wMinute,
                                    now.wSecond, now.wMilliseconds});
    wchar_t path[PATH_CAPACITY];
    if (!dumpFolder[0] || !name[0] || swprintf(path, PATH_CAPACITY, L"%ls\\%ls", dumpFolder, name) < 0) {
        LogWrite(LOG_ERROR, L"Absturz (Ausnahme 0x%08lX) \u2014 kein Ordner f\u00fcr ein Speicherabbild", code);
        return;
    }
    HMODULE dbghelp = LoadLibraryW(L"dbghelp.dll");
    auto write = dbghelp ? LookUp<MiniDumpWriteDumpFn>(dbghelp, "MiniDumpWriteDump") : nullptr;
    // The symbol handler without reading any module's symbols: a dump needs none, and some
    // dbghelp implementations (Wine's) would otherwise load every module's debug information
    // first, for many seconds. Failure changes nothing for the dump.
    if (auto initialize = dbghelp ? LookUp<SymInitializeWFn>(dbghelp, "SymInitializeW") : nullptr)
        initialize(GetCurrentProcess(), nullptr, FALSE);
    if (!write) {
        LogWrite(LOG_ERROR, L"Absturz (Ausnahme 0x%08lX) \u2014 dbghelp.dll nicht verf\u00fcgbar, kein Speicherabbild",
                 code);
        return;
    }
    DWORD error = 0;
    {
        HandleOwner file(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!file.Valid()) {
            error = GetLastError();
        } else {
            MINIDUMP_EXCEPTION_INFORMATION exception = {crashThreadId, crashPointers, FALSE};
            if (!write(GetCurrentProcess(), GetCurrentProcessId(), file.handle, DUMP_TYPE, &exception, nullptr,
                       nullptr))
                error = GetLastError() ? GetLastError() : ERROR_GEN_FAILURE;
        }
    }
    // The process ends right after: dbghelp stays loaded.
    if (error) {
        DeleteFileW(path);  // a partial dump only misleads
        LogWrite(LOG_ERROR,
                 L"Absturz (Ausnahme 0x%08lX) \u2014 Speicherabbild konnte nicht geschrieben werden (Fehler %lu)", code,
                 static_cast<unsigned long>(error));
        return;
    }
    PruneDumps(name);
    LogWrite(LOG_ERROR, L"Absturz (Ausnahme 0x%08lX) \u2014 Speicherabbild gespeichert: %ls", code, path);
}

DWORD WINAPI DumpThread(void*)
{
    WaitForSingleObject(requestEvent, INFINITE);
    WriteDump();
    SetEvent(doneEvent);
    return 0;
}

// Runs on the crashing thread: claim the crash (a second crashing thread only waits), let the
// dump thread write it, then end the process at once. Nothing of the program runs after:
// no destructors or shutdown steps on a damaged state.
LONG WINAPI OnUnhandledException(EXCEPTION_POINTERS* pointers)
{
    const UINT code = pointers->ExceptionRecord->ExceptionCode;
    if (GetCurrentThreadId() != dumpThreadId) {
        if (InterlockedCompareExchange(&crashClaimed, 1, 0) == 0) {
            crashPointers = pointers;
            crashThreadId = GetCurrentThreadId();
            SetEvent(requestEvent);
        }
        WaitForSingleObject(doneEvent, DUMP_WAIT_MS);
    }
    TerminateProcess(GetCurrentProcess(), code);
    return EXCEPTION_EXECUTE_HANDLER;
}

// An uncaught C++ exception (std::terminate) or abort() ends a MinGW-built process without
// passing the unhandled-exception filter; raising an exception of our own instead sends both
// through the filter above, so they leave a dump as well.
[[noreturn]] void RaiseTerminate()
{
    RaiseException(CRASH_CODE_TERMINATE, EXCEPTION_NONCONTINUABLE, 0, nullptr);
    // The filter ends the process; this is only for a filter that is not ours any more.
    std::_Exit(static_cast<int>(CRASH_CODE_TERMINATE));
}

void OnAbortSignal(int)
{
    RaiseTerminate();
}

#ifdef MIRU_TEST_HOOKS
DWORD WINAPI CrashNow(void*)
{
    // A write into the never-mapped first page; volatile, so the compiler keeps it.
    volatile uintptr_t nowhere = 0x10;
    *reinterpret_cast<volatile int*>(nowhere) = 1;
    return 0;
}

DWORD WINAPI TerminateNow(void*)
{
    std::terminate();
}
#endif

}  // namespace

void CrashDumpInstall()
{
    if (requestEvent) return;
    SettingsFolder(dumpFolder);
    requestEvent = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    doneEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    // A small stack is enough: the dump is written by dbghelp, the names use fixed buffers.
    HANDLE thread = requestEvent && doneEvent
                        ? CreateThread(nullptr, 256 * 1024, DumpThread, nullptr, STACK_SIZE_PARAM_IS_A_RESERVATION,
                                       &dumpThreadId)
                        : nullptr;
    if (!thread) {
        LogWrite(LOG_WARN, L"Absturzbehandlung nicht verf\u00fcgbar (Fehler %lu)", GetLastError());
        return;
    }
    CloseHandle(thread);  // it waits for the one crash until the process ends
    SetUnhandledExceptionFilter(OnUnhandledException);
std::set_terminate(RaiseTerminate);
std::signal(SIGABRT, OnAbortSignal);
}

#ifdef MIRU_TEST_HOOKS
void CrashDumpCrashForTest(CrashKind kind)
{
    static constexpr const wchar_t* where[] = {L"UI-Thread", L"eigener Thread", L"std::terminate, eigener Thread"};
    LogWrite(LOG_INFO, L"Testabsturz ausgel\u00f6st (%ls)", where[static_cast<int>(kind)]);
    if (kind == CrashKind::UiThread) {
        CrashNow(nullptr);
        return;
    }
    const LPTHREAD_START_ROUTINE body = kind == CrashKind::Terminate ? TerminateNow : CrashNow;
    if (HANDLE thread = CreateThread(nullptr, 0, body, nullptr, 0, nullptr)) CloseHandle(thread);
}
#endif
