// The application shell under Wine: the main window's wiring with real messages to a real
// MIRU_MAIN window in this process against a scripted recorder, and MI-RU run in this process
// from start-up to its end (failing steps, the folder check, the waits at the exit).
#include <gtest/gtest.h>
#include <windows.h>
#include <mfapi.h>

#include <atomic>
#include <functional>
#include <string>
#include <thread>

#include "base/app_messages.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "app/texts.h"
#include "base/ui_state.h"
#include "base/win_owners.h"
#include "capture/capture_state.h"
#include "frames/frame_store.h"
#include "record/recorder.h"
#include "record/recorder_calls.h"
#include "record/snapshot.h"
#include "render/cockpit_kit.h"
#include "settings/settings_store.h"
#include "tests/diag/log_probe.h"
#include "tests/record/scripted_sink.h"
#include "tests/support/log_count.h"
#include "tests/support/ui_wait.h"

namespace {

// `answer` is what the next start returns.
struct RecorderScript {
    int starts, stops, width, height;
    bool withSound;
    const wchar_t* answer;
    int32_t written;
} script;
// The readers' half is the real recorder's: it answers that no recording runs.
constexpr RecorderCalls scriptedRecorder = {
    [](int32_t width, int32_t height, bool withSound, const uint8_t*, int32_t, int32_t) {
        script = {script.starts + 1, script.stops, width, height, withSound, script.answer, script.written};
        return script.answer;
    },
    [] { script.stops++; }, [] { return script.written; }, RecordingIsActive, RecordingSubmitVideo, RecordingSubmitAudio};

class MainWindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        TextsSetLanguageForTest(0);
        PumpMessages();
        script = {};
        RecorderSetForTest(&scriptedRecorder);
        ASSERT_TRUE(MainWindowRegisterClass(GetModuleHandleW(nullptr)));
        window = MainWindowCreate(GetModuleHandleW(nullptr));
        ASSERT_NE(window, nullptr);
        ASSERT_EQ(AppWindow(), window);
        UiStateReset();
    }
    void TearDown() override
    {
        if (IsWindow(window)) DestroyWindow(window);
        PumpMessages();
        UnregisterClassW(MAIN_WINDOW_CLASS, GetModuleHandleW(nullptr));
        RecorderSetForTest(nullptr);
        EXPECT_EQ(AppMessageTextsOutstanding(), 0);
    }
    void Key(UINT key, bool ctrl = false, bool shift = false) { PressKey(window, key, ctrl, shift); }
    void Timer(UINT_PTR id, int times = 1) { while (times--) SendMessageW(window, WM_TIMER, id, 0); }
    void GoLive() { SendMessageW(window, WM_APP_LIVE, 1, 0); }
    void Mouse(UINT message, int x, int y) { SendMessageW(window, message, 0, MAKELPARAM(x, y)); }
    void Click(int x, int y) { Mouse(WM_LBUTTONDOWN, x, y), Mouse(WM_LBUTTONUP, x, y); }
    void EndRecording(bool success, const wchar_t* text)
    {
        ASSERT_TRUE(PostAppMessageText(WM_APP_RECORDING_ENDED, success ? 1 : 0, text));
        PumpMessages();
    }

    LogSandbox folder;
    HWND window = nullptr;
};

// The modifiers come from the keyboard state; which of them each key needs is the key table's
// native test.
TEST_F(MainWindowTest, KeysRunTheirActionsUnderTheHeldModifiers)
{
    Key('5');  // Ctrl is not held
    EXPECT_FLOAT_EQ(UiState.pipSize, 0.5f);
    Key(VK_OEM_PLUS, true);  // Ctrl is held
    EXPECT_FLOAT_EQ(UiState.pipSize, 0.55f);
    Key('M', false, true);
    EXPECT_TRUE(UiState.micMuted);
    const bool stabilised = Settings.stabilizeMacro;
    Key('S');
    Settings.stabilizeMacro = stabilised;
    SettingsLoad();  // the change was saved at once
    EXPECT_NE(Settings.stabilizeMacro, stabilised);
}

TEST_F(MainWindowTest, RecordTwiceStopsAndAThirdPressOnlyShowsTheCockpit)
{
    Key('R');  // not live: nothing at all
    SendMessageW(window, WM_APP_STOP_RECORDING, 0, 0);
    EXPECT_EQ(script.starts + script.stops, 0);
    UiState.cockpitVisible = false;
    GoLive();
    Key('R');
    EXPECT_TRUE(script.starts == 1 && script.width == 1920 && script.height == 1080);
    EXPECT_FALSE(script.withSound);  // no microphone chosen
    EXPECT_TRUE(UiState.recording && UiState.cockpitVisible);
    EXPECT_EQ(TimesLogged(LOG_EVENT, L"Aufnahme l\u00e4uft (1920\u00d71080, Audio: aus)"), 1u);

    Timer(TIMER_RECORD_CLOCK);
    script.written = 28;
    Timer(TIMER_FRAME, 30);
    Timer(TIMER_COCKPIT_HIDE);  // the cockpit stays while recording
    EXPECT_TRUE(UiState.recordSeconds == 1 && UiState.framesRecorded == 28 && UiState.cockpitVisible);

    Key('R');
    EXPECT_EQ(script.stops, 1);
    UiState.cockpitVisible = false;
    Key('R');
    SendMessageW(window, WM_APP_STOP_RECORDING, 0, 0);
    EXPECT_TRUE(script.stops == 1 && script.starts == 1);
    EXPECT_TRUE(UiState.cockpitVisible);

    UiStateSetStatusDetail(L"Speicher knapp");
    EndRecording(true, L"C:\\Videos\\MI-RU-2026-01-01_10-00-00.mp4");
    EXPECT_TRUE(!UiState.recording && UiState.statusDetail[0] == 0 && UiState.status == 0);
    Timer(TIMER_FRAME, 30);
    EXPECT_EQ(UiState.framesRecorded, UI_FRAMES_NOT_RECORDING);
    Timer(TIMER_COCKPIT_HIDE);
    EXPECT_FALSE(UiState.cockpitVisible);
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
    EXPECT_EQ(TimesLogged(LOG_ERROR, L"Aufnahme-Start fehlgeschlagen: SinkWriter could not be created"), 1u);

    SendMessageW(window, WM_APP_STATUS, 2, 0);
    script.answer = nullptr;
    Key('R');  // a failed start left it idle: this one starts
    EXPECT_TRUE(UiState.recording);
    EndRecording(false, nullptr);
    EXPECT_EQ(UiState.status, 9u);
    EXPECT_EQ(TimesLogged(LOG_ERROR, L"Aufnahme fehlgeschlagen: unbekannter Fehler"), 1u);
    EXPECT_FALSE(UiState.recording);
}


// Closing during a recording waits for its end (a second close and R change nothing). Its
// finalisation fails: the warning comes first, the end arrives while the box runs. The box
// stays until it is answered; then the window goes (its shutdown's save is the real app's test).
TEST_F(MainWindowTest, ClosingWaitsForTheEndAndForTheWarningBoxToBeAnswered)
{
    GoLive();
    Key('R');
    SendMessageW(window, WM_CLOSE, 0, 0);
    SendMessageW(window, WM_CLOSE, 0, 0);
    Key('R');
    EXPECT_TRUE(IsWindow(window) && script.stops == 1);
    EXPECT_EQ(TimesLogged(LOG_EVENT, L"Beenden: Aufnahme wird abgeschlossen und gespeichert\u2026"), 1u);
    ASSERT_TRUE(PostAppMessageText(WM_APP_WARNING, 0, L"Die Aufnahme liegt im tempor\u00e4ren Ordner"));
    ASSERT_TRUE(PostAppMessageText(WM_APP_RECORDING_ENDED, 0, L"Finalize fehlgeschlagen"));
    bool boxStayed = false;
    BoxSeen seen;
    std::thread answer = AnswerBox(&seen, IDOK, [&](HWND box) {
        if (UiState.recording) return false;  // the end has not been handled yet
        DWORD_PTR ignored = 0;  // a round trip: the handling of the end is over
        SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 5000, &ignored);
        boxStayed = IsWindow(box) != FALSE;
        return true;
    });
    PumpMessages();  // shows the box; returns once it is answered
    answer.join();
    EXPECT_EQ(seen.text, L"Die Aufnahme liegt im tempor\u00e4ren Ordner");
    EXPECT_EQ(seen.owner, window);
    EXPECT_TRUE(boxStayed);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(AppWindow(), nullptr);  // workers post nothing more (a failed post would not show it)
}

// A press confirms a photo only when one is being taken; a refused press says why, and a held
// key's repeats take none. Log-off waits for the photos being written.
TEST_F(MainWindowTest, OnlyPhotosBeingTakenFlashAndLogOffWaitsForThem)
{
    const std::wstring photos = std::wstring(folder.Path()) + L"\\Fotos";
    CreateDirectoryW(photos.c_str(), nullptr);
    wcscpy(Settings.recordingFolder, photos.c_str());
    Frame* wide = FrameCreate(64, 36);
    FramePublish(SLOT_WIDE, wide);
    FrameRelease(wide);
    CaptureSetLive(true);
    PumpMessages();
    ASSERT_TRUE(UiState.live);
    const HandleOwner gate(CreateEventW(nullptr, TRUE, FALSE, nullptr));
    SnapshotHoldJobsForTest(gate.handle);
    Key(VK_SPACE);
    EXPECT_FLOAT_EQ(UiState.photoFlash, 0.75f);
    UiState.photoFlash = 0.0f;
    SendMessageW(window, WM_KEYDOWN, VK_SPACE, (1L << 30) | 1);  // the held key repeats
    EXPECT_FLOAT_EQ(UiState.photoFlash, 0.0f);
    Key(VK_SPACE);
    UiState.photoFlash = 0.0f;
    Key(VK_SPACE);  // both photos are still being saved
    EXPECT_FLOAT_EQ(UiState.photoFlash, 0.0f);
    EXPECT_STREQ(UiState.notice, L"Photos are still being saved");
    Timer(TIMER_NOTICE);
    EXPECT_STREQ(UiState.notice, L"");

    SetEvent(gate.handle);  // the jobs go on only now: log-off has to wait for them
    SnapshotHoldJobsForTest(nullptr);
    SendMessageW(window, WM_ENDSESSION, TRUE, 0);
    EXPECT_EQ(TimesLogged(LOG_EVENT, L"2 Fotos gespeichert (Wide, Macro, Ansicht)"), 2u);
    CaptureResetStateForTest();
    FrameClearPublished();
}

// The recorder never reports the end of the stop that closing asked for: after the stop watch
// the user is told, and asked whether to close now. After "No" a close no longer waits.
TEST_F(MainWindowTest, AStopThatDoesNotEndLetsTheUserCloseOnceTold)
{
    GoLive();
    Key('R');
    SendMessageW(window, WM_CLOSE, 0, 0);
    ASSERT_TRUE(KillTimer(window, TIMER_STOP_OVERDUE));  // armed with the stop
    BoxSeen seen;
    std::thread answer = AnswerBox(&seen, IDNO);
    Timer(TIMER_STOP_OVERDUE);  // returns once the box is answered
    answer.join();
    EXPECT_EQ(seen.owner, window);
    EXPECT_EQ(seen.text, L"The recording is still being finished. If MI-RU is closed now, the recording will be "
                         L"recovered at the next start.\n\nClose MI-RU now?");
    EXPECT_EQ(std::wstring(UiState.statusDetail),
              L"Recording is still being finished \u00b7 If closed now: recovered at the next start");
    EXPECT_EQ(TimesLogged(LOG_WARN, L"Aufnahme endet nicht innerhalb von 15 s \u2014 sie wird weiter abgeschlossen"), 1u);
    EXPECT_TRUE(IsWindow(window));
    SendMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_FALSE(IsWindow(window));
    EXPECT_EQ(TimesLogged(LOG_WARN, L"Beenden vor dem Ende der Aufnahme \u2014 sie wird beim n\u00e4chsten Start "
                                    L"wiederhergestellt"),
              1u);
}

// The cockpit through the window's mouse messages, 1280 x 800 at scale 1.
TEST_F(MainWindowTest, CockpitSliderPressesDragAndWheel)
{
    Click(1176, 749);
    EXPECT_FLOAT_EQ(UiState.pipSize, 0.5f);
    Click(1090, 749);  // inside the click area, left of the track
    EXPECT_FLOAT_EQ(UiState.pipSize, 0.0f);

    // A drag that leaves the window: only x counts; the release outside ends it.
    Mouse(WM_LBUTTONDOWN, 1176, 749);
    EXPECT_EQ(GetCapture(), window);
    Mouse(WM_MOUSEMOVE, 1136, 200);
    EXPECT_FLOAT_EQ(UiState.pipSize, 0.25f);
    Mouse(WM_MOUSEMOVE, 1500, 900);
    EXPECT_FLOAT_EQ(UiState.pipSize, 1.0f);
    Mouse(WM_LBUTTONUP, 1500, 900);
    EXPECT_TRUE(!UiState.sliderDrag && GetCapture() == nullptr);
    Mouse(WM_MOUSEMOVE, 1100, 749);
    EXPECT_FLOAT_EQ(UiState.pipSize, 1.0f);

    Click(1144, 749);  // 0.3
    SendMessageW(window, WM_MOUSEWHEEL, MAKEWPARAM(0, 5 * WHEEL_DELTA), 0);
    EXPECT_NEAR(UiState.pipSize, 0.45f, 1e-6);
    SendMessageW(window, WM_MOUSEWHEEL, MAKEWPARAM(0, 50 * WHEEL_DELTA), 0);
    EXPECT_FLOAT_EQ(UiState.pipSize, 1.0f);
    SendMessageW(window, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-40 * WHEEL_DELTA)), 0);
    EXPECT_FLOAT_EQ(UiState.pipSize, 0.0f);
}

TEST_F(MainWindowTest, CockpitButtonsRunTheirActionsOnlyWhenTheyApply)
{
    Click(598, 758);  // photo while not live: only shows the cockpit
    EXPECT_FLOAT_EQ(UiState.photoFlash, 0.0f);
    const bool stabilised = Settings.stabilizeMacro;
    Click(30, 758);
    Click(1054, 758);
    EXPECT_TRUE(UiState.micMuted);
    EXPECT_NE(Settings.stabilizeMacro, stabilised);

    // The restart square right of the status text restarts the cameras (after its timer) only
    // while not live.
    const CockpitRect restart = CockpitComputeLayout(1280, 800).reconnectRect;
    ASSERT_GT(restart.right - restart.left, 0.0f);
    const int rx = static_cast<int>((restart.left + restart.right) / 2);
    KillTimer(window, TIMER_CAMERA_RESTART);
    Click(rx, 26);
    EXPECT_TRUE(KillTimer(window, TIMER_CAMERA_RESTART));
    GoLive();
    Click(rx, 26);
    EXPECT_FALSE(KillTimer(window, TIMER_CAMERA_RESTART));

    Click(598, 758);  // live, but no picture has arrived: no flash, a notice says why
    EXPECT_TRUE(UiState.photoFlash == 0.0f && wcscmp(UiState.notice, L"No photo \u2014 no live picture yet") == 0);

    // A press on hidden bars only shows them; after a recording the hide timer runs again.
    Timer(TIMER_COCKPIT_HIDE);
    ASSERT_FALSE(UiState.cockpitVisible);
    Click(677, 758);
    EXPECT_TRUE(UiState.cockpitVisible && script.starts == 0);
    Click(677, 758);
    EXPECT_TRUE(script.starts == 1 && UiState.recording);
    EndRecording(true, nullptr);
    Mouse(WM_MOUSEMOVE, 640, 400);  // re-arms the real 6 s timer
    EXPECT_TRUE(WaitUntil([] { return !UiState.cockpitVisible; }, 12));
}

// ---- MI-RU in this process from start-up to its end ----

// Runs AppRun here with the first run taken as done; `renderer` is the renderer's start-up step
// (true: none is made, so no graphics device runs on this thread). `drive` works the main window
// from a second thread, which closes the window when `drive` returns. Returns the exit code.
int RunApp(bool (*renderer)(HWND), const std::function<void(HWND)>& drive)
{
    const AppStartupHooks hooks = {[] { return Settings.didCompleteOnboarding = true; }, renderer};
    AppSetStartupHooksForTest(&hooks);
    std::atomic<bool> ended{false};
    std::thread driver([&] {
        HWND window = nullptr;
        WaitUntil([&] { return ended || ((window = FindWindowW(MAIN_WINDOW_CLASS, nullptr)) && IsWindowVisible(window)); });
        if (ended) return;
        drive(window);
        if (IsWindow(window)) PostMessageW(window, WM_CLOSE, 0, 0);
    });
    const int code = AppRun(GetModuleHandleW(nullptr), SW_SHOWNORMAL);
    ended = true;
    driver.join();
    AppSetStartupHooksForTest(nullptr);
    UnregisterClassW(MAIN_WINDOW_CLASS, GetModuleHandleW(nullptr));
    PumpMessages();
    return code;
}

bool NoRenderer(HWND)
{
    return true;
}

class AppRunTest : public testing::Test {
protected:
    void SetUp() override
    {
        TextsSetLanguageForTest(0);
        photos = std::wstring(folder.Path()) + L"\\Aufnahmen";
        CreateDirectoryW(photos.c_str(), nullptr);
        wcscpy(Settings.recordingFolder, photos.c_str());
        Settings.didCompleteOnboarding = true;
        ASSERT_TRUE(SettingsSave());  // what start-up loads
        CaptureSetTimeScaleForTest(100);  // the search for cameras (there are none) ends at once
    }
    void TearDown() override { CaptureSetTimeScaleForTest(1); }
    // Once the search has given up: the newest Wide picture, and capture's word that the cameras
    // are live.
    static void GoLive()
    {
        ASSERT_TRUE(WaitUntil([] { return UiState.status == STATUS_NO_CAMERAS; }));
        Frame* wide = FrameCreate(64, 36);
        FramePublish(SLOT_WIDE, wide);
        FrameRelease(wide);
        CaptureSetLive(true);
        ASSERT_TRUE(WaitUntil([] { return UiState.live; }));  // the report, posted, has arrived
    }

    LogSandbox folder;
    std::wstring photos;
};

// The renderer fails: the error box without owner, exit code 1, and the window destroyed (its
// shutdown saves, as the closing test shows).
TEST_F(AppRunTest, RendererFailureShowsTheErrorBoxAndEndsWithOne)
{
    BoxSeen seen;
    std::thread answer = AnswerBox(&seen);
    EXPECT_EQ(RunApp([](HWND) { return false; }, [](HWND) {}), 1);
    answer.join();
    EXPECT_EQ(seen.owner, nullptr);
    EXPECT_EQ(seen.text, L"Graphics output could not be initialized. Please update the graphics driver and "
                         L"start the app again.");
    EXPECT_EQ(TimesLogged(LOG_ERROR, L"Renderer konnte nicht initialisiert werden \u2014 App wird beendet"), 1u);
    EXPECT_EQ(FindWindowW(MAIN_WINDOW_CLASS, nullptr), nullptr);
}

// A stored folder on a removed drive is offered for a new choice: "No" keeps it, "Yes" opens
// the folder picker and keeps what the user picks there.
TEST_F(AppRunTest, UnreachableRecordingFolderIsOfferedForANewChoice)
{
    const std::wstring removed = std::wstring(folder.Path()) + L"\\removed\\Aufnahmen";
    for (const int button : {IDNO, IDYES}) {
        wcscpy(Settings.recordingFolder, removed.c_str());
        ASSERT_TRUE(SettingsSave());
        DeleteFileW(folder.File(L"miru-diagnose.log").c_str());  // this run's log alone
        LogResetForTest();
        BoxSeen seen;
        HWND main = nullptr;
        EXPECT_EQ(RunApp(NoRenderer, [&](HWND window) {
            main = window;
            AnswerBox(&seen, button).join();
            if (button == IDYES) PickFolder(photos).join();
            SendMessageW(window, WM_NULL, 0, 0);  // the check is over
        }), 0);
        EXPECT_EQ(seen.caption, L"Recording folder not found");
        EXPECT_EQ(seen.owner, main);
        EXPECT_EQ(seen.text.substr(0, 38), L"The chosen recording folder is not rea");
        SettingsLoad();
        EXPECT_EQ(std::wstring(Settings.recordingFolder), button == IDYES ? photos : removed);
        EXPECT_EQ(TimesLogged(LOG_WARN, L"Aufnahmeordner nicht erreichbar (externe Platte entfernt?)"), 1u);
    }
}

// The exit waits for a photo being written; a recording whose writer hangs (a write that never
// returns) keeps the window until the user chooses to close, and then the exit waits only briefly.
TEST_F(AppRunTest, ClosingWaitsForAPhotoAndLeavesAHungWriterBehind)
{
    EXPECT_EQ(RunApp(NoRenderer, [&](HWND window) {
        GoLive();
        SendMessageW(window, WM_KEYDOWN, VK_SPACE, 1);
        EXPECT_FLOAT_EQ(UiState.photoFlash, 0.75f);
        SendMessageW(window, WM_CLOSE, 0, 0);
    }), 0);
    EXPECT_EQ(TimesLogged(LOG_EVENT, L"2 Fotos gespeichert (Wide, Macro, Ansicht)"), 1u);
    EXPECT_EQ(FilesIn(photos, L"*.jpg").size(), 2u);

    MFStartup(MF_VERSION, MFSTARTUP_FULL);  // the writer left behind outlives the app's own start
    ScriptedSinkInstall();
    ResetEvent(sink.gate);
    Frame* wide = FrameCreate(32, 18);
    BoxSeen seen;
    EXPECT_EQ(RunApp(NoRenderer, [&](HWND window) {
        SendMessageW(window, WM_APP_LIVE, 1, 0);
        SendMessageW(window, WM_KEYDOWN, 'R', 1);
        RecordingSubmitVideo(wide, nullptr, 0.3f, 0);
        ASSERT_TRUE(WaitUntil([] { return Blocked() == 1; }, 60));  // the writer sits in its write
        SendMessageW(window, WM_CLOSE, 0, 0);
        std::thread answer = AnswerBox(&seen, IDYES);
        SendMessageW(window, WM_TIMER, TIMER_STOP_OVERDUE, 0);
        answer.join();
    }), 0);
    EXPECT_EQ(seen.text.substr(0, 40), L"The recording is still being finished. I");
    EXPECT_EQ(TimesLogged(LOG_WARN, L"Aufnahme-Thread endet nicht rechtzeitig \u2014 Programm wird trotzdem beendet"), 1u);

    // The writer, let go, finishes its file; once a new recording may start, it has ended.
    SetEvent(sink.gate);
    EXPECT_TRUE(WaitUntil([] { return RecordingStart(64, 36, false, nullptr, 0, 0) == nullptr; }, 60));
    RecordingWaitForShutdown(30000);
    ScriptedSinkUninstall();
    FrameRelease(wide);
    MFShutdown();
    CaptureResetStateForTest();
    FrameClearPublished();
}

}  // namespace
