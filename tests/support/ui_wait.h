#pragma once
// Waiting for windows in tests: message pumping, polling for a condition, this process's
// top-level windows, and a helper thread that answers a message box.
#include <windows.h>

#include <functional>
#include <string>
#include <thread>
#include <vector>

// Handles every message waiting for this thread (also the WM_QUIT a destroyed main window
// leaves behind, so that it cannot end a later message loop early).
inline void PumpMessages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&message);
}

// Pumps messages until `condition` holds; false when it did not within `seconds`. The condition
// is not asked again once it held, so it may take something (a frame, a count).
inline bool WaitUntil(const std::function<bool()>& condition, int seconds = 30)
{
    const ULONGLONG end = GetTickCount64() + seconds * 1000ull;
    while (!condition()) {
        if (GetTickCount64() >= end) return false;
        PumpMessages();
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_ALLINPUT);  // or a message arrives
    }
    return true;
}

// Top-level windows of `className` that belong to this process.
inline std::vector<HWND> OwnWindows(const wchar_t* className)
{
    std::vector<HWND> found;
    for (HWND window = nullptr; (window = FindWindowExW(nullptr, window, className, nullptr));) {
        DWORD process = 0;
        GetWindowThreadProcessId(window, &process);
        if (process == GetCurrentProcessId()) found.push_back(window);
    }
    return found;
}

// The first of them, or null.
inline HWND OwnWindow(const wchar_t* className)
{
    const std::vector<HWND> windows = OwnWindows(className);
    return windows.empty() ? nullptr : windows.front();
}

// A key press with Ctrl and Shift held or not, as GetKeyState reports them while it is handled.
inline void PressKey(HWND window, UINT key, bool ctrl = false, bool shift = false)
{
    BYTE keys[256];
    GetKeyboardState(keys);
    for (const bool down : {true, false}) {
        keys[VK_CONTROL] = keys[VK_LCONTROL] = down && ctrl ? 0x80 : 0;
        keys[VK_SHIFT] = keys[VK_LSHIFT] = down && shift ? 0x80 : 0;
        SetKeyboardState(keys);
        if (down) SendMessageW(window, WM_KEYDOWN, key, 1);
    }
}

// The first visible window of `className` (of any process), or null after `seconds`.
inline HWND WaitForShown(const wchar_t* className, int seconds = 30)
{
    HWND window = nullptr;
    WaitUntil([&] { return (window = FindWindowW(className, nullptr)) && IsWindowVisible(window); }, seconds);
    return window;
}

// A control's command as its click or choice sends it to `window`; returns once handled.
inline void Command(HWND window, int id, int code = BN_CLICKED)
{
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(window, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(GetDlgItem(window, id)),
                        SMTO_NORMAL, 30000, &ignored);
}

// Chooses entry `index` of the drop-down list `id` as the user would.
inline void Select(HWND window, int id, int index)
{
    SendMessageW(GetDlgItem(window, id), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    Command(window, id, CBN_SELCHANGE);
}

inline std::wstring TextOf(HWND window)
{
    wchar_t text[1024] = {};
    GetWindowTextW(window, text, 1024);
    return text;
}

// What a message box showed before it was answered (an empty text: no box appeared).
struct BoxSeen {
    std::wstring caption, text;
    HWND owner = nullptr;
};

// A thread that waits up to 30 s for a message box of this process, notes what it shows and
// presses `button` (once `ready`, given the box, holds). Join it before reading `seen`.
inline std::thread AnswerBox(BoxSeen* seen, int button = IDOK, std::function<bool(HWND)> ready = {})
{
    return std::thread([seen, button, ready] {
        for (int i = 0; i < 1500; i++, Sleep(20)) {
            const std::vector<HWND> boxes = OwnWindows(L"#32770");
            if (boxes.empty()) continue;
            HWND box = boxes.back();
            wchar_t caption[128] = {}, text[1024] = {};
            GetWindowTextW(box, caption, 128);
            GetDlgItemTextW(box, 0xFFFF, text, 1024);  // the box's message text
            *seen = {caption, text, GetWindow(box, GW_OWNER)};
            for (int j = 0; ready && j < 1500 && !ready(box); j++) Sleep(20);
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
            return;
        }
    });
}

// A thread that waits up to 30 s for the system folder picker of this process, types `folder`
// into its name field and confirms it, as a user choosing that folder would.
inline std::thread PickFolder(const std::wstring& folder)
{
    return std::thread([folder] {
        constexpr int NAME_FIELD = 1152;  // edt1 of the common item dialog
        for (int i = 0; i < 1500; i++, Sleep(20)) {
            for (HWND dialog : OwnWindows(L"#32770")) {
                HWND name = GetDlgItem(dialog, NAME_FIELD);
                if (!name || !IsWindowVisible(dialog)) continue;
                SendMessageW(name, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(folder.c_str()));
                PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, IDOK)));
                return;
            }
        }
    });
}

// How often `needle` occurs in `haystack`.
inline size_t CountText(const std::string& haystack, const std::string& needle)
{
    size_t count = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) count++;
    return count;
}
