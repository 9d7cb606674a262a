#pragma once
// A scripted sink writer behind the media seam and a window that stands in for the main window,
// for the recorder's tests: what was written with which times, writes held at a gate, scripted
// failures, an encoder that falls behind, and the application messages the recorder posts.
#include <windows.h>
#include <mfidl.h>
#include <mfreadwrite.h>

#include <functional>
#include <mutex>
#include <string>
#include <vector>

struct Write {
    DWORD stream;
    LONGLONG time;
    LONGLONG duration;
};

struct SinkScript {
    std::mutex mutex;  // guards everything below
    std::vector<Write> writes;
    std::vector<GUID> streamTypes;  // of the newest writer
    UINT32 audioRate = 0, audioChannels = 0;
    int writersCreated = 0;
    bool rejectAudioInput = false;
    int videoWritesBeforeFailure = -1;  // -1: never fail
    HRESULT failure = S_OK;
    LONGLONG processedTime = -1;  // -1: everything received counts as processed
    LONGLONG lastVideoReceived = 0;
    DWORD bytesPerVideoWrite = 0;  // appended to the file per video sample, as an encoder would
    int blockedWrites = 0;
    int finalizing = 0;
    int finalized = 0;
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

// Pumps this thread's messages until `condition` holds; false when it did not within `seconds`.
bool WaitUntil(const std::function<bool()>& condition, int seconds = 30);
int CountPosted(UINT message);
// The first WM_APP_RECORDING_ENDED posted, or null.
const Posted* Ended();
std::vector<Write> Writes();
int Blocked();

void SubmitSound(LONGLONG time);
IMFMediaType* PcmType(UINT32 rate, UINT32 channels);
// "<local application data>\MI-RU\tmp"
std::wstring TempFolder();
// Names of the files in `folder`, sorted.
std::vector<std::wstring> FilesIn(const std::wstring& folder);
