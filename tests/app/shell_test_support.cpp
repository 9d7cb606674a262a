#include "tests/app/shell_test_support.h"

#include <vector>

#include "diag/log.h"

void PumpMessages()
{
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

bool WaitUntil(const std::function<bool()>& condition, int seconds)
{
    for (int i = 0; i < seconds * 50; i++) {
        PumpMessages();
        if (condition()) return true;
        Sleep(20);
    }
    return condition();
}

int CountLogged(uint32_t level, const std::wstring& text)
{
    std::vector<LogEntry> entries(LOG_RING_CAPACITY);
    const uint32_t count = LogSnapshot(entries.data(), LOG_RING_CAPACITY);
    int found = 0;
    for (uint32_t i = 0; i < count; i++)
        if (entries[i].level == level && text == entries[i].text) found++;
    return found;
}

bool AnswerBoxNow(const wchar_t* caption, int button, BoxSeen* seen)
{
    for (int i = 0; i < 1500; i++) {
        HWND box = FindWindowW(L"#32770", caption);
        DWORD process = 0;
        if (box) GetWindowThreadProcessId(box, &process);
        if (box && process == GetCurrentProcessId()) {
            wchar_t text[1024] = {};
            GetDlgItemTextW(box, 0xFFFF, text, 1024);  // the box's message text
            seen->found = true;
            seen->text = text;
            seen->owner = GetWindow(box, GW_OWNER);
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED),
                         reinterpret_cast<LPARAM>(GetDlgItem(box, button)));
            return true;
        }
        Sleep(20);
    }
    return false;
}

std::thread AnswerBox(const wchar_t* caption, int button, BoxSeen* seen)
{
    std::wstring wanted = caption;
    return std::thread([wanted, button, seen] { AnswerBoxNow(wanted.c_str(), button, seen); });
}
