#pragma once
// Helpers of the shell tests: message pumping, log look-ups and answering message boxes.
#include <windows.h>

#include <cstdint>
#include <functional>
#include <string>
#include <thread>

// Handles every message waiting for this thread (also the WM_QUIT a destroyed main window
// leaves behind, so that it cannot end a later message loop early).
void PumpMessages();
// Pumps messages until `condition` holds; false when it did not within `seconds`.
bool WaitUntil(const std::function<bool()>& condition, int seconds = 30);
// Log entries of `level` whose text is exactly `text`.
int CountLogged(uint32_t level, const std::wstring& text);

// What a message box showed before it was answered.
struct BoxSeen {
    bool found = false;
    std::wstring text;
    HWND owner = nullptr;
};
// Waits up to 30 s for a message box of this process with `caption`, notes what it shows and
// presses `button` (IDOK, IDYES, IDNO). False when no such box appeared.
bool AnswerBoxNow(const wchar_t* caption, int button, BoxSeen* seen);
// The same on a thread of its own: waits for a message box of this process with `caption`, notes
// what it shows and presses `button` (IDOK, IDYES, IDNO). Join the thread before reading.
std::thread AnswerBox(const wchar_t* caption, int button, BoxSeen* seen);
