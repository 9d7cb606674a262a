#include <gtest/gtest.h>

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#endif

int main(int argc, char** argv)
{
#ifdef _WIN32
    // A crashing test must end the process, not wait for a dialog.
    SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX | SEM_NOOPENFILEERRORBOX);
#endif
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
#ifdef _WIN32
    // The verdict is in. Wine's graphics drivers (Mesa under the D3D devices the render and
    // recording tests make) have been seen, rarely, to abort on their own Unix heap while the
    // process unloads them; that says nothing about the tests, so the process ends here without
    // unloading. Every test releases what it made and checks its own leaks before this point.
    fflush(stdout);
    fflush(stderr);
    TerminateProcess(GetCurrentProcess(), static_cast<UINT>(result));
#endif
    return result;
}
