#include "base/app_messages.h"

#include <atomic>
#include <cstdlib>
#include <cwchar>
#include <mutex>

namespace {
std::atomic<HWND> appWindow{nullptr};
// Held while a text is posted and while the window handle changes: once SetAppWindow(nullptr)
// returns, no text post to the old window is in flight, so the window's last drain of its queue
// frees every text that reached it.
std::mutex textPostLock;
std::atomic<int32_t> textsOutstanding{0};

#ifdef MIRU_TEST_HOOKS
std::atomic<bool> copiesFail{false};
wchar_t* AllocateText(size_t units)
{
    return copiesFail.load() ? nullptr : static_cast<wchar_t*>(malloc(units * sizeof(wchar_t)));
}
#else
wchar_t* AllocateText(size_t units)
{
    return static_cast<wchar_t*>(malloc(units * sizeof(wchar_t)));
}
#endif
}  // namespace

#ifdef MIRU_TEST_HOOKS
void AppMessageTextCopiesFailForTest(bool fail)
{
    copiesFail.store(fail);
}
#endif

HWND AppWindow()
{
    return appWindow.load();
}

void SetAppWindow(HWND window)
{
    std::lock_guard<std::mutex> hold(textPostLock);
    appWindow.store(window);
}

bool PostAppMessageText(UINT message, WPARAM wParam, const wchar_t* text)
{
    std::lock_guard<std::mutex> hold(textPostLock);
    HWND target = AppWindow();
    if (!target) return false;
    wchar_t* copy = nullptr;
    if (text) {
        size_t length = wcslen(text);
        copy = AllocateText(length + 1);
        if (!copy) return false;
        wmemcpy(copy, text, length + 1);
        textsOutstanding.fetch_add(1, std::memory_order_relaxed);
    }
    if (!PostMessageW(target, message, wParam, reinterpret_cast<LPARAM>(copy))) {
        FreeAppMessageText(reinterpret_cast<LPARAM>(copy));
        return false;
    }
    return true;
}

void FreeAppMessageText(LPARAM text)
{
    if (!text) return;
    free(reinterpret_cast<wchar_t*>(text));
    textsOutstanding.fetch_sub(1, std::memory_order_relaxed);
}

int32_t AppMessageTextsOutstanding()
{
    return textsOutstanding.load(std::memory_order_relaxed);
}
