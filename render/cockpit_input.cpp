#include "render/cockpit_input.h"

#include <algorithm>

#include "base/app_messages.h"
#include "base/ui_state.h"
#include "capture/camera_control.h"
#include "render/cockpit_kit.h"

namespace {

constexpr UINT COCKPIT_HIDE_MS = 6000;
constexpr float WHEEL_STEP = 0.03f;

const CockpitActions* actions = nullptr;

void Run(void (*action)())
{
    if (action) action();
}

// Sets the Macro size from the pointer's x on the slider track of the current layout.
void SlideTo(float x, float width, float height)
{
    float value = 0.0f;
    if (CockpitSliderValueAt(CockpitComputeLayout(width, height), x, &value)) {
        PublishPipSize(value);
        CockpitShow();
    }
}

}  // namespace

void CockpitSetActions(const CockpitActions* table)
{
    actions = table;
}

void CockpitShow()
{
    UiState.cockpitVisible = true;
    // Replaces a running timer, so the 6 s start again.
    if (HWND window = AppWindow()) SetTimer(window, TIMER_COCKPIT_HIDE, COCKPIT_HIDE_MS, nullptr);
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

CockpitItem CockpitHitTest(float x, float y, float width, float height)
{
    return CockpitItemAt(CockpitComputeLayout(width, height), UiState.live, x, y, height);
}

void CockpitMouseDown(float x, float y, float width, float height)
{
    const CockpitItem item = width > 0.0f && height > 0.0f ? CockpitHitTest(x, y, width, height) : ItemNone;
    const CockpitActions none = {};
    const CockpitActions& run = actions ? *actions : none;
    switch (item) {
    case ItemRecord: Run(run.toggleRecording); break;
    case ItemPhoto: Run(run.takePhoto); break;
    case ItemStabilise: Run(run.toggleStabilisation); break;
    case ItemMute: Run(run.toggleMute); break;
    case ItemSettings: Run(run.openSettings); break;
    case ItemRestart: Run(run.restartCameras); break;
    case ItemMacroSize:
        // A press anywhere on the click area jumps the knob to the pointer.
        UiState.sliderDrag = true;
        SlideTo(x, width, height);
        break;
    case ItemVideo:
    case ItemNone: break;
    }
    CockpitShow();
}

void CockpitMouseMove(float x, float y, float width, float height)
{
    (void)y;  // with the mouse captured only x counts, wherever the pointer is
    if (UiState.sliderDrag) SlideTo(x, width, height);
    else CockpitShow();
}

void CockpitMouseUp()
{
    UiState.sliderDrag = false;
}

void CockpitWheel(float notches)
{
    CockpitSetPipSize(UiState.pipSize + notches * WHEEL_STEP);
}
