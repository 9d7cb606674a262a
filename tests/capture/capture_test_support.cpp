#include "tests/capture/capture_test_support.h"

#include <mfapi.h>
#include <objbase.h>

#include <algorithm>
#include <utility>

#include "frames/stabilizer.h"
#include "record/recorder.h"
#include "record/recorder_calls.h"

namespace {

std::vector<std::pair<UINT, WPARAM>> posted;  // test thread only (the window's thread)

LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_APP_STATUS || message == WM_APP_LIVE || message == WM_APP_STOP_RECORDING) {
        posted.push_back({message, wParam});
        return 0;
    }
    if (message != WM_DEVICECHANGE) return DefWindowProcW(window, message, wParam, lParam);
    CaptureDevicesChanged();  // as the main window does
    return TRUE;
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

// Log entries matching `match`, counted over the ring (which the test's settings folder emptied).
int CountEntries(const std::function<bool(const LogEntry&)>& match)
{
    std::vector<LogEntry> entries(LOG_RING_CAPACITY);
    const uint32_t count = LogSnapshot(entries.data(), LOG_RING_CAPACITY);
    return static_cast<int>(std::count_if(entries.begin(), entries.begin() + count, match));
}

}  // namespace

RecorderProbe& Recorder()
{
    static RecorderProbe probe;
    return probe;
}

bool PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const ULONGLONG end = GetTickCount64() + timeoutMs;
    for (;;) {
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            if (message.message != WM_QUIT) DispatchMessageW(&message);  // WM_QUIT: left by a destroyed main window
        if (condition()) return true;
        const ULONGLONG now = GetTickCount64();
        if (now >= end) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::min<ULONGLONG>(end - now, 10)), QS_ALLINPUT);
    }
}

int CountLogged(uint32_t level, const std::wstring& text)
{
    return CountEntries([&](const LogEntry& entry) { return entry.level == level && text == entry.text; });
}

int CountLoggedPrefix(const std::wstring& prefix)
{
    return CountEntries([&](const LogEntry& entry) { return std::wstring(entry.text).starts_with(prefix); });
}

int32_t PlugQuietly(const VirtualDevice& device)
{
    VirtualDevicesSetNotify(false);
    const int32_t handle = VirtualDeviceAdd(device);
    VirtualDevicesSetNotify(true);
    return handle;
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
    VirtualDevicesSetTimeScale(4.0);
    CaptureSetTimeScaleForTest(10.0);  // the control's waits run ten times faster
    CaptureResetStateForTest();
    StabSetEnabled(false);
    RecorderProbe& probe = Recorder();
    probe.Clear();
    probe.active = false;
    probe.holdNextCall = false;
    probe.holdNextSubmit = false;
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
    PumpFor(0);
    Recorder().Clear();
    RecorderSetForTest(nullptr);
    VirtualDevicesUninstall();
    // Nothing of this test outlives it: readers, their virtual counterparts, frames.
    EXPECT_EQ(CaptureReaderLiveCount(), 0);
    EXPECT_TRUE(PumpUntil([] { return VirtualDevicesCounters().readersLive == 0; }, 5000));
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
    if (!PumpUntil([&] { return Posted(message).size() > nth; })) return -1;
    return static_cast<int64_t>(Posted(message)[nth]);
}

void CaptureTest::ClearPosted()
{
    posted.clear();
}
