// Stand-ins for the modules that do not exist yet: recorder, photos and first-run wizard.
// Each later module replaces its block here. None of them claims work it does not do: the
// recorder refuses to start and photos are not saved.
#include <windows.h>

#include <algorithm>
#include <cwchar>

#include "app/actions.h"
#include "app/app_messages.h"
#include "app/main_window.h"
#include "app/texts.h"
#include "app/ui_state.h"
#include "capture/camera_control.h"
#include "diag/log.h"
#include "record/recorder.h"
#include "record/snapshot.h"
#include "settings/onboarding.h"
#include "settings/settings_store.h"

// ---- Recorder: refuses every start. ----

const wchar_t* RecordingStart(int32_t, int32_t, bool, const uint8_t*, int32_t, int32_t)
{
    return PickText(L"Aufnahme ist in dieser Programmversion noch nicht verf\u00fcgbar",
                    L"Recording is not available in this program version yet");
}

void RecordingRequestStop() {}

bool RecordingIsActive()
{
    return false;
}

int32_t RecordingTakeWrittenCount()
{
    return 0;
}

// The hand-offs keep nothing. A recorder that keeps a Frame or a sample takes a reference of
// its own: the readers release theirs right after the call.
void RecordingSubmitVideo(Frame*, Frame*, float, int64_t) {}

void RecordingSubmitAudio(IMFSample*) {}

// ---- Photos: nothing is saved. ----

void SnapshotRequest()
{
    LogWrite(LOG_ERROR, L"Keine Fotos gespeichert");
}

// ---- First-run wizard: does not exist yet, so the first run counts as done (the main
// window's final save keeps the flag). ----

bool OnboardingRun()
{
    Settings.didCompleteOnboarding = true;
    return true;
}
