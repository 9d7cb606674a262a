// Drives a running MI-RU.exe from outside for the recovery test (tests/record/recovery_end_to_end.sh),
// beside miru_window (wait, key, close):
//   app_driver kill            TerminateProcess of the app (no clean-up at all), waits for its end
//   app_driver dialog <s>      waits for a message box of the app, prints its text, presses OK
//   app_driver endsession      WM_QUERYENDSESSION, then WM_ENDSESSION(TRUE) as at a log-off;
//                              prints the query's answer
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

HANDLE OpenApp(HWND window, DWORD access)
{
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    return pid ? OpenProcess(access, FALSE, pid) : nullptr;
}

void PrintUtf8(const wchar_t* text)
{
    char bytes[8192];
    const int length = WideCharToMultiByte(CP_UTF8, 0, text, -1, bytes, sizeof(bytes), nullptr, nullptr);
    if (length > 1) fwrite(bytes, 1, static_cast<size_t>(length - 1), stdout);
    fputc('\n', stdout);
}

// A visible message box of process `pid`, or null.
HWND MessageBoxOf(DWORD pid)
{
    for (HWND box = nullptr; (box = FindWindowExW(nullptr, box, L"#32770", nullptr));) {
        DWORD owner = 0;
        GetWindowThreadProcessId(box, &owner);
        if (owner == pid && IsWindowVisible(box)) return box;
    }
    return nullptr;
}

int Fail(const char* what)
{
    fprintf(stderr, "%s\n", what);
    return 1;
}

}  // namespace

int main(int argc, char** argv)
{
    const char* command = argc >= 2 ? argv[1] : "";
    const int number = argc >= 3 ? atoi(argv[2]) : 30;
    HWND window = FindWindowW(L"MIRU_MAIN", nullptr);
    if (!window) return Fail("MIRU_MAIN not found");
    if (strcmp(command, "kill") == 0) {
        HANDLE app = OpenApp(window, PROCESS_TERMINATE | SYNCHRONIZE);
        if (!app || !TerminateProcess(app, 9)) return Fail("cannot terminate MI-RU");
        const bool ended = WaitForSingleObject(app, 30000) == WAIT_OBJECT_0;
        CloseHandle(app);
        return ended ? 0 : Fail("MI-RU did not end");
    }
    if (strcmp(command, "dialog") == 0) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        HWND box = nullptr;
        for (int i = 0; i < number * 10 && !(box = MessageBoxOf(pid)); i++) Sleep(100);
        if (!box) return Fail("no message box appeared");
        wchar_t text[4096] = {};
        GetDlgItemTextW(box, 0xFFFF, text, 4096);  // the box's message text
        PrintUtf8(text);
        PostMessageW(box, WM_COMMAND, IDOK, 0);
        return 0;
    }
    if (strcmp(command, "endsession") == 0) {
        DWORD_PTR answer = 0;
        if (!SendMessageTimeoutW(window, WM_QUERYENDSESSION, 0, ENDSESSION_LOGOFF, SMTO_NORMAL, 30000, &answer))
            return Fail("WM_QUERYENDSESSION got no answer");
        printf("query answered %d\n", static_cast<int>(answer));
        DWORD_PTR ignored = 0;
        if (!SendMessageTimeoutW(window, WM_ENDSESSION, TRUE, ENDSESSION_LOGOFF, SMTO_NORMAL, 60000, &ignored))
            return Fail("WM_ENDSESSION got no answer");
        return 0;
    }
    return Fail("usage: app_driver kill|dialog|endsession [seconds]");
}
