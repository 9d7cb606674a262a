#include "standins/virtual_reader.h"

#include <mfapi.h>
#include <mferror.h>

#include <atomic>
#include <cmath>
#include <new>

#include "base/win_owners.h"
#include "standins/virtual_formats.h"
#include "standins/virtual_samples.h"
#include "standins/virtual_source.h"

namespace {

constexpr int64_t AUDIO_PERIOD = 100'000;  // 10 ms per microphone sample, as capture endpoints deliver
constexpr DWORD RELEASE_WAIT_MS = 10'000;  // bound for a callback still running at the last Release

double NowSeconds()
{
    static const double frequency = [] {
        LARGE_INTEGER value;
        QueryPerformanceFrequency(&value);
        return static_cast<double>(value.QuadPart);
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / frequency;
}

struct VirtualReader final : IMFSourceReader {
    std::atomic<ULONG> refs{1};       // the application's references
    std::atomic<int32_t> holders{2};  // the application side and the worker; the last one frees
    VirtualSourceInfo info{};         // the device, fixed at creation
    bool camera = true;
    bool shutDownSource = true;
    bool videoProcessor = false;  // made with MF_SOURCE_READER_ENABLE_ADVANCED_VIDEO_PROCESSING
    IMFMediaSource* source = nullptr;              // owned
    IMFSourceReaderCallback* callback = nullptr;   // owned
    HANDLE thread = nullptr;
    DWORD threadId = 0;
    SceneCanvas canvas;        // worker thread only
    VirtualSamplePool pool{};  // worker thread only (and Destroy, after the worker)

    // `lock` guards every field below; it is never held while the callback runs.
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE wake = CONDITION_VARIABLE_INIT;
    bool quitting = false;
    bool selected = true;
    VirtualOutput output{};
    uint32_t pendingReads = 0;
    uint32_t flushesToAnswer = 0;
    DWORD flushStream = 0;
    bool flushPending = false;  // from Flush until its OnFlush
    uint32_t epoch = 0;         // advanced by every Flush: a sample made before it is dropped
    HRESULT failure = S_OK;     // set by a stream error; later requests fail with it
    bool clockRunning = false;
    double nextDue = 0;         // wall-clock second when the next sample is due
    int64_t sharedBase = 0;     // the shared mark clock (100 ns) when sample 0 was due
    int64_t nextIndex = 0;      // stream position of the next sample (frames or 10 ms blocks)
    uint64_t delivered = 0;

    bool Resolve(DWORD index, bool allowAll) const
    {
        return index == 0 || (allowAll && index == static_cast<DWORD>(MF_SOURCE_READER_ALL_STREAMS)) ||
               index == static_cast<DWORD>(camera ? MF_SOURCE_READER_FIRST_VIDEO_STREAM : MF_SOURCE_READER_FIRST_AUDIO_STREAM);
    }

    int64_t Period() const
    {
        return camera ? VirtualFramePeriod(info.device.modes[output.mode]) : AUDIO_PERIOD;
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid != IID_IUnknown && riid != IID_IMFSourceReader) return E_NOINTERFACE;
        *object = static_cast<IMFSourceReader*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE GetStreamSelection(DWORD index, BOOL* isSelected) override
    {
        if (!isSelected) return E_POINTER;
        if (!Resolve(index, false)) return MF_E_INVALIDSTREAMNUMBER;
        AcquireSRWLockShared(&lock);
        *isSelected = selected;
        ReleaseSRWLockShared(&lock);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetStreamSelection(DWORD index, BOOL select) override
    {
        if (!Resolve(index, true)) return MF_E_INVALIDSTREAMNUMBER;
        AcquireSRWLockExclusive(&lock);
        selected = select != FALSE;
        ReleaseSRWLockExclusive(&lock);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetNativeMediaType(DWORD index, DWORD typeIndex, IMFMediaType** type) override
    {
        if (!type) return E_POINTER;
        *type = nullptr;
        if (!Resolve(index, false)) return MF_E_INVALIDSTREAMNUMBER;
        return VirtualNativeType(info.device, typeIndex, type);
    }
    HRESULT STDMETHODCALLTYPE GetCurrentMediaType(DWORD index, IMFMediaType** type) override
    {
        if (!type) return E_POINTER;
        *type = nullptr;
        if (!Resolve(index, false)) return MF_E_INVALIDSTREAMNUMBER;
        AcquireSRWLockShared(&lock);
        VirtualOutput current = output;
        ReleaseSRWLockShared(&lock);
        return VirtualCurrentType(info.device, current, type);
    }
    HRESULT STDMETHODCALLTYPE SetCurrentMediaType(DWORD index, DWORD*, IMFMediaType* type) override
    {
        if (!type) return E_POINTER;
        if (!Resolve(index, false)) return MF_E_INVALIDSTREAMNUMBER;
        AcquireSRWLockExclusive(&lock);
        VirtualOutput next{};
        HRESULT hr = VirtualAcceptType(info.device, output, type, videoProcessor, &next);
        if (SUCCEEDED(hr)) output = next;
        ReleaseSRWLockExclusive(&lock);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE SetCurrentPosition(REFGUID, REFPROPVARIANT) override
    {
        return MF_E_INVALIDREQUEST;  // a live source cannot seek
    }
    HRESULT STDMETHODCALLTYPE ReadSample(DWORD index, DWORD, DWORD* actualIndex, DWORD* flags, LONGLONG* timestamp,
                                         IMFSample** sample) override
    {
        // Asynchronous mode: results come through the callback only.
        if (actualIndex || flags || timestamp || sample) return E_INVALIDARG;
        if (!Resolve(index, true)) return MF_E_INVALIDSTREAMNUMBER;
        AcquireSRWLockExclusive(&lock);
        HRESULT hr = S_OK;
        if (quitting) hr = MF_E_SHUTDOWN;
        else if (!selected) hr = MF_E_INVALIDREQUEST;
        else if (flushPending) hr = MF_E_NOTACCEPTING;
        else if (FAILED(failure)) hr = failure;
        else if (camera && (output.mode >= info.device.modeCount || info.device.modes[output.mode].width == 0 ||
                            info.device.modes[output.mode].height == 0))
            hr = MF_E_INVALIDMEDIATYPE;
        if (SUCCEEDED(hr)) {
            ++pendingReads;
            WakeAllConditionVariable(&wake);
        }
        ReleaseSRWLockExclusive(&lock);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE Flush(DWORD index) override
    {
        if (!Resolve(index, true)) return MF_E_INVALIDSTREAMNUMBER;
        AcquireSRWLockExclusive(&lock);
        pendingReads = 0;  // pending requests are cancelled without an answer
        ++epoch;
        if (info.device.flushBesideSample) {
            ReleaseSRWLockExclusive(&lock);
            callback->OnFlush(index);  // without waiting for a sample callback under way
            return S_OK;
        }
        ++flushesToAnswer;
        flushStream = index;
        flushPending = true;
        WakeAllConditionVariable(&wake);
        ReleaseSRWLockExclusive(&lock);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetServiceForStream(DWORD, REFGUID, REFIID, void** object) override
    {
        if (object) *object = nullptr;
        return MF_E_UNSUPPORTED_SERVICE;
    }
    HRESULT STDMETHODCALLTYPE GetPresentationAttribute(DWORD, REFGUID, PROPVARIANT*) override
    {
        return MF_E_ATTRIBUTENOTFOUND;
    }
};

void Destroy(VirtualReader* reader)
{
    if (reader->thread) CloseHandle(reader->thread);
    VirtualPoolClear(reader->pool);
    if (reader->callback) reader->callback->Release();
    if (reader->source) {
        if (reader->shutDownSource) reader->source->Shutdown();
        reader->source->Release();
    }
    VirtualCount(VirtualCounter::Readers, -1);
    delete reader;
}

void DropHold(VirtualReader* reader)
{
    if (--reader->holders == 0) Destroy(reader);
}

ULONG VirtualReader::Release()
{
    ULONG count = --refs;
    if (count != 0) return count;
    AcquireSRWLockExclusive(&lock);
    quitting = true;
    WakeAllConditionVariable(&wake);
    ReleaseSRWLockExclusive(&lock);
    // Wait for a callback in progress, unless this is that callback (or the device is scripted
    // not to): its worker ends by itself as soon as it returns, holding the reader until then.
    if (GetCurrentThreadId() != threadId && !info.device.flushBesideSample) WaitForSingleObject(thread, RELEASE_WAIT_MS);
    CloseHandle(thread);
    thread = nullptr;
    DropHold(this);
    return 0;
}

// Runs the callback for one answer with the lock dropped; returns with the lock held again.
void Answer(VirtualReader* reader, HRESULT status, DWORD flags, LONGLONG timestamp, IMFSample* sample)
{
    ReleaseSRWLockExclusive(&reader->lock);
    reader->callback->OnReadSample(status, 0, flags, timestamp, sample);
    if (sample) sample->Release();
    AcquireSRWLockExclusive(&reader->lock);
}

void Fail(VirtualReader* reader, HRESULT status)
{
    reader->failure = status;
    reader->pendingReads = 0;
    Answer(reader, status, MF_SOURCE_READERF_ERROR, 0, nullptr);
}

HRESULT MakeSample(VirtualReader* reader, const VirtualOutput& output, int64_t index, IMFSample** sample)
{
    const VirtualDevice& device = reader->info.device;
    if (!reader->camera) {
        uint32_t frames = device.sampleRate / 100 ? device.sampleRate / 100 : 1;
        // Sample i is due at the shared clock's sharedBase + i periods: the clicks fall on the
        // frames the shared marks name.
        int64_t sharedFirst = static_cast<int64_t>(std::llround(static_cast<double>(reader->sharedBase) * device.sampleRate / 1e7)) +
                              index * frames;
        const VirtualAudioShape native{device.sampleRate, device.channels};
        const VirtualAudioShape delivered{output.audioRate, output.audioChannels};
        return VirtualAudioSample(device.scene, static_cast<uint64_t>(index) * frames, native, delivered, output.audioFloat,
                                  index * AUDIO_PERIOD, AUDIO_PERIOD, sharedFirst, sample);
    }
    const VirtualMode& mode = device.modes[output.mode];
    SceneCanvas& canvas = reader->canvas;
    if (canvas.width != static_cast<int32_t>(mode.width) || canvas.height != static_cast<int32_t>(mode.height)) {
        if (!ScenePrepare(canvas, device.scene, static_cast<int32_t>(mode.width), static_cast<int32_t>(mode.height)))
            return E_OUTOFMEMORY;
    }
    int64_t period = VirtualFramePeriod(mode);
    VirtualVideoShape shape{mode.width, mode.height, output.pixels, device.buffer, device.bottomUp != 0, device.undersized != 0};
    bool flash = device.scene == SceneKind::Wide && SceneFlashAt(reader->sharedBase + index * period);
    return VirtualPoolNextSample(reader->pool, shape, canvas, index, index * period, period, flash, sample);
}

// One due request: a scripted fault, nothing (a camera that never delivers), or a sample.
void ServeDueRequest(VirtualReader* reader, double now)
{
    const VirtualDevice& device = reader->info.device;
    double wallPeriod = static_cast<double>(reader->Period()) / 1e7 / VirtualDevicesTimeScale();
    if (!VirtualDevicePresent(reader->info.handle, reader->info.generation)) {
        Fail(reader, reader->camera ? VIRTUAL_CAMERA_GONE : VIRTUAL_MICROPHONE_GONE);
        return;
    }
    if (device.errorAfterSamples >= 0 && reader->delivered >= static_cast<uint64_t>(device.errorAfterSamples)) {
        Fail(reader, device.errorStatus);
        return;
    }
    if (device.neverDelivers) {
        reader->nextDue = now + wallPeriod;  // keeps ticking so that an unplug is still noticed
        return;
    }
    // A camera drops the frames a slow reader missed; a microphone catches up on what its
    // endpoint buffer (half a second) still holds and drops the rest.
    double backlog = reader->camera ? wallPeriod : 50 * wallPeriod;
    if (now - reader->nextDue >= backlog) {
        double missed = std::floor((now - reader->nextDue) / wallPeriod);
        reader->nextIndex += static_cast<int64_t>(missed);
        reader->nextDue += missed * wallPeriod;
    }
    int64_t index = reader->nextIndex;
    uint32_t epoch = reader->epoch;
    VirtualOutput output = reader->output;
    ReleaseSRWLockExclusive(&reader->lock);
    IMFSample* sample = nullptr;
    HRESULT hr = MakeSample(reader, output, index, &sample);
    AcquireSRWLockExclusive(&reader->lock);
    if (reader->quitting || reader->epoch != epoch || reader->pendingReads == 0) {
        if (sample) sample->Release();  // cancelled by a flush while it was made
        return;
    }
    if (FAILED(hr)) {
        Fail(reader, hr);
        return;
    }
    --reader->pendingReads;
    ++reader->nextIndex;
    ++reader->delivered;
    reader->nextDue += wallPeriod;
    LONGLONG timestamp = 0;
    sample->GetSampleTime(&timestamp);
    Answer(reader, S_OK, 0, timestamp, sample);
}

DWORD WINAPI Worker(void* parameter)
{
    auto* reader = static_cast<VirtualReader*>(parameter);
    HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    AcquireSRWLockExclusive(&reader->lock);
    while (!reader->quitting) {
        if (reader->flushesToAnswer) {
            reader->flushesToAnswer = 0;
            if (reader->info.device.flushNeverCompletes) continue;  // stays pending for good
            reader->flushPending = false;
            DWORD stream = reader->flushStream;
            ReleaseSRWLockExclusive(&reader->lock);
            reader->callback->OnFlush(stream);
            AcquireSRWLockExclusive(&reader->lock);
            continue;
        }
        if (reader->pendingReads == 0) {
            SleepConditionVariableSRW(&reader->wake, &reader->lock, INFINITE, 0);
            continue;
        }
        double now = NowSeconds();
        if (!reader->clockRunning) {
            reader->clockRunning = true;
            reader->nextDue = now;
            reader->sharedBase = static_cast<int64_t>(std::llround(now * 1e7 * VirtualDevicesTimeScale()));
        }
        if (now < reader->nextDue) {
            DWORD wait = static_cast<DWORD>(std::ceil((reader->nextDue - now) * 1000.0));
            SleepConditionVariableSRW(&reader->wake, &reader->lock, wait ? wait : 1, 0);
            continue;
        }
        ServeDueRequest(reader, now);
    }
    ReleaseSRWLockExclusive(&reader->lock);
    DropHold(reader);
    if (SUCCEEDED(com)) CoUninitialize();
    VirtualCount(VirtualCounter::ReaderThreads, -1);
    return 0;
}

}  // namespace

HRESULT VirtualReaderCreate(IMFMediaSource* source, IMFAttributes* attributes, IMFSourceReader** out)
{
    if (!source || !out) return E_POINTER;
    *out = nullptr;
    VirtualSourceInfo info{};
    bool shutDown = false;
    if (!VirtualSourceDescribe(source, &info, &shutDown)) return E_INVALIDARG;
    if (shutDown) return MF_E_SHUTDOWN;
    ComOwner<IMFSourceReaderCallback> callback;
    if (!attributes || FAILED(attributes->GetUnknown(MF_SOURCE_READER_ASYNC_CALLBACK, IID_PPV_ARGS(&callback))))
        return E_NOTIMPL;
    bool camera = info.device.kind == VirtualKind::Camera;
    if (!VirtualDevicePresent(info.handle, info.generation)) return camera ? VIRTUAL_CAMERA_GONE : VIRTUAL_MICROPHONE_GONE;

    VirtualReader* reader = new (std::nothrow) VirtualReader;
    if (!reader) return E_OUTOFMEMORY;
    VirtualCount(VirtualCounter::Readers, 1);
    reader->info = info;
    reader->camera = camera;
    reader->shutDownSource = MFGetAttributeUINT32(attributes, MF_SOURCE_READER_DISCONNECT_MEDIASOURCE_ON_SHUTDOWN, FALSE) == FALSE;
    reader->videoProcessor = MFGetAttributeUINT32(attributes, MF_SOURCE_READER_ENABLE_ADVANCED_VIDEO_PROCESSING, FALSE) != FALSE;
    reader->output = VirtualDefaultOutput(info.device);
    reader->source = source;
    source->AddRef();
    reader->callback = callback.Detach();
    reader->thread = CreateThread(nullptr, 0, Worker, reader, CREATE_SUSPENDED, &reader->threadId);
    if (!reader->thread) {
        HRESULT hr = HRESULT_FROM_WIN32(GetLastError());
        reader->holders = 1;
        DropHold(reader);
        return hr;
    }
    VirtualCount(VirtualCounter::ReaderThreads, 1);
    ResumeThread(reader->thread);
    *out = reader;
    return S_OK;
}
