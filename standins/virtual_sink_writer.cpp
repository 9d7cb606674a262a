#include "standins/virtual_sink_writer.h"

#include <codecapi.h>
#include <mfapi.h>
#include <mferror.h>

#include <atomic>
#include <cstdio>
#include <deque>
#include <new>
#include <string>

#include "base/text_copy.h"
#include "base/win_owners.h"
#include "standins/virtual_sink_file.h"

namespace {

constexpr uint32_t THROTTLE_QUEUE = 4;          // samples queued before a throttled WriteSample waits
constexpr int64_t DEFAULT_FRAGMENT = 20'000'000;  // 2 s when the encoder chooses its GOP size

// reportLock guards report, script, latestSerial and nextSerial; never held while a writer's
// own lock is taken (writers take theirs first, then this one).
SRWLOCK reportLock = SRWLOCK_INIT;
CONDITION_VARIABLE reportChanged = CONDITION_VARIABLE_INIT;
VirtualSinkScript script{};
VirtualSinkReport report{};
uint32_t nextSerial = 1;
std::atomic<int32_t> writersLive{0};

VirtualSinkScript CurrentScript()
{
    AcquireSRWLockShared(&reportLock);
    VirtualSinkScript copy = script;
    ReleaseSRWLockShared(&reportLock);
    return copy;
}

// Runs `change` on the report when it belongs to writer `serial` (a newer writer owns it).
template <class Change>
void UpdateReport(uint32_t serial, Change change)
{
    AcquireSRWLockExclusive(&reportLock);
    if (report.serial == serial) change(report);
    ReleaseSRWLockExclusive(&reportLock);
    WakeAllConditionVariable(&reportChanged);
}

enum class Phase : uint8_t { Configuring, Writing, Finalized };

struct Stream {
    bool audio = false;
    bool hasInput = false;
    GUID output{};
    GUID input{};
    uint32_t width = 0, height = 0, rateNumerator = 0, rateDenominator = 0;
    uint32_t bitRate = 0, profile = 0, keyFrameSpacing = 0, gopSize = 0;
    uint32_t sampleRate = 0, channels = 0, bitsPerSample = 0, bytesPerSecond = 0;
    uint32_t stride = 0;
    bool bottomUp = true;
    uint32_t accepted = 0;
    uint32_t refused = 0;
    // statistics
    uint64_t received = 0, processed = 0;
    int64_t lastReceived = 0, lastProcessed = 0;
    uint64_t bytesQueued = 0, bytesProcessed = 0;
};

struct Item {
    uint32_t stream;
    IMFSample* sample;  // one reference
    int64_t time;
    int64_t duration;
    uint64_t bytes;
    IMFMediaBuffer* buffer;  // the sample's first, while it holds it (not a reference of its own)
};

// Marks a sample this writer took, to see it handed in again.
const GUID TAKEN = {0x3f6e2a91, 0x7c0d, 0x4b58, {0xa1, 0x26, 0x5d, 0x90, 0xe4, 0x3b, 0x0c, 0x77}};

uint32_t U32(IMFMediaType* type, const GUID& key)
{
    return MFGetAttributeUINT32(type, key, 0);
}

bool Pair(IMFMediaType* type, const GUID& key, uint32_t* high, uint32_t* low)
{
    UINT64 value = 0;
    if (FAILED(type->GetUINT64(key, &value))) return false;
    *high = static_cast<uint32_t>(value >> 32);
    *low = static_cast<uint32_t>(value);
    return true;
}

bool Major(IMFMediaType* type, const GUID& expected, GUID* subtype)
{
    GUID major{};
    return SUCCEEDED(type->GetGUID(MF_MT_MAJOR_TYPE, &major)) && major == expected &&
           SUCCEEDED(type->GetGUID(MF_MT_SUBTYPE, subtype));
}

// An encoded output type as the MP4 sink and the system's encoders take it.
HRESULT ReadOutput(IMFMediaType* type, Stream* stream)
{
    GUID subtype{};
    if (Major(type, MFMediaType_Video, &subtype)) {
        if (subtype != MFVideoFormat_H264) return MF_E_INVALIDMEDIATYPE;
        stream->audio = false;
        if (!Pair(type, MF_MT_FRAME_SIZE, &stream->width, &stream->height) || stream->width == 0 || stream->height == 0)
            return MF_E_INVALIDMEDIATYPE;
        if (!Pair(type, MF_MT_FRAME_RATE, &stream->rateNumerator, &stream->rateDenominator) ||
            stream->rateNumerator == 0 || stream->rateDenominator == 0)
            return MF_E_INVALIDMEDIATYPE;
        stream->bitRate = U32(type, MF_MT_AVG_BITRATE);
        stream->profile = U32(type, MF_MT_MPEG2_PROFILE);
        stream->keyFrameSpacing = U32(type, MF_MT_MAX_KEYFRAME_SPACING);
    } else if (Major(type, MFMediaType_Audio, &subtype)) {
        // The MP4 sink takes any AAC stream; whether the encoder can make it is known only once
        // the input type is set.
        if (subtype != MFAudioFormat_AAC) return MF_E_INVALIDMEDIATYPE;
        stream->audio = true;
        stream->sampleRate = U32(type, MF_MT_AUDIO_SAMPLES_PER_SECOND);
        stream->channels = U32(type, MF_MT_AUDIO_NUM_CHANNELS);
        stream->bitsPerSample = MFGetAttributeUINT32(type, MF_MT_AUDIO_BITS_PER_SAMPLE, 16);
        stream->bytesPerSecond = MFGetAttributeUINT32(type, MF_MT_AUDIO_AVG_BYTES_PER_SECOND, 12000);
    } else {
        return MF_E_INVALIDMEDIATYPE;
    }
    stream->output = subtype;
    return S_OK;
}

// Whether the AAC encoder takes `type` as input for the stream's AAC output, as Microsoft's
// "AAC Encoder" page states it: input 16-bit PCM at 44100 or 48000 Hz with 1, 2 or 6 channels;
// output 16 bits per sample, the input's rate and channel count (the writer does not resample),
// 12000, 16000, 20000 or 24000 bytes per second (six times that for 6 channels).
bool AacEncoderTakes(IMFMediaType* type, const Stream& stream)
{
    GUID subtype{};
    const uint32_t rate = U32(type, MF_MT_AUDIO_SAMPLES_PER_SECOND), channels = U32(type, MF_MT_AUDIO_NUM_CHANNELS);
    const bool input = Major(type, MFMediaType_Audio, &subtype) && subtype == MFAudioFormat_PCM &&
                       U32(type, MF_MT_AUDIO_BITS_PER_SAMPLE) == 16 && (rate == 44100 || rate == 48000) &&
                       (channels == 1 || channels == 2 || channels == 6) &&
                       MFGetAttributeUINT32(type, MF_MT_AUDIO_BLOCK_ALIGNMENT, channels * 2) == channels * 2;
    const uint32_t perChannels = stream.channels == 6 ? 6 : 1, bytes = stream.bytesPerSecond;
    const bool output = stream.sampleRate == rate && stream.channels == channels && stream.bitsPerSample == 16 &&
                        (bytes == 12000 * perChannels || bytes == 16000 * perChannels || bytes == 20000 * perChannels ||
                         bytes == 24000 * perChannels);
    return input && output;
}

// An uncompressed input type that fits the stream's output.
HRESULT ReadInput(IMFMediaType* type, Stream* stream)
{
    GUID subtype{};
    if (!stream->audio) {
        if (!Major(type, MFMediaType_Video, &subtype)) return MF_E_INVALIDMEDIATYPE;
        if (subtype != MFVideoFormat_RGB32 && subtype != MFVideoFormat_ARGB32) return MF_E_INVALIDMEDIATYPE;
        uint32_t width = 0, height = 0, numerator = 0, denominator = 0;
        if (!Pair(type, MF_MT_FRAME_SIZE, &width, &height) || width != stream->width || height != stream->height)
            return MF_E_INVALIDMEDIATYPE;
        if (Pair(type, MF_MT_FRAME_RATE, &numerator, &denominator) &&
            static_cast<uint64_t>(numerator) * stream->rateDenominator != static_cast<uint64_t>(denominator) * stream->rateNumerator)
            return MF_E_INVALIDMEDIATYPE;
        // RGB without a stated stride is bottom-up.
        UINT32 raw = 0;
        int32_t stride = SUCCEEDED(type->GetUINT32(MF_MT_DEFAULT_STRIDE, &raw)) ? static_cast<int32_t>(raw)
                                                                                 : -static_cast<int32_t>(width * 4);
        uint32_t magnitude = stride < 0 ? static_cast<uint32_t>(-static_cast<int64_t>(stride)) : static_cast<uint32_t>(stride);
        if (magnitude < width * 4) return MF_E_INVALIDMEDIATYPE;
        stream->stride = magnitude;
        stream->bottomUp = stride < 0;
    } else {
        if (!AacEncoderTakes(type, *stream)) return MF_E_INVALIDMEDIATYPE;
        subtype = MFAudioFormat_PCM;
    }
    stream->input = subtype;
    stream->hasInput = true;
    return S_OK;
}

HRESULT ScriptedSetUpFault(VirtualSinkStep step, VirtualSinkStream stream, bool fragmented, bool hardware)
{
    const VirtualSinkScript rules = CurrentScript();
    for (const VirtualSinkSetUpFault& fault : rules.setUpFaults) {
        const bool streamMatches = fault.stream == VirtualSinkStream::Any || stream == VirtualSinkStream::Any ||
                                   fault.stream == stream;
        if (fault.step == step && streamMatches && (!fault.onlyFragmented || fragmented) &&
            (!fault.onlyHardware || hardware))
            return fault.code;
    }
    return S_OK;
}

struct SinkWriter final : IMFSinkWriter {
    std::atomic<ULONG> refs{1};
    uint32_t serial = 0;
    bool throttled = true;
    bool fragmented = false;
    bool hardware = false;  // MF_READWRITE_ENABLE_HARDWARE_TRANSFORMS
    SinkFile* file = nullptr;  // owned; worker thread only while it runs
    HANDLE thread = nullptr;

    // lock guards every field below. progress is signalled whenever the worker finishes a
    // sample or goes idle; wake when work or the quit request arrives.
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE wake = CONDITION_VARIABLE_INIT;
    CONDITION_VARIABLE progress = CONDITION_VARIABLE_INIT;
    Phase phase = Phase::Configuring;
    Stream streams[2];
    uint32_t streamCount = 0;
    std::deque<Item> queue;
    bool working = false;  // the worker holds a sample taken from the queue
    Item current{};        // that sample
    bool quitting = false;
    HRESULT failure = S_OK;  // sticky: every later call fails with it

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid != IID_IUnknown && riid != IID_IMFSinkWriter) return E_NOINTERFACE;
        *object = static_cast<IMFSinkWriter*>(this);
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override;

    HRESULT STDMETHODCALLTYPE AddStream(IMFMediaType* type, DWORD* index) override;
    HRESULT STDMETHODCALLTYPE SetInputMediaType(DWORD index, IMFMediaType* type, IMFAttributes* parameters) override;
    HRESULT STDMETHODCALLTYPE BeginWriting() override;
    HRESULT STDMETHODCALLTYPE WriteSample(DWORD index, IMFSample* sample) override;
    HRESULT STDMETHODCALLTYPE SendStreamTick(DWORD index, LONGLONG time) override;
    HRESULT STDMETHODCALLTYPE PlaceMarker(DWORD index, void*) override { return InWriting(index); }
    HRESULT STDMETHODCALLTYPE NotifyEndOfSegment(DWORD index) override { return InWriting(index); }
    HRESULT STDMETHODCALLTYPE Flush(DWORD index) override;
    HRESULT STDMETHODCALLTYPE Finalize() override;
    HRESULT STDMETHODCALLTYPE GetServiceForStream(DWORD, REFGUID, REFIID, void** object) override
    {
        if (object) *object = nullptr;
        return MF_E_UNSUPPORTED_SERVICE;
    }
    HRESULT STDMETHODCALLTYPE GetStatistics(DWORD index, MF_SINK_WRITER_STATISTICS* stats) override;

    bool ValidIndex(DWORD index) const
    {
        return index < streamCount || (index == static_cast<DWORD>(MF_SINK_WRITER_ALL_STREAMS) && streamCount > 0);
    }
    HRESULT InWriting(DWORD index)
    {
        AcquireSRWLockShared(&lock);
        HRESULT hr = phase != Phase::Writing ? MF_E_INVALIDREQUEST
                     : !ValidIndex(index)    ? MF_E_INVALIDSTREAMNUMBER
                                             : failure;
        ReleaseSRWLockShared(&lock);
        return hr;
    }
    // The scripted fault of set-up `step` on this writer (for `stream`), or S_OK.
    HRESULT SetUpFault(VirtualSinkStep step, VirtualSinkStream stream = VirtualSinkStream::Any) const
    {
        return ScriptedSetUpFault(step, stream, fragmented, hardware);
    }
    // Stops the worker (the queue is dropped) and waits for it. Lock not held.
    void StopWorker();
    // Records a hard failure once (lock held).
    void Fail(HRESULT hr)
    {
        if (SUCCEEDED(failure)) {
            failure = hr;
            UpdateReport(serial, [hr](VirtualSinkReport& r) { r.failure = hr; });
        }
    }
};

DWORD WINAPI Worker(void* parameter)
{
    auto* writer = static_cast<SinkWriter*>(parameter);
    HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    AcquireSRWLockExclusive(&writer->lock);
    for (;;) {
        if (writer->quitting) break;
        if (writer->queue.empty()) {
            WakeAllConditionVariable(&writer->progress);
            SleepConditionVariableSRW(&writer->wake, &writer->lock, INFINITE, 0);
            continue;
        }
        Item item = writer->queue.front();
        writer->queue.pop_front();
        writer->working = true;
        writer->current = item;
        bool skip = FAILED(writer->failure);
        bool audio = writer->streams[item.stream].audio;
        ReleaseSRWLockExclusive(&writer->lock);

        HRESULT hr = S_OK;
        if (!skip) {
            uint32_t delay = audio ? 0 : CurrentScript().encodeDelayMs;
            if (delay) Sleep(delay);  // a slow encoder
            hr = SinkFileWrite(writer->file, item.stream, item.sample, item.time, item.duration);
        }
        item.sample->Release();
        uint64_t bytes = SinkFileBytes(writer->file);

        AcquireSRWLockExclusive(&writer->lock);
        writer->working = false;
        Stream& stream = writer->streams[item.stream];
        stream.bytesQueued -= item.bytes;
        if (!skip && SUCCEEDED(hr)) {
            ++stream.processed;
            stream.lastProcessed = item.time;
            stream.bytesProcessed += item.bytes;
        }
        if (FAILED(hr)) writer->Fail(hr);
        uint32_t queued = static_cast<uint32_t>(writer->queue.size());
        UpdateReport(writer->serial, [&](VirtualSinkReport& r) {
            r.bytesOnDisk = bytes;
            r.queued = queued;
        });
        WakeAllConditionVariable(&writer->progress);
    }
    ReleaseSRWLockExclusive(&writer->lock);
    SinkFileWorkerEnd(writer->file);
    if (SUCCEEDED(com)) CoUninitialize();
    return 0;
}

void SinkWriter::StopWorker()
{
    AcquireSRWLockExclusive(&lock);
    quitting = true;
    std::deque<Item> dropped;
    dropped.swap(queue);
    WakeAllConditionVariable(&wake);
    WakeAllConditionVariable(&progress);
    ReleaseSRWLockExclusive(&lock);
    for (Item& item : dropped) item.sample->Release();
    if (thread) {
        WaitForSingleObject(thread, INFINITE);  // the worker finishes at most one sample
        CloseHandle(thread);
        thread = nullptr;
    }
}

ULONG SinkWriter::Release()
{
    ULONG count = --refs;
    if (count != 0) return count;
    StopWorker();
    SinkFileClose(file);  // an unfinished file stays as it is, as with the system's writer
    --writersLive;
    delete this;
    return 0;
}

HRESULT SinkWriter::AddStream(IMFMediaType* type, DWORD* index)
{
    if (!type || !index) return E_POINTER;
    Stream stream;
    HRESULT hr = ReadOutput(type, &stream);
    if (SUCCEEDED(hr)) hr = SetUpFault(VirtualSinkStep::AddStream, stream.audio ? VirtualSinkStream::Audio : VirtualSinkStream::Video);
    AcquireSRWLockExclusive(&lock);
    if (phase != Phase::Configuring) hr = MF_E_INVALIDREQUEST;
    for (uint32_t i = 0; SUCCEEDED(hr) && i < streamCount; ++i)
        if (streams[i].audio == stream.audio) hr = MF_E_INVALIDREQUEST;  // one picture and one sound track
    if (SUCCEEDED(hr)) {
        *index = streamCount;
        streams[streamCount++] = stream;
        uint32_t slot = *index;
        UpdateReport(serial, [&](VirtualSinkReport& r) {
            VirtualSinkStreamReport& s = r.streams[slot];
            s = VirtualSinkStreamReport{};
            s.used = true;
            s.isAudio = stream.audio;
            s.outputSubtype = stream.output;
            s.width = stream.width;
            s.height = stream.height;
            s.rateNumerator = stream.rateNumerator;
            s.rateDenominator = stream.rateDenominator;
            s.bitRate = stream.bitRate;
            s.profile = stream.profile;
            s.keyFrameSpacing = stream.keyFrameSpacing;
            s.interlaceMode = U32(type, MF_MT_INTERLACE_MODE);
            Pair(type, MF_MT_PIXEL_ASPECT_RATIO, &s.aspectNumerator, &s.aspectDenominator);
            s.sampleRate = stream.sampleRate;
            s.channels = stream.channels;
            s.bitsPerSample = U32(type, MF_MT_AUDIO_BITS_PER_SAMPLE);
            s.avgBytesPerSecond = U32(type, MF_MT_AUDIO_AVG_BYTES_PER_SECOND);
            s.firstTime = s.lastTime = -1;
            r.streamCount = slot + 1;
        });
    }
    ReleaseSRWLockExclusive(&lock);
    return hr;
}

HRESULT SinkWriter::SetInputMediaType(DWORD index, IMFMediaType* type, IMFAttributes* parameters)
{
    AcquireSRWLockExclusive(&lock);
    HRESULT hr = phase != Phase::Configuring ? MF_E_INVALIDREQUEST
                 : index >= streamCount      ? MF_E_INVALIDSTREAMNUMBER
                 : !type                     ? E_INVALIDARG
                                             : S_OK;
    if (SUCCEEDED(hr)) {
        Stream candidate = streams[index];
        hr = ReadInput(type, &candidate);
        if (SUCCEEDED(hr))
            hr = SetUpFault(VirtualSinkStep::SetInput, candidate.audio ? VirtualSinkStream::Audio : VirtualSinkStream::Video);
        // The encoder's settings: the H.264 encoder's GOP size ("H.264 Video Encoder", codec properties).
        if (SUCCEEDED(hr) && !candidate.audio && parameters)
            candidate.gopSize = MFGetAttributeUINT32(parameters, CODECAPI_AVEncMPVGOPSize, 0);
        if (SUCCEEDED(hr)) {
            streams[index] = candidate;
            UpdateReport(serial, [&](VirtualSinkReport& r) {
                r.streams[index].inputSubtype = candidate.input;
                r.streams[index].gopSize = candidate.gopSize;
                r.streams[index].inputStride = candidate.audio ? 0
                                               : candidate.bottomUp ? -static_cast<int32_t>(candidate.stride)
                                                                    : static_cast<int32_t>(candidate.stride);
            });
        }
    }
    ReleaseSRWLockExclusive(&lock);
    return hr;
}

// What was asked of the encoders, for the file's comment.
std::string Comment(const Stream* streams, uint32_t count)
{
    std::string text = "substitute sink writer: pictures as JPEG, sound as PCM";
    char line[160];
    for (uint32_t i = 0; i < count; ++i) {
        const Stream& s = streams[i];
        if (s.audio)
            snprintf(line, sizeof line, "\naudio=aac rate=%u channels=%u", s.sampleRate, s.channels);
        else
            snprintf(line, sizeof line, "\nvideo=h264 size=%ux%u rate=%u/%u bitrate=%u profile=%u keyframes=%u gop=%u",
                     s.width, s.height, s.rateNumerator, s.rateDenominator, s.bitRate, s.profile, s.keyFrameSpacing,
                     s.gopSize);
        text += line;
    }
    return text;
}

HRESULT SinkWriter::BeginWriting()
{
    HRESULT scripted = SetUpFault(VirtualSinkStep::Begin);
    AcquireSRWLockExclusive(&lock);
    HRESULT hr = phase != Phase::Configuring || streamCount == 0 ? MF_E_INVALIDREQUEST : scripted;
    // The substitute cannot take encoded input: every stream needs its uncompressed type.
    for (uint32_t i = 0; SUCCEEDED(hr) && i < streamCount; ++i)
        if (!streams[i].hasInput) hr = MF_E_INVALIDREQUEST;
    SinkFileTrack tracks[2]{};
    int64_t fragment = DEFAULT_FRAGMENT;
    for (uint32_t i = 0; i < streamCount; ++i) {
        const Stream& s = streams[i];
        tracks[i] = {s.audio, s.width, s.height, s.stride, s.bottomUp, s.sampleRate, s.channels};
        // A fragment starts at a key frame: its length follows the GOP the encoder was given.
        if (!s.audio && s.gopSize)
            fragment = static_cast<int64_t>(s.gopSize) * 10'000'000 * s.rateDenominator / s.rateNumerator;
    }
    if (SUCCEEDED(hr)) hr = SinkFileBegin(file, std::span(tracks, streamCount), fragmented, fragment, Comment(streams, streamCount));
    if (SUCCEEDED(hr)) {
        thread = CreateThread(nullptr, 0, Worker, this, 0, nullptr);
        if (!thread) hr = HRESULT_FROM_WIN32(GetLastError());
    }
    if (SUCCEEDED(hr)) {
        phase = Phase::Writing;
        UpdateReport(serial, [](VirtualSinkReport& r) { r.began = true; });
    }
    ReleaseSRWLockExclusive(&lock);
    return hr;
}

HRESULT SinkWriter::WriteSample(DWORD index, IMFSample* sample)
{
    if (!sample) return E_POINTER;
    VirtualSinkScript rules = CurrentScript();
    LONGLONG time = 0;
    if (FAILED(sample->GetSampleTime(&time))) return MF_E_NO_SAMPLE_TIMESTAMP;
    LONGLONG duration = -1;
    if (FAILED(sample->GetSampleDuration(&duration))) duration = -1;
    DWORD length = 0;
    HRESULT hr = sample->GetTotalLength(&length);
    if (FAILED(hr)) return hr;
    const bool discontinuity = MFGetAttributeUINT32(sample, MFSampleExtension_Discontinuity, FALSE) != FALSE;
    // A sample handed in again once this writer let go of it: the caller reuses its samples.
    const bool again = MFGetAttributeUINT32(sample, TAKEN, FALSE) != FALSE;
    ComOwner<IMFMediaBuffer> buffer;
    sample->GetBufferByIndex(0, &buffer);  // none: nothing to compare

    AcquireSRWLockExclusive(&lock);
    // One still held here handed in again: its contents would change under the encoder.
    bool held = false;
    for (const Item& item : queue) held = held || item.sample == sample || (buffer && item.buffer == buffer.Get());
    if (working) held = held || current.sample == sample || (buffer && current.buffer == buffer.Get());
    hr = phase != Phase::Writing ? MF_E_INVALIDREQUEST : index >= streamCount ? MF_E_INVALIDSTREAMNUMBER : failure;
    Stream* stream = SUCCEEDED(hr) ? &streams[index] : nullptr;
    if (stream && !stream->audio &&
        length < static_cast<uint64_t>(stream->stride) * (stream->height - 1) + stream->width * 4ull)
        hr = MF_E_BUFFERTOOSMALL;
    const VirtualSinkFault& fault = rules.writeFault;
    bool faultStream = fault.stream == VirtualSinkStream::Any || (fault.stream == VirtualSinkStream::Audio) == (stream && stream->audio);
    if (rules.writeFaultOnlyHardware && !hardware) faultStream = false;
    if (SUCCEEDED(hr) && fault.afterSamples >= 0 && faultStream && stream->accepted >= static_cast<uint32_t>(fault.afterSamples) &&
        (fault.count < 0 || stream->refused < static_cast<uint32_t>(fault.count))) {
        hr = fault.code;
        ++stream->refused;
        UpdateReport(serial, [&](VirtualSinkReport& r) { ++r.streams[index].samplesRefused; });
        if (hr != MF_E_NOTACCEPTING && hr != E_OUTOFMEMORY) Fail(hr);  // a hard failure ends the writer
    }
    // Without the throttling switch the writer keeps the caller in step with the encoder.
    while (SUCCEEDED(hr) && throttled && queue.size() >= THROTTLE_QUEUE && !quitting && SUCCEEDED(failure))
        SleepConditionVariableSRW(&progress, &lock, INFINITE, 0);
    if (SUCCEEDED(hr) && FAILED(failure)) hr = failure;
    if (SUCCEEDED(hr)) {
        sample->AddRef();
        sample->SetUINT32(TAKEN, TRUE);
        try {
            queue.push_back({index, sample, time, duration, length, buffer.Get()});
        } catch (const std::bad_alloc&) {
            sample->Release();
            hr = E_OUTOFMEMORY;
        }
    }
    if (SUCCEEDED(hr)) {
        ++stream->accepted;
        ++stream->received;
        stream->lastReceived = time;
        stream->bytesQueued += length;
        uint32_t queued = static_cast<uint32_t>(queue.size());
        UpdateReport(serial, [&](VirtualSinkReport& r) {
            VirtualSinkStreamReport& s = r.streams[index];
            ++s.samplesWritten;
            if (s.firstTime < 0) s.firstTime = time;
            s.lastTime = time;
            if (r.writeCount < VIRTUAL_SINK_LOG_CAPACITY) r.writes[r.writeCount++] = {index, time, duration, discontinuity};
            r.queued = queued;
            r.samplesHandedInAgain += again;
            r.samplesHandedInWhileHeld += held;
        });
        WakeAllConditionVariable(&wake);
    }
    ReleaseSRWLockExclusive(&lock);
    return hr;
}

// "IMFSinkWriter::SendStreamTick": a gap in a stream, at `time`; the sample after the gap carries
// MFSampleExtension_Discontinuity. Both are only reported: the file fills missing sound with
// silence anyway.
HRESULT SinkWriter::SendStreamTick(DWORD index, LONGLONG time)
{
    HRESULT hr = InWriting(index);
    if (SUCCEEDED(hr) && index == static_cast<DWORD>(MF_SINK_WRITER_ALL_STREAMS)) hr = MF_E_INVALIDSTREAMNUMBER;
    if (SUCCEEDED(hr))
        UpdateReport(serial, [&](VirtualSinkReport& r) {
            if (r.tickCount < VIRTUAL_SINK_TICK_CAPACITY) r.ticks[r.tickCount++] = {index, time};
        });
    return hr;
}

HRESULT SinkWriter::Flush(DWORD index)
{
    AcquireSRWLockExclusive(&lock);
    HRESULT hr = phase != Phase::Writing ? MF_E_INVALIDREQUEST : !ValidIndex(index) ? MF_E_INVALIDSTREAMNUMBER : S_OK;
    std::deque<Item> dropped;
    if (SUCCEEDED(hr)) {
        std::deque<Item> kept;
        for (Item& item : queue) {
            bool match = index == static_cast<DWORD>(MF_SINK_WRITER_ALL_STREAMS) || item.stream == index;
            if (match) streams[item.stream].bytesQueued -= item.bytes;
            (match ? dropped : kept).push_back(item);
        }
        queue.swap(kept);
    }
    ReleaseSRWLockExclusive(&lock);
    for (Item& item : dropped) item.sample->Release();
    return hr;
}

HRESULT SinkWriter::Finalize()
{
    HRESULT scripted = CurrentScript().finalizeResult;
    AcquireSRWLockExclusive(&lock);
    if (phase != Phase::Writing) {
        ReleaseSRWLockExclusive(&lock);
        return MF_E_INVALIDREQUEST;
    }
    phase = Phase::Finalized;  // later calls are refused while this one completes
    while ((!queue.empty() || working) && SUCCEEDED(failure)) SleepConditionVariableSRW(&progress, &lock, INFINITE, 0);
    ReleaseSRWLockExclusive(&lock);
    StopWorker();
    AcquireSRWLockShared(&lock);
    HRESULT hr = FAILED(failure) ? failure : scripted;
    // The system's writer is reported to fail like this when a stream got no sample at all (the
    // error exists for that case; the "IMFSinkWriter::Finalize" page lists no codes). The file
    // then stays unfinished.
    for (uint32_t i = 0; SUCCEEDED(hr) && i < streamCount; ++i)
        if (streams[i].accepted == 0) hr = MF_E_SINK_NO_SAMPLES_PROCESSED;
    ReleaseSRWLockShared(&lock);
    if (SUCCEEDED(hr)) hr = SinkFileFinish(file);
    uint64_t bytes = SinkFileBytes(file);
    SinkFileClose(file);
    file = nullptr;
    AcquireSRWLockExclusive(&lock);
    if (FAILED(hr)) Fail(hr);
    ReleaseSRWLockExclusive(&lock);
    UpdateReport(serial, [&](VirtualSinkReport& r) {
        r.finalized = SUCCEEDED(hr);
        r.bytesOnDisk = bytes;
        r.queued = 0;
    });
    return hr;
}

HRESULT SinkWriter::GetStatistics(DWORD index, MF_SINK_WRITER_STATISTICS* stats)
{
    if (!stats) return E_POINTER;
    if (stats->cb != sizeof(MF_SINK_WRITER_STATISTICS)) return E_INVALIDARG;
    AcquireSRWLockShared(&lock);
    HRESULT hr = ValidIndex(index) ? S_OK : MF_E_INVALIDSTREAMNUMBER;
    if (SUCCEEDED(hr)) {
        MF_SINK_WRITER_STATISTICS out{};
        out.cb = sizeof out;
        for (uint32_t i = 0; i < streamCount; ++i) {
            if (index != static_cast<DWORD>(MF_SINK_WRITER_ALL_STREAMS) && index != i) continue;
            const Stream& s = streams[i];
            out.llLastTimestampReceived = std::max<LONGLONG>(out.llLastTimestampReceived, s.lastReceived);
            out.llLastTimestampEncoded = std::max<LONGLONG>(out.llLastTimestampEncoded, s.lastProcessed);
            out.llLastTimestampProcessed = out.llLastTimestampEncoded;
            out.qwNumSamplesReceived += s.received;
            out.qwNumSamplesEncoded += s.processed;
            out.qwNumSamplesProcessed += s.processed;
            out.dwByteCountQueued += static_cast<DWORD>(std::min<uint64_t>(s.bytesQueued, MAXDWORD));
            out.qwByteCountProcessed += s.bytesProcessed;
        }
        *stats = out;
    }
    ReleaseSRWLockShared(&lock);
    return hr;
}

}  // namespace

HRESULT VirtualSinkWriterCreate(const wchar_t* url, IMFByteStream* byteStream, IMFAttributes* attributes,
                                IMFSinkWriter** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (byteStream || !url || !*url) return E_INVALIDARG;  // only files by name
    GUID container = GUID_NULL;
    if (attributes) attributes->GetGUID(MF_TRANSCODE_CONTAINERTYPE, &container);  // absent: by the name
    bool hardware = attributes && MFGetAttributeUINT32(attributes, MF_READWRITE_ENABLE_HARDWARE_TRANSFORMS, FALSE) != FALSE;
    HRESULT scripted = ScriptedSetUpFault(VirtualSinkStep::Create, VirtualSinkStream::Any,
                                          container == MFTranscodeContainerType_FMPEG4, hardware);
    if (FAILED(scripted)) return scripted;
    if (container == GUID_NULL) {
        const wchar_t* dot = wcsrchr(url, L'.');
        if (!dot || (_wcsicmp(dot, L".mp4") != 0 && _wcsicmp(dot, L".m4v") != 0)) return MF_E_UNSUPPORTED_BYTESTREAM_TYPE;
    } else if (container != MFTranscodeContainerType_MPEG4 && container != MFTranscodeContainerType_FMPEG4) {
        return MF_E_UNSUPPORTED_BYTESTREAM_TYPE;
    }
    auto* writer = new (std::nothrow) SinkWriter;
    if (!writer) return E_OUTOFMEMORY;
    HRESULT hr = SinkFileCreate(url, &writer->file);
    if (FAILED(hr)) {
        delete writer;
        return hr;
    }
    ++writersLive;
    writer->throttled = !attributes || MFGetAttributeUINT32(attributes, MF_SINK_WRITER_DISABLE_THROTTLING, FALSE) == FALSE;
    writer->fragmented = container == MFTranscodeContainerType_FMPEG4;
    writer->hardware = hardware;
    AcquireSRWLockExclusive(&reportLock);
    writer->serial = nextSerial++;
    report = VirtualSinkReport{};
    report.serial = writer->serial;
    CopyTextCut(report.path, VIRTUAL_SINK_PATH_CAPACITY, url);
    report.throttlingDisabled = !writer->throttled;
    report.hardwareTransforms = hardware;
    report.containerType = container;
    report.fragmented = writer->fragmented;
    ReleaseSRWLockExclusive(&reportLock);
    WakeAllConditionVariable(&reportChanged);
    *out = writer;
    return S_OK;
}

void VirtualSinkSetScript(const VirtualSinkScript& next)
{
    AcquireSRWLockExclusive(&reportLock);
    script = next;
    ReleaseSRWLockExclusive(&reportLock);
}

void VirtualSinkResetScript()
{
    VirtualSinkSetScript(VirtualSinkScript{});
}

bool VirtualSinkLastReport(VirtualSinkReport* out)
{
    AcquireSRWLockShared(&reportLock);
    *out = report;
    ReleaseSRWLockShared(&reportLock);
    return out->serial != 0;
}

bool VirtualSinkWaitAccepted(VirtualSinkStream stream, uint32_t samples, DWORD timeoutMs)
{
    ULONGLONG deadline = GetTickCount64() + timeoutMs;
    AcquireSRWLockShared(&reportLock);
    for (;;) {
        uint32_t accepted = 0;
        for (uint32_t i = 0; i < report.streamCount; ++i) {
            const VirtualSinkStreamReport& s = report.streams[i];
            if (stream == VirtualSinkStream::Any || (stream == VirtualSinkStream::Audio) == s.isAudio) accepted += s.samplesWritten;
        }
        ULONGLONG now = GetTickCount64();
        if (accepted >= samples || now >= deadline) {
            ReleaseSRWLockShared(&reportLock);
            return accepted >= samples;
        }
        SleepConditionVariableSRW(&reportChanged, &reportLock, static_cast<DWORD>(deadline - now),
                                  CONDITION_VARIABLE_LOCKMODE_SHARED);
    }
}

int32_t VirtualSinkWritersLive()
{
    return writersLive.load();
}
