#include "capture/capture_state.h"

#include <mfobjects.h>

#include <atomic>

#include "base/app_messages.h"
#include "capture/camera_control.h"
#include "capture/control_rules.h"
#include "capture/mic_level.h"

namespace {

std::atomic<HWND> notifyWindow{nullptr};
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
    notifyWindow.store(window);
}

bool CapturePost(UINT message, WPARAM wParam)
{
    HWND target = notifyWindow.load();
    if (!target) target = AppWindow();
    return target && PostMessageW(target, message, wParam, 0);
}

void CaptureSetStatus(uint32_t status)
{
    if (captureStatus.exchange(status) != status) CapturePost(WM_APP_STATUS, status);
}

uint32_t CaptureGetStatus()
{
    return captureStatus.load();
}

void CaptureSetLive(bool on)
{
    if ((live.exchange(on ? 1u : 0u) != 0) != on) CapturePost(WM_APP_LIVE, on ? 1 : 0);
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
