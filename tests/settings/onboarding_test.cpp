// The first-run wizard in this process under Wine: the test thread runs OnboardingRun (its own
// modal loop) while a driver thread works the window with messages, against virtual cameras.
#include "settings/onboarding.h"

#include <windows.h>
#include <mfapi.h>

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "app/texts.h"
#include "settings/onboarding_rules.h"
#include "settings/onboarding_state.h"
#include "settings/settings_store.h"
#include "standins/virtual_devices.h"
#include "tests/diag/log_probe.h"
#include "tests/support/log_count.h"
#include "tests/support/ui_wait.h"

namespace {

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

// One client pixel as the screen shows it (0x00BBGGRR).
COLORREF PixelAt(HWND window, int x, int y)
{
    HDC dc = GetDC(window);
    const COLORREF colour = GetPixel(dc, x, y);
    ReleaseDC(window, dc);
    return colour;
}

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
        const VirtualDeviceCounters live = VirtualDevicesCounters();  // no preview left running
        EXPECT_TRUE(live.readersLive == 0 && live.readerThreadsLive == 0 && live.sourcesLive == 0);
        VirtualDevicesUninstall();
        MFShutdown();
        if (SUCCEEDED(com_)) CoUninitialize();
    }
    // Runs the wizard here while `script` drives it; a script that returns early closes it.
    bool Run(const std::function<void(HWND)>& script)
    {
        std::thread driver([&] {
            HWND window = WaitForShown(L"MIRU_ONBOARD");
            ASSERT_NE(window, nullptr);
            script(window);
            if (IsWindow(window)) PostMessageW(window, WM_CLOSE, 0, 0);
        });
        const bool finished = OnboardingRun();
        driver.join();
        return finished;
    }

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
        for (int page = 0; page < PAGE_CAMERAS; page++) Command(window, ID_PRIMARY);
        ASSERT_EQ(PageOf(window), PAGE_CAMERAS);

        // The 64 x 48 pattern (blue = x, green = y) in a 16:9 box: rows 6 ... 42, mirrored. The
        // page's background is bright in every channel: wait for the pattern itself.
        const OnboardingLayout layout = LayoutOf(window);
        const OnboardingBox box = layout.previewBox[0];
        const int top = static_cast<int>(box.top) + 12, bottom = static_cast<int>(box.bottom) - 12;
        const int middleX = static_cast<int>(box.left + box.right) / 2, middleY = (top + bottom) / 2;
        auto mirrored = [&](const OnboardingBox& b) {
            const int atLeft = GetBValue(PixelAt(window, static_cast<int>(b.left) + 12, middleY));
            return atLeft > 50 && atLeft < 70 && GetBValue(PixelAt(window, static_cast<int>(b.right) - 12, middleY)) < 10;
        };
        ASSERT_TRUE(WaitUntil([&] { return mirrored(box); }));
        EXPECT_NEAR(GetGValue(PixelAt(window, middleX, top)), 8, 3);
        EXPECT_NEAR(GetGValue(PixelAt(window, middleX, bottom)), 40, 3);
        EXPECT_TRUE(WaitUntil([&] { return mirrored(layout.previewBox[1]); }));

        Select(window, ID_MACRO_LIST, 0);  // the Wide camera again: no Continue, one preview
        EXPECT_TRUE(!IsWindowEnabled(GetDlgItem(window, ID_PRIMARY)) && VirtualDevicesCounters().readersLive == 1);
        Select(window, ID_MACRO_LIST, 1);
        EXPECT_TRUE(IsWindowEnabled(GetDlgItem(window, ID_PRIMARY)) && VirtualDevicesCounters().readersLive == 2);

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
        // c took the Wide role; Macro gets the first other; names are numbered by identifier.
        EXPECT_TRUE(wcscmp(Settings.wideDeviceID, L"cam-c") == 0 && wcscmp(Settings.macroDeviceID, L"cam-a") == 0);
        EXPECT_EQ(SendMessageW(wideList, CB_GETCOUNT, 0, 0), 3);
        EXPECT_EQ(SelectedText(window, ID_WIDE_LIST) + L"|" + SelectedText(window, ID_MACRO_LIST),
                  L"Test Camera #3|Test Camera #1");
        EXPECT_EQ(VirtualDevicesCounters().readersLive, 2);

        Command(window, ID_PRIMARY);
        ASSERT_EQ(PageOf(window), PAGE_MICROPHONE);
        EXPECT_EQ(SelectedText(window, ID_MICROPHONE_LIST), L"No sound");
        EXPECT_EQ(SendMessageW(GetDlgItem(window, ID_MICROPHONE_LIST), CB_GETCOUNT, 0, 0), 2);
        for (int page = PAGE_MICROPHONE; page <= PAGE_DONE; page++) Command(window, ID_PRIMARY);
    });
    ASSERT_TRUE(finished);
    SettingsResetDefaults();
    SettingsLoad();
    EXPECT_TRUE(Settings.didCompleteOnboarding && Settings.micDeviceID[0] == 0);
    EXPECT_TRUE(wcscmp(Settings.wideDeviceID, L"cam-c") == 0 && wcscmp(Settings.macroDeviceID, L"cam-a") == 0);
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
    EXPECT_FALSE(finished);  // what a cancel leaves (a log line, no settings) is the real app's test
    EXPECT_EQ(Wizard.page, PAGE_CAMERAS);
}

// A listed camera that cannot be opened: its preview is tried again when the device list
// changes, not at every refresh, and its failure is logged once.
TEST_F(WizardTest, APreviewThatCannotOpenIsNotRetriedEverySecondNorLoggedAgain)
{
    Plug(Pattern(L"cam-a"));
    VirtualDevice broken = Pattern(L"cam-b");
    broken.modeCount = 0;  // no format to deliver
    const int32_t brokenHandle = VirtualDeviceAdd(broken);
    const std::wstring failure = L"Vorschau: Kamera konnte nicht ge\u00f6ffnet werden";
    Run([&](HWND window) {
        auto refresh = [&] { SendMessageW(window, WM_TIMER, TIMER_DEVICE_REFRESH, 0); };
        for (int page = 0; page < PAGE_CAMERAS; page++) Command(window, ID_PRIMARY);
        ASSERT_EQ(PageOf(window), PAGE_CAMERAS);
        for (int i = 0; i < 5; i++) refresh();
        const int32_t third = VirtualDeviceAdd(Pattern(L"cam-c"));
        refresh();  // the list changed: tried again, failing the same way
        EXPECT_EQ(TimesLogged(LOG_WARN, failure), 1u);
        VirtualDeviceRemove(brokenHandle);  // mended where the list cannot see it
        Plug(Pattern(L"cam-b"));
        refresh();
        EXPECT_EQ(VirtualDevicesCounters().readersLive, 1);
        VirtualDeviceRemove(third);
        refresh();
        EXPECT_EQ(VirtualDevicesCounters().readersLive, 2);
    });
}

// Finish with a settings folder that cannot be written: the user is told and the wizard stays
// on its last page; a second try that saves finishes it. Text formats that cannot be made are
// reported as such (not as a failed drawing surface), once.
TEST_F(WizardTest, FinishThatCannotSaveStaysOpenAndEachDrawingFailureIsNamed)
{
    OnboardingFailTextFormatsForTest(true);
    Plug(Pattern(L"cam-a"));
    Plug(Pattern(L"cam-b"));
    BoxSeen seen;
    const bool finished = Run([&](HWND window) {
        EXPECT_TRUE(WaitUntil([] { return TimesLogged(LOG_ERROR, L"Einrichtung: Textformate") == 1; }));
        for (int page = 0; page < PAGE_DONE; page++) Command(window, ID_PRIMARY);
        SettingsSetFolderOverride(L"C:\\miru-no-such-folder\\deeper");
        std::thread answer = AnswerBox(&seen);
        Command(window, ID_PRIMARY);  // returns once the box is answered
        answer.join();
        SettingsSetFolderOverride(folder_.Path());
        EXPECT_TRUE(IsWindow(window) && PageOf(window) == PAGE_DONE);
        EXPECT_EQ(seen.owner, window);
        Command(window, ID_PRIMARY);
    });
    OnboardingFailTextFormatsForTest(false);
    EXPECT_TRUE(finished);
    EXPECT_EQ(seen.text, L"The setup could not be saved. The diagnostics log has the details. Please choose "
                         L"\u201cFinish setup\u201d again.");
    EXPECT_EQ(TimesLogged(LOG_EVENT, L"Einrichtung abgeschlossen"), 1u);
    EXPECT_EQ(TimesLogged(LOG_ERROR, L"Einrichtung: Textformate konnten nicht erstellt werden"), 1u);
    EXPECT_EQ(TimesLogged(LOG_ERROR, L"Einrichtung: Zeichenfl\u00e4che"), 0u);
}

}  // namespace
