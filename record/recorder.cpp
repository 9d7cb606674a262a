#include "record/recorder.h"

#include <windows.h>
#include <mfapi.h>
#include <mferror.h>
#include <shlobj.h>

#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <ctime>

#include "base/app_messages.h"
#include "app/texts.h"
#include "base/text_copy.h"
#include "base/win_owners.h"
#include "capture/camera_control.h"
#include "diag/log.h"
#include "diag/perf_clock.h"
#include "frames/frame_store.h"
#include "record/file_names.h"
#include "record/recording_recovery.h"
#include "record/recording_state.h"
#include "record/video_sample_pool.h"
#include "record/writer_setup.h"
#include "render/compositor.h"
#include "settings/settings_store.h"

RecordingState Recording = {};

namespace {

RecordingState& R = Recording;

// Sound samples one submission lets go of at most (released outside the lock).
constexpr int32_t SOUND_DROP_BATCH = 8;

// ---- Start ----

// Under the lock: the queues and counters of a new recording.
void ResetSharedLocked()
{
    R.finishRequested = false;
    R.mailbox = VideoMailbox{};
    R.timelineStarted = false;
    AudioQueueClear(R.audioQueue);
    R.framesReceived = R.framesWritten = R.framesSinceQuery = R.droppedCompositing = R.droppedEncoder = 0;
    R.droppedSound = 0;
}

void CleanUpFailedStart()
{
    if (R.sinkWriter) R.sinkWriter->Release();
    R.sinkWriter = nullptr;
    if (R.tempFile[0]) DeleteFileW(R.tempFile);  // only ever the file this start reserved
    R.tempFile[0] = L'\0';
    if (R.mfStarted) MFShutdown();
    R.mfStarted = false;
    free(R.overlay);
    R.overlay = nullptr;
    R.overlayWidth = R.overlayHeight = 0;
    R.audioEnabled = false;
    RecordingMarkerRemove();
    AcquireSRWLockExclusive(&R.lock);
    R.busy = false;
    ReleaseSRWLockExclusive(&R.lock);
}

// "%ls\MI-RU\tmp" under the local application data folder, created when missing.
const wchar_t* MakeTempFolder()
{
    wchar_t local[MAX_PATH];
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, local)))
        return PickText(L"Tempor\u00e4rer Ordner nicht verf\u00fcgbar", L"Temporary folder unavailable");
    wchar_t appFolder[RECORDING_PATH_CAPACITY];
    const int a = swprintf(appFolder, RECORDING_PATH_CAPACITY, L"%ls\\MI-RU", local);
    const int b = swprintf(R.tempFolder, RECORDING_PATH_CAPACITY, L"%ls\\MI-RU\\tmp", local);
    const auto made = [](const wchar_t* path) {
        return CreateDirectoryW(path, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
    };
    if (a < 0 || b < 0 || !made(appFolder) || !made(R.tempFolder)) {
        R.tempFolder[0] = L'\0';
        return PickText(L"Tempor\u00e4rer Ordner konnte nicht erstellt werden", L"Temporary folder could not be created");
    }
    return nullptr;
}

// Reserves "miru-<seconds>.mp4" (or "miru-<seconds>_<n>.mp4" when taken) in the temporary
// folder by creating it empty: an earlier recording's file is never replaced.
bool ReserveTempFile()
{
    const int64_t seconds = static_cast<int64_t>(time(nullptr));
    for (int32_t n = 1; n <= FILE_NAME_MAX_TRIES; n++) {
        if (!TempRecordingName(R.tempFolder, seconds, n, R.tempFile, RECORDING_PATH_CAPACITY)) break;
        HandleOwner file{CreateFileW(R.tempFile, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)};
        if (file.Valid()) return true;
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) break;
    }
    R.tempFile[0] = L'\0';
    return false;
}

DWORD WINAPI WriterThread(void*);

// ---- Writer thread ----

void PostStopRequest()
{
    if (HWND window = AppWindow()) PostMessageW(window, WM_APP_STOP_RECORDING, 0, 0);
}

// A write the sink writer refused for good: the drive's failure or the encoder's, told as such.
// What was written so far is finalised and kept either way.
void ReportWriterFailure(HRESULT hr)
{
    R.writerFailed = true;
    LogWrite(LOG_ERROR, L"Aufnahme-Writer fehlgeschlagen: 0x%08lX", LogHresult(hr));
    PostAppMessageText(WM_APP_WARNING, 0,
                       RecordingFailureIsDrive(LogHresult(hr))
                           ? PickText(L"Aufnahme fehlgeschlagen \u2014 Laufwerk getrennt oder Schreibfehler. Die Datei ist "
                                      L"voraussichtlich unbrauchbar.",
                                      L"Recording failed \u2014 drive disconnected or write error. The file is most likely "
                                      L"unusable.")
                           : PickText(L"Aufnahme beendet \u2014 der Video-Encoder ist ausgefallen. Das bisher "
                                      L"Aufgenommene wird aufbewahrt.",
                                      L"Recording stopped \u2014 the video encoder failed. What was recorded so far is "
                                      L"kept."));
    PostStopRequest();
}

// The graphics device is gone for good: the recording ends through the writer's failure path,
// but what was written so far is finalised as usual.
void ReportGraphicsFailure()
{
    R.writerFailed = true;
    LogWrite(LOG_ERROR, L"Aufnahme: Grafikger\u00e4t verloren und nicht wiederherstellbar \u2014 Aufnahme wird beendet");
    PostAppMessageText(WM_APP_WARNING, 0,
                       PickText(L"Aufnahme beendet \u2014 die Grafikausgabe ist ausgefallen. Das bisher Aufgenommene "
                                L"wird gespeichert.",
                                L"Recording stopped \u2014 the graphics output failed. What was recorded so far is "
                                L"being saved."));
    PostStopRequest();
}

// Every picture for 5 s failed or was dropped: the recording ends, and what it holds is saved.
void ReportNothingRecorded(PictureOutcome cause)
{
    const bool graphics = cause == PictureOutcome::GraphicsFailed;
    LogWrite(LOG_ERROR, L"Aufnahme: seit 5 s kein Bild aufgenommen (%ls) \u2014 Aufnahme wird beendet",
             graphics ? L"Grafikausgabe ausgefallen" : L"Encoder ausgefallen");
    PostAppMessageText(
        WM_APP_WARNING, 0,
        graphics ? PickText(L"Aufnahme beendet \u2014 seit 5 Sekunden konnte kein Bild aufgenommen werden, weil die "
                            L"Grafikausgabe ausgefallen ist. Das bisher Aufgenommene wird gespeichert.",
                            L"Recording stopped \u2014 for 5 seconds no picture could be recorded because the graphics "
                            L"output failed. What was recorded so far is being saved.")
                 : PickText(L"Aufnahme beendet \u2014 seit 5 Sekunden konnte kein Bild aufgenommen werden, weil der "
                            L"Encoder ausgefallen ist oder nicht nachkommt. Das bisher Aufgenommene wird gespeichert.",
                            L"Recording stopped \u2014 for 5 seconds no picture could be recorded because the encoder "
                            L"failed or could not keep up. What was recorded so far is being saved."));
    PostStopRequest();
}

void RunDropCheck()
{
    AcquireSRWLockShared(&R.lock);
    const int32_t drops = R.droppedCompositing + R.droppedEncoder;
    ReleaseSRWLockShared(&R.lock);
    const DropWarning warning = DropCheck(R.dropWindow, PerfClockSeconds(), drops);
    if (warning.warn)
        LogWrite(LOG_WARN, L"Aufnahme verwirft Frames (%d in 5 s bei %d geschrieben) \u2014 Aufnahme kann ruckeln",
                 warning.drops, warning.written);
}

// Counts a picture that did not get into the file; returns why.
PictureOutcome CountDrop(int32_t RecordingState::*counter, PictureOutcome why)
{
    AcquireSRWLockExclusive(&R.lock);
    R.*counter += 1;
    ReleaseSRWLockExclusive(&R.lock);
    RunDropCheck();
    return why;
}

// A failed composition: once per streak logged; a lost device gets a new compositor, and when
// none can be made the recording ends.
void HandleComposeFailure()
{
    if (!R.composeFailing) {
        R.composeFailing = true;
        LogWrite(LOG_WARN, L"Aufnahme: Compositing fehlgeschlagen \u2014 Frames werden verworfen");
    }
    ID3D11Device* device = R.compositor ? R.compositor->d3dDevice : nullptr;
    if (!device || SUCCEEDED(device->GetDeviceRemovedReason())) return;
    CompositorDestroy(R.compositor);
    R.compositor = CompositorCreate(R.width, R.height);
    if (R.compositor) {
        LogWrite(LOG_EVENT, L"Aufnahme: Grafikger\u00e4t verloren \u2014 Compositor neu erstellt");
        return;
    }
    R.compositorUnavailable = true;
    ReportGraphicsFailure();
}

bool EncoderBehind()
{
    MF_SINK_WRITER_STATISTICS stats = {};
    stats.cb = sizeof(stats);
    if (FAILED(R.sinkWriter->GetStatistics(R.videoStream, &stats))) return false;  // no backlog known
    return EncoderBacklogFull(stats.llLastTimestampReceived, stats.llLastTimestampProcessed);
}

// The composed frame as a bottom-up RGB32 sample (the negative stride the input type names).
HRESULT MakeVideoSample(int64_t time, int64_t duration, IMFSample** out)
{
    const DWORD rowBytes = static_cast<DWORD>(R.width) * 4;
    const DWORD size = rowBytes * static_cast<DWORD>(R.height);
    const double t0 = PerfClockSeconds();
    ComOwner<IMFSample> sample;
    ComOwner<IMFMediaBuffer> buffer;
    HRESULT hr = VideoSamplePoolTake(size, &sample, &buffer);
    BYTE* data = nullptr;
    if (SUCCEEDED(hr)) hr = buffer->Lock(&data, nullptr, nullptr);
    const double t1 = PerfClockSeconds();
    if (SUCCEEDED(hr)) {
        for (int32_t row = 0; row < R.height; row++)
            memcpy(data + static_cast<size_t>(R.height - 1 - row) * rowBytes,
                   R.composeBuffer + static_cast<size_t>(row) * rowBytes, rowBytes);
        buffer->Unlock();
        hr = buffer->SetCurrentLength(size);
    }
    const double t2 = PerfClockSeconds();
    if (SUCCEEDED(hr)) hr = sample->SetSampleTime(time);
    if (SUCCEEDED(hr)) hr = sample->SetSampleDuration(duration);
    R.times.rowCopy += t2 - t1;
    R.times.sampleCreate += (t1 - t0) + (PerfClockSeconds() - t2);
    if (SUCCEEDED(hr)) *out = sample.Detach();
    return hr;
}

// Sound that stays away while pictures go on (a microphone that failed or fell silent) is told
// to the writer while it lasts, a tick at least every second, as "IMFSinkWriter::SendStreamTick"
// asks, so that it need not wait for it.
void TellMissingSound(int64_t pictureTime)
{
    int64_t tick = 0;
    // Why a refused tick is ignored: it only informs the writer.
    for (int32_t n = 0; R.audioEnabled && n < RECORDING_SOUND_TICKS_MAX && SoundLineTickDue(R.soundLine, pictureTime, &tick); n++)
        R.sinkWriter->SendStreamTick(R.audioStream, tick);
}

// Composes and writes one picture.
PictureOutcome WriteVideo(const VideoPair& pair)
{
    if (!R.sinkWriter || R.writerFailed) return PictureOutcome::NotTried;
    if (!R.compositor) {
        if (R.compositorUnavailable)
            return CountDrop(&RecordingState::droppedCompositing, PictureOutcome::GraphicsFailed);
        R.compositor = CompositorCreate(R.width, R.height);
        R.composeBuffer = static_cast<uint8_t*>(malloc(static_cast<size_t>(R.width) * R.height * 4));
        if (!R.compositor || !R.composeBuffer) {
            CompositorDestroy(R.compositor);
            R.compositor = nullptr;
            free(R.composeBuffer);
            R.composeBuffer = nullptr;
            R.compositorUnavailable = true;
            LogWrite(LOG_ERROR,
                     L"Aufnahme: Offscreen-Compositor konnte nicht erstellt werden \u2014 Frames werden verworfen");
            return CountDrop(&RecordingState::droppedCompositing, PictureOutcome::GraphicsFailed);
        }
    }
    if (R.baseTimestamp < 0) {
        // The first pair sets the time base, even when it fails to compose.
        R.baseTimestamp = pair.timestamp;
        R.startSeconds = PerfClockSeconds();
        AcquireSRWLockExclusive(&R.lock);
        R.timelineStarted = true;
        ReleaseSRWLockExclusive(&R.lock);
    }
    // An encoder more than a second behind gets no new frame; deciding before the composition
    // leaves the processor to the encoder.
    if (EncoderBehind()) return CountDrop(&RecordingState::droppedEncoder, PictureOutcome::EncoderFailed);
    const double composeStart = PerfClockSeconds();
    const bool composed = CompositorCompose(R.compositor, pair.wide, pair.macro, pair.pipFraction, R.overlay,
                                            R.overlayWidth, R.overlayHeight, R.composeBuffer, R.width * 4);
    const double composeSeconds = PerfClockSeconds() - composeStart;
    if (!composed) {
        HandleComposeFailure();
        return CountDrop(&RecordingState::droppedCompositing, PictureOutcome::GraphicsFailed);
    }
    R.composeFailing = false;

    ComOwner<IMFSample> sample;
    HRESULT hr = MakeVideoSample(pair.timestamp - R.baseTimestamp,
                                 RecordingFrameDuration(R.lastTimestamp, pair.timestamp), &sample);
    if (SUCCEEDED(hr)) {
        const double writeStart = PerfClockSeconds();
        hr = R.sinkWriter->WriteSample(R.videoStream, sample.Get());
        R.times.writeSample += PerfClockSeconds() - writeStart;
        R.times.compose += composeSeconds;
        R.times.frames++;
    }
    if (SUCCEEDED(hr)) {
        AcquireSRWLockExclusive(&R.lock);
        R.framesWritten++;
        R.framesSinceQuery++;
        ReleaseSRWLockExclusive(&R.lock);
        R.dropWindow.written++;
        R.lastTimestamp = pair.timestamp;
        TellMissingSound(pair.timestamp - R.baseTimestamp);
        RunDropCheck();
        return PictureOutcome::Written;
    }
    if (hr == MF_E_NOTACCEPTING || hr == E_OUTOFMEMORY)
        return CountDrop(&RecordingState::droppedEncoder, PictureOutcome::EncoderFailed);
    if (!R.writerFailed) ReportWriterFailure(hr);
    return PictureOutcome::NotTried;
}

// One picture from the mailbox, and the stop of a recording in which none gets through.
void HandleVideo(const VideoPair& pair)
{
    const PictureOutcome outcome = WriteVideo(pair);
    // After a failure the writer reported (and stops for) a second report would only repeat it.
    if (R.writerFailed) return;
    if (NothingRecordedCheck(R.nothingRecorded, pair.timestamp, outcome)) ReportNothingRecorded(outcome);
}

// A sound sample on the recording's time line. A gap before it (dropped blocks, a microphone that
// paused or failed) is told to the writer as "IMFSinkWriter::SendStreamTick" asks: a tick at the
// gap's start and at least one a second through it, and the sample after it marked as the first
// after a discontinuity. The sample keeps its own time, so the sound stays with the picture.
void WriteSound(IMFSample* sample)
{
    LONGLONG time = 0;
    DWORD bytes = 0;
    if (R.sinkWriter && !R.writerFailed && R.audioEnabled && R.baseTimestamp >= 0 &&
        SUCCEEDED(sample->GetSampleTime(&time)) && time - R.baseTimestamp >= 0 && SUCCEEDED(sample->GetTotalLength(&bytes))) {
        time -= R.baseTimestamp;
        const SoundGap gap = SoundLineGap(R.soundLine, time);
        // Why a refused tick is ignored: it only informs the writer; the sample's own time keeps
        // the sound in place.
        for (int32_t i = 0; i < gap.ticks; i++)
            R.sinkWriter->SendStreamTick(R.audioStream, gap.firstTick + i * RECORDING_SOUND_TICK_SPACING);
        if (gap.found) sample->SetUINT32(MFSampleExtension_Discontinuity, TRUE);
        sample->SetSampleTime(time);
        const HRESULT hr = R.sinkWriter->WriteSample(R.audioStream, sample);
        if (SUCCEEDED(hr)) {
            SoundLineWritten(R.soundLine, time, RecordingSoundDuration(bytes, R.audioFormat));
            R.soundWritten++;
        } else if (hr != MF_E_NOTACCEPTING && !R.writerFailed) {
            ReportWriterFailure(hr);
        }
    }
    sample->Release();
}

DWORD WINAPI WriterThread(void*)
{
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(com)) LogWrite(LOG_WARN, L"Aufnahme: COM-Initialisierung fehlgeschlagen (0x%08lX)", LogHresult(com));
    for (;;) {
        AcquireSRWLockExclusive(&R.lock);
        // Sound is always served before a waiting picture.
        if (void* sound = AudioQueuePop(R.audioQueue)) {
            ReleaseSRWLockExclusive(&R.lock);
            WriteSound(static_cast<IMFSample*>(sound));
            continue;
        }
        VideoPair pair = {};
        if (VideoMailboxTake(R.mailbox, &pair)) {
            ReleaseSRWLockExclusive(&R.lock);
            HandleVideo(pair);
            FrameRelease(pair.wide);
            FrameRelease(pair.macro);
            continue;
        }
        if (R.finishRequested) {
            ReleaseSRWLockExclusive(&R.lock);
            break;
        }
        SleepConditionVariableSRW(&R.wake, &R.lock, INFINITE, 0);
        ReleaseSRWLockExclusive(&R.lock);
    }
    wchar_t text[RECORDING_ENDED_TEXT_CAPACITY];
    const bool saved = RecordingFinalise(text, RECORDING_ENDED_TEXT_CAPACITY);
    if (SUCCEEDED(com)) CoUninitialize();
    // Only now may a new recording start; the main window learns of the end afterwards, so
    // its next start is never refused as "still finishing".
    AcquireSRWLockExclusive(&R.lock);
    R.busy = false;
    ReleaseSRWLockExclusive(&R.lock);
    if (!PostAppMessageText(WM_APP_RECORDING_ENDED, saved ? 1 : 0, text))
        // Without its text (no memory for the copy) the end must still arrive, or the main
        // window would stay "stopping"; the log has said what became of the file.
        PostAppMessageText(WM_APP_RECORDING_ENDED, saved ? 1 : 0, nullptr);
    return 0;
}

}  // namespace

const wchar_t* RecordingStart(int32_t width, int32_t height, bool withSound, const uint8_t* overlay,
                              int32_t overlayWidth, int32_t overlayHeight)
{
    AcquireSRWLockExclusive(&R.lock);
    if (R.active) {
        ReleaseSRWLockExclusive(&R.lock);
        return nullptr;
    }
    if (R.busy) {
        ReleaseSRWLockExclusive(&R.lock);
        return PickText(L"Aufnahme wird noch abgeschlossen", L"Previous recording is still finishing");
    }
    R.busy = true;
    const HANDLE previousThread = R.writerThread;  // has ended its work (busy was clear)
    R.writerThread = nullptr;
    ReleaseSRWLockExclusive(&R.lock);
    if (previousThread) CloseHandle(previousThread);

    R.tempFile[0] = L'\0';
    if (!RecordingSizeValid(width, height)) {
        CleanUpFailedStart();
        return PickText(L"Ung\u00fcltige Aufnahmegr\u00f6\u00dfe", L"Invalid recording size");
    }
    if (const wchar_t* error = MakeTempFolder()) {
        CleanUpFailedStart();
        return error;
    }
    if (!ReserveTempFile()) {
        CleanUpFailedStart();
        return PickText(L"Tempor\u00e4rer Ordner konnte nicht erstellt werden", L"Temporary folder could not be created");
    }
    const HRESULT started = MFStartup(MF_VERSION, MFSTARTUP_FULL);
    if (FAILED(started)) {
        LogWrite(LOG_ERROR, L"Media Foundation konnte nicht gestartet werden (0x%08lX)", LogHresult(started));
        CleanUpFailedStart();
        return PickText(L"Media Foundation konnte nicht gestartet werden", L"Media Foundation could not be started");
    }
    R.mfStarted = true;
    ComOwner<IMFMediaType> microphone(withSound ? CaptureAcquireAudioMediaType() : nullptr);
    OpenedWriter opened = {};
    if (const wchar_t* error = WriterSetUp(R.tempFile, width, height, withSound, microphone.Get(), &opened, R.errorText,
                                           RECORDING_ERROR_CAPACITY)) {
        CleanUpFailedStart();
        return error;
    }
    R.sinkWriter = opened.writer;
    R.videoStream = opened.videoStream;
    R.audioStream = opened.audioStream;
    R.audioEnabled = opened.sound;
    R.audioFormat = opened.format;
    if (overlay && overlayWidth >= 1 && overlayHeight >= 1) {
        const size_t bytes = static_cast<size_t>(overlayWidth) * static_cast<size_t>(overlayHeight) * 4;
        R.overlay = static_cast<uint8_t*>(malloc(bytes));
        if (R.overlay) {
            memcpy(R.overlay, overlay, bytes);
            R.overlayWidth = overlayWidth;
            R.overlayHeight = overlayHeight;
        } else {
            LogWrite(LOG_WARN, L"Aufnahme: kein Speicher f\u00fcr Wasserzeichen-Overlay \u2014 Aufnahme ohne Einblendung");
        }
    }
    R.width = width;
    R.height = height;
    R.baseTimestamp = R.lastTimestamp = -1;
    R.writerFailed = R.compositorUnavailable = R.composeFailing = false;
    R.startSeconds = 0.0;
    R.dropWindow = DropWindow{};
    R.nothingRecorded = NothingRecordedWatch{};
    R.soundLine = SoundLine{};
    R.soundWritten = 0;
    R.times = WriterTimes{};
    // The folder as it is now: a change in the settings applies to the next recording.
    CopyTextCut(R.recordingFolder, SETTINGS_FOLDER_CAPACITY, Settings.recordingFolder);
    AcquireSRWLockExclusive(&R.lock);
    ResetSharedLocked();
    const uint32_t generation = ++R.generation;
    ReleaseSRWLockExclusive(&R.lock);

    RecordingMarkerCreate(R.tempFile);
    const HANDLE thread = CreateThread(nullptr, 0, WriterThread, nullptr, 0, nullptr);
    if (!thread) {
        LogWrite(LOG_ERROR, L"Aufnahme-Thread konnte nicht gestartet werden (Fehler %lu)", GetLastError());
        CleanUpFailedStart();
        return PickText(L"Aufnahme-Thread konnte nicht gestartet werden", L"Recording thread could not be started");
    }
    AcquireSRWLockExclusive(&R.lock);
    R.writerThread = thread;
    R.active = true;
    ReleaseSRWLockExclusive(&R.lock);
    R.highRes = width > 2559;
    R.monitor = StorageMonitorStart(generation, R.highRes, R.tempFolder, R.tempFile, R.recordingFolder);
    return nullptr;
}

void RecordingRequestStop()
{
    AcquireSRWLockExclusive(&R.lock);
    const bool stop = R.active && !R.finishRequested;
    if (stop) {
        R.active = false;
        R.finishRequested = true;
    }
    ReleaseSRWLockExclusive(&R.lock);
    if (stop) WakeConditionVariable(&R.wake);
}

bool RecordingIsActive()
{
    AcquireSRWLockShared(&R.lock);
    const bool active = R.active;
    ReleaseSRWLockShared(&R.lock);
    return active;
}

int32_t RecordingTakeWrittenCount()
{
    AcquireSRWLockExclusive(&R.lock);
    const int32_t count = R.framesSinceQuery;
    R.framesSinceQuery = 0;
    ReleaseSRWLockExclusive(&R.lock);
    return count;
}

void RecordingSubmitVideo(Frame* wide, Frame* macro, float pipFraction, int64_t timestamp)
{
    if (!wide) return;
    AcquireSRWLockExclusive(&R.lock);
    if (!R.active) {
        ReleaseSRWLockExclusive(&R.lock);
        return;
    }
    R.framesReceived++;
    FrameRetain(wide);
    if (macro) FrameRetain(macro);
    VideoPair displaced = {};
    const bool dropped = VideoMailboxPut(R.mailbox, VideoPair{wide, macro, pipFraction, timestamp}, &displaced);
    if (dropped) R.droppedCompositing++;
    ReleaseSRWLockExclusive(&R.lock);
    WakeConditionVariable(&R.wake);
    if (dropped) {
        FrameRelease(displaced.wide);
        FrameRelease(displaced.macro);
    }
}

void RecordingSubmitAudio(IMFSample* sample)
{
    if (!sample) return;
    // Unknown values stay 0: the queue then guesses the duration (a sample without a time is
    // never written anyway).
    LONGLONG time = 0, duration = 0;
    sample->GetSampleTime(&time);
    sample->GetSampleDuration(&duration);
    void* dropped[SOUND_DROP_BATCH];
    int32_t droppedCount = 0;
    AcquireSRWLockExclusive(&R.lock);
    if (!R.active || !R.audioEnabled || !R.timelineStarted) {
        ReleaseSRWLockExclusive(&R.lock);
        return;
    }
    sample->AddRef();
    if (void* displaced = AudioQueuePush(R.audioQueue, sample, time, duration)) dropped[droppedCount++] = displaced;
    // A sample far longer than the ones queued may leave more excess than one submission lets
    // go of; the next submissions take the rest.
    while (droppedCount < SOUND_DROP_BATCH) {
        void* excess = AudioQueueTakeExcess(R.audioQueue);
        if (!excess) break;
        dropped[droppedCount++] = excess;
    }
    R.droppedSound += droppedCount;
    ReleaseSRWLockExclusive(&R.lock);
    WakeConditionVariable(&R.wake);
    for (int32_t i = 0; i < droppedCount; i++) static_cast<IMFSample*>(dropped[i])->Release();
}

bool RecordingWaitForShutdown(uint32_t timeoutMs)
{
    RecordingRequestStop();
    AcquireSRWLockExclusive(&R.lock);
    const HANDLE thread = R.writerThread;
    R.writerThread = nullptr;
    ReleaseSRWLockExclusive(&R.lock);
    if (!thread) return true;
    const bool ended = WaitForSingleObject(thread, timeoutMs) == WAIT_OBJECT_0;
    if (!ended) LogWrite(LOG_WARN, L"Aufnahme-Thread endet nicht rechtzeitig \u2014 Programm wird trotzdem beendet");
    CloseHandle(thread);
    return ended;
}
