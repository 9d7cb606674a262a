// Resident helper of the test rig: while it runs, every Wine launch in the same prefix
// starts in a fraction of the cold-start time. "--ping" answers whether it is up.
#include <windows.h>
#include <cstring>

int main(int argc, char** argv)
{
    const wchar_t* name = L"Local\\MIRU-Test-KeepWarm";
    if (argc > 1 && strcmp(argv[1], "--ping") == 0) {
        HANDLE existing = OpenEventW(SYNCHRONIZE, FALSE, name);
        if (!existing) return 1;
        CloseHandle(existing);
        return 0;
    }
    HANDLE event = CreateEventW(nullptr, TRUE, FALSE, name);
    if (!event) return 1;
    // Ends with the prefix's wineserver at the end of the run; the time-out only guards
    // against a run that never cleaned up.
    WaitForSingleObject(event, 3 * 60 * 60 * 1000);
    CloseHandle(event);
    return 0;
}
