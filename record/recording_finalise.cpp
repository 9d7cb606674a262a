// The end of a recording on its writer thread: the monitor stopped, the statistics logged, the
// MP4 finalised and moved into the recording folder under its dated name.
#include <windows.h>
#include <mfapi.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "base/app_messages.h"
#include "app/texts.h"
#include "base/win_owners.h"
#include "diag/log.h"
#include "diag/perf_clock.h"
#include "frames/frame_store.h"
#include "record/file_move.h"
#include "record/file_names.h"
#include "record/recording_recovery.h"
#include "record/recording_state.h"
#include "record/video_sample_pool.h"
#include "render/compositor.h"

namespace {

RecordingState& R = Recording;

constexpr DWORD MONITOR_WAIT_MS = 10000;
// The writer is gone by then; its samples come back through the work queue within moments.
constexpr DWORD SAMPLE_RETURN_WAIT_MS = 2000;
constexpr int64_t SILENCE_DURATION = 1'000'000;  // 100 ms: more than one AAC frame at either rate
constexpr int32_t FINAL_NAME_CAPACITY = 309;  // 308 units and the terminator, without a suffix

void CopyText(wchar_t* out, int32_t capacity, const wchar_t* text)
{
    swprintf(out, static_cast<size_t>(capacity), L"%ls", text);
}

void LogStatistics()
{
    AcquireSRWLockShared(&R.lock);
    const int32_t received = R.framesReceived;
    const int32_t written = R.framesWritten;
    const int32_t droppedCompositing = R.droppedCompositing;
    const int32_t droppedEncoder = R.droppedEncoder;
    const int32_t droppedSound = R.droppedSound;
    ReleaseSRWLockShared(&R.lock);
    const double elapsed = R.startSeconds > 0.0 ? PerfClockSeconds() - R.startSeconds : 0.0;
    LogWrite(LOG_EVENT, L"Aufnahme beendet: %d Frames, \u00d8 %.1f fps, verworfen: %d (Compositing), %d (Encoder)",
             written, RecordingFramesPerSecond(written, elapsed), droppedCompositing, droppedEncoder);
    // A sound gap is a loss the user should be able to find out about.
    if (droppedSound > 0)
        LogWrite(LOG_WARN, L"Aufnahme: %d Ton-Bl\u00f6cke verworfen (Schreiben zu langsam) \u2014 der Ton hat L\u00fccken",
                 droppedSound);
    // Where the writer's time went, for diagnosing a recording that keeps few frames.
    const WriterTimes& t = R.times;
    const double perFrame = t.frames > 0 ? 1000.0 / t.frames : 0.0;
    LogWrite(LOG_INFO,
             L"Aufnahme-Writer: %d Wide-Frames erhalten; je Frame Compositing %.2f ms, Zeilenkopie %.2f ms, "
             L"Sample %.2f ms, WriteSample %.2f ms",
             received, t.compose * perFrame, t.rowCopy * perFrame, t.sampleCreate * perFrame, t.writeSample * perFrame);
}

struct FinalName {
    const wchar_t* folder;
    LogTime time;
};

bool FinalNameFor(const void* context, int32_t n, wchar_t* out, int32_t capacity)
{
    const FinalName& name = *static_cast<const FinalName*>(context);
    return FinalRecordingName(name.folder, name.time, n, out, n == 1 ? FINAL_NAME_CAPACITY : capacity);
}

// Moves the finished file under the first free dated name; never replaces a file. On failure
// `error` holds the cause and the file is still whole in the temporary folder.
bool MoveIntoFolder(const wchar_t* folder, wchar_t* finalPath, int32_t capacity, DWORD* error)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    FinalName name = {folder, {}};
    static_assert(sizeof(name.time) == sizeof(now), "LogTime mirrors SYSTEMTIME");
    memcpy(&name.time, &now, sizeof(name.time));
    return FileMoveInto(R.tempFile, folder, FinalNameFor, &name, finalPath, capacity, nullptr, error);
}

// A stream that got no sample makes the writer's Finalize fail (MF_E_SINK_NO_SAMPLES_PROCESSED),
// and the pictures would be lost with it. When the microphone delivered nothing, the sound stream
// gets a short silence at the first picture's time instead: the file keeps its pictures, silent.
void WriteSilence()
{
    const uint32_t bytes = R.audioFormat.samplesPerSecond / 10 * R.audioFormat.channels * 2;
    ComOwner<IMFMediaBuffer> buffer;
    ComOwner<IMFSample> sample;
    BYTE* data = nullptr;
    HRESULT hr = MFCreateMemoryBuffer(bytes, &buffer);
    if (SUCCEEDED(hr)) hr = buffer->Lock(&data, nullptr, nullptr);
    if (SUCCEEDED(hr)) {
        memset(data, 0, bytes);
        buffer->Unlock();
        hr = buffer->SetCurrentLength(bytes);
    }
    if (SUCCEEDED(hr)) hr = MFCreateSample(&sample);
    if (SUCCEEDED(hr)) hr = sample->AddBuffer(buffer.Get());
    if (SUCCEEDED(hr)) hr = sample->SetSampleTime(0);
    if (SUCCEEDED(hr)) hr = sample->SetSampleDuration(SILENCE_DURATION);
    if (SUCCEEDED(hr)) hr = R.sinkWriter->WriteSample(R.audioStream, sample.Get());
    if (SUCCEEDED(hr))
        LogWrite(LOG_WARN, L"Aufnahme: das Mikrofon hat keinen Ton geliefert \u2014 die Tonspur enth\u00e4lt Stille");
    else  // Finalize then fails and says so; the file stays recoverable.
        LogWrite(LOG_WARN, L"Aufnahme: Stille f\u00fcr die leere Tonspur nicht schreibbar (0x%08lX)", LogHresult(hr));
}

// Tells the user that the recording stays in the temporary folder, with `why` and the file's path.
void PostTempFileWarning(const wchar_t* why)
{
    wchar_t warning[RECORDING_ENDED_TEXT_CAPACITY + 200];
    swprintf(warning, RECORDING_ENDED_TEXT_CAPACITY + 200, L"%ls\n\n%ls", why, R.tempFile);
    PostAppMessageText(WM_APP_WARNING, 0, warning);
}

// Returns whether the file was saved; `keepMarker` is set when it stays in the temporary folder
// for the next start to move.
bool SaveFinishedFile(wchar_t* text, int32_t capacity, bool* keepMarker)
{
    const wchar_t* folder = R.recordingFolder;
    if (folder[0] == L'\0') {
        LogWrite(LOG_WARN, L"Kein Aufnahmeordner gew\u00e4hlt \u2014 Datei bleibt im tempor\u00e4ren Ordner: %ls",
                 FileNamePart(R.tempFile));
        CopyText(text, capacity, R.tempFile);
        return true;
    }
    wchar_t finalPath[RECORDING_ENDED_TEXT_CAPACITY];
    DWORD error = 0;
    if (MoveIntoFolder(folder, finalPath, RECORDING_ENDED_TEXT_CAPACITY, &error)) {
        LogWrite(LOG_EVENT, L"Aufnahme gespeichert: %ls", FileNamePart(finalPath));
        CopyText(text, capacity, finalPath);
        return true;
    }
    LogWrite(LOG_ERROR, L"Aufnahme speichern fehlgeschlagen: Fehler %lu", error);
    *keepMarker = true;
    PostTempFileWarning(
        PickText(L"Aufnahme konnte nicht in den Aufnahmeordner verschoben werden (Laufwerk voll oder getrennt?). "
                 L"Die Datei liegt weiterhin im tempor\u00e4ren Ordner; MI-RU versucht beim n\u00e4chsten Start "
                 L"erneut, sie zu verschieben.",
                 L"The recording could not be moved into the recording folder (drive full or disconnected?). "
                 L"The file is still in the temporary folder; MI-RU will try again to move it at the next start."));
    CopyText(text, capacity,
             PickText(L"Verschieben fehlgeschlagen \u2014 Datei liegt im tempor\u00e4ren Ordner",
                      L"Move failed \u2014 file remains in the temporary folder"));
    return false;
}

// Frees what the recording held and empties the queues (however much sound still waits: each
// sample is taken out under the lock and released after it).
void CleanUp()
{
    CompositorDestroy(R.compositor);
    R.compositor = nullptr;
    free(R.composeBuffer);
    R.composeBuffer = nullptr;
    VideoSamplePoolClose(SAMPLE_RETURN_WAIT_MS);
    free(R.overlay);
    R.overlay = nullptr;
    R.overlayWidth = R.overlayHeight = 0;

    AcquireSRWLockExclusive(&R.lock);
    VideoPair pair = {};
    const bool hadPair = VideoMailboxTake(R.mailbox, &pair);
    R.timelineStarted = false;  // from here on no sound is queued
    R.finishRequested = false;
    ReleaseSRWLockExclusive(&R.lock);
    if (hadPair) {
        FrameRelease(pair.wide);
        FrameRelease(pair.macro);
    }
    for (;;) {
        AcquireSRWLockExclusive(&R.lock);
        void* sound = AudioQueuePop(R.audioQueue);
        ReleaseSRWLockExclusive(&R.lock);
        if (!sound) break;
        static_cast<IMFSample*>(sound)->Release();
    }

    R.audioEnabled = false;
    R.writerFailed = false;
    R.compositorUnavailable = false;
    R.tempFile[0] = L'\0';
    if (R.mfStarted) MFShutdown();
    R.mfStarted = false;
}

}  // namespace

bool RecordingFinalise(wchar_t* text, int32_t capacity)
{
    StorageMonitorStop(R.monitor, MONITOR_WAIT_MS);
    R.monitor = nullptr;
    PostAppMessageText(WM_APP_STATUS_DETAIL, 0, nullptr);
    LogStatistics();

    AcquireSRWLockShared(&R.lock);
    const int32_t written = R.framesWritten;
    ReleaseSRWLockShared(&R.lock);
    bool saved = false;
    bool keepMarker = false;
    if (written == 0) {
        R.sinkWriter->Release();
        R.sinkWriter = nullptr;
        DeleteFileW(R.tempFile);  // this recording's own, empty file
        CopyText(text, capacity, PickText(L"Keine Bilddaten aufgenommen", L"No image data recorded"));
    } else {
        if (R.audioEnabled && R.soundWritten == 0 && !R.writerFailed) WriteSilence();
        const HRESULT hr = R.sinkWriter->Finalize();
        R.sinkWriter->Release();
        R.sinkWriter = nullptr;
        if (FAILED(hr)) {
            LogWrite(LOG_ERROR, L"Aufnahme-Fehler beim Abschluss: 0x%08lX", LogHresult(hr));
            swprintf(text, static_cast<size_t>(capacity), L"%ls: 0x%08lX",
                     PickText(L"Aufnahme-Fehler beim Abschluss", L"Recording could not be finalized"), LogHresult(hr));
            // The unfinished file stays marked: the next start brings what of it plays into the
            // recording folder. The user learns where it is.
            keepMarker = true;
            PostTempFileWarning(
                PickText(L"Die Aufnahme konnte nicht abgeschlossen werden. Die unvollst\u00e4ndige Datei liegt im "
                         L"tempor\u00e4ren Ordner; MI-RU versucht beim n\u00e4chsten Start, sie in den Aufnahmeordner "
                         L"zu verschieben:",
                         L"The recording could not be finalized. The incomplete file is in the temporary folder; "
                         L"MI-RU will try to move it into the recording folder at the next start:"));
        } else {
            saved = SaveFinishedFile(text, capacity, &keepMarker);
        }
    }
    CleanUp();
    // Last: until here a crash leaves the file marked for recovery.
    if (keepMarker) RecordingMarkerKeep();
    else RecordingMarkerRemove();
    return saved;
}
