// Stand-ins for the modules that do not exist yet: cockpit drawing and input, settings window
// and first-run wizard.
// Each later module replaces its block here. None of them claims work it does not do: the
// cockpit draws nothing and the settings window does not open.
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
#include "render/cockpit.h"
#include "render/cockpit_input.h"
#include "settings/onboarding.h"
#include "settings/settings_store.h"
#include "settings/settings_window.h"

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

// ---- Settings window: does not exist yet. ----

void OpenSettings(HWND)
{
    LogWrite(LOG_ERROR, L"Einstellungen-Fenster konnte nicht erstellt werden");
}

// ---- First-run wizard: does not exist yet, so the first run counts as done (the main
// window's final save keeps the flag). ----

bool OnboardingRun()
{
    Settings.didCompleteOnboarding = true;
    return true;
}
