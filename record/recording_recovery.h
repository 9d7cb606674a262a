#pragma once
// Recordings that survive a crash, a power cut or a killed process. While a recording runs, a
// marker file beside its temporary file says so (held open, so no one takes it for a leftover);
// its finalisation removes it as the last step, or leaves it when the file could not be
// finalised or moved. At the next start every marked leftover is moved into the recording folder
// under the dated name of its start time with "-wiederhergestellt" — never deleted, never
// overwriting anything — and the user is told once. A copy to another drive that broke off
// (its staging file in the recording folder) goes only while its source is still whole.
#include <cstdint>

// The recording's side, one recording at a time. Create: after the writer has begun, before
// the writer thread runs (logged when it fails; the recording then goes on unprotected).
// Remove: once the recording's file is finalised and moved, or its start failed. Keep: the file
// stays in the temporary folder for the next start to move (the marker is let go, not deleted).
void RecordingMarkerCreate(const wchar_t* tempFile);
void RecordingMarkerRemove();
void RecordingMarkerKeep();

constexpr int32_t RECOVERY_MESSAGE_CAPACITY = 2048;

struct RecoveryOutcome {
    int32_t recovered;     // moved into the recording folder
    int32_t keptMarked;    // stays marked in the temporary folder (no folder, failed move, unreadable)
    int32_t keptUnmarked;  // stays unmarked in the temporary folder (nothing recorded or unplayable)
    // For the user (empty when there is nothing to say): where each file is now.
    wchar_t message[RECOVERY_MESSAGE_CAPACITY];
};

// Deals with every staging file in `recordingFolder` whose source is in `tempFolder`, then with
// every marked leftover in `tempFolder` (logging each); `recordingFolder` may be empty. Markers
// of a recording that runs in this process, and its staging file, are left alone.
void RecoveryRun(const wchar_t* tempFolder, const wchar_t* recordingFolder, RecoveryOutcome* outcome);

// Start-up, UI thread, once the recording folder is settled: RecoveryRun on a thread of its own
// for the user's temporary folder and the recording folder setting; the message reaches the
// main window as WM_APP_WARNING.
void RecoveryStartInBackground();
// Process end: waits up to `timeoutMs` for that thread (a move across drives is cancelled).
// False when it was still running.
bool RecoveryWaitForShutdown(uint32_t timeoutMs);
