#include "capture/capture_state.h"

#include <mfobjects.h>

#include <atomic>

#include "base/app_messages.h"
#include "capture/camera_control.h"
#include "capture/control_rules.h"
#include "capture/mic_level.h"

namespace {

// Held shared while a message is posted to `notifyWindow` and exclusive while it changes: once
// CaptureSetNotifyWindow(nullptr) returns, no post to the old window is in flight.
SRWLOCK notifyLock = SRWLOCK_INIT;
HWND notifyWindow = nullptr;

// Held exclusive across each change of `captureStatus` or `live` together with its post, so the
// window receives the messages in the order the values changed (a stream error racing a stop
// cannot leave the older status on screen). Nothing but the exchange and the post runs under it.
SRWLOCK changeLock = SRWLOCK_INIT;
std::atomic<uint32_t> captureStatus{0};
std::atomic<uint32_t> live{0};
std::atomic<float> micLevel{0.0f};
std::atomic<float> pipFraction{0.3f};

// Guards `audioType`: exclusive to replace or take it out, shared to add a reference. Never held
// while a message is posted.
SRWLOCK audioTypeLock = SRWLOCK_INIT;
IMFMediaType* audioType = nullptr;

IMFMediaType* ExchangeAudioType(IMFMediaType* next)
{
    AcquireSRWLockExclusive(&audioTypeLock);
    IMFMediaType* old = audioType;
    audioType = next;
    ReleaseSRWLockExclusive(&audioTypeLock);
    return old;
}

}  // namespace

void CaptureSetNotifyWindow(HWND window)
{
    AcquireSRWLockExclusive(&notifyLock);
    notifyWindow = window;
    ReleaseSRWLockExclusive(&notifyLock);
}

bool CapturePost(UINT message, WPARAM wParam)
{
    AcquireSRWLockShared(&notifyLock);
    // Without a window of its own, the post goes through the main window's guarded post (a
    // message without text), which is just as safe against the window being cleared.
    const bool posted = notifyWindow ? PostMessageW(notifyWindow, message, wParam, 0) != FALSE
                                     : PostAppMessageText(message, wParam, nullptr);
    ReleaseSRWLockShared(&notifyLock);
    return posted;
}

void CaptureSetStatus(uint32_t status)
{
    AcquireSRWLockExclusive(&changeLock);
    if (captureStatus.exchange(status) != status) CapturePost(WM_APP_STATUS, status);
    ReleaseSRWLockExclusive(&changeLock);
}

uint32_t CaptureGetStatus()
{
    return captureStatus.load();
}

void CaptureSetLive(bool on)
{
    AcquireSRWLockExclusive(&changeLock);
    if ((live.exchange(on ? 1u : 0u) != 0) != on) CapturePost(WM_APP_LIVE, on ? 1 : 0);
    ReleaseSRWLockExclusive(&changeLock);
}

bool CaptureIsLive()
{
    return live.load() != 0;
}

void CaptureMixMicLevel(float blockLevel)
{
    // Only the microphone's callback writes a new level (its callbacks never overlap); a reset by
    // the control thread in between is simply overwritten by the next block.
    micLevel.store(MicLevelSmooth(micLevel.load(), blockLevel));
}

void CaptureResetMicLevel()
{
    micLevel.store(0.0f);
}

float CaptureGetMicLevel()
{
    return micLevel.load();
}

void CaptureSetPipFraction(float fraction)
{
    pipFraction.store(fraction);
}

float CaptureGetPipFraction()
{
    return pipFraction.load();
}

void CaptureStoreAudioMediaType(IMFMediaType* type)
{
    if (type) type->AddRef();
    IMFMediaType* old = ExchangeAudioType(type);
    if (old) old->Release();
}

void CaptureDropAudioMediaType()
{
    IMFMediaType* old = ExchangeAudioType(nullptr);
    if (old) old->Release();
}

IMFMediaType* CaptureAcquireAudioMediaType()
{
    AcquireSRWLockShared(&audioTypeLock);
    IMFMediaType* type = audioType;
    if (type) type->AddRef();
    ReleaseSRWLockShared(&audioTypeLock);
    return type;
}

#ifdef MIRU_TEST_HOOKS

namespace {
std::atomic<double> timeScale{1.0};
}  // namespace

uint64_t CaptureWaitMs(uint32_t ms)
{
    return ControlScaledMs(ms, timeScale.load());
}

void CaptureSetTimeScaleForTest(double scale)
{
    timeScale.store(scale > 0 ? scale : 1.0);
}

void CaptureResetStateForTest()
{
    captureStatus.store(0);
    live.store(0);
    micLevel.store(0.0f);
}

#else

uint64_t CaptureWaitMs(uint32_t ms)
{
    return ms;
}

#endif
