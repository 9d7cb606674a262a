#pragma once
// Crash dumps for support. An unhandled exception in any thread writes a small minidump
// (threads with their stacks, modules, the exception; no heap, so no camera pictures) as
// "MI-RU-YYYY-MM-DD_hh-mm-ss.dmp" into the application data folder, logs one FEHLER line
// naming it, keeps the five newest dumps and ends the process. Whatever else was running is
// left as it is: a recording's temporary file and its marker stay for the next start's recovery.
#include <windows.h>

#include <cstdint>

// The exception code of a crash by an uncaught C++ exception (std::terminate) or abort().
constexpr DWORD CRASH_CODE_TERMINATE = 0xE0000ABD;

// Installs the process-wide handler (also for std::terminate and abort) and starts the thread
// that will write the dump. Called once at start-up; the folder is resolved here, not while the
// process dies.
void CrashDumpInstall();

#ifdef MIRU_TEST_HOOKS
// Tests only: posted to the main window with a CrashKind in wParam, it crashes the program.
constexpr UINT WM_APP_TEST_CRASH = WM_APP + 0x3F00;
enum class CrashKind : uint8_t {
    UiThread,   // an access violation on the UI thread
    NewThread,  // an access violation on a thread of its own
    Terminate,  // std::terminate (an uncaught C++ exception) on a thread of its own
};
void CrashDumpCrashForTest(CrashKind kind);
#endif
