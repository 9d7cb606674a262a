#include "record/video_sample_pool.h"

#include <mfapi.h>
#include <mferror.h>

#include "base/win_owners.h"
#include "diag/log.h"

#ifdef __MINGW32__
// MinGW's headers declare the tracked sample in evr.h and lack its factory (mfplat exports it).
#include <evr.h>
extern "C" HRESULT WINAPI MFCreateTrackedSample(IMFTrackedSample** sample);
#endif

namespace {

// A kept sample: free (the pool holds its reference) or out (someone else does; `sample` then
// only names it, and its return hands the reference back).
struct Slot {
    IMFSample* sample;
    IMFMediaBuffer* buffer;  // the pool's own reference
    bool out;
};

// `lock` guards `slots`; it is held only to look at and change them. The return callback runs on
// a Media Foundation work-queue thread and wakes `returned`, on which only the pool's close waits.
SRWLOCK lock = SRWLOCK_INIT;
CONDITION_VARIABLE returned = CONDITION_VARIABLE_INIT;
Slot slots[VIDEO_SAMPLE_POOL_SIZE];

// Called by a tracked sample when every holder but the sample itself has let go of it
// ("IMFTrackedSample::SetAllocator"); the asynchronous result's object is the sample.
struct ReturnCallback final : IMFAsyncCallback {
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (!object) return E_POINTER;
        *object = riid == IID_IUnknown || riid == IID_IMFAsyncCallback ? static_cast<IMFAsyncCallback*>(this) : nullptr;
        return *object ? S_OK : E_NOINTERFACE;
    }
    // A static object: it outlives every sample that can call it.
    ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
    ULONG STDMETHODCALLTYPE Release() override { return 1; }
    HRESULT STDMETHODCALLTYPE GetParameters(DWORD*, DWORD*) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE Invoke(IMFAsyncResult* result) override
    {
        ComOwner<IUnknown> object;
        ComOwner<IMFSample> sample;
        if (result && SUCCEEDED(result->GetObject(&object)) && object) object->QueryInterface(IID_PPV_ARGS(&sample));
        if (!sample) return S_OK;
        AcquireSRWLockExclusive(&lock);
        for (Slot& slot : slots) {
            if (slot.out && slot.sample == sample.Get()) {
                slot.out = false;
                sample.Detach();  // the pool's reference again
                break;
            }
        }
        ReleaseSRWLockExclusive(&lock);
        WakeAllConditionVariable(&returned);
        return S_OK;  // a sample of a closed pool is released here
    }
};
ReturnCallback returnCallback;

// Asks `sample` to come back to the pool when released; false when it cannot be tracked.
bool Track(IMFSample* sample)
{
    ComOwner<IMFTrackedSample> tracked;
    return SUCCEEDED(sample->QueryInterface(IID_PPV_ARGS(&tracked))) &&
           SUCCEEDED(tracked->SetAllocator(&returnCallback, nullptr));
}

// A new tracked sample with a buffer of `bytes`; a plain sample where the system has no tracked ones.
HRESULT MakeSample(DWORD bytes, IMFSample** sample, IMFMediaBuffer** buffer)
{
    ComOwner<IMFTrackedSample> tracked;
    HRESULT hr = MFCreateTrackedSample(&tracked);
    if (SUCCEEDED(hr)) hr = tracked->QueryInterface(IID_PPV_ARGS(sample));
    else hr = MFCreateSample(sample);
    if (SUCCEEDED(hr)) hr = MFCreateMemoryBuffer(bytes, buffer);
    if (SUCCEEDED(hr)) hr = (*sample)->AddBuffer(*buffer);
    return hr;
}

}  // namespace

HRESULT VideoSamplePoolTake(DWORD bytes, IMFSample** sample, IMFMediaBuffer** buffer)
{
    *sample = nullptr;
    *buffer = nullptr;
    Slot* room = nullptr;
    AcquireSRWLockExclusive(&lock);
    for (Slot& slot : slots) {
        DWORD size = 0;
        if (!slot.sample) {
            if (!room) room = &slot;
        } else if (!slot.out && SUCCEEDED(slot.buffer->GetMaxLength(&size)) && size >= bytes) {
            slot.out = true;
            *sample = slot.sample;  // the pool's reference goes to the caller
            *buffer = slot.buffer;
            (*buffer)->AddRef();
            ReleaseSRWLockExclusive(&lock);
            if (Track(*sample)) return S_OK;
            // Why the slot may be changed unlocked: an out slot is touched only by its return.
            slot.buffer->Release();
            slot = Slot{};  // it would never come back: it leaves the pool
            return S_OK;
        }
    }
    if (room) room->out = true;  // reserved for the new sample
    ReleaseSRWLockExclusive(&lock);

    HRESULT hr = MakeSample(bytes, sample, buffer);
    const bool keep = room && SUCCEEDED(hr) && Track(*sample);
    if (room) {
        AcquireSRWLockExclusive(&lock);
        *room = keep ? Slot{*sample, *buffer, true} : Slot{};
        if (keep) (*buffer)->AddRef();
        ReleaseSRWLockExclusive(&lock);
    }
    if (FAILED(hr)) {
        if (*sample) (*sample)->Release();
        if (*buffer) (*buffer)->Release();
        *sample = nullptr;
        *buffer = nullptr;
    }
    return hr;
}

void VideoSamplePoolClose(DWORD timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    AcquireSRWLockExclusive(&lock);
    for (;;) {
        bool anyOut = false;
        for (const Slot& slot : slots) anyOut = anyOut || (slot.sample && slot.out);
        const ULONGLONG now = GetTickCount64();
        if (!anyOut || now >= deadline) break;
        SleepConditionVariableSRW(&returned, &lock, static_cast<DWORD>(deadline - now), 0);
    }
    IMFSample* samples[VIDEO_SAMPLE_POOL_SIZE] = {};
    IMFMediaBuffer* buffers[VIDEO_SAMPLE_POOL_SIZE] = {};
    int32_t kept = 0, late = 0;
    for (Slot& slot : slots) {
        if (slot.sample && slot.out) late++;
        else if (slot.sample) samples[kept] = slot.sample;
        if (slot.buffer) buffers[kept] = slot.buffer;
        if (slot.sample || slot.buffer) kept++;
        slot = Slot{};
    }
    ReleaseSRWLockExclusive(&lock);
    for (int32_t i = 0; i < kept; i++) {
        if (samples[i]) samples[i]->Release();
        if (buffers[i]) buffers[i]->Release();
    }
    // Why a late sample is no leak: when its holder lets go, the callback finds no slot and
    // releases it.
    if (late > 0)
        LogWrite(LOG_INFO, L"Aufnahme: %d Video-Samples noch beim Writer \u2014 sie werden sp\u00e4ter freigegeben", late);
}
