#pragma once
// The substitute sink writer that goes with the virtual devices: our own IMFSinkWriter for
// machines without an MP4 sink or H.264/AAC encoders. It checks the media types and the call
// order as Media Foundation's writer and encoders do (MF_E_INVALIDMEDIATYPE, MF_E_INVALIDREQUEST,
// MF_E_INVALIDSTREAMNUMBER): an AAC stream takes only the PCM the AAC encoder takes, at the
// output's rate and channel count, and Finalize fails with MF_E_SINK_NO_SAMPLES_PROCESSED when a
// stream got no sample. It encodes on its own worker thread and writes a file that any MP4 reader
// opens: every picture as a JPEG, the sound as 16-bit PCM, sample times exactly as given.
// WriteSample only queues (holding the sample until it is written; the report counts samples
// handed in again, and any handed in while still held): with
// MF_SINK_WRITER_DISABLE_THROTTLING the queue is unbounded (watch GetStatistics: samples received
// minus samples encoded is the backlog), without it a WriteSample waits while a few samples are
// queued. A write error (a full disk) comes back from the next WriteSample and from Finalize, and
// every later call fails with it, as with the system's writer. MF_TRANSCODE_CONTAINERTYPE =
// MFTranscodeContainerType_FMPEG4 gives a fragmented file (a fragment per GOP of video time, as
// the encoding parameters' CODECAPI_AVEncMPVGOPSize sets it; 2 s without one).
// The substitute takes no encoded input: every stream needs its input type before BeginWriting.
// What the caller asked the encoders for (bit rate, profile, key-frame spacing, GOP size, ...)
// cannot be honoured without them; it is kept in the report below and in the file's comment tag,
// with the stream ticks and the samples marked as the first after a gap.
//
// Faults are scripted process-wide and read at every call, so a test can change them while a
// recording runs.
#include <windows.h>
#include <mfidl.h>
#include <mfreadwrite.h>

#include <cstdint>

// The media seam's factory for the substitute (installed together with the virtual devices).
HRESULT VirtualSinkWriterCreate(const wchar_t* url, IMFByteStream* byteStream, IMFAttributes* attributes,
                                IMFSinkWriter** writer);

enum class VirtualSinkStream : uint8_t { Video, Audio, Any };

// WriteSample calls on `stream` after the first `afterSamples` accepted ones fail with `code`:
// `count` of them in all (−1: every later one; refusals count per stream over the writer's
// life). A refused sample is not written. MF_E_NOTACCEPTING and E_OUTOFMEMORY are passing (the
// encoder is busy); any other code is a hard failure that sticks to every later call.
struct VirtualSinkFault {
    VirtualSinkStream stream = VirtualSinkStream::Video;
    int32_t afterSamples = -1;  // −1: no fault
    int32_t count = -1;
    HRESULT code = S_OK;
};

// A set-up step that fails, optionally only under the fragmented container or with hardware
// transforms allowed (a system without the fragmented MP4 sink, a hardware encoder that refuses).
enum class VirtualSinkStep : uint8_t { None, Create, AddStream, SetInput, Begin };
struct VirtualSinkSetUpFault {
    VirtualSinkStep step = VirtualSinkStep::None;
    VirtualSinkStream stream = VirtualSinkStream::Any;  // AddStream and SetInput: which streams
    bool onlyFragmented = false;  // MF_TRANSCODE_CONTAINERTYPE = MFTranscodeContainerType_FMPEG4
    bool onlyHardware = false;    // MF_READWRITE_ENABLE_HARDWARE_TRANSFORMS set
    HRESULT code = E_FAIL;
};

struct VirtualSinkScript {
    VirtualSinkSetUpFault setUpFaults[2]{};
    HRESULT finalizeResult = S_OK;    // Finalize fails with this code (the file is left unfinished)
    VirtualSinkFault writeFault{};
    bool writeFaultOnlyHardware = false;  // the write fault hits only writers with hardware transforms
    uint32_t encodeDelayMs = 0;       // the worker spends at least this long on every video sample
};

// Replaces the script (the default script has no faults).
void VirtualSinkSetScript(const VirtualSinkScript& script);
void VirtualSinkResetScript();

constexpr uint32_t VIRTUAL_SINK_LOG_CAPACITY = 512;
constexpr uint32_t VIRTUAL_SINK_PATH_CAPACITY = 260;

// One stream as the caller set it up; values the types did not carry stay 0.
struct VirtualSinkStreamReport {
    bool used;
    bool isAudio;
    GUID outputSubtype;  // MFVideoFormat_H264, MFAudioFormat_AAC, ...
    GUID inputSubtype;   // MFVideoFormat_RGB32, MFAudioFormat_PCM, ...
    // video
    uint32_t width, height;
    uint32_t rateNumerator, rateDenominator;
    uint32_t bitRate;            // MF_MT_AVG_BITRATE
    uint32_t profile;            // MF_MT_MPEG2_PROFILE
    uint32_t keyFrameSpacing;    // MF_MT_MAX_KEYFRAME_SPACING
    uint32_t gopSize;            // CODECAPI_AVEncMPVGOPSize of the encoding parameters
    uint32_t interlaceMode;      // MF_MT_INTERLACE_MODE
    uint32_t aspectNumerator, aspectDenominator;
    int32_t inputStride;         // MF_MT_DEFAULT_STRIDE of the input (bytes; negative: bottom-up)
    // audio (output; the input has the same rate and channels or was refused)
    uint32_t sampleRate, channels, bitsPerSample;
    uint32_t avgBytesPerSecond;  // MF_MT_AUDIO_AVG_BYTES_PER_SECOND
    // what went through
    uint32_t samplesWritten;     // accepted by WriteSample
    uint32_t samplesRefused;     // refused by a scripted fault
    int64_t firstTime, lastTime; // 100-ns sample times as given; −1 before the first
};

struct VirtualSinkWrite {
    uint32_t stream;
    int64_t time;        // 100 ns, as given
    int64_t duration;    // 100 ns, as given (−1: none set)
    bool discontinuity;  // MFSampleExtension_Discontinuity: the first sample after a gap
};

struct VirtualSinkTick {
    uint32_t stream;
    int64_t time;  // SendStreamTick's time, 100 ns
};
constexpr uint32_t VIRTUAL_SINK_TICK_CAPACITY = 64;

struct VirtualSinkReport {
    uint32_t serial;           // 1 for the first writer of the process, 0: none created yet
    wchar_t path[VIRTUAL_SINK_PATH_CAPACITY];
    bool throttlingDisabled;   // MF_SINK_WRITER_DISABLE_THROTTLING
    bool hardwareTransforms;   // MF_READWRITE_ENABLE_HARDWARE_TRANSFORMS
    GUID containerType;        // MF_TRANSCODE_CONTAINERTYPE, GUID_NULL when not given
    bool fragmented;           // the file is written as fragmented MP4
    bool began, finalized;     // BeginWriting and Finalize succeeded
    HRESULT failure;           // the first hard failure (write error, scripted fault), S_OK
    uint32_t streamCount;
    VirtualSinkStreamReport streams[2];
    uint32_t writeCount;       // entries in `writes` (the first VIRTUAL_SINK_LOG_CAPACITY)
    VirtualSinkWrite writes[VIRTUAL_SINK_LOG_CAPACITY];
    uint32_t tickCount;        // entries in `ticks` (the first VIRTUAL_SINK_TICK_CAPACITY)
    VirtualSinkTick ticks[VIRTUAL_SINK_TICK_CAPACITY];
    uint32_t samplesHandedInAgain;      // accepted samples this writer had taken and let go of before
    uint32_t samplesHandedInWhileHeld;  // accepted samples (or their buffers) it still held
    uint64_t bytesOnDisk;      // written to the file so far
    uint32_t queued;           // samples accepted but not yet written by the worker
};

// A copy of the report of the most recently created writer (false when none was created).
// The report outlives its writer.
bool VirtualSinkLastReport(VirtualSinkReport* report);
// Waits until the most recent writer has accepted `samples` samples on `stream` or `timeoutMs`
// has passed; true when reached.
bool VirtualSinkWaitAccepted(VirtualSinkStream stream, uint32_t samples, DWORD timeoutMs);
// Substitute writers that exist now (for leak checks).
int32_t VirtualSinkWritersLive();
