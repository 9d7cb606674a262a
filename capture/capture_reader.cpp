#include "capture/capture_reader.h"

#include <mfapi.h>

#include <new>

#include "app/texts.h"
#include "capture/capture_state.h"
#include "base/win_owners.h"
#include "capture/control_rules.h"
#include "capture/format_choice.h"
#include "capture/media_seam.h"
#include "capture/sample_intake.h"
#include "diag/log.h"
#include "frames/frame_store.h"

namespace {

constexpr DWORD VIDEO_STREAM = static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM);
constexpr DWORD AUDIO_STREAM = static_cast<DWORD>(MF_SOURCE_READER_FIRST_AUDIO_STREAM);
constexpr DWORD ALL_STREAMS = static_cast<DWORD>(MF_SOURCE_READER_ALL_STREAMS);

std::atomic<int32_t> liveReaders{0};

DWORD StreamOf(const CaptureReader& reader)
{
    return reader.role == READER_ROLE_MICROPHONE ? AUDIO_STREAM : VIDEO_STREAM;
}

bool IsCamera(int32_t role)
{
    return role == READER_ROLE_WIDE || role == READER_ROLE_MACRO;
}

CaptureReader* NewReader(int32_t role)
{
    CaptureReader* reader = new (std::nothrow) CaptureReader;
    if (!reader) return nullptr;
    reader->role = role;
    reader->flushEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!reader->flushEvent) {
        delete reader;
        return nullptr;
    }
    liveReaders.fetch_add(1);
    return reader;
}

void ReportStreamError(const CaptureReader& reader, HRESULT status)
{
    switch (reader.role) {
    case READER_ROLE_WIDE:
    case READER_ROLE_MACRO:
        LogWrite(LOG_ERROR, L"Kamera %d: Stream-Fehler (0x%08lX) \u2014 USB-Verbindung pr\u00fcfen", reader.role, LogHresult(status));
        CaptureSetStatus(STATUS_CAMERA_ERROR);
        break;
    case READER_ROLE_MICROPHONE:
        LogWrite(LOG_WARN, L"Mikrofon: Stream-Fehler (0x%08lX)", LogHresult(status));
        break;
    default:
        LogWrite(LOG_WARN, L"Vorschau: Stream-Fehler (0x%08lX)", LogHresult(status));
        break;
    }
}

// The current output size and stride; on failure the reader keeps what it had.
HRESULT ReadVideoFormat(CaptureReader& reader, IMFSourceReader* source)
{
    ComOwner<IMFMediaType> type;
    if (FAILED(source->GetCurrentMediaType(VIDEO_STREAM, &type))) return E_FAIL;
    UINT32 width = 0, height = 0;
    if (FAILED(MFGetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, &width, &height)) || width < 1 || height < 1 ||
        width > INT32_MAX || height > INT32_MAX)
        return E_FAIL;
    reader.frameWidth = static_cast<int32_t>(width);
    reader.frameHeight = static_cast<int32_t>(height);
    UINT32 stride = 0;
    if (SUCCEEDED(type->GetUINT32(MF_MT_DEFAULT_STRIDE, &stride))) {
        reader.defaultStride = static_cast<int32_t>(stride);
        return S_OK;
    }
    // A type without a stride has its format's default ("Uncompressed Video Buffers"), which
    // for RGB in system memory is bottom-up ("Image Stride"): a negative stride.
    LONG computed = 0;
    const bool known = SUCCEEDED(MFGetStrideForBitmapInfoHeader(MFVideoFormat_RGB32.Data1, width, &computed)) && computed != 0;
    reader.defaultStride = known ? static_cast<int32_t>(computed) : -reader.frameWidth * 4;
    return S_OK;
}

// The sample format of the microphone, and its media type for the recorder.
HRESULT ReadAudioFormat(CaptureReader& reader, IMFSourceReader* source)
{
    ComOwner<IMFMediaType> type;
    HRESULT hr = source->GetCurrentMediaType(AUDIO_STREAM, &type);
    if (FAILED(hr)) return hr;
    GUID subtype{};
    reader.audioIsFloat = SUCCEEDED(type->GetGUID(MF_MT_SUBTYPE, &subtype)) && subtype == MFAudioFormat_Float;
    UINT32 bits = MFGetAttributeUINT32(type.Get(), MF_MT_AUDIO_BITS_PER_SAMPLE, 0);
    reader.audioBitsPerSample = bits != 0 ? bits : (reader.audioIsFloat ? 32u : 16u);
    CaptureStoreAudioMediaType(type.Get());
    return S_OK;
}

NativeFormatInfo DescribeNative(IMFMediaType* type)
{
    NativeFormatInfo info{};
    info.hasSize = SUCCEEDED(MFGetAttributeSize(type, MF_MT_FRAME_SIZE, &info.width, &info.height));
    info.hasRate = SUCCEEDED(MFGetAttributeRatio(type, MF_MT_FRAME_RATE, &info.rateNumerator, &info.rateDenominator));
    return info;
}

// Sets the native type closest to 1920 × 1080 at about 30 per second; a refusal leaves the
// device's current format (logged).
void ChooseNativeFormat(IMFSourceReader* source)
{
    ComOwner<IMFMediaType> best;
    FormatScore bestScore{};
    for (DWORD index = 0;; ++index) {
        ComOwner<IMFMediaType> type;
        if (FAILED(source->GetNativeMediaType(VIDEO_STREAM, index, &type))) break;
        const FormatScore score = FormatScoreOf(DescribeNative(type.Get()));
        if (best && !FormatBeats(score, bestScore)) continue;
        best.Attach(type.Detach());
        bestScore = score;
    }
    if (!best) return;
    HRESULT hr = source->SetCurrentMediaType(VIDEO_STREAM, nullptr, best.Get());
    if (FAILED(hr))
        LogWrite(LOG_WARN, L"Natives Kameraformat konnte nicht gesetzt werden (0x%08lX) \u2014 Standardformat wird verwendet",
                 LogHresult(hr));
}

// RGB32 in the camera's current (native) format: the source reader's video processor converts,
// and it matches what the output type states - frame size and rate, pixel aspect, interlacing -
// so the type states the native format's rather than leaving the processor to pick.
HRESULT SetRgb32Output(IMFSourceReader* source)
{
    ComOwner<IMFMediaType> native;
    HRESULT hr = source->GetCurrentMediaType(VIDEO_STREAM, &native);
    ComOwner<IMFMediaType> type;
    if (SUCCEEDED(hr)) hr = MFCreateMediaType(&type);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_RGB32);
    for (const GUID* key : {&MF_MT_FRAME_SIZE, &MF_MT_FRAME_RATE, &MF_MT_PIXEL_ASPECT_RATIO, &MF_MT_INTERLACE_MODE}) {
        PROPVARIANT value;
        PropVariantInit(&value);
        if (SUCCEEDED(hr) && SUCCEEDED(native->GetItem(*key, &value))) hr = type->SetItem(*key, value);
        PropVariantClear(&value);
    }
    if (SUCCEEDED(hr)) hr = source->SetCurrentMediaType(VIDEO_STREAM, nullptr, type.Get());
    return hr;
}

HRESULT PcmType(const MicRequest& request, IMFMediaType** out)
{
    const UINT32 blockAlign = request.channels * 2;
    ComOwner<IMFMediaType> type;
    HRESULT hr = MFCreateMediaType(&type);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_PCM);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, 16);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, request.sampleRate);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, request.channels);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, blockAlign);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, blockAlign * request.sampleRate);
    if (SUCCEEDED(hr)) *out = type.Detach();
    return hr;
}

// 16-bit PCM at 48000 or 44100 Hz with one or two channels, converted by the source reader from
// whatever the microphone delivers. Where the reader refuses both (logged), PCM of the device's
// own rate and channels: 16-bit where it takes the request, otherwise of its own depth.
HRESULT SetPcmOutput(IMFSourceReader* source)
{
    UINT32 deviceChannels = 0;
    ComOwner<IMFMediaType> own;
    if (SUCCEEDED(source->GetCurrentMediaType(AUDIO_STREAM, &own)))
        deviceChannels = MFGetAttributeUINT32(own.Get(), MF_MT_AUDIO_NUM_CHANNELS, 0);
    HRESULT hr = S_OK;
    for (const MicRequest& request : MicRequests(deviceChannels)) {
        ComOwner<IMFMediaType> type;
        hr = PcmType(request, &type);
        if (SUCCEEDED(hr)) hr = source->SetCurrentMediaType(AUDIO_STREAM, nullptr, type.Get());
        if (SUCCEEDED(hr)) return S_OK;
    }
    LogWrite(LOG_WARN, L"Mikrofon: 48000 und 44100 Hz abgelehnt (0x%08lX) \u2014 eigenes Format des Ger\u00e4ts",
             LogHresult(hr));
    ComOwner<IMFMediaType> type;
    hr = MFCreateMediaType(&type);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_PCM);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, 16);
    if (FAILED(hr)) return hr;
    if (SUCCEEDED(source->SetCurrentMediaType(AUDIO_STREAM, nullptr, type.Get()))) return S_OK;
    hr = type->DeleteItem(MF_MT_AUDIO_BITS_PER_SAMPLE);
    if (SUCCEEDED(hr)) hr = source->SetCurrentMediaType(AUDIO_STREAM, nullptr, type.Get());
    return hr;
}

// Device source and asynchronous source reader with `reader` as its callback; the stream of
// the reader's kind alone selected.
HRESULT ConnectDevice(CaptureReader& reader, const GUID& sourceType, const GUID& idKey, const wchar_t* id,
                      IMFMediaSource** source)
{
    const bool camera = reader.role != READER_ROLE_MICROPHONE;
    ComOwner<IMFAttributes> deviceAttributes;
    HRESULT hr = MFCreateAttributes(&deviceAttributes, 2);
    if (SUCCEEDED(hr)) hr = deviceAttributes->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, sourceType);
    if (SUCCEEDED(hr)) hr = deviceAttributes->SetString(idKey, id ? id : L"");
    if (SUCCEEDED(hr)) hr = SeamCreateDeviceSource(deviceAttributes.Get(), source);
    ComOwner<IMFAttributes> readerAttributes;
    if (SUCCEEDED(hr)) hr = MFCreateAttributes(&readerAttributes, camera ? 3 : 2);
    if (SUCCEEDED(hr)) hr = readerAttributes->SetUnknown(MF_SOURCE_READER_ASYNC_CALLBACK, &reader);
    if (SUCCEEDED(hr) && camera) hr = readerAttributes->SetUINT32(MF_SOURCE_READER_ENABLE_ADVANCED_VIDEO_PROCESSING, TRUE);
    if (SUCCEEDED(hr)) hr = readerAttributes->SetUINT32(MF_READWRITE_DISABLE_CONVERTERS, FALSE);
    if (SUCCEEDED(hr)) hr = SeamCreateSourceReaderFromMediaSource(*source, readerAttributes.Get(), &reader.sourceReader);
    if (SUCCEEDED(hr)) hr = reader.sourceReader->SetStreamSelection(ALL_STREAMS, FALSE);
    if (SUCCEEDED(hr)) hr = reader.sourceReader->SetStreamSelection(StreamOf(reader), TRUE);
    return hr;
}

// Undoes a failed open: the source reader ends its media source; without one the source is
// shut down here. Drops the creator's reference to the reader object.
void AbandonOpen(CaptureReader* reader, IMFMediaSource* source)
{
    if (IMFSourceReader* sourceReader = reader->sourceReader) {
        reader->sourceReader = nullptr;
        sourceReader->Release();
    } else if (source) {
        source->Shutdown();
    }
    reader->Release();
}

// One sample callback of a reader that was reading when it came.
void HandleSample(CaptureReader& reader, HRESULT status, DWORD flags, LONGLONG timestamp, IMFSample* sample)
{
    if (FAILED(status) || (flags & MF_SOURCE_READERF_ERROR)) {
        if (reader.errorReported.exchange(1) == 0) ReportStreamError(reader, status);
        return;  // this reader delivers nothing more
    }
    if (flags & MF_SOURCE_READERF_ENDOFSTREAM) return;
    if (flags & MF_SOURCE_READERF_CURRENTMEDIATYPECHANGED) {
        AcquireSRWLockShared(&reader.readerLock);  // a stop may be taking the source reader away
        if (reader.sourceReader) {
            if (reader.role == READER_ROLE_MICROPHONE) ReadAudioFormat(reader, reader.sourceReader);
            else ReadVideoFormat(reader, reader.sourceReader);
        }
        ReleaseSRWLockShared(&reader.readerLock);
    }
    if (sample) {
        if (reader.role == READER_ROLE_MICROPHONE) IntakeAudioSample(reader, sample);
        else IntakeVideoSample(reader, sample, timestamp);
    }

    HRESULT hr = S_OK;
    AcquireSRWLockShared(&reader.readerLock);
    if (reader.reading.load() != 0 && reader.sourceReader)
        hr = reader.sourceReader->ReadSample(StreamOf(reader), 0, nullptr, nullptr, nullptr, nullptr);
    ReleaseSRWLockShared(&reader.readerLock);
    if (FAILED(hr) && reader.errorReported.exchange(1) == 0) ReportStreamError(reader, hr);
}

// Waits until no sample callback is inside `reader`, at most the reader's callback wait; false
// when one still is.
bool WaitForCallbacksToLeave(const CaptureReader& reader)
{
    const ULONGLONG end = GetTickCount64() + CaptureWaitMs(READER_CALLBACK_WAIT_MS);
    while (reader.callbacksInside.load() != 0) {
        if (GetTickCount64() >= end) return false;
        Sleep(1);
    }
    return true;
}

}  // namespace

HRESULT CaptureReader::QueryInterface(REFIID riid, void** object)
{
    if (!object) return E_POINTER;
    if (riid != IID_IUnknown && riid != IID_IMFSourceReaderCallback) {
        *object = nullptr;
        return E_NOINTERFACE;
    }
    *object = static_cast<IMFSourceReaderCallback*>(this);
    AddRef();
    return S_OK;
}

ULONG CaptureReader::AddRef()
{
    return static_cast<ULONG>(refCount.fetch_add(1) + 1);
}

ULONG CaptureReader::Release()
{
    const LONG count = refCount.fetch_sub(1) - 1;
    if (count < 0) return 0;
    if (count > 0) return static_cast<ULONG>(count);
    CloseHandle(flushEvent);
    FrameRelease(previewFrame);
    delete this;
    liveReaders.fetch_sub(1);
    return 0;
}

HRESULT CaptureReader::OnReadSample(HRESULT status, DWORD, DWORD flags, LONGLONG timestamp, IMFSample* sample)
{
    // Counted in before `reading` is looked at: a stop clears `reading` first and then waits for
    // the count, so every callback either sees the stop or is waited for.
    callbacksInside.fetch_add(1);
    if (reading.load() != 0) HandleSample(*this, status, flags, timestamp, sample);
    callbacksInside.fetch_sub(1);
    return S_OK;
}

HRESULT CaptureReader::OnFlush(DWORD)
{
    SetEvent(flushEvent);
    return S_OK;
}

HRESULT CaptureReader::OnEvent(DWORD, IMFMediaEvent*)
{
    return S_OK;
}

HRESULT CaptureReaderOpen(int32_t role, const wchar_t* id, const wchar_t* name, CaptureReader** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    CaptureReader* reader = NewReader(role);
    if (!reader) return E_OUTOFMEMORY;
    ComOwner<IMFMediaSource> source;
    HRESULT hr = ConnectDevice(*reader, MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID,
                               MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK, id, &source);
    if (SUCCEEDED(hr)) {
        ChooseNativeFormat(reader->sourceReader);
        hr = SetRgb32Output(reader->sourceReader);
    }
    if (SUCCEEDED(hr)) hr = ReadVideoFormat(*reader, reader->sourceReader);

    const wchar_t* label = name ? name : (id ? id : L"");
    if (hr == S_OK) {
        if (IsCamera(role)) LogWrite(LOG_INFO, L"Kamera %d konfiguriert: %ls", role, label);
        *out = reader;
        return S_OK;
    }
    AbandonOpen(reader, source.Get());
    // A preview's failure is reported by the preview, which knows whether it is a repetition.
    if (IsCamera(role)) LogWrite(LOG_ERROR, L"Kamera %d (%ls): 0x%08lX", role, label, LogHresult(hr));
    return hr;
}

HRESULT CaptureMicrophoneOpen(const wchar_t* endpointId, const wchar_t* name, CaptureReader** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    CaptureReader* reader = NewReader(READER_ROLE_MICROPHONE);
    if (!reader) return E_OUTOFMEMORY;
    ComOwner<IMFMediaSource> source;
    HRESULT hr = ConnectDevice(*reader, MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_AUDCAP_GUID,
                               MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_AUDCAP_ENDPOINT_ID, endpointId, &source);
    if (SUCCEEDED(hr)) hr = SetPcmOutput(reader->sourceReader);
    if (SUCCEEDED(hr)) hr = ReadAudioFormat(*reader, reader->sourceReader);
    if (hr == S_OK) {
        LogWrite(LOG_INFO, L"Mikrofon eingebunden: %ls", name ? name : (endpointId ? endpointId : L""));
        *out = reader;
        return S_OK;
    }
    AbandonOpen(reader, source.Get());
    CaptureDropAudioMediaType();
    LogWrite(LOG_WARN, L"Mikrofon konnte nicht verbunden werden: 0x%08lX", LogHresult(hr));
    return hr;
}

HRESULT CaptureReaderStart(CaptureReader* reader)
{
    if (!reader || !reader->sourceReader) return E_FAIL;
    reader->reading.exchange(1);
    HRESULT hr = reader->sourceReader->ReadSample(StreamOf(*reader), 0, nullptr, nullptr, nullptr, nullptr);
    if (FAILED(hr)) reader->reading.store(0);
    return hr;
}

void CaptureReaderStop(CaptureReader** slot)
{
    if (!slot || !*slot) return;
    CaptureReader* reader = *slot;
    *slot = nullptr;
    // Cleared under the lock: a callback that is just asking for the next sample finishes that
    // request before the flush, so it cannot run into the flush and report a stream error.
    AcquireSRWLockExclusive(&reader->readerLock);
    reader->reading.store(0);
    ReleaseSRWLockExclusive(&reader->readerLock);
    if (reader->sourceReader) {
        ResetEvent(reader->flushEvent);
        if (SUCCEEDED(reader->sourceReader->Flush(ALL_STREAMS)) &&
            WaitForSingleObject(reader->flushEvent, static_cast<DWORD>(CaptureWaitMs(READER_FLUSH_WAIT_MS))) != WAIT_OBJECT_0)
            LogWrite(LOG_WARN, L"Kamera-Reader: Flush-Timeout beim Stoppen");
        // Media Foundation may complete the flush while a sample callback still runs on another
        // thread; one that stays longer than the wait sees `reading` cleared before it
        // publishes or records anything.
        if (!WaitForCallbacksToLeave(*reader)) LogWrite(LOG_WARN, L"Kamera-Reader: Sample-Callback l\u00e4uft noch beim Stoppen");
        AcquireSRWLockExclusive(&reader->readerLock);
        IMFSourceReader* sourceReader = reader->sourceReader;
        reader->sourceReader = nullptr;
        ReleaseSRWLockExclusive(&reader->readerLock);
        sourceReader->Release();
    }
    reader->Release();
}

int32_t CaptureReaderLiveCount()
{
    return liveReaders.load();
}
