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

struct DialogSearch {
    DWORD pid;
    HWND found;
};

BOOL CALLBACK FindDialog(HWND window, LPARAM parameter)
{
    auto* search = reinterpret_cast<DialogSearch*>(parameter);
    wchar_t className[16] = {};
    GetClassNameW(window, className, 16);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == search->pid && wcscmp(className, L"#32770") == 0 && IsWindowVisible(window)) {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK PrintStatic(HWND child, LPARAM)
{
    wchar_t className[16] = {};
    GetClassNameW(child, className, 16);
    if (wcscmp(className, L"Static") != 0) return TRUE;
    wchar_t text[4096] = {};
    SendMessageW(child, WM_GETTEXT, 4096, reinterpret_cast<LPARAM>(text));
    if (text[0]) PrintUtf8(text);
    return TRUE;
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
        DialogSearch search = {};
        GetWindowThreadProcessId(window, &search.pid);
        for (int i = 0; i < number * 10 && !search.found; i++) {
            EnumWindows(FindDialog, reinterpret_cast<LPARAM>(&search));
            if (!search.found) Sleep(100);
        }
        if (!search.found) return Fail("no message box appeared");
        EnumChildWindows(search.found, PrintStatic, 0);
        PostMessageW(search.found, WM_COMMAND, IDOK, 0);
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
