#pragma once
// One capture reader: a Media Foundation source reader in asynchronous mode with the callback
// object that receives its samples. Camera samples become Frames (published for Wide and Macro,
// kept for the preview), microphone samples feed the level meter; both go to the recorder
// while a recording runs. Each callback asks for the next sample until the reader is stopped.
#include <windows.h>
#include <mfidl.h>
#include <mfreadwrite.h>

#include <atomic>
#include <cstdint>

#include "capture/stream_clock.h"
#include "diag/log_streak.h"

struct Frame;

enum : int32_t {
    READER_ROLE_WIDE = 0,
    READER_ROLE_MACRO = 1,
    READER_ROLE_MICROPHONE = 2,
    READER_ROLE_PREVIEW = 3,
};

struct CaptureReader final : IMFSourceReaderCallback {
    std::atomic<LONG> refCount{1};  // the creator's reference plus Media Foundation's
    int32_t role = 0;
    std::atomic<LONG> reading{0};           // samples are wanted
    std::atomic<LONG> callbacksInside{0};   // sample callbacks running in this object's code
    std::atomic<LONG> errorReported{0};     // one stream error per reader
    std::atomic<LONG> tooSmallReported{0};  // one undersized-frame warning per reader
    // Guards `sourceReader` while a callback uses it (shared: the request for the next sample, a
    // format re-read) against the stop that takes it away (exclusive). Nothing is posted, logged
    // or freed under it.
    SRWLOCK readerLock = SRWLOCK_INIT;
    IMFSourceReader* sourceReader = nullptr;  // owned
    HANDLE flushEvent = nullptr;              // manual reset, set by OnFlush
    // Output format; written at opening and by the reader's own callbacks (which never overlap).
    int32_t frameWidth = 0;
    int32_t frameHeight = 0;
    int32_t defaultStride = 0;  // bytes; negative for bottom-up images (the format's default when not given)
    bool audioIsFloat = false;
    uint32_t audioBitsPerSample = 0;
    // This reader's sample times on the process clock; used only by its own callbacks.
    StreamClock clock = {};
    LogStreak frameFailures = {};  // FrameCreate's failures; used only by its own callbacks
    // Guards `previewFrame` (preview reader only); held only to swap or retain the pointer.
    SRWLOCK previewLock = SRWLOCK_INIT;
    Frame* previewFrame = nullptr;  // the newest preview Frame; the reader holds its reference

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE OnReadSample(HRESULT status, DWORD streamIndex, DWORD flags, LONGLONG timestamp,
                                           IMFSample* sample) override;
    HRESULT STDMETHODCALLTYPE OnFlush(DWORD streamIndex) override;
    HRESULT STDMETHODCALLTYPE OnEvent(DWORD streamIndex, IMFMediaEvent* event) override;
};

// Opens a camera (role 0, 1 or 3) by symbolic link in the native format closest to 1920 × 1080
// at about 30 per second, delivering RGB32. `name` names the camera in log lines (null: the id).
HRESULT CaptureReaderOpen(int32_t role, const wchar_t* id, const wchar_t* name, CaptureReader** out);
// Opens a microphone by endpoint id, delivering 16-bit PCM at 48000 Hz (44100 Hz where the
// reader refuses that) with one or two channels; PCM of the device's own format when the
// reader refuses both.
HRESULT CaptureMicrophoneOpen(const wchar_t* endpointId, const wchar_t* name, CaptureReader** out);
// Asks for the first sample.
HRESULT CaptureReaderStart(CaptureReader* reader);
// Takes the reader out of `*slot` (null afterwards), stops its samples, waits for the flush and
// for sample callbacks still inside (both bounded) and releases it. A callback that comes or
// goes on after the stop began publishes nothing and hands nothing to the recorder. A null slot
// content does nothing.
void CaptureReaderStop(CaptureReader** slot);

// Reader objects alive in the process (leak checks).
int32_t CaptureReaderLiveCount();
