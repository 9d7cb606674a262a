#include "tests/capture/capture_test_support.h"

#include <mfapi.h>
#include <objbase.h>

#include <utility>

#include "frames/stabilizer.h"
#include "record/recorder.h"
#include "record/recorder_calls.h"

namespace {

std::vector<std::pair<UINT, WPARAM>> posted;  // test thread only (the window's thread)

LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_DEVICECHANGE) CaptureDevicesChanged();  // as the main window does
    if (message == WM_APP_STATUS || message == WM_APP_LIVE || message == WM_APP_STOP_RECORDING)
        posted.push_back({message, wParam});
    return DefWindowProcW(window, message, wParam, lParam);
}

void HoldIfAsked(std::atomic<bool>& asked)
{
    if (!asked.exchange(false)) return;
    SetEvent(Recorder().holding);
    WaitForSingleObject(Recorder().release, 20000);
}

bool ProbeIsActive()
{
    HoldIfAsked(Recorder().holdNextCall);
    return Recorder().active.load();
}

void ProbeSubmitVideo(Frame*, Frame* macro, float pipFraction, int64_t timestamp)
{
    HoldIfAsked(Recorder().holdNextSubmit);
    std::lock_guard<std::mutex> lock(Recorder().mutex);
    Recorder().videos.push_back({macro, pipFraction, timestamp});
}

void ProbeSubmitAudio(IMFSample*)
{
    ++Recorder().audioSamples;
}

// The shell's half stays the real recorder's: these tests never start a recording through it.
constexpr RecorderCalls PROBE_CALLS = {RecordingStart,    RecordingRequestStop, RecordingTakeWrittenCount,
                                      ProbeIsActive,     ProbeSubmitVideo,     ProbeSubmitAudio};

}  // namespace

RecorderProbe& Recorder()
{
    static RecorderProbe probe;
    return probe;
}

VirtualDevice PatternCamera(const wchar_t* id, const wchar_t* name, uint32_t width, uint32_t height)
{
    VirtualDevice device = VirtualCamera(id, name, SceneKind::Pattern);
    device.modeCount = 1;
    device.modes[0] = {width, height, 30, 1, VirtualPixels::Nv12};
    return device;
}

void CaptureTest::SetUp()
{
    folder_ = std::make_unique<TestSettingsFolder>();
    com_ = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    ASSERT_EQ(MFStartup(MF_VERSION, 0), S_OK);
    VirtualDevicesInstall();
    VirtualDevicesSetNotify(false);  // devices plugged in before InitControl are the set-up
    VirtualDevicesSetTimeScale(4.0);
    CaptureSetTimeScaleForTest(10.0);  // the control's waits run ten times faster
    CaptureResetStateForTest();
    StabSetEnabled(false);
    Recorder().Clear();
    Recorder().active = Recorder().holdNextCall = Recorder().holdNextSubmit = false;
    RecorderSetForTest(&PROBE_CALLS);
    posted.clear();
    // Any window class will do: the test's procedure replaces the class's one.
    window_ = CreateWindowExW(0, L"STATIC", L"capture test", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr, nullptr,
                              nullptr);
    ASSERT_NE(window_, nullptr);
    SetWindowLongPtrW(window_, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(TestWindowProc));
    SetAppWindow(window_);  // the virtual devices post their device-change notices here
}

void CaptureTest::TearDown()
{
    CaptureShutdown();
    SetAppWindow(nullptr);
    CaptureSetNotifyWindow(nullptr);
    if (window_) DestroyWindow(window_);
    PumpMessages();  // what was queued for it
    Recorder().Clear();
    RecorderSetForTest(nullptr);
    VirtualDevicesUninstall();
    // Nothing of this test outlives it: readers, their virtual counterparts, frames.
    EXPECT_EQ(CaptureReaderLiveCount(), 0);
    EXPECT_TRUE(WaitUntil([] { return VirtualDevicesCounters().readersLive == 0; }, 5));
    FrameClearPublished();
    EXPECT_EQ(FrameLiveCount(), 0);
    CaptureSetTimeScaleForTest(1.0);
    MFShutdown();
    if (SUCCEEDED(com_)) CoUninitialize();
    folder_.reset();
}

void CaptureTest::InitControl(const wchar_t* wideId, const wchar_t* macroId, const wchar_t* micId)
{
    wcsncpy(Settings.wideDeviceID, wideId, SETTINGS_DEVICE_ID_CAPACITY - 1);
    wcsncpy(Settings.macroDeviceID, macroId, SETTINGS_DEVICE_ID_CAPACITY - 1);
    wcsncpy(Settings.micDeviceID, micId, SETTINGS_DEVICE_ID_CAPACITY - 1);
    CaptureInit(window_);
    VirtualDevicesSetNotify(true);
}

std::vector<WPARAM> CaptureTest::Posted(UINT message)
{
    std::vector<WPARAM> values;
    for (const auto& [kind, value] : posted)
        if (kind == message) values.push_back(value);
    return values;
}

int64_t CaptureTest::WaitForPosted(UINT message, size_t nth)
{
    return WaitUntil([&] { return Posted(message).size() > nth; }) ? static_cast<int64_t>(Posted(message)[nth]) : -1;
}

void CaptureTest::ClearPosted()
{
    posted.clear();
}
