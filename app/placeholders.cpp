// Stand-ins for the modules that do not exist yet: cockpit drawing and input, recorder and
// photos.
// Each later module replaces its block here. None of them claims work it does not do: the
// cockpit draws nothing, the recorder refuses to start and photos are not saved.
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
#include "render/cockpit.h"
#include "render/cockpit_input.h"
#include "settings/settings_store.h"

// ---- Cockpit drawing: draws nothing yet, so the live picture shows without bars. ----

void CockpitDraw(ID2D1DeviceContext*, float, float, bool) {}

void CockpitReleaseTextFormats() {}

// ---- Cockpit input: no layout exists yet, so nothing can be hit; visibility and the Macro
// size work. ----

namespace {
constexpr UINT COCKPIT_HIDE_MS = 6000;
constexpr float WHEEL_STEP = 0.03f;
}

CockpitItem CockpitHitTest(float, float, float, float)
{
    return ItemNone;
}

void CockpitShow()
{
    UiState.cockpitVisible = true;
    if (mainWindow) SetTimer(mainWindow, TIMER_COCKPIT_HIDE, COCKPIT_HIDE_MS, nullptr);
}

void PublishPipSize(float value)
{
    UiState.pipSize = value;
    CaptureSetPipFraction(value);
}

void CockpitSetPipSize(float value)
{
    PublishPipSize(std::clamp(value, 0.0f, 1.0f));
    CockpitShow();
}

void CockpitMouseDown(float, float, float, float)
{
    CockpitShow();
}

void CockpitMouseMove(float, float, float, float)
{
    CockpitShow();
}

void CockpitMouseUp()
{
    UiState.sliderDrag = false;
}

void CockpitWheel(float notches)
{
    CockpitSetPipSize(UiState.pipSize + notches * WHEEL_STEP);
}

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

}
