#include "tests/capture/capture_test_support.h"

#include <dbt.h>
#include <mfapi.h>
#include <objbase.h>

#include "app/app_messages.h"
#include "capture/camera_control.h"
#include "capture/capture_reader.h"
#include "capture/capture_state.h"
#include "diag/log.h"
#include "frames/frame_store.h"
#include "frames/stabilizer.h"
#include "settings/settings_record.h"

namespace {

constexpr wchar_t WINDOW_CLASS[] = L"MIRU_CAPTURE_TEST";
std::vector<Posted> posted;  // test thread only (the window's thread)

LRESULT CALLBACK TestWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_APP_STATUS:
    case WM_APP_LIVE:
    case WM_APP_STOP_RECORDING:
        posted.push_back({message, wParam});
        return 0;
    case WM_DEVICECHANGE:
        // As the main window does: the control checks the devices.
        if (wParam == DBT_DEVNODES_CHANGED || wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE)
            CaptureDevicesChanged();
        return TRUE;
    default:
        return DefWindowProcW(window, message, wParam, lParam);
    }
}

bool RegisterTestClass()
{
    static const bool registered = [] {
        WNDCLASSEXW windowClass = {};
        windowClass.cbSize = sizeof(windowClass);
        windowClass.lpfnWndProc = TestWindowProc;
        windowClass.hInstance = GetModuleHandleW(nullptr);
        windowClass.lpszClassName = WINDOW_CLASS;
        return RegisterClassExW(&windowClass) != 0;
    }();
    return registered;
}

bool IsTestThread()
{
    return GetCurrentThreadId() == Recorder().testThread;
}

bool ProbeIsActive()
{
    RecorderProbe& probe = Recorder();
    if (!IsTestThread() && probe.holdNextCall.exchange(false)) {
        SetEvent(probe.holding);
        WaitForSingleObject(probe.release, 20000);
    }
    return probe.active.load();
}

void ProbeSubmitVideo(Frame*, Frame* macro, float pipFraction, int64_t timestamp)
{
    RecorderProbe& probe = Recorder();
    AcquireSRWLockExclusive(&probe.lock);
    probe.videos.push_back({macro, pipFraction, timestamp});
    ReleaseSRWLockExclusive(&probe.lock);
}

void ProbeSubmitAudio(IMFSample*)
{
    RecorderProbe& probe = Recorder();
    AcquireSRWLockExclusive(&probe.lock);
    ++probe.audioSamples;
    ReleaseSRWLockExclusive(&probe.lock);
}

constexpr CaptureRecorderCalls PROBE_CALLS = {ProbeIsActive, ProbeSubmitVideo, ProbeSubmitAudio};

}  // namespace

size_t RecorderProbe::VideoCount()
{
    AcquireSRWLockShared(&lock);
    size_t count = videos.size();
    ReleaseSRWLockShared(&lock);
    return count;
}

void RecorderProbe::Clear()
{
    AcquireSRWLockExclusive(&lock);
    videos.clear();
    audioSamples = 0;
    ReleaseSRWLockExclusive(&lock);
}

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
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
            if (message.message == WM_QUIT) continue;  // left by a destroyed main window
            TranslateMessage(&message);
            DispatchMessageW(&message);
        }
        if (condition()) return true;
        const ULONGLONG now = GetTickCount64();
        if (now >= end) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(std::min<ULONGLONG>(end - now, 10)), QS_ALLINPUT);
    }
}

void PumpFor(DWORD ms)
{
    PumpUntil([] { return false; }, ms);
}

namespace {
// Log entries matching `match`, counted over the ring (which the test's settings folder emptied).
template <class Match>
int CountEntries(Match match)
{
    std::vector<LogEntry> entries(LOG_RING_CAPACITY);
    const uint32_t count = LogSnapshot(entries.data(), LOG_RING_CAPACITY);
    int found = 0;
    for (uint32_t i = 0; i < count; ++i) found += match(entries[i]) ? 1 : 0;
    return found;
}
}  // namespace

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
    CaptureSetTimeScaleForTest(CONTROL_TIME_SCALE);
    CaptureResetStateForTest();
    StabSetEnabled(false);
    RecorderProbe& probe = Recorder();
    probe.Clear();
    probe.active = false;
    probe.holdNextCall = false;
    probe.testThread = GetCurrentThreadId();
    if (!probe.holding) probe.holding = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!probe.release) probe.release = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    CaptureSetRecorderForTest(&PROBE_CALLS);
    posted.clear();
    ASSERT_TRUE(RegisterTestClass());
    window_ = CreateWindowExW(0, WINDOW_CLASS, L"capture test", WS_OVERLAPPED, 0, 0, 100, 100, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr);
    ASSERT_NE(window_, nullptr);
    mainWindow = window_;  // the virtual devices post their device-change notices here
}

void CaptureTest::TearDown()
{
    CaptureShutdown();
    mainWindow = nullptr;
    if (window_) DestroyWindow(window_);
    window_ = nullptr;
    PumpFor(0);
    Recorder().Clear();
    CaptureSetRecorderForTest(nullptr);
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

int64_t CaptureTest::WaitForPosted(UINT message, size_t nth, DWORD timeoutMs)
{
    int64_t value = -1;
    PumpUntil(
        [&] {
            size_t seen = 0;
            for (const Posted& entry : posted) {
                if (entry.message != message) continue;
                if (seen++ == nth) {
                    value = static_cast<int64_t>(entry.wParam);
                    return true;
                }
            }
            return false;
        },
        timeoutMs);
    return value;
}

std::vector<WPARAM> CaptureTest::PostedValues(UINT message)
{
    std::vector<WPARAM> values;
    for (const Posted& entry : posted)
        if (entry.message == message) values.push_back(entry.wParam);
    return values;
}

void CaptureTest::ClearPosted()
{
    posted.clear();
}
