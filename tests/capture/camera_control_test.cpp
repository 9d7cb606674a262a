// The camera control thread against scripted virtual devices, watched through the messages
// posted to a window and through the log: every transition of its state table, the edge cases
// around commands, hot-plug and the no-image check, and 200 start/stop cycles without leaks.
#include <windows.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "app/app_messages.h"
#include "app/texts.h"
#include "capture/camera_control.h"
#include "capture/capture_reader.h"
#include "capture/capture_state.h"
#include "capture/control_rules.h"
#include "capture/device_list.h"
#include "diag/log.h"
#include "frames/frame_store.h"
#include "settings/settings_record.h"
#include "tests/capture/capture_test_support.h"
#include "tests/support/handle_count.h"

namespace {

using Values = std::vector<WPARAM>;

// `ms` of the control's clock running `scale` times faster, as a real pumping time.
DWORD Scaled(uint32_t ms, double scale = CONTROL_TIME_SCALE)
{
    return static_cast<DWORD>(ms / scale);
}

constexpr wchar_t WIDE_ID[] = L"usb#1-wide";
constexpr wchar_t MACRO_ID[] = L"usb#2-macro";
constexpr wchar_t MIC_ID[] = L"mic-1";

class CameraControlTest : public CaptureTest {
protected:
    int32_t wideHandle_ = -1;
    int32_t macroHandle_ = -1;

    void PlugWide(VirtualDevice camera = PatternCamera(WIDE_ID, L"Wide Cam")) { wideHandle_ = PlugQuietly(camera); }
    void PlugMacro(VirtualDevice camera = PatternCamera(MACRO_ID, L"Macro Cam", 48, 36))
    {
        macroHandle_ = PlugQuietly(camera);
    }
    void PlugMicrophone() { PlugQuietly(VirtualMicrophone(MIC_ID, L"Headset Mic", SceneKind::Tone)); }
    // Plugs the Macro camera in while the control runs, with the device-change notice.
    void ReplugMacro() { macroHandle_ = VirtualDeviceAdd(PatternCamera(MACRO_ID, L"Macro Cam", 48, 36)); }

    // Starts and waits for the cameras to go live (the live message comes before the status).
    void StartLive()
    {
        const size_t lives = PostedValues(WM_APP_LIVE).size();
        CaptureStart();
        ASSERT_EQ(WaitForPosted(WM_APP_LIVE, lives), 1);
        ASSERT_TRUE(WaitForStatus(STATUS_LIVE));
    }
    bool WaitForStatus(WPARAM status)
    {
        return PumpUntil([&] {
            const Values values = PostedValues(WM_APP_STATUS);
            return !values.empty() && values.back() == status;
        });
    }
    bool WaitForStatusSeen(WPARAM status)
    {
        return PumpUntil([&] {
            const Values values = PostedValues(WM_APP_STATUS);
            return std::find(values.begin(), values.end(), status) != values.end();
        });
    }
    int Logged(uint32_t level, const wchar_t* text) { return CountLogged(level, text); }
};

TEST_F(CameraControlTest, BothCamerasGoLiveAndAPassedImageCheckChangesNothing)
{
    PlugWide();
    PlugMacro();
    PlugMicrophone();
    InitControl(L"", L"", MIC_ID);
    StartLive();
    EXPECT_EQ(PostedValues(WM_APP_STATUS), Values{STATUS_LIVE});
    EXPECT_TRUE(CaptureIsLive());
    EXPECT_EQ(Logged(LOG_EVENT, L"2 Kameras live \u00b7 Mikrofon aktiv"), 1);
    EXPECT_EQ(Logged(LOG_INFO, L"Kamera 0 konfiguriert: Wide Cam"), 1);
    EXPECT_EQ(Logged(LOG_INFO, L"Kamera 1 konfiguriert: Macro Cam"), 1);
    EXPECT_EQ(Logged(LOG_INFO, L"Mikrofon eingebunden: Headset Mic"), 1);
    IMFMediaType* audio = CaptureAcquireAudioMediaType();
    EXPECT_NE(audio, nullptr);
    if (audio) audio->Release();

    PumpFor(Scaled(3 * CONTROL_NO_IMAGE_CHECK_MS));  // well past the image check
    EXPECT_EQ(PostedValues(WM_APP_STATUS), Values{STATUS_LIVE});
    EXPECT_EQ(PostedValues(WM_APP_LIVE), Values{1});
    EXPECT_EQ(CountLoggedPrefix(L"Kamera ohne Bild"), 0);
    EXPECT_GT(CaptureGetMicLevel(), 0.0f);

    // Quit while live: stopped, reported, and the microphone forgotten.
    CaptureShutdown();
    PumpFor(0);
    EXPECT_EQ(PostedValues(WM_APP_STATUS), (Values{STATUS_LIVE, STATUS_STOPPED}));
    EXPECT_EQ(PostedValues(WM_APP_LIVE), (Values{1, 0}));
    EXPECT_EQ(Logged(LOG_EVENT, L"Kamera-Sessions gestoppt"), 1);
    EXPECT_EQ(CaptureAcquireAudioMediaType(), nullptr);
    EXPECT_EQ(CaptureGetMicLevel(), 0.0f);
    EXPECT_EQ(FrameAcquireLatest(SLOT_WIDE), nullptr);
}

TEST_F(CameraControlTest, AMissingMacroCameraIsSearchedForUntilItIsPluggedIn)
{
    // Real time: the device check after the plug-in comes long before the next attempt would.
    CaptureSetTimeScaleForTest(1);
    PlugWide();
    InitControl(WIDE_ID, MACRO_ID, MIC_ID);  // a microphone that is not there
    CaptureStart();
    ASSERT_EQ(WaitForPosted(WM_APP_STATUS, 0), STATUS_SEARCHING);
    PumpFor(CONTROL_SEARCH_STEP_MS * 3 / 2);  // a second attempt
    EXPECT_EQ(CaptureReaderLiveCount(), 0);  // the Wide camera alone is not started
    ReplugMacro();
    ASSERT_TRUE(WaitForStatus(STATUS_LIVE));
    EXPECT_EQ(PostedValues(WM_APP_STATUS), (Values{STATUS_SEARCHING, STATUS_LIVE}));
    EXPECT_EQ(Logged(LOG_EVENT, L"Kamera angeschlossen: Macro Cam"), 1);
    EXPECT_EQ(Logged(LOG_EVENT, L"Kamera angeschlossen: Wide Cam"), 0);  // it was there all along
    // The absent microphone is ignored without a word.
    EXPECT_EQ(Logged(LOG_EVENT, L"2 Kameras live"), 1);
    EXPECT_EQ(CountLoggedPrefix(L"Mikrofon"), 0);
}

TEST_F(CameraControlTest, TheSixtiethFailedAttemptEndsTheSearchUntilBothCamerasAreThere)
{
    CaptureSetTimeScaleForTest(40);
    PlugWide();
    InitControl(WIDE_ID, MACRO_ID);
    const int32_t listedBefore = VirtualDevicesCounters().activatesFreed;
    CaptureStart();
    ASSERT_TRUE(WaitForStatus(STATUS_NO_CAMERAS));
    // Each attempt lists the cameras once; only the Wide camera is there.
    EXPECT_EQ(VirtualDevicesCounters().activatesFreed - listedBefore, 60);
    EXPECT_EQ(Logged(LOG_WARN, L"Kameras nicht erkannt \u2014 beide anstecken; bei Bedarf neu starten."), 1);
    EXPECT_EQ(PostedValues(WM_APP_STATUS), (Values{STATUS_SEARCHING, STATUS_NO_CAMERAS}));

    PumpFor(Scaled(10 * CONTROL_SEARCH_STEP_MS, 40));
    EXPECT_EQ(VirtualDevicesCounters().activatesFreed - listedBefore, 60);  // idle: no more attempts
    ReplugMacro();
    ASSERT_TRUE(WaitForStatus(STATUS_LIVE));
    EXPECT_EQ(PostedValues(WM_APP_STATUS), (Values{STATUS_SEARCHING, STATUS_NO_CAMERAS, STATUS_LIVE}));
    EXPECT_EQ(Logged(LOG_EVENT, L"Kamera angeschlossen: Macro Cam"), 1);
}

TEST_F(CameraControlTest, BothRolesOnOneCameraNeverStartIt)
{
    CaptureSetTimeScaleForTest(40);
    PlugWide();
    PlugMacro();
    InitControl(WIDE_ID, WIDE_ID);
    CaptureStart();
    ASSERT_TRUE(WaitForStatus(STATUS_NO_CAMERAS));
    EXPECT_EQ(PostedValues(WM_APP_STATUS), (Values{STATUS_SEARCHING, STATUS_NO_CAMERAS}));
    EXPECT_EQ(CountLoggedPrefix(L"Kamera 0 konfiguriert"), 0);
    EXPECT_EQ(VirtualDevicesCounters().sourcesLive, 0);
}

TEST_F(CameraControlTest, WithOneCameraOrAnUnpluggedWideCameraNothingStarts)
{
    PlugMacro();
    InitControl();  // both empty: Wide takes the only camera, Macro stays empty
    CaptureStart();
    ASSERT_EQ(WaitForPosted(WM_APP_STATUS, 0), STATUS_SEARCHING);
    PumpFor(Scaled(3 * CONTROL_SEARCH_STEP_MS));
    EXPECT_STREQ(CaptureActiveIds().wide, MACRO_ID);
    EXPECT_STREQ(CaptureActiveIds().macro, L"");
    EXPECT_STREQ(Settings.wideDeviceID, L"");  // the automatic choice is for this start only
    CaptureStop();
    ASSERT_TRUE(WaitForStatus(STATUS_STOPPED));

    wcscpy(Settings.wideDeviceID, WIDE_ID);  // bound, but not plugged in
    CaptureStart();
    ASSERT_TRUE(WaitForStatus(STATUS_SEARCHING));
    PumpFor(Scaled(3 * CONTROL_SEARCH_STEP_MS));
    EXPECT_EQ(PostedValues(WM_APP_STATUS).back(), STATUS_SEARCHING);
    EXPECT_EQ(VirtualDevicesCounters().sourcesLive, 0);
    EXPECT_EQ(CountLoggedPrefix(L"Kamera 1 konfiguriert"), 0);
}

TEST_F(CameraControlTest, AReaderThatCannotOpenIsACameraErrorRetriedWithinTheSearch)
{
    PlugWide();
    VirtualDevice broken = PatternCamera(MACRO_ID, L"Macro Cam");
    broken.modeCount = 0;  // offers no format at all
    PlugMacro(broken);
    InitControl(WIDE_ID, MACRO_ID);
    CaptureStart();
    ASSERT_TRUE(PumpUntil([] { return CountLogged(LOG_ERROR, L"Video-Sessions konnten nicht konfiguriert werden") >= 2; }));
    EXPECT_EQ(PostedValues(WM_APP_STATUS), Values{STATUS_CAMERA_ERROR});
    EXPECT_GE(CountLoggedPrefix(L"Kamera 1 (Macro Cam): 0x"), 2);
    EXPECT_TRUE(PostedValues(WM_APP_LIVE).empty());
    CaptureStop();
    ASSERT_TRUE(WaitForStatus(STATUS_STOPPED));
    EXPECT_EQ(CaptureReaderLiveCount(), 0);  // the Wide reader of each attempt was stopped again
}

TEST_F(CameraControlTest, ACameraWithoutImageIsRestartedThreeTimesThenReported)
{
    CaptureSetTimeScaleForTest(5);
    PlugWide();
    VirtualDevice silent = PatternCamera(MACRO_ID, L"Macro Cam");
    silent.neverDelivers = 1;
    PlugMacro(silent);
    InitControl(WIDE_ID, MACRO_ID);
    CaptureStart();
    ASSERT_TRUE(WaitForStatus(STATUS_NO_IMAGE));
    EXPECT_EQ(PostedValues(WM_APP_STATUS), (Values{STATUS_LIVE, STATUS_RESTARTING, STATUS_LIVE, STATUS_RESTARTING,
                                                   STATUS_LIVE, STATUS_RESTARTING, STATUS_LIVE, STATUS_NO_IMAGE}));
    EXPECT_EQ(PostedValues(WM_APP_LIVE), (Values{1, 0, 1, 0, 1, 0, 1}));
    for (int restart = 1; restart <= 3; ++restart) {
        const std::wstring line = L"Kamera ohne Bild (Wide:1 Macro:0) \u2014 automatischer Neustart " +
                                  std::to_wstring(restart) + L"/3";
        EXPECT_EQ(CountLogged(LOG_WARN, line), 1) << restart;
    }
    EXPECT_EQ(Logged(LOG_ERROR, L"Kamera liefert kein Bild (Wide:1 Macro:0) \u2014 bitte USB-Verbindung/Hub "
                                L"pr\u00fcfen und neu starten (\u21bb)."),
              1);
    PumpFor(Scaled(2 * CONTROL_NO_IMAGE_CHECK_MS, 5));  // no further check while live
    EXPECT_EQ(PostedValues(WM_APP_STATUS).size(), 8u);
    EXPECT_TRUE(CaptureIsLive());

    // A stop resets the restart count: the next start gets three restarts again.
    CaptureStop();
    CaptureStart();
    ASSERT_TRUE(PumpUntil([] {
        return CountLogged(LOG_WARN, L"Kamera ohne Bild (Wide:1 Macro:0) \u2014 automatischer Neustart 1/3") == 2;
    }));
}

TEST_F(CameraControlTest, UnpluggingTheMacroCameraWhileRecordingStopsTheRecordingAndSearches)
{
    CaptureSetTimeScaleForTest(1);  // the replug's device check comes before the next attempt
    PlugWide();
    PlugMacro();
    InitControl();
    StartLive();
    Recorder().active = true;
    ClearPosted();
    ASSERT_TRUE(VirtualDeviceRemove(macroHandle_));  // with its device-change notice
    ASSERT_EQ(WaitForPosted(WM_APP_LIVE, 0), 0);
    ASSERT_TRUE(PumpUntil([&] { return !PostedValues(WM_APP_STOP_RECORDING).empty(); }));
    EXPECT_EQ(Logged(LOG_ERROR, L"Kamera getrennt: Macro Cam \u2014 USB-Verbindung/Hub pr\u00fcfen"), 1);
    EXPECT_TRUE(WaitForStatusSeen(STATUS_DISCONNECTED));
    EXPECT_EQ(FrameAcquireLatest(SLOT_MACRO), nullptr);
    PumpFor(3 * 800);  // several search attempts: the error stays visible while the camera is away
    EXPECT_EQ(PostedValues(WM_APP_STATUS).back(), STATUS_DISCONNECTED);
    Recorder().active = false;

    ReplugMacro();
    ASSERT_EQ(WaitForPosted(WM_APP_LIVE, 1), 1);
    EXPECT_TRUE(WaitForStatus(STATUS_LIVE));
    EXPECT_EQ(Logged(LOG_EVENT, L"Kamera angeschlossen: Macro Cam"), 1);
    EXPECT_EQ(PostedValues(WM_APP_STOP_RECORDING).size(), 1u);
}

TEST_F(CameraControlTest, AMacroStreamErrorIsACameraErrorWhileWideStaysLive)
{
    PlugWide();
    VirtualDevice failing = PatternCamera(MACRO_ID, L"Macro Cam", 48, 36);
    failing.errorAfterSamples = 5;
    PlugMacro(failing);
    InitControl(WIDE_ID, MACRO_ID);
    StartLive();
    ASSERT_TRUE(WaitForStatus(STATUS_CAMERA_ERROR));
    EXPECT_EQ(Logged(LOG_ERROR, L"Kamera 1: Stream-Fehler (0xC00D3704) \u2014 USB-Verbindung pr\u00fcfen"), 1);
    PumpFor(Scaled(2 * CONTROL_NO_IMAGE_CHECK_MS));  // past the image check, which passes
    uint32_t counts[2];
    FrameTakePublishCounts(counts);
    PumpFor(200);
    FrameTakePublishCounts(counts);
    EXPECT_GT(counts[SLOT_WIDE], 0u);
    EXPECT_EQ(counts[SLOT_MACRO], 0u);
    EXPECT_EQ(PostedValues(WM_APP_LIVE), Values{1});
    EXPECT_EQ(PostedValues(WM_APP_STATUS), (Values{STATUS_LIVE, STATUS_CAMERA_ERROR}));
    EXPECT_TRUE(CaptureIsLive());
}

TEST_F(CameraControlTest, StopAndStartRestartAndAStopWhileIdleReportsNothing)
{
    PlugWide();
    PlugMacro();
    InitControl();
    StartLive();
    CaptureStop();  // stop and start in one go restart the cameras
    CaptureStart();
    ASSERT_EQ(WaitForPosted(WM_APP_LIVE, 2), 1);
    ASSERT_TRUE(WaitForStatus(STATUS_LIVE));
    EXPECT_EQ(PostedValues(WM_APP_STATUS), (Values{STATUS_LIVE, STATUS_STOPPED, STATUS_LIVE}));
    EXPECT_EQ(Logged(LOG_EVENT, L"2 Kameras live"), 2);

    CaptureStop();
    ASSERT_TRUE(WaitForStatus(STATUS_STOPPED));
    EXPECT_EQ(PostedValues(WM_APP_LIVE), (Values{1, 0, 1, 0}));
    EXPECT_EQ(Logged(LOG_EVENT, L"Kamera-Sessions gestoppt"), 2);
    EXPECT_EQ(CaptureReaderLiveCount(), 0);
    EXPECT_EQ(FrameAcquireLatest(SLOT_WIDE), nullptr);

    CaptureStop();  // idle and not searching: no status
    VirtualDevicesRemoveAll();
    CaptureStart();
    ASSERT_TRUE(WaitForStatus(STATUS_SEARCHING));
    EXPECT_EQ(PostedValues(WM_APP_STATUS),
              (Values{STATUS_LIVE, STATUS_STOPPED, STATUS_LIVE, STATUS_STOPPED, STATUS_SEARCHING}));
}

TEST_F(CameraControlTest, AQuitArrivingWithAStartEndsTheThreadWithoutStartingTheCameras)
{
    CaptureSetTimeScaleForTest(1);  // no image check during the test
    VirtualDevice silentWide = PatternCamera(WIDE_ID, L"Wide Cam");
    silentWide.neverDelivers = 1;  // so that only the control thread asks whether a recording runs
    PlugWide(silentWide);
    PlugMacro();
    InitControl(WIDE_ID, MACRO_ID);
    StartLive();

    // Holds the control thread inside its device check while the start and the quit arrive.
    RecorderProbe& probe = Recorder();
    probe.holdNextCall = true;
    VirtualDeviceRemove(macroHandle_);
    ASSERT_TRUE(PumpUntil([&] { return WaitForSingleObject(probe.holding, 0) == WAIT_OBJECT_0; }));
    CaptureStart();
    std::thread releaser([&] {
        Sleep(200);
        SetEvent(probe.release);
    });
    CaptureShutdown();
    releaser.join();
    PumpFor(0);
    EXPECT_EQ(PostedValues(WM_APP_LIVE), (Values{1, 0}));
    EXPECT_EQ(PostedValues(WM_APP_STATUS).back(), STATUS_STOPPED);
    EXPECT_EQ(CountLoggedPrefix(L"Kamera 0 konfiguriert"), 1);
    EXPECT_EQ(CountLoggedPrefix(L"Kamera-Steuerthread reagiert nicht"), 0);
}

TEST_F(CameraControlTest, TwoHundredStartStopCyclesLeaveNothingBehind)
{
    CaptureSetTimeScaleForTest(40);
    PlugWide();
    PlugMacro();
    PlugMicrophone();
    InitControl(L"", L"", MIC_ID);
    auto cycle = [&](int index) {
        CaptureStart();
        ASSERT_EQ(WaitForPosted(WM_APP_LIVE, 2 * static_cast<size_t>(index)), 1) << index;
        CaptureStop();
        ASSERT_EQ(WaitForPosted(WM_APP_LIVE, 2 * static_cast<size_t>(index) + 1), 0) << index;
    };
    cycle(0);  // the first start creates what lives for the whole process
    PumpFor(50);
    const DWORD handlesBefore = OpenHandleCount();
    for (int i = 1; i <= 200 && !HasFatalFailure(); ++i) cycle(i);
    ASSERT_TRUE(WaitForStatus(STATUS_STOPPED));
    PumpUntil([] { return VirtualDevicesCounters().readersLive == 0 && VirtualDevicesCounters().readerThreadsLive == 0; },
              5000);
    EXPECT_EQ(CaptureReaderLiveCount(), 0);
    EXPECT_EQ(VirtualDevicesCounters().readersLive, 0);
    EXPECT_EQ(VirtualDevicesCounters().sourcesLive, 0);
    EXPECT_EQ(FrameLiveCount(), 0);
    EXPECT_LE(OpenHandleCount(), handlesBefore + 4);
}

}  // namespace
