#pragma once
// Log-off and shutdown while a recording runs: the recording is stopped at the first notice and
// saved before the session ends; the system is told why the program holds the session meanwhile.
#include <windows.h>

// WM_QUERYENDSESSION: never refuses the end. A running recording is asked to stop at once and
// the shutdown is blocked with a reason while it is finalised.
LRESULT SessionEndQuery(HWND window);
// WM_ENDSESSION: when the session really ends, waits (bounded) until the recording and running
// photo jobs are saved; either way the block is released.
void SessionEndConfirmed(HWND window, bool ending);
