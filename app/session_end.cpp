#include "app/session_end.h"

#include "app/actions.h"
#include "app/main_window.h"
#include "app/recording_flow.h"
#include "app/texts.h"
#include "diag/log.h"
#include "record/recorder.h"
#include "record/snapshot.h"

namespace {

// After WM_ENDSESSION returns the process may end at any moment: the file must be saved by then.
// The block reason keeps the system's "programs are still running" page up meanwhile.
constexpr uint32_t SESSION_END_WAIT_MS = 30000;
constexpr uint32_t SESSION_END_PHOTO_WAIT_MS = 10000;

// UI thread only: the block of this session end is tried once and released at its end.
bool tried = false;
bool blocked = false;

void Block(HWND window)
{
    if (tried) return;
    tried = true;
    blocked = ShutdownBlockReasonCreate(
                  window, PickText(L"MI-RU speichert die laufende Aufnahme\u2026", L"MI-RU is saving the recording\u2026")) !=
              FALSE;
    // Without the reason the recording is still saved; the system just shows no text for us.
    static bool warned = false;
    if (!blocked && !warned) {
        warned = true;
        LogWrite(LOG_WARN, L"Abmelde-Sperre nicht gesetzt (Fehler %lu)", GetLastError());
    }
}

}  // namespace

LRESULT SessionEndQuery(HWND window)
{
    if (RecordingFlowIsRecording(MainWindow.recordingFlow)) {
        LogWrite(LOG_EVENT, L"Abmelden/Herunterfahren: Aufnahme wird abgeschlossen und gespeichert\u2026");
        Block(window);
        ApplyRecordingEffects(window, RecordingFlowRequestStop(MainWindow.recordingFlow));
    }
    return TRUE;
}

void SessionEndConfirmed(HWND window, bool ending)
{
    if (ending && RecordingFlowIsRecording(MainWindow.recordingFlow)) {
        Block(window);
        ApplyRecordingEffects(window, RecordingFlowRequestStop(MainWindow.recordingFlow));
        // Also stops a recording the query did not see; the thread posts its end before it ends.
        RecordingWaitForShutdown(SESSION_END_WAIT_MS);
    }
    // Photos being written are finished as at a normal exit.
    if (ending) SnapshotWaitForShutdown(SESSION_END_PHOTO_WAIT_MS);
    if (blocked) ShutdownBlockReasonDestroy(window);
    blocked = tried = false;
}
