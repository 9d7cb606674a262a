#pragma once
// Shared by the capture tests: a fresh capture world per test (settings folder, Media Foundation,
// virtual devices, a window that records the application messages it receives, a recorder
// stand-in), message pumping, log look-ups and small pattern cameras. Includes what every capture
// test works with.
#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "base/app_messages.h"
#include "app/texts.h"
#include "capture/camera_control.h"
#include "capture/capture_reader.h"
#include "capture/capture_state.h"
#include "capture/device_list.h"
#include "diag/log.h"
#include "frames/frame_store.h"
#include "settings/settings_record.h"
#include "standins/virtual_devices.h"
#include "tests/support/log_count.h"
#include "tests/support/test_folder.h"
#include "tests/support/ui_wait.h"

// A small camera showing the exact test pattern, RGB32-convertible, one mode.
VirtualDevice PatternCamera(const wchar_t* id, const wchar_t* name, uint32_t width = 64, uint32_t height = 48);

// The recorder as the readers see it: whether a recording is active, and what reached it.
struct RecordedVideo {
    const Frame* macro;  // only compared: the test keeps its Macro frames alive
    float pipFraction;
    int64_t timestamp;
};
struct RecorderProbe {
    std::atomic<bool> active{false};
    std::atomic<int> audioSamples{0};
    // Set: the next isActive (or submitVideo) call signals `holding` and blocks until `release`
    // is signalled: holds the control thread or a reader callback in the middle of its work.
    std::atomic<bool> holdNextCall{false}, holdNextSubmit{false};
    HANDLE holding = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    HANDLE release = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    std::mutex mutex;  // guards `videos`
    std::vector<RecordedVideo> videos;

    std::vector<RecordedVideo> Videos()
    {
        std::lock_guard<std::mutex> lock(mutex);
        return videos;
    }
    void Clear()
    {
        std::lock_guard<std::mutex> lock(mutex);
        videos.clear();
        audioSamples = 0;
    }
};
RecorderProbe& Recorder();

// The capture world of one test.
class CaptureTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    // The wParams of the messages of one kind received so far (ClearPosted forgets them).
    std::vector<WPARAM> Posted(UINT message);
    void ClearPosted();
    // Pumps until the nth (from 0) message of a kind has come; its wParam, -1 on time-out.
    int64_t WaitForPosted(UINT message, size_t nth);
    // Camera control with the test window; the settings' device ids first. Devices come and go
    // with their device-change notice from then on, silently before.
    void InitControl(const wchar_t* wideId = L"", const wchar_t* macroId = L"", const wchar_t* micId = L"");

    std::unique_ptr<TestSettingsFolder> folder_;
    HRESULT com_ = E_FAIL;
    HWND window_ = nullptr;
};
