#include "capture/sample_intake.h"

#include <cstdint>
#include <span>

#include "capture/capture_reader.h"
#include "capture/capture_state.h"
#include "base/win_owners.h"
#include "capture/frame_copy.h"
#include "capture/mic_level.h"
#include "diag/log.h"
#include "diag/perf_clock.h"
#include "frames/frame_store.h"
#include "frames/stabilizer.h"
#include "record/recorder_calls.h"

namespace {

// The process clock in 100-ns units, the time line of every stream.
int64_t ProcessTime()
{
    return static_cast<int64_t>(PerfClockSeconds() * 1e7);
}

// Whether this is the reader's first undersized frame (the only one it reports).
bool FirstTooSmall(CaptureReader& reader)
{
    return reader.tooSmallReported.exchange(1) == 0;
}

// Lock2DSize gives the buffer's bounds, so every row can be checked against them.
bool CopyFromSizedPlanes(CaptureReader& reader, IMF2DBuffer2* planes, Frame& frame)
{
    BYTE* scan0 = nullptr;
    BYTE* start = nullptr;
    LONG pitch = 0;
    DWORD length = 0;
    if (FAILED(planes->Lock2DSize(MF2DBuffer_LockFlags_Read, &scan0, &pitch, &start, &length))) return false;
    const int64_t offset = static_cast<int64_t>(reinterpret_cast<uintptr_t>(scan0) - reinterpret_cast<uintptr_t>(start));
    const bool fits = start && scan0 && IntakeSizedPlanesFit(offset, pitch, length, frame.width, frame.height);
    if (fits) IntakeCopyRows(frame.pixels, frame.stride, scan0, pitch, frame.width, frame.height);
    planes->Unlock2D();
    if (!fits && FirstTooSmall(reader))
        LogWrite(LOG_WARN, L"Kamera-Frame zu klein (2D, %lu Bytes f\u00fcr %dx%d) \u2014 verworfen",
                 static_cast<unsigned long>(length), frame.width, frame.height);
    return fits;
}

bool CopyFromPlanes(CaptureReader& reader, IMF2DBuffer* planes, Frame& frame)
{
    BYTE* scan0 = nullptr;
    LONG pitch = 0;
    DWORD length = 0;
    if (FAILED(planes->Lock2D(&scan0, &pitch))) return false;
    const bool fits = scan0 && SUCCEEDED(planes->GetContiguousLength(&length)) &&
                      IntakePlanesFit(length, pitch, frame.width, frame.height);
    if (fits) IntakeCopyRows(frame.pixels, frame.stride, scan0, pitch, frame.width, frame.height);
    planes->Unlock2D();
    if (!fits && FirstTooSmall(reader)) LogWrite(LOG_WARN, L"Kamera-Frame zu klein (2D) \u2014 verworfen");
    return fits;
}

bool CopyFromPlain(CaptureReader& reader, IMFMediaBuffer* buffer, Frame& frame)
{
    BYTE* data = nullptr;
    DWORD length = 0;
    if (FAILED(buffer->Lock(&data, nullptr, &length))) return false;
    const IntakePlainRows rows = IntakePlainLayout(length, reader.defaultStride, frame.width, frame.height);
    const bool fits = data && rows.usable;
    if (fits) IntakeCopyRows(frame.pixels, frame.stride, data + rows.row0Offset, rows.pitch, frame.width, frame.height);
    buffer->Unlock();
    if (!fits && FirstTooSmall(reader))
        LogWrite(LOG_WARN, L"Kamera-Frame zu klein (%lu Bytes f\u00fcr %dx%d) \u2014 Frame verworfen",
                 static_cast<unsigned long>(length), frame.width, frame.height);
    return fits;
}

// Reads the pixels through the first interface the buffer offers. A 2-D buffer is never locked
// with plain Lock: some systems cannot lock a bottom-up 2-D buffer that way.
bool CopyIntoFrame(CaptureReader& reader, IMFMediaBuffer* buffer, Frame& frame)
{
    ComOwner<IMF2DBuffer2> sizedPlanes;
    if (SUCCEEDED(buffer->QueryInterface(IID_PPV_ARGS(&sizedPlanes))) && sizedPlanes)
        return CopyFromSizedPlanes(reader, sizedPlanes.Get(), frame);
    ComOwner<IMF2DBuffer> planes;
    if (SUCCEEDED(buffer->QueryInterface(IID_PPV_ARGS(&planes))) && planes)
        return CopyFromPlanes(reader, planes.Get(), frame);
    return CopyFromPlain(reader, buffer, frame);
}

// Whether a stop began while this callback was under way: then nothing of its sample is
// published or recorded (the stop clears what was published and waits for callbacks inside).
bool StopBegan(const CaptureReader& reader)
{
    return reader.reading.load() == 0;
}

// Hands a filled Frame on by role; takes over the creator's reference.
void Deliver(CaptureReader& reader, Frame* frame, LONGLONG timestamp)
{
    // Asked first: the answer may take a moment (a recording starting or ending), and a stop in
    // the meantime must still keep this frame back.
    const RecorderCalls& recorder = RecorderInUse();
    const bool recording = reader.role == READER_ROLE_WIDE && recorder.isActive();
    if (StopBegan(reader)) {
        FrameRelease(frame);
        return;
    }
    switch (reader.role) {
    case READER_ROLE_MACRO: {
        double shiftX = 0.0, shiftY = 0.0, zoom = 1.0;
        StabProcessFrame(frame->pixels, frame->width, frame->height, frame->stride, READER_ROLE_MACRO, &shiftX, &shiftY,
                         &zoom);
        frame->stabOffsetX = shiftX;
        frame->stabOffsetY = shiftY;
        frame->stabZoom = zoom;
        FramePublish(SLOT_MACRO, frame);
        FrameRelease(frame);
        break;
    }
    case READER_ROLE_WIDE: {
        FramePublish(SLOT_WIDE, frame);
        if (recording) {
            Frame* macro = FrameAcquireLatest(SLOT_MACRO);
            recorder.submitVideo(frame, macro, CaptureGetPipFraction(), timestamp);
            FrameRelease(macro);
        }
        FrameRelease(frame);
        break;
    }
    default: {
        AcquireSRWLockExclusive(&reader.previewLock);
        Frame* old = reader.previewFrame;
        reader.previewFrame = frame;
        ReleaseSRWLockExclusive(&reader.previewLock);
        FrameRelease(old);
        break;
    }
    }
}

}  // namespace

void IntakeVideoSample(CaptureReader& reader, IMFSample* sample, LONGLONG timestamp)
{
    timestamp = StreamClockMap(reader.clock, timestamp, ProcessTime());
    ComOwner<IMFMediaBuffer> buffer;
    if (FAILED(sample->ConvertToContiguousBuffer(&buffer)) || !buffer) return;
    Frame* frame = FrameCreate(reader.frameWidth, reader.frameHeight, &reader.frameFailures);
    if (!frame) return;  // the frame store has logged it
    const bool copied = CopyIntoFrame(reader, buffer.Get(), *frame);
    buffer.Reset();  // the device may reuse the sample as soon as it is back
    if (copied) Deliver(reader, frame, timestamp);
    else FrameRelease(frame);
}

void IntakeAudioSample(CaptureReader& reader, IMFSample* sample)
{
    ComOwner<IMFMediaBuffer> buffer;
    if (SUCCEEDED(sample->ConvertToContiguousBuffer(&buffer)) && buffer) {
        BYTE* data = nullptr;
        DWORD length = 0;
        if (SUCCEEDED(buffer->Lock(&data, nullptr, &length))) {
            const std::optional<float> level =
                data ? MicLevelOfBlock(std::span<const uint8_t>(data, length), reader.audioIsFloat, reader.audioBitsPerSample)
                     : std::nullopt;
            buffer->Unlock();
            if (level) CaptureMixMicLevel(*level);
        }
    }
    buffer.Reset();
    // The sample is restamped on the process clock before anyone else sees its time; one
    // without a time keeps none (the recorder drops it).
    LONGLONG time = 0;
    if (SUCCEEDED(sample->GetSampleTime(&time))) sample->SetSampleTime(StreamClockMap(reader.clock, time, ProcessTime()));
    const RecorderCalls& recorder = RecorderInUse();
    if (recorder.isActive() && !StopBegan(reader)) recorder.submitAudio(sample);
}
