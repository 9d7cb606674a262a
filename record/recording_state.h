#pragma once
// The recorder's one static record, shared by the recorder, its finalisation and the storage
// monitor (record/ only).
#include <windows.h>
#include <mfidl.h>
#include <mfreadwrite.h>

#include <cstdint>

#include "record/recording_rules.h"
#include "settings/settings_record.h"

struct OffscreenCompositor;
struct StorageMonitor;

constexpr int32_t RECORDING_PATH_CAPACITY = 260;
constexpr int32_t RECORDING_ERROR_CAPACITY = 128;
// A saved file's path or a failure text, as WM_APP_RECORDING_ENDED carries it.
constexpr int32_t RECORDING_ENDED_TEXT_CAPACITY = 400;

// Where the writer thread's time per video frame goes (seconds, summed over the recording).
struct WriterTimes {
    int32_t frames;
    double compose;
    double rowCopy;
    double sampleCreate;
    double writeSample;
};

struct RecordingState {
    // Guarded by `lock` (held only to move pointers and counters, never while composing,
    // encoding, touching files, posting or releasing Frames and samples); `wake` has the writer
    // as its one waiter. The storage monitor takes it shared to read `active` and `generation`.
    SRWLOCK lock;
    CONDITION_VARIABLE wake;
    bool active;
    bool busy;
    bool finishRequested;
    bool timelineStarted;
    VideoMailbox mailbox;
    AudioQueue audioQueue;  // up to about 10 s of sound waiting for the writer
    int32_t framesReceived;  // Wide frames handed in while active
    int32_t framesWritten;
    int32_t framesSinceQuery;
    int32_t droppedCompositing;
    int32_t droppedEncoder;
    int32_t droppedSound;  // sound samples dropped beyond the queue's bound
    uint32_t generation;  // counts recordings; a left-behind monitor compares it
    HANDLE writerThread;  // kept until the next start or the shutdown wait

    // Set by RecordingStart (UI thread) before the writer thread starts, then used only by the
    // writer thread (which also runs the finalisation).
    int32_t width;
    int32_t height;
    IMFSinkWriter* sinkWriter;
    DWORD videoStream;
    DWORD audioStream;
    bool audioEnabled;
    AudioTrackFormat audioFormat;  // the sound stream's PCM input
    SoundLine soundLine;           // where the next sound sample is expected
    int32_t soundWritten;          // sound samples the writer took
    uint8_t* overlay;
    int32_t overlayWidth;
    int32_t overlayHeight;
    OffscreenCompositor* compositor;
    uint8_t* composeBuffer;
    bool compositorUnavailable;
    bool composeFailing;  // inside a streak of failed compositions (logged once)
    bool writerFailed;
    int64_t baseTimestamp;
    int64_t lastTimestamp;
    double startSeconds;
    DropWindow dropWindow;
    NothingRecordedWatch nothingRecorded;
    bool mfStarted;
    bool highRes;
    wchar_t tempFolder[RECORDING_PATH_CAPACITY];
    wchar_t tempFile[RECORDING_PATH_CAPACITY];
    // The recording folder setting as it was at the start; the monitor has its own copy. A
    // change in the settings applies to the next recording.
    wchar_t recordingFolder[SETTINGS_FOLDER_CAPACITY];
    StorageMonitor* monitor;
    wchar_t errorText[RECORDING_ERROR_CAPACITY];
    WriterTimes times;
};

extern RecordingState Recording;

// The writer thread's end of a recording (record/recording_finalise.cpp): stops the monitor,
// finalises and moves the file, frees the recording's resources. Returns what
// WM_APP_RECORDING_ENDED reports (saved, and the path or the failure text in `text`); the
// caller posts it once the recording is no longer busy.
bool RecordingFinalise(wchar_t* text, int32_t capacity);

// The storage monitor (record/storage_monitor.cpp), started by RecordingStart; null when it
// could not be started (logged). It works on its own copies of the names.
StorageMonitor* StorageMonitorStart(uint32_t generation, bool highRes, const wchar_t* tempFolder, const wchar_t* tempFile,
                                    const wchar_t* recordingFolder);
// Signals the monitor and waits up to `timeoutMs` for it, then lets go of it; a monitor that
// does not end in time is left behind and cannot touch a later recording. Null does nothing.
void StorageMonitorStop(StorageMonitor* monitor, DWORD timeoutMs);
