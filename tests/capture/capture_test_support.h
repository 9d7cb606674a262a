#pragma once
// Shared by the capture tests: a fresh capture world per test (settings folder, Media Foundation,
// virtual devices, a window that records the application messages it receives), message
// pumping, log look-ups, small pattern cameras and a recorder stand-in.
#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "standins/virtual_devices.h"
#include "tests/support/test_folder.h"

struct Frame;

// One application message as the test window received it.
struct Posted {
    UINT message;
    WPARAM wParam;
};

// Pumps this thread's messages until `condition` holds; false after `timeoutMs`.
bool PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs = 20000);
// Pumps messages for `ms` milliseconds.
void PumpFor(DWORD ms);

// Log entries of `level` whose text is exactly `text`, and of any level starting with `prefix`.
int CountLogged(uint32_t level, const std::wstring& text);
int CountLoggedPrefix(const std::wstring& prefix);

// Plugs a device in without the device-change notice (set-up before the control runs).
int32_t PlugQuietly(const VirtualDevice& device);

// A small camera showing the exact test pattern, RGB32-convertible, one mode.
VirtualDevice PatternCamera(const wchar_t* id, const wchar_t* name, uint32_t width = 64, uint32_t height = 48);

// The recorder as the readers see it: whether a recording is active, and what reached it.
struct RecorderProbe {
    std::atomic<bool> active{false};
    // Set: the next isActive call on a thread other than the test's blocks until it is cleared
    // (used to hold the control thread in the middle of a batch).
    std::atomic<bool> holdNextCall{false};
    HANDLE holding = nullptr;   // signalled when a call is being held
    HANDLE release = nullptr;   // signal to let the held call return
    DWORD testThread = 0;
    // Guards the records below.
    SRWLOCK lock = SRWLOCK_INIT;
    struct Video {
        const Frame* macro;  // only compared: the test keeps its Macro frames alive
        float pipFraction;
        int64_t timestamp;
    };
    std::vector<Video> videos;
    int audioSamples = 0;

    size_t VideoCount();
    void Clear();
};
RecorderProbe& Recorder();

// The capture world of one test. Time runs `TimeScale()` times faster for the control's waits.
class CaptureTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // Waits for the nth (from 0) posted message of a kind and returns its wParam; -1 on time-out.
    int64_t WaitForPosted(UINT message, size_t nth, DWORD timeoutMs = 20000);
    // The wParams of all messages of a kind received so far.
    std::vector<WPARAM> PostedValues(UINT message);
    void ClearPosted();
    // The window that receives the application messages and the device-change notices.
    HWND Window() const { return window_; }
    // Camera control with the test window; the settings' device ids first.
    void InitControl(const wchar_t* wideId = L"", const wchar_t* macroId = L"", const wchar_t* micId = L"");

    std::unique_ptr<TestSettingsFolder> folder_;
    HRESULT com_ = E_FAIL;
    HWND window_ = nullptr;
};

// Control time scale of the capture tests.
constexpr double CONTROL_TIME_SCALE = 10.0;
