#pragma once
// The process from start to end: single instance, process set-up, settings and log, first-run
// wizard, main window with renderer and cameras, the message loop and the final release.
#include <windows.h>

// Runs the application on the calling thread and returns the process exit code: 0 after the
// message loop, a cancelled wizard or when another instance runs; 1 when the main window or
// its renderer could not be made.
int AppRun(HINSTANCE instance, int showCommand);

#ifdef MIRU_TEST_HOOKS
// Start-up steps that tests make fail on purpose. Null entries use the real step.
struct AppStartupHooks {
    bool (*onboardingRun)();
    bool (*rendererInit)(HWND window);
};
// Tests only: null restores the real steps. The table must outlive its use.
void AppSetStartupHooksForTest(const AppStartupHooks* hooks);
#endif
