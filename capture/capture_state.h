#pragma once
// The capture values that several threads share: status and live flag (each change posted to
// the notify window), the microphone's level and media type, the picture-in-picture fraction,
// the recorder hand-off and the clock of the control's waits.
#include <windows.h>

#include <cstdint>

struct Frame;
struct IMFMediaType;
struct IMFSample;

// The receiver of WM_APP_STATUS, WM_APP_LIVE and WM_APP_STOP_RECORDING; null falls back to
// the main window. Once it returns, nothing is posted to the window it replaced: a window
// clears it (and AppWindow()) before it goes.
void CaptureSetNotifyWindow(HWND window);
// Posts to the notify window (or AppWindow()); false when there is none or posting failed.
bool CapturePost(UINT message, WPARAM wParam);

// Any thread. Each posts its message only when the value changes; the messages arrive in the
// order of the changes.
void CaptureSetStatus(uint32_t status);
uint32_t CaptureGetStatus();
void CaptureSetLive(bool live);

// Microphone reader: one more block's level into the smoothed meter.
void CaptureMixMicLevel(float blockLevel);
void CaptureResetMicLevel();
float CaptureGetPipFraction();

// The microphone's current media type. Store takes a reference of its own and releases the
// type stored before; Drop takes the stored type out and releases it.
void CaptureStoreAudioMediaType(IMFMediaType* type);
void CaptureDropAudioMediaType();

// The recorder as the readers call it; tests replace it to watch the hand-offs. Both submit
// calls take references of their own: the caller releases its references right after.
struct CaptureRecorderCalls {
    bool (*isActive)();
    void (*submitVideo)(Frame* wide, Frame* macro, float pipFraction, int64_t timestamp);
    void (*submitAudio)(IMFSample* sample);
};
const CaptureRecorderCalls& CaptureRecorder();

// A wait of the control thread or a reader in real milliseconds: the product's constant, or (in
// development builds' tests) a fraction of it when a test runs the clock faster.
uint64_t CaptureWaitMs(uint32_t ms);

#ifdef MIRU_TEST_HOOKS
// Tests only: null restores the recorder. The table must outlive its use.
void CaptureSetRecorderForTest(const CaptureRecorderCalls* calls);
// Tests only: waits run `scale` times faster (1 is real time).
void CaptureSetTimeScaleForTest(double scale);
// Tests only: status 0, not live, level 0, without posting anything.
void CaptureResetStateForTest();
#endif
