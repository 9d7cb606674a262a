// Small helper of scripts/run.sh: finds the running MI-RU main window (class MIRU_MAIN).
//   miru_window wait <seconds>  waits until the window is visible; prints "x y width height"
//                               of its window rectangle; exit code 1 when it did not appear
//   miru_window close           posts WM_CLOSE to it (the app's normal close path)
//   miru_window key <name>      posts a key press to it: R (record), space (photo)
//   miru_window post <message> [wParam] [lParam]
//                               posts that message to it (numbers, 0x... allowed)
#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <cctype>
#include <cstring>

int main(int argc, char** argv)
{
    if (argc >= 2 && strcmp(argv[1], "wait") == 0) {
        const int seconds = argc >= 3 ? atoi(argv[2]) : 30;
        for (int i = 0; i < seconds * 10; i++) {
            HWND window = FindWindowW(L"MIRU_MAIN", nullptr);
            RECT rect;
            if (window && IsWindowVisible(window) && GetWindowRect(window, &rect)) {
                printf("%ld %ld %ld %ld\n", rect.left, rect.top, rect.right - rect.left, rect.bottom - rect.top);
                return 0;
            }
            Sleep(100);
        }
        fprintf(stderr, "MIRU_MAIN did not appear within %d s\n", seconds);
        return 1;
    }
    if (argc >= 2 && strcmp(argv[1], "close") == 0) {
        HWND window = FindWindowW(L"MIRU_MAIN", nullptr);
        if (!window || !PostMessageW(window, WM_CLOSE, 0, 0)) {
            fprintf(stderr, "MIRU_MAIN not found\n");
            return 1;
        }
        return 0;
    }
    if (argc >= 3 && strcmp(argv[1], "key") == 0) {
        const WPARAM key = strcmp(argv[2], "space") == 0 ? VK_SPACE : static_cast<WPARAM>(toupper(argv[2][0]));
        HWND window = FindWindowW(L"MIRU_MAIN", nullptr);
        if (!window || !PostMessageW(window, WM_KEYDOWN, key, 1)) {
            fprintf(stderr, "MIRU_MAIN not found\n");
            return 1;
        }
        return 0;
    }
    if (argc >= 3 && strcmp(argv[1], "post") == 0) {
        HWND window = FindWindowW(L"MIRU_MAIN", nullptr);
        const UINT message = static_cast<UINT>(strtoul(argv[2], nullptr, 0));
        const WPARAM wParam = argc >= 4 ? static_cast<WPARAM>(strtoull(argv[3], nullptr, 0)) : 0;
        const LPARAM lParam = argc >= 5 ? static_cast<LPARAM>(strtoll(argv[4], nullptr, 0)) : 0;
        if (!window || !PostMessageW(window, message, wParam, lParam)) {
            fprintf(stderr, "MIRU_MAIN not found\n");
            return 1;
        }
        return 0;
    }
    fprintf(stderr, "usage: miru_window wait <seconds> | close | key <R|space> | post <message> [wParam] [lParam]\n");
    return 2;
}
