#pragma once
// A scripted sink writer behind the media seam and a window that stands in for the main window,
// for the recorder's tests: what was written with which times, writes held at a gate, scripted
// failures, an encoder that falls behind, and the application messages the recorder posts.
#include <gtest/gtest.h>
#include <windows.h>
#include <mfidl.h>
#include <mfreadwrite.h>

#include <mutex>
#include <string>
#include <vector>

#include "frames/frame_store.h"
#include "tests/record/mp4_boxes.h"
#include "tests/support/log_count.h"
#include "tests/support/test_folder.h"
#include "tests/support/ui_wait.h"

struct Write {
    DWORD stream;
    LONGLONG time;
    LONGLONG duration;
    bool discontinuity;  // the first sample after a gap
};

// What the writer was given and how it behaves; everything starts from these values at install.
struct SinkState {
    std::vector<Write> writes;
    std::vector<Write> ticks;  // SendStreamTick calls
    int writersCreated = 0;
    int videoWritesBeforeFailure = -1;  // -1: never fail
    HRESULT failure = S_OK;
    LONGLONG processedTime = -1;  // -1: everything received counts as processed
    LONGLONG lastVideoReceived = 0;
    int statisticsQueries = 0;
    std::string videoBytes;  // appended to the file per video sample, as an encoder would
    HRESULT finalizeFailure = S_OK;
    int blockedWrites = 0;
    int finalizing = 0;
    int finalized = 0;
};
struct SinkScript : SinkState {
    std::mutex mutex;       // guards the state
    HANDLE gate = nullptr;  // WriteSample and Finalize wait for it (manual reset)
};
extern SinkScript sink;

struct Posted {
    UINT message;
    WPARAM wParam;
    std::wstring text;
};
extern std::vector<Posted> posted;

// Resets the script, opens the gate, installs the writer behind the seam and makes the
// stand-in main window (AppWindow()); Uninstall undoes it.
void ScriptedSinkInstall();
void ScriptedSinkUninstall();

int CountPosted(UINT message);
// The texts of the warnings posted, in order.
std::vector<std::wstring> Warnings();
// The first WM_APP_RECORDING_ENDED posted, or null.
const Posted* Ended();
// Stops the recording as the main window does and waits for the end message (a test failure and
// an empty message when none comes).
Posted StopAndWait();
std::vector<Write> Writes();
int Blocked();

// 10 ms of 48 kHz stereo sound at `time`.
void SubmitSound(LONGLONG time);
// A 16-bit PCM microphone of `rate` and `channels`, as capture leaves its type for the recorder.
void StoreMicrophoneType(UINT32 rate, UINT32 channels);
// "<local application data>\MI-RU\tmp"
std::wstring TempFolder();
// Names of the files in `folder` that match `pattern`, sorted.
std::vector<std::wstring> FilesIn(const std::wstring& folder, const wchar_t* pattern = L"*");

// A recorder with the scripted writer, the stand-in main window, a 32 x 18 Wide Frame and the
// recording folder "<root>\\Aufnahmen" (root: the test's settings folder unless given).
class RecorderFixture : public testing::Test {
protected:
    void SetUp() override { Begin(); }
    void TearDown() override { End(); }
    void Begin(const std::wstring& root = L"");
    void End();
    // Starts a 64 x 36 recording.
    void Start(bool withSound = false);
    void SubmitFrame(int64_t time);

    TestSettingsFolder folder;
    std::wstring recordings;
    Frame* wide = nullptr;
};
