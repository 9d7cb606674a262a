// The first-run wizard in this process under Wine: the test thread runs OnboardingRun (its own
// modal loop) while a driver thread works the window with messages, against virtual cameras.
#include "settings/onboarding.h"

#include <windows.h>
#include <mfapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "app/texts.h"
#include "settings/onboarding_rules.h"
#include "settings/onboarding_state.h"
#include "settings/settings_store.h"
#include "standins/virtual_devices.h"
#include "tests/diag/log_probe.h"
#include "tests/support/ui_wait.h"

namespace {

int CountLoggedText(const std::wstring& text)
{
    const std::vector<std::wstring> texts = LogTexts();
    return static_cast<int>(std::count(texts.begin(), texts.end(), text));
}

VirtualDevice Pattern(const wchar_t* id)
{
    VirtualDevice device = VirtualCamera(id, L"Test Camera", SceneKind::Pattern);
    device.modeCount = 1;
    device.modes[0] = {64, 48, 30, 1, VirtualPixels::Rgb32};
    return device;
}

void Plug(const VirtualDevice& device)
{
    ASSERT_GE(VirtualDeviceAdd(device), 0);
}

// ---- Driving the wizard from the driver thread ----

// Visible: created with its controls and about to run its loop.
HWND WaitForWizard()
{
    HWND window = nullptr;
    WaitUntil([&] { return (window = FindWindowW(L"MIRU_ONBOARD", nullptr)) && IsWindowVisible(window); });
    return window;
}

void Click(HWND window, int id)
{
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(window, id)));
}

void Select(HWND window, int id, int index)
{
    HWND list = GetDlgItem(window, id);
    SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    SendMessageW(window, WM_COMMAND, MAKEWPARAM(id, CBN_SELCHANGE), reinterpret_cast<LPARAM>(list));
}

std::wstring SelectedText(HWND window, int id)
{
    HWND list = GetDlgItem(window, id);
    wchar_t text[256] = {};
    const LRESULT index = SendMessageW(list, CB_GETCURSEL, 0, 0);
    if (index >= 0) SendMessageW(list, CB_GETLBTEXT, static_cast<WPARAM>(index), reinterpret_cast<LPARAM>(text));
    return text;
}

// A key press as the keyboard delivers it, to the window that has the focus.
void PostKey(HWND target, WPARAM key, bool repeated = false)
{
    PostMessageW(target, WM_KEYDOWN, key, repeated ? (1L << 30) | 1 : 1);
}

// The page, read after a message round trip so the wizard thread's writes are seen.
int32_t PageOf(HWND window)
{
    SendMessageW(window, WM_NULL, 0, 0);
    return Wizard.page;
}

// The window's client pixels (BGRA, top-down).
struct Pixels {
    int width = 0, height = 0;
    std::vector<uint32_t> data;
    uint32_t At(int x, int y) const { return data[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)]; }
};
Pixels ReadWindow(HWND window)
{
    Pixels pixels;
    RECT client;
    GetClientRect(window, &client);
    pixels.width = client.right;
    pixels.height = client.bottom;
    pixels.data.resize(static_cast<size_t>(pixels.width) * static_cast<size_t>(pixels.height));
    BITMAPINFO info = {};
    info.bmiHeader = {sizeof(BITMAPINFOHEADER), pixels.width, -pixels.height, 1, 32, BI_RGB, 0, 0, 0, 0, 0};
    void* bits = nullptr;
    HDC windowDc = GetDC(window);
    HDC memory = CreateCompatibleDC(windowDc);
    HBITMAP bitmap = CreateDIBSection(windowDc, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, pixels.width, pixels.height, windowDc, 0, 0, SRCCOPY);
    memcpy(pixels.data.data(), bits, pixels.data.size() * 4);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(window, windowDc);
    return pixels;
}

int Blue(uint32_t pixel) { return static_cast<int>(pixel & 0xFF); }
int Green(uint32_t pixel) { return static_cast<int>((pixel >> 8) & 0xFF); }

OnboardingLayout LayoutOf(HWND window)
{
    RECT client;
    GetClientRect(window, &client);
    const float scale = static_cast<float>(GetDpiForWindow(window)) / 96.0f;
    return OnboardingLayoutFor(static_cast<float>(client.right), static_cast<float>(client.bottom), scale, {});
}

class WizardTest : public testing::Test {
protected:
    void SetUp() override
    {
        TextsSetLanguageForTest(0);
        com_ = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
        ASSERT_EQ(MFStartup(MF_VERSION, 0), S_OK);
        VirtualDevicesInstall();
        VirtualDevicesSetNotify(false);
        wcscpy(Settings.recordingFolder, folder_.Path());  // the folder page is not under test here
    }
    void TearDown() override
    {
        const VirtualDeviceCounters counters = VirtualDevicesCounters();
        EXPECT_EQ(counters.readersLive, 0);  // no preview left running
        EXPECT_EQ(counters.readerThreadsLive, 0);
        EXPECT_EQ(counters.sourcesLive, 0);
        VirtualDevicesUninstall();
        MFShutdown();
        if (SUCCEEDED(com_)) CoUninitialize();
    }
    // Runs the wizard here while `script` drives it; a script that returns early closes it.
    bool Run(const std::function<void(HWND)>& script)
    {
        std::thread driver([&] {
            HWND window = WaitForWizard();
            ASSERT_NE(window, nullptr);
            script(window);
            if (IsWindow(window)) PostMessageW(window, WM_CLOSE, 0, 0);
        });
        const bool finished = OnboardingRun();
        driver.join();
        return finished;
    }
    std::wstring SettingsFile() const { return folder_.File(L"settings.ini"); }

    LogSandbox folder_;
    HRESULT com_ = E_FAIL;
};

// Selections are resolved against the list the user saw, also when a camera was plugged in
// while it was dropped down; one camera for both roles disables Continue and opens once; the
// previews show the cameras mirrored left-right and cover-cropped. A saved microphone that is
// not connected shows as "No sound", and that is what Finish saves with the cameras.
TEST_F(WizardTest, CameraPageKeepsWhatTheUserSawAndFinishSavesWhatThePagesShow)
{
    Plug(Pattern(L"cam-b"));
    Plug(Pattern(L"cam-c"));
    Plug(VirtualMicrophone(L"mic-1", L"USB Mic", SceneKind::Tone));
    wcscpy(Settings.micDeviceID, L"mic-unplugged");
    const bool finished = Run([&](HWND window) {
        for (int page = 0; page < PAGE_CAMERAS; page++) Click(window, ID_PRIMARY);
        ASSERT_EQ(PageOf(window), PAGE_CAMERAS);
        EXPECT_STREQ(Settings.wideDeviceID, L"cam-b");
        EXPECT_STREQ(Settings.macroDeviceID, L"cam-c");
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(window, ID_PRIMARY)));

        // The 64 x 48 pattern (blue = x, green = y) in a 16:9 box: rows 6 ... 42, mirrored.
        const OnboardingBox box = LayoutOf(window).previewBox[0];
        const int left = static_cast<int>(box.left) + 12, right = static_cast<int>(box.right) - 12;
        const int top = static_cast<int>(box.top) + 12, bottom = static_cast<int>(box.bottom) - 12;
        const int middleX = (left + right) / 2, middleY = (top + bottom) / 2;
        Pixels pixels;
        // The page's background is bright in every channel: wait for the pattern itself.
        auto mirroredPattern = [&](int x0, int x1, int y) {
            const int atLeft = Blue(pixels.At(x0, y)), atRight = Blue(pixels.At(x1, y));
            return atLeft > 50 && atLeft < 70 && atRight < 10;
        };
        ASSERT_TRUE(WaitUntil([&] {
            pixels = ReadWindow(window);
            return mirroredPattern(left, right, middleY);
        })) << "no mirrored preview: " << Blue(pixels.At(left, middleY)) << " " << Blue(pixels.At(right, middleY));
        EXPECT_NEAR(Green(pixels.At(middleX, top)), 8, 3);
        EXPECT_NEAR(Green(pixels.At(middleX, bottom)), 40, 3);
        const OnboardingBox macroBox = LayoutOf(window).previewBox[1];
        EXPECT_TRUE(WaitUntil([&] {
            pixels = ReadWindow(window);
            return mirroredPattern(static_cast<int>(macroBox.left) + 12, static_cast<int>(macroBox.right) - 12, middleY);
        }));

        Select(window, ID_MACRO_LIST, 0);  // the Wide camera again
        EXPECT_FALSE(IsWindowEnabled(GetDlgItem(window, ID_PRIMARY)));
        EXPECT_EQ(VirtualDevicesCounters().readersLive, 1);
        Select(window, ID_MACRO_LIST, 1);
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(window, ID_PRIMARY)));
        EXPECT_EQ(VirtualDevicesCounters().readersLive, 2);

        // "cam-a" sorts first: the dropped-down list still shows b, c, and its entry 1 is c.
        HWND wideList = GetDlgItem(window, ID_WIDE_LIST);
        SendMessageW(wideList, CB_SHOWDROPDOWN, TRUE, 0);
        ASSERT_TRUE(SendMessageW(wideList, CB_GETDROPPEDSTATE, 0, 0));
        Plug(Pattern(L"cam-a"));
        SendMessageW(window, WM_DEVICECHANGE, 0x0007 /* DBT_DEVNODES_CHANGED */, 0);
        EXPECT_EQ(SendMessageW(wideList, CB_GETCOUNT, 0, 0), 2);
        Select(window, ID_WIDE_LIST, 1);
        SendMessageW(wideList, CB_SHOWDROPDOWN, FALSE, 0);
        SendMessageW(window, WM_COMMAND, MAKEWPARAM(ID_WIDE_LIST, CBN_CLOSEUP), reinterpret_cast<LPARAM>(wideList));
        EXPECT_STREQ(Settings.wideDeviceID, L"cam-c");
        EXPECT_EQ(SendMessageW(wideList, CB_GETCOUNT, 0, 0), 3);
        EXPECT_EQ(SelectedText(window, ID_WIDE_LIST), L"Test Camera #3");  // c, numbered by id
        EXPECT_STREQ(Settings.macroDeviceID, L"cam-a");  // c took the Wide role: the first other
        EXPECT_EQ(SelectedText(window, ID_MACRO_LIST), L"Test Camera #1");
        EXPECT_EQ(VirtualDevicesCounters().readersLive, 2);

        Click(window, ID_PRIMARY);
        ASSERT_EQ(PageOf(window), PAGE_MICROPHONE);
        EXPECT_EQ(SelectedText(window, ID_MICROPHONE_LIST), L"No sound");
        EXPECT_EQ(SendMessageW(GetDlgItem(window, ID_MICROPHONE_LIST), CB_GETCOUNT, 0, 0), 2);
        for (int page = PAGE_MICROPHONE; page <= PAGE_DONE; page++) Click(window, ID_PRIMARY);
    });
    ASSERT_TRUE(finished);
    EXPECT_EQ(CountLoggedText(L"Einrichtung abgeschlossen"), 1);
    SettingsResetDefaults();
    SettingsLoad();
    EXPECT_TRUE(Settings.didCompleteOnboarding);
    EXPECT_STREQ(Settings.recordingFolder, folder_.Path());
    EXPECT_STREQ(Settings.wideDeviceID, L"cam-c");
    EXPECT_STREQ(Settings.macroDeviceID, L"cam-a");
    EXPECT_STREQ(Settings.micDeviceID, L"");
}

// Enter presses the primary button once per press and leaves an open list alone; Esc cancels.
TEST_F(WizardTest, EnterAdvancesOncePerPressAndNotWhileAListIsOpen)
{
    Plug(Pattern(L"cam-a"));
    Plug(Pattern(L"cam-b"));
    const bool finished = Run([&](HWND window) {
        HWND primary = GetDlgItem(window, ID_PRIMARY);
        PostKey(primary, VK_RETURN);
        PostKey(primary, VK_RETURN, true);  // auto-repeat of the same press
        for (int i = 0; i < 4; i++) PostKey(primary, VK_RETURN);
        ASSERT_TRUE(WaitUntil([&] { return PageOf(window) == PAGE_CAMERAS; }));
        HWND wideList = GetDlgItem(window, ID_WIDE_LIST);
        AttachThreadInput(GetCurrentThreadId(), GetWindowThreadProcessId(window, nullptr), TRUE);
        SetFocus(wideList);
        AttachThreadInput(GetCurrentThreadId(), GetWindowThreadProcessId(window, nullptr), FALSE);
        SendMessageW(wideList, CB_SHOWDROPDOWN, TRUE, 0);
        PostKey(wideList, VK_RETURN);  // closes the list
        ASSERT_TRUE(WaitUntil([&] { return !SendMessageW(wideList, CB_GETDROPPEDSTATE, 0, 0); }));
        PostKey(wideList, VK_ESCAPE);
        EXPECT_TRUE(WaitUntil([&] { return !IsWindow(window); }));  // Esc alone, not the driver's close
    });
    EXPECT_FALSE(finished);
    EXPECT_EQ(Wizard.page, PAGE_CAMERAS);
    EXPECT_EQ(CountLoggedText(L"Einrichtung abgebrochen"), 1);
    EXPECT_EQ(GetFileAttributesW(SettingsFile().c_str()), INVALID_FILE_ATTRIBUTES);
}

}  // namespace
