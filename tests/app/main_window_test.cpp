// The main window's wiring, proved with real messages to a real MIRU_MAIN window in this
// process, against a scripted recorder.
#include <gtest/gtest.h>
#include <windows.h>

#include <dbt.h>

#include <string>

#include "app/actions.h"
#include "app/app_messages.h"
#include "app/main_window.h"
#include "app/texts.h"
#include "app/ui_state.h"
#include "diag/log.h"
#include "settings/settings_store.h"
#include "tests/app/shell_test_support.h"
#include "tests/support/test_folder.h"

namespace {

struct RecorderScript {
    int starts, stops;
    int32_t width, height;
    bool withSound;
    const wchar_t* answer;  // what the next start returns
    int32_t written;
};
RecorderScript script;

const wchar_t* ScriptStart(int32_t width, int32_t height, bool withSound, const uint8_t*, int32_t, int32_t)
{
    script.starts++;
    script.width = width;
    script.height = height;
    script.withSound = withSound;
    return script.answer;
}
void ScriptStop()
{
    script.stops++;
}
int32_t ScriptWritten()
{
    return script.written;
}
constexpr ShellRecorder scriptedRecorder = {ScriptStart, ScriptStop, ScriptWritten};

void SetModifiers(bool ctrl, bool shift)
{
    BYTE keys[256];
    GetKeyboardState(keys);
    keys[VK_CONTROL] = keys[VK_LCONTROL] = ctrl ? 0x80 : 0;
    keys[VK_SHIFT] = keys[VK_LSHIFT] = shift ? 0x80 : 0;
    SetKeyboardState(keys);
}

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        TextsSetLanguageForTest(0);
        PumpMessages();
        script = {};
        ShellSetRecorderForTest(&scriptedRecorder);
        ASSERT_TRUE(MainWindowRegisterClass(GetModuleHandleW(nullptr)));
        window = MainWindowCreate(GetModuleHandleW(nullptr));
        ASSERT_NE(window, nullptr);
        ASSERT_EQ(mainWindow, window);
        UiStateReset();
    }
    void TearDown() override
    {
        if (IsWindow(window)) DestroyWindow(window);
        PumpMessages();
        UnregisterClassW(MAIN_WINDOW_CLASS, GetModuleHandleW(nullptr));
        SetModifiers(false, false);
        ShellSetRecorderForTest(nullptr);
        EXPECT_EQ(AppMessageTextsOutstanding(), 0);
    }
    void Key(UINT key, bool ctrl = false, bool shift = false)
    {
        SetModifiers(ctrl, shift);
        SendMessageW(window, WM_KEYDOWN, key, 1);
        SetModifiers(false, false);
    }
    void GoLive() { SendMessageW(window, WM_APP_LIVE, 1, 0); }
    void StartRecording()
    {
        GoLive();
        Key('R');
        ASSERT_TRUE(UiState.recording);
    }
    void EndRecording(bool success, const wchar_t* text)
    {
        ASSERT_TRUE(PostAppMessageText(WM_APP_RECORDING_ENDED, success ? 1 : 0, text));
        PumpMessages();
    }

    TestSettingsFolder folder;
    HWND window = nullptr;
};

TEST_F(MainWindowTest, KeysSetTheMacroSizeClampedToTheVideoArea)
{
    Key('5');
    EXPECT_FLOAT_EQ(UiState.pipSize, 0.5f);
    Key(VK_NUMPAD3);
    EXPECT_FLOAT_EQ(UiState.pipSize, 0.3f);
    Key('0');
    EXPECT_FLOAT_EQ(UiState.pipSize, 1.0f);
    Key(VK_OEM_PLUS, true);
    EXPECT_FLOAT_EQ(UiState.pipSize, 1.0f);
    Key(VK_SUBTRACT, true);
    EXPECT_FLOAT_EQ(UiState.pipSize, 0.95f);
    Key('1');
    for (int i = 0; i < 4; i++) Key(VK_OEM_MINUS, true);
    EXPECT_FLOAT_EQ(UiState.pipSize, 0.0f);
    Key(VK_ADD, true);
    EXPECT_FLOAT_EQ(UiState.pipSize, 0.05f);
    Key('7', true);  // Ctrl+digit is no shortcut
    Key(VK_OEM_PLUS);  // plus needs Ctrl
    EXPECT_FLOAT_EQ(UiState.pipSize, 0.05f);
    SendMessageW(window, WM_MOUSEWHEEL, MAKEWPARAM(0, 5 * WHEEL_DELTA), 0);
    EXPECT_NEAR(UiState.pipSize, 0.2f, 1e-6);
}

TEST_F(MainWindowTest, CtrlAndShiftRulesOfTheToggles)
{
    Key('M');
    EXPECT_TRUE(UiState.micMuted);
    Key('M', true);
    EXPECT_TRUE(UiState.micMuted);
    Key('M', false, true);
    EXPECT_FALSE(UiState.micMuted);

    const bool stabilised = Settings.stabilizeMacro;
    Key('S', true);
    EXPECT_EQ(Settings.stabilizeMacro, stabilised);
    Key('S');
    EXPECT_NE(Settings.stabilizeMacro, stabilised);
    Settings.stabilizeMacro = stabilised;
    SettingsLoad();  // the change was saved at once
    EXPECT_NE(Settings.stabilizeMacro, stabilised);

    wcscpy(Settings.wideDeviceID, L"cam-a");
    wcscpy(Settings.macroDeviceID, L"cam-b");
    Key('W', true);
    EXPECT_STREQ(Settings.wideDeviceID, L"cam-a");
    Key('W');
    SettingsLoad();
    EXPECT_STREQ(Settings.wideDeviceID, L"cam-b");
    EXPECT_STREQ(Settings.macroDeviceID, L"cam-a");
    EXPECT_EQ(CountLogged(LOG_EVENT, L"Kameras getauscht (Wide \u2194 Macro)"), 1);
}

TEST_F(MainWindowTest, PhotoOnlyWhileLiveWithSpaceOrCtrlP)
{
    Key(VK_SPACE);
    EXPECT_FLOAT_EQ(UiState.photoFlash, 0.0f);
    GoLive();
    Key(VK_SPACE, true);
    Key('P');
    EXPECT_FLOAT_EQ(UiState.photoFlash, 0.0f);
    Key(VK_SPACE);
    EXPECT_FLOAT_EQ(UiState.photoFlash, 0.75f);
    UiState.photoFlash = 0;
    Key('P', true, true);
    EXPECT_FLOAT_EQ(UiState.photoFlash, 0.75f);
}

TEST_F(MainWindowTest, FullScreenCoversTheMonitorAndF11AgainRestoresThePlacement)
{
    ShowWindow(window, SW_SHOWNORMAL);
    RECT before;
    GetWindowRect(window, &before);
    Key(VK_F11);
    MONITORINFO monitor = {};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTONEAREST), &monitor);
    RECT rect;
    GetWindowRect(window, &rect);
    EXPECT_TRUE(EqualRect(&rect, &monitor.rcMonitor));  // the whole monitor, not the work area
    EXPECT_EQ(GetWindowLongPtrW(window, GWL_STYLE) & WS_CAPTION, 0);
    Key(VK_F11, true);
    GetWindowRect(window, &rect);
    EXPECT_TRUE(EqualRect(&rect, &before));
    EXPECT_EQ(GetWindowLongPtrW(window, GWL_STYLE) & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);

    ShowWindow(window, SW_MAXIMIZE);
    Key(VK_F11);
    EXPECT_EQ(GetWindowLongPtrW(window, GWL_STYLE) & WS_CAPTION, 0);
    Key(VK_F11);
    EXPECT_TRUE(IsZoomed(window));
    EXPECT_EQ(GetWindowLongPtrW(window, GWL_STYLE) & WS_OVERLAPPEDWINDOW, WS_OVERLAPPEDWINDOW);
}

TEST_F(MainWindowTest, RecordTwiceStopsAndAThirdPressOnlyShowsTheCockpit)
{
    Key('R');  // not live: nothing at all
    EXPECT_EQ(script.starts, 0);
    UiState.cockpitVisible = false;
    GoLive();
    Key('R');
    EXPECT_EQ(script.starts, 1);
    EXPECT_EQ(script.width, 1920);
    EXPECT_EQ(script.height, 1080);
    EXPECT_FALSE(script.withSound);  // no microphone chosen
    EXPECT_TRUE(UiState.recording);
    EXPECT_TRUE(UiState.cockpitVisible);
    EXPECT_EQ(CountLogged(LOG_EVENT, L"Aufnahme l\u00e4uft (1920\u00d71080, Audio: aus)"), 1);

    SendMessageW(window, WM_TIMER, TIMER_RECORD_CLOCK, 0);
    EXPECT_EQ(UiState.recordSeconds, 1u);
    script.written = 28;
    for (int i = 0; i < 30; i++) SendMessageW(window, WM_TIMER, TIMER_FRAME, 0);
    EXPECT_EQ(UiState.framesRecorded, 28u);
    SendMessageW(window, WM_TIMER, TIMER_COCKPIT_HIDE, 0);
    EXPECT_TRUE(UiState.cockpitVisible);  // stays while recording

    Key('R');
    EXPECT_EQ(script.stops, 1);
    UiState.cockpitVisible = false;
    Key('R');
    EXPECT_EQ(script.stops, 1);
    EXPECT_EQ(script.starts, 1);
    EXPECT_TRUE(UiState.cockpitVisible);
    SendMessageW(window, WM_APP_STOP_RECORDING, 0, 0);
    EXPECT_EQ(script.stops, 1);

    UiStateSetStatusDetail(L"Speicher knapp");
    EndRecording(true, L"C:\\Videos\\MI-RU-2026-01-01_10-00-00.mp4");
    EXPECT_FALSE(UiState.recording);
    EXPECT_STREQ(UiState.statusDetail, L"");
    EXPECT_EQ(UiState.status, 0u);
    for (int i = 0; i < 30; i++) SendMessageW(window, WM_TIMER, TIMER_FRAME, 0);
    EXPECT_EQ(UiState.framesRecorded, 0xFFFFFFFFu);
    SendMessageW(window, WM_TIMER, TIMER_COCKPIT_HIDE, 0);
    EXPECT_FALSE(UiState.cockpitVisible);

    Settings.resolutionHigh = true;
    wcscpy(Settings.micDeviceID, L"mic-1");
    Key('R');
    EXPECT_EQ(script.width, 2560);
    EXPECT_EQ(script.height, 1440);
    EXPECT_TRUE(script.withSound);
    EXPECT_EQ(UiState.recordSeconds, 0u);
    EXPECT_EQ(CountLogged(LOG_EVENT, L"Aufnahme l\u00e4uft (2560\u00d71440, Audio: an)"), 1);
}

TEST_F(MainWindowTest, RecordingFailuresSetStatusNine)
{
    GoLive();
    Key('M');
    wcscpy(Settings.micDeviceID, L"mic-1");
    script.answer = L"SinkWriter could not be created";
    Key('R');
    EXPECT_FALSE(script.withSound);  // muted
    EXPECT_FALSE(UiState.recording);
    EXPECT_EQ(UiState.status, 9u);
    EXPECT_EQ(CountLogged(LOG_ERROR, L"Aufnahme-Start fehlgeschlagen: SinkWriter could not be created"), 1);

    SendMessageW(window, WM_APP_STATUS, 2, 0);
    script.answer = nullptr;
    Key('R');
    EndRecording(false, nullptr);
    EXPECT_EQ(UiState.status, 9u);
    EXPECT_EQ(CountLogged(LOG_ERROR, L"Aufnahme fehlgeschlagen: unbekannter Fehler"), 1);
    Key('R');
    EndRecording(false, L"Datentr\u00e4ger voll");
    EXPECT_EQ(CountLogged(LOG_ERROR, L"Aufnahme fehlgeschlagen: Datentr\u00e4ger voll"), 1);
    EXPECT_FALSE(UiState.recording);
}

TEST_F(MainWindowTest, CloseDuringARecordingWaitsForItsEnd)
{
    StartRecording();
    SendMessageW(window, WM_CLOSE, 0, 0);
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(window));
    EXPECT_EQ(script.stops, 1);
    EXPECT_EQ(CountLogged(LOG_EVENT, L"Beenden: Aufnahme wird abgeschlossen und gespeichert\u2026"), 1);

    EndRecording(true, L"C:\\Videos\\a.mp4");
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(mainWindow, nullptr);
    EXPECT_FALSE(ReadFileBytes(folder.File(L"settings.ini")).empty());  // saved on WM_DESTROY
}

TEST_F(MainWindowTest, ApplicationMessagesAndTheirHeapTexts)
{
    SendMessageW(window, WM_APP_STATUS, 7, 0);
    EXPECT_EQ(UiState.status, 7u);
    SendMessageW(window, WM_APP_LIVE, 1, 0);
    EXPECT_TRUE(UiState.live);
    SendMessageW(window, WM_APP_LIVE, 0, 0);
    EXPECT_FALSE(UiState.live);

    const std::wstring longText = std::wstring(95, L'a') + L"bcdefghij";
    ASSERT_TRUE(PostAppMessageText(WM_APP_STATUS_DETAIL, 0, longText.c_str()));
    PumpMessages();
    EXPECT_EQ(std::wstring(UiState.statusDetail), std::wstring(95, L'a'));
    ASSERT_TRUE(PostAppMessageText(WM_APP_STATUS_DETAIL, 0, nullptr));
    PumpMessages();
    EXPECT_STREQ(UiState.statusDetail, L"");

    BoxSeen seen;
    std::thread answer = AnswerBox(L"MI-RU", IDOK, &seen);
    ASSERT_TRUE(PostAppMessageText(WM_APP_WARNING, 0, L"Aufnahme gestoppt: Speicher voll"));
    EXPECT_TRUE(WaitUntil([] { return AppMessageTextsOutstanding() == 0; }));
    answer.join();
    EXPECT_TRUE(seen.found);
    EXPECT_EQ(seen.text, L"Aufnahme gestoppt: Speicher voll");
    EXPECT_EQ(seen.owner, window);

    EXPECT_EQ(SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL, 0), TRUE);
    EXPECT_EQ(SendMessageW(window, WM_DEVICECHANGE, DBT_DEVICEQUERYREMOVE, 0), TRUE);

    // Texts still queued when the window goes are freed with it; afterwards nothing is posted.
    ASSERT_TRUE(PostAppMessageText(WM_APP_STATUS_DETAIL, 0, L"queued"));
    ASSERT_TRUE(PostAppMessageText(WM_APP_RECORDING_ENDED, 0, L"queued"));
    DestroyWindow(window);
    EXPECT_EQ(AppMessageTextsOutstanding(), 0);
    EXPECT_FALSE(PostAppMessageText(WM_APP_WARNING, 0, L"after"));
}

TEST_F(MainWindowTest, MinimumSizeIsA900By560ClientArea)
{
    MINMAXINFO info = {};
    SendMessageW(window, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
    const SIZE expected = MainWindowSizeForClient(900, 560, GetDpiForWindow(window));
    EXPECT_EQ(info.ptMinTrackSize.x, expected.cx);
    EXPECT_EQ(info.ptMinTrackSize.y, expected.cy);
    EXPECT_GT(expected.cx, 900);  // the frame is added
}

}  // namespace
