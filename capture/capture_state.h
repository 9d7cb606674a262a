#pragma once
// The capture values that several threads share: status and live flag (each change posted to
// the notify window), the microphone's level and media type, the picture-in-picture fraction
// and the clock of the control's waits.
#include <windows.h>

#include <cstdint>

struct IMFMediaType;

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

// A wait of the control thread or a reader in real milliseconds: the product's constant, or (in
// development builds' tests) a fraction of it when a test runs the clock faster.
uint64_t CaptureWaitMs(uint32_t ms);

#ifdef MIRU_TEST_HOOKS
// Tests only: waits run `scale` times faster (1 is real time).
void CaptureSetTimeScaleForTest(double scale);
// Tests only: status 0, not live, level 0, without posting anything.
void CaptureResetStateForTest();
#endif
