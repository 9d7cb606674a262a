#pragma once
// Crash dumps for support. An unhandled exception in any thread writes a small minidump
// (threads with their stacks, modules, the exception; no heap, so no camera pictures) as
// "MI-RU-YYYY-MM-DD_hh-mm-ss.dmp" into the application data folder, logs one FEHLER line
// naming it, keeps the five newest dumps and ends the process. Whatever else was running is
// left as it is: a recording's temporary file and its marker stay for the next start's recovery.
#include <windows.h>

// Installs the process-wide handler and starts the thread that will write the dump. Called
// once at start-up; the folder is resolved here, not while the process dies.
void CrashDumpInstall();

#ifdef MIRU_TEST_HOOKS
// Tests only: posted to the main window, it crashes the program with an access violation, on
// a new thread when wParam is 1, else on the UI thread.
constexpr UINT WM_APP_TEST_CRASH = WM_APP + 0x3F00;
void CrashDumpCrashForTest(bool onNewThread);
#endif
