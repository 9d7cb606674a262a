// The camera control thread against scripted virtual devices, watched through the messages
// posted to a window and through the log: start/stop cycles without leaks, the search, hot-plug,
// stream errors and the no-image check, a thread that hangs at shutdown, racing threads, and the
// control behind the real main window procedure.
#include "app/actions.h"
#include <windows.h>

#include <iterator>
#include <thread>
#include <type_traits>

#include "app/main_window.h"
#include "base/ui_state.h"
#include "standins/virtual_seam.h"
#include "tests/capture/capture_test_support.h"
#include "tests/support/handle_count.h"

namespace {

using Values = std::vector<WPARAM>;

constexpr wchar_t WIDE_ID[] = L"usb#1-wide";
constexpr wchar_t MACRO_ID[] = L"usb#2-macro";
constexpr wchar_t MIC_ID[] = L"mic-1";

const VirtualDevice WIDE_CAMERA = PatternCamera(WIDE_ID, L"Wide Cam");
const VirtualDevice MACRO_CAMERA = PatternCamera(MACRO_ID, L"Macro Cam", 48, 36);

class CameraControlTest : public CaptureTest {
protected:
    int32_t macroHandle_ = -1;

    // Both cameras plugged in and bound, the control ready.
    void InitBoth(const VirtualDevice& wide = WIDE_CAMERA, const VirtualDevice& macro = MACRO_CAMERA)
    {
        VirtualDeviceAdd(wide);
        macroHandle_ = VirtualDeviceAdd(macro);
        InitControl(WIDE_ID, MACRO_ID);
    }
    // Plugs the Macro camera in while the control runs, with the device-change notice.
    void ReplugMacro() { macroHandle_ = VirtualDeviceAdd(MACRO_CAMERA); }
    Values Statuses() { return Posted(WM_APP_STATUS); }
    Values Lives() { return Posted(WM_APP_LIVE); }
    // Starts and waits for the cameras to go live (the live message comes before the status).
    void StartLive()
    {
        const size_t lives = Lives().size();
        CaptureStart();
        ASSERT_EQ(WaitForPosted(WM_APP_LIVE, lives), 1);
        ASSERT_TRUE(WaitForStatus(STATUS_LIVE));
    }
    bool WaitForStatus(WPARAM status)
    {
        return WaitUntil([&] { return !Statuses().empty() && Statuses().back() == status; });
    }
    // Camera activations listed so far (each search attempt and device check lists every camera).
    static int32_t Listings() { return VirtualDevicesCounters().activatesFreed; }
};

TEST_F(CameraControlTest, BothCamerasGoLiveAndRestartOnCommandTwoHundredTimesWithoutLeaks)
{
    CaptureSetTimeScaleForTest(40);
    VirtualDeviceAdd(WIDE_CAMERA);
    VirtualDeviceAdd(MACRO_CAMERA);
    VirtualDeviceAdd(VirtualMicrophone(MIC_ID, L"Headset Mic", SceneKind::Tone));
    InitControl(L"", L"", MIC_ID);  // empty camera roles take the free cameras
    StartLive();  // the first start creates what lives for the whole process
    EXPECT_EQ(TimesLogged(LOG_INFO, L"Kamera 1 konfiguriert: Macro Cam"), 1u);
    ASSERT_TRUE(WaitUntil([] { return CaptureGetMicLevel() > 0.0f; }));
    const DWORD handlesBefore = OpenHandleCount();
    for (size_t i = 1; i <= 200 && !HasFatalFailure(); ++i) {
        CaptureStop();  // stop and start in one go restart the cameras
        CaptureStart();
        ASSERT_EQ(WaitForPosted(WM_APP_LIVE, 2 * i), 1) << i;
    }
    ASSERT_TRUE(WaitForStatus(STATUS_LIVE));
    CaptureStop();  // stopped, reported, the microphone forgotten, nothing left behind
    ASSERT_TRUE(WaitForStatus(STATUS_STOPPED));
    ASSERT_TRUE(WaitUntil([] { return VirtualDevicesCounters().readerThreadsLive == 0; }));
    EXPECT_EQ(CaptureReaderLiveCount() + VirtualDevicesCounters().sourcesLive + FrameLiveCount(), 0);
    EXPECT_LE(OpenHandleCount(), handlesBefore + 4);
    EXPECT_EQ(CaptureAcquireAudioMediaType(), nullptr);
    EXPECT_EQ(CaptureGetMicLevel(), 0.0f);
    EXPECT_EQ(Statuses().size(), 402u);  // live, 200 times stopped and live, stopped
}

TEST_F(CameraControlTest, NothingStartsWithoutTwoDistinctBoundCamerasUntilTheMissingOneIsPluggedIn)
{
    // The Wide and Macro ids in the settings, then those bound for the start; the cameras plugged
    // in (1 Wide, 2 Macro); the last case's Macro camera is plugged in afterwards, and they go live.
    const wchar_t* const cases[][4] = {
        {WIDE_ID, WIDE_ID, WIDE_ID, WIDE_ID},  // both roles on one camera
        {L"", L"", MACRO_ID, L""},             // one camera, both roles empty
        {WIDE_ID, L"", WIDE_ID, MACRO_ID},     // Wide bound but unplugged
        {WIDE_ID, MACRO_ID, WIDE_ID, MACRO_ID},
    };
    const int plugged[] = {3, 2, 2, 1};
    // Cameras listed: each of the 60 attempts lists every camera; an empty role's look-up once more.
    const int listings[] = {120, 61, 61, 60};
    CaptureSetTimeScaleForTest(40);
    InitControl(L"", L"", MIC_ID);  // a microphone that is not there
    for (size_t i = 0; i < std::size(cases); ++i) {
        SCOPED_TRACE(i);
        VirtualDevicesSetNotify(false);
        VirtualDevicesRemoveAll();
        if (plugged[i] & 1) VirtualDeviceAdd(WIDE_CAMERA);
        if (plugged[i] & 2) VirtualDeviceAdd(MACRO_CAMERA);
        wcscpy(Settings.wideDeviceID, cases[i][0]);
        wcscpy(Settings.macroDeviceID, cases[i][1]);
        ClearPosted();
        const int32_t listedBefore = Listings();
        CaptureStart();
        ASSERT_TRUE(WaitForStatus(STATUS_NO_CAMERAS));
        EXPECT_EQ(Statuses(), (Values{STATUS_SEARCHING, STATUS_NO_CAMERAS}));
        EXPECT_EQ(Listings() - listedBefore, listings[i]);
        EXPECT_STREQ(CaptureActiveIds().wide, cases[i][2]);
        EXPECT_STREQ(CaptureActiveIds().macro, cases[i][3]);
        EXPECT_STREQ(Settings.wideDeviceID, cases[i][0]);  // the automatic choice is for this start only
    }
    const std::wstring notFound = L"Kameras nicht erkannt \u2014 beide anstecken; bei Bedarf neu starten.";
    EXPECT_TRUE(WaitUntil([&] { return TimesLogged(LOG_WARN, notFound) == 4; }));  // logged after the status
    EXPECT_EQ(TimesLogged(LOG_ANY_LEVEL, L"Kamera 0 konfiguriert"), 0u);
    VirtualDevicesSetNotify(true);
    ReplugMacro();  // the missing camera
    ASSERT_TRUE(WaitForStatus(STATUS_LIVE));
    EXPECT_EQ(TimesLogged(LOG_ANY_LEVEL, L"Mikrofon"), 0u);  // the absent microphone is ignored without a word
    CaptureStop();
    ASSERT_TRUE(WaitForStatus(STATUS_STOPPED));

}

TEST_F(CameraControlTest, ACameraWithoutImageIsRestartedThreeTimesThenReported)
{
    CaptureSetTimeScaleForTest(5);
    VirtualDevice silent = MACRO_CAMERA;
    silent.neverDelivers = 1;
    InitBoth(WIDE_CAMERA, silent);
    CaptureStart();
    ASSERT_TRUE(WaitForStatus(STATUS_NO_IMAGE));
    EXPECT_EQ(Statuses(), (Values{STATUS_LIVE, STATUS_RESTARTING, STATUS_LIVE, STATUS_RESTARTING, STATUS_LIVE,
                                  STATUS_RESTARTING, STATUS_LIVE, STATUS_NO_IMAGE}));
    EXPECT_EQ(Lives(), (Values{1, 0, 1, 0, 1, 0, 1}));
    const std::wstring restart = L"Kamera ohne Bild (Wide:1 Macro:0) \u2014 automatischer Neustart ";
    EXPECT_EQ(TimesLogged(LOG_WARN, restart + L"3/3"), 1u);
    EXPECT_TRUE(WaitUntil([] {  // logged after the status
        return TimesLogged(LOG_ERROR, L"Kamera liefert kein Bild (Wide:1 Macro:0) \u2014 bitte USB-Verbindung/Hub "
                                      L"pr\u00fcfen und neu starten (\u21bb).") == 1;
    }));

    // A stop resets the restart count: the next start gets three restarts again.
    CaptureStop();
    CaptureStart();
    ASSERT_TRUE(WaitUntil([&] { return TimesLogged(LOG_WARN, restart + L"1/3") == 2; }));
}

TEST_F(CameraControlTest, AMacroStreamErrorKeepsWideLiveAndUnpluggingItWhileRecordingStopsTheRecording)
{
    VirtualDevice failing = MACRO_CAMERA;
    failing.errorAfterSamples = 5;
    InitBoth(WIDE_CAMERA, failing);
    StartLive();
    ASSERT_TRUE(WaitForStatus(STATUS_CAMERA_ERROR));
    EXPECT_EQ(TimesLogged(LOG_ERROR, L"Kamera 1: Stream-Fehler (0xC00D3704) \u2014 USB-Verbindung pr\u00fcfen"), 1u);
    // Wide frames go on well past the image check (120 a second), which passes; Macro's do not.
    uint32_t counts[2], wide = 0, macro = 0;
    FrameTakePublishCounts(counts);
    ASSERT_TRUE(WaitUntil([&] {
        FrameTakePublishCounts(counts);
        macro += counts[SLOT_MACRO];
        return (wide += counts[SLOT_WIDE]) >= 80;
    }));
    EXPECT_EQ(macro, 0u);
    EXPECT_EQ(Lives(), Values{1});
    EXPECT_EQ(Statuses(), (Values{STATUS_LIVE, STATUS_CAMERA_ERROR}));

    Recorder().active = true;
    ClearPosted();
    ASSERT_TRUE(VirtualDeviceRemove(macroHandle_));  // with its device-change notice
    ASSERT_EQ(WaitForPosted(WM_APP_LIVE, 0), 0);
    ASSERT_EQ(WaitForPosted(WM_APP_STOP_RECORDING, 0), 0);
    EXPECT_EQ(TimesLogged(LOG_ERROR, L"Kamera getrennt: Macro Cam \u2014 USB-Verbindung/Hub pr\u00fcfen"), 1u);
    EXPECT_TRUE(WaitForStatus(STATUS_DISCONNECTED));
    EXPECT_EQ(FrameAcquireLatest(SLOT_MACRO), nullptr);
    const int32_t listed = Listings();  // three search attempts: the error stays while the camera is away
    ASSERT_TRUE(WaitUntil([&] { return Listings() >= listed + 3; }));
    EXPECT_EQ(Statuses().back(), STATUS_DISCONNECTED);
    Recorder().active = false;
    ReplugMacro();  // a sound one
    ASSERT_EQ(WaitForPosted(WM_APP_LIVE, 1), 1);
    EXPECT_TRUE(WaitForStatus(STATUS_LIVE));
    EXPECT_EQ(Posted(WM_APP_STOP_RECORDING).size(), 1u);
}

TEST_F(CameraControlTest, AThreadThatHangsAtShutdownIsLeftBehindWithAllItUsesAndItsQuitWinsOverAStart)
{
    CaptureSetTimeScaleForTest(1);  // no image check during the test
    VirtualDevice silentWide = WIDE_CAMERA;
    silentWide.neverDelivers = 1;  // so that only the control thread asks whether a recording runs
    InitBoth(silentWide);
    StartLive();

    // Held inside its device check (a camera went away) until `release`.
    RecorderProbe& probe = Recorder();
    probe.holdNextCall = true;
    VirtualDeviceRemove(macroHandle_);  // its notice reaches the control through this thread's window
    ASSERT_TRUE(WaitUntil([&] { return WaitForSingleObject(probe.holding, 0) == WAIT_OBJECT_0; }));
    CaptureStart();
    CaptureSetTimeScaleForTest(100);  // the shutdown waits 100 ms
    EXPECT_FALSE(CaptureShutdown());
    EXPECT_EQ(TimesLogged(LOG_WARN, L"Kamera-Steuerthread reagiert nicht \u2014 Beenden ohne Aufr\u00e4umen"), 1u);
    EXPECT_EQ(CaptureReaderLiveCount(), 2);  // nothing it uses is taken away
    CaptureStart();  // refused honestly while it hangs
    EXPECT_TRUE(WaitForStatus(STATUS_CAMERA_ERROR));
    EXPECT_EQ(TimesLogged(LOG_ANY_LEVEL, L"Kamera-Steuerthread h\u00e4ngt noch"), 1u);

    SetEvent(probe.release);  // it takes the start and the quit together: the quit wins
    ASSERT_TRUE(WaitUntil([] { return CaptureShutdown(); }));  // once it has ended, all goes
    EXPECT_TRUE(WaitForStatus(STATUS_STOPPED));
    EXPECT_EQ(Lives(), (Values{1, 0}));
    EXPECT_EQ(CaptureReaderLiveCount(), 0);
    CaptureSetTimeScaleForTest(1);
    ReplugMacro();
    StartLive();  // a new thread starts
}

// Threads racing the UI: a stream error against a stop, a start's copy of the device ids
// against the UI swapping the roles.

// The main window procedure, and on WM_DESTROY a count of capture's reports still queued for the
// window once it has shut down (none may be posted after its destruction began).
int reportsQueuedAtDestroy = -1;
LRESULT CALLBACK WatchedMainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    const LRESULT result = MainWindowProc(window, message, wParam, lParam);
    if (message == WM_DESTROY) {
        MSG queued;
        reportsQueuedAtDestroy = 0;
        while (PeekMessageW(&queued, window, WM_APP_STATUS, WM_APP_LIVE, PM_REMOVE))
            reportsQueuedAtDestroy += queued.message != WM_QUIT;  // the shutdown's quit passes any filter
    }
    return result;
}

// The control behind the real main window procedure, under a class name of its own so that it
// cannot meet the shell tests' window class.
TEST_F(CameraControlTest, TheHeadsetGoesLiveASwapRestartsItTheOtherWayRoundAndClosingReportsNothing)
{
    CaptureSetTimeScaleForTest(1);
    VirtualDevicesSetTimeScale(1);
    VirtualAddNamedSet(L"default");
    CaptureDevice cameras[CAPTURE_LIST_CAPACITY];
    ASSERT_EQ(CaptureListCameras(cameras, CAPTURE_LIST_CAPACITY), 2);
    wcscpy(Settings.wideDeviceID, cameras[0].id);
    wcscpy(Settings.macroDeviceID, cameras[1].id);
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = WatchedMainWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"MIRU_CAPTURE_MAIN";
    RegisterClassExW(&windowClass);
    UiStateReset();
    std::unique_ptr<std::remove_pointer_t<HWND>, decltype(&DestroyWindow)> main(
        CreateWindowExW(0, L"MIRU_CAPTURE_MAIN", L"MI-RU", WS_OVERLAPPEDWINDOW, 0, 0, 640, 400, nullptr, nullptr,
                        windowClass.hInstance, nullptr),
        DestroyWindow);  // destroying it shuts the camera control down
    ASSERT_NE(main, nullptr);
    CaptureInit(main.get());
    CaptureStart();
    SetTimer(main.get(), TIMER_FRAME, 33, nullptr);
    ASSERT_TRUE(WaitUntil([] { return UiState.status == STATUS_LIVE && UiState.framesWide > 0 && UiState.framesMacro > 0; }));
    EXPECT_EQ(TimesLogged(LOG_INFO, L"Kamera 0 konfiguriert: HD USB Camera #1"), 1u);

    SwapCameras();
    EXPECT_STREQ(Settings.wideDeviceID, cameras[1].id);
    // The main window's restart timer starts the cameras again, the former Macro camera as Wide.
    ASSERT_TRUE(WaitUntil([] { return !UiState.live; }));
    ASSERT_TRUE(WaitUntil([] { return UiState.live && UiState.status == STATUS_LIVE; }));
    EXPECT_EQ(TimesLogged(LOG_INFO, L"Kamera 0 konfiguriert: HD USB Camera #2"), 1u);

    // Closing while live, with a worker posting texts to the window all along: the cameras stop
    // without reporting to the window, and every text is freed.
    const int32_t textsBefore = AppMessageTextsOutstanding();
    std::atomic<bool> posting{true};
    std::atomic<int> posted{0};
    std::thread poster([&] {
        while (posting.load())
            if (PostAppMessageText(WM_APP_STATUS_DETAIL, 0, L"Detail")) ++posted;
    });
    while (posted.load() < 10) Sleep(1);  // not pumped: the queue holds texts when the window goes
    main.reset();
    posting = false;
    poster.join();
    EXPECT_EQ(AppMessageTextsOutstanding(), textsBefore);
    EXPECT_EQ(reportsQueuedAtDestroy, 0);
    EXPECT_EQ(TimesLogged(LOG_EVENT, L"Kamera-Sessions gestoppt"), 2u);
}

}  // namespace
