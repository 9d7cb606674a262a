// The end of a recording on its writer thread: the monitor stopped, the statistics logged, the
// MP4 finalised and moved into the recording folder under its dated name.
#include <windows.h>
#include <mfapi.h>

#include <cstdlib>
#include <cwchar>

#include "base/app_messages.h"
#include "app/texts.h"
#include "diag/log.h"
#include "diag/perf_clock.h"
#include "frames/frame_store.h"
#include "record/file_names.h"
#include "record/recording_recovery.h"
#include "record/recording_state.h"
#include "render/compositor.h"
#include "settings/settings_store.h"

namespace {

RecordingState& R = Recording;

constexpr DWORD MONITOR_WAIT_MS = 10000;
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

bool NameTaken(DWORD error)
{
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
}

bool FileExists(const wchar_t* path)
{
    return GetFileAttributesW(path) != INVALID_FILE_ATTRIBUTES;
}

// Moves the finished file under the first free dated name; never replaces a file. On failure
// `error` holds the cause and the file is still in the temporary folder.
bool MoveIntoFolder(const wchar_t* folder, wchar_t* finalPath, int32_t capacity, DWORD* error)
{
    SYSTEMTIME now;
    GetLocalTime(&now);
    LogTime time;
    static_assert(sizeof(time) == sizeof(now), "LogTime mirrors SYSTEMTIME");
    memcpy(&time, &now, sizeof(time));
    *error = ERROR_FILENAME_EXCED_RANGE;
    for (int32_t n = 1; n <= FILE_NAME_MAX_TRIES; n++) {
        const int32_t limit = n == 1 ? FINAL_NAME_CAPACITY : capacity;
        if (!FinalRecordingName(folder, time, n, finalPath, limit)) return false;
        // Write-through: the move (a copy across volumes) is on the disk when it reports success.
        if (MoveFileExW(R.tempFile, finalPath, MOVEFILE_COPY_ALLOWED | MOVEFILE_WRITE_THROUGH)) return true;
        *error = GetLastError();
        if (NameTaken(*error)) continue;
        // A copy across volumes that failed half way leaves a partial file under the new name
        // while ours is still whole in the temporary folder: only that partial copy is removed.
        if (FileExists(R.tempFile) && FileExists(finalPath)) DeleteFileW(finalPath);
        return false;
    }
    return false;
}

// Tells the user that the recording stays in the temporary folder, with `why` and the file's path.
void PostTempFileWarning(const wchar_t* why)
{
    wchar_t warning[RECORDING_ENDED_TEXT_CAPACITY + 200];
    swprintf(warning, RECORDING_ENDED_TEXT_CAPACITY + 200, L"%ls\n\n%ls", why, R.tempFile);
    PostAppMessageText(WM_APP_WARNING, 0, warning);
}

bool SaveFinishedFile(wchar_t* text, int32_t capacity)
{
    wchar_t folder[SETTINGS_FOLDER_CAPACITY];
    CopyText(folder, SETTINGS_FOLDER_CAPACITY, Settings.recordingFolder);
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
    PostTempFileWarning(
        PickText(L"Aufnahme konnte nicht in den Aufnahmeordner verschoben werden (Laufwerk voll oder getrennt?). "
                 L"Die Datei liegt weiterhin im tempor\u00e4ren Ordner.",
                 L"The recording could not be moved into the recording folder (drive full or disconnected?). "
                 L"The file is still in the temporary folder."));
    CopyText(text, capacity,
             PickText(L"Verschieben fehlgeschlagen \u2014 Datei liegt im tempor\u00e4ren Ordner",
                      L"Move failed \u2014 file remains in the temporary folder"));
    return false;
}

// Frees what the recording held and empties the queues.
void CleanUp()
{
    CompositorDestroy(R.compositor);
    R.compositor = nullptr;
    free(R.composeBuffer);
    R.composeBuffer = nullptr;
    for (IMFMediaBuffer*& buffer : R.bufferPool) {
        if (buffer) buffer->Release();
        buffer = nullptr;
    }
    free(R.overlay);
    R.overlay = nullptr;
    R.overlayWidth = R.overlayHeight = 0;

    AcquireSRWLockExclusive(&R.lock);
    VideoPair pair = {};
    const bool hadPair = VideoMailboxTake(R.mailbox, &pair);
    void* sounds[RECORDING_AUDIO_QUEUE_CAPACITY];
    int32_t soundCount = 0;
    while (void* sound = AudioQueuePop(R.audioQueue)) sounds[soundCount++] = sound;
    R.timelineStarted = false;
    R.finishRequested = false;
    ReleaseSRWLockExclusive(&R.lock);
    if (hadPair) {
        FrameRelease(pair.wide);
        FrameRelease(pair.macro);
    }
    for (int32_t i = 0; i < soundCount; i++) static_cast<IMFSample*>(sounds[i])->Release();

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
    if (written == 0) {
        R.sinkWriter->Release();
        R.sinkWriter = nullptr;
        DeleteFileW(R.tempFile);  // this recording's own, empty file
        CopyText(text, capacity, PickText(L"Keine Bilddaten aufgenommen", L"No image data recorded"));
    } else {
        const HRESULT hr = R.sinkWriter->Finalize();
        R.sinkWriter->Release();
        R.sinkWriter = nullptr;
        if (FAILED(hr)) {
            LogWrite(LOG_ERROR, L"Aufnahme-Fehler beim Abschluss: 0x%08lX", LogHresult(hr));
            swprintf(text, static_cast<size_t>(capacity), L"%ls: 0x%08lX",
                     PickText(L"Aufnahme-Fehler beim Abschluss", L"Recording could not be finalized"), LogHresult(hr));
            // The unfinished file stays; the user learns where it is.
            PostTempFileWarning(
                PickText(L"Die Aufnahme konnte nicht abgeschlossen werden. Die unvollst\u00e4ndige Datei liegt im "
                         L"tempor\u00e4ren Ordner:",
                         L"The recording could not be finalized. The incomplete file is in the temporary folder:"));
        } else {
            saved = SaveFinishedFile(text, capacity);
        }
    }
    CleanUp();
    RecordingMarkerRemove();  // last: until here a crash leaves the file marked for recovery
    return saved;
}
