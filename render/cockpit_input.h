#pragma once
// Mouse input on the cockpit drawn over the live picture: hit test, button actions, the Macro
// size slider and wheel, and keeping the cockpit visible while the user is active.
#include <cstdint>

enum CockpitItem : int32_t {
    ItemNone = 0,
    ItemVideo = 1,
    ItemRecord = 2,
    ItemPhoto = 3,
    ItemStabilise = 4,
    ItemMute = 5,
    ItemMacroSize = 6,
    ItemSettings = 7,
    ItemRestart = 8,
};

// x, y: client coordinates; width, height: the client area (all in pixels).
CockpitItem CockpitHitTest(float x, float y, float width, float height);
void CockpitMouseDown(float x, float y, float width, float height);
void CockpitMouseMove(float x, float y, float width, float height);
void CockpitMouseUp();
// Wheel notches (delta / 120); one notch changes the Macro size by 0.03.
void CockpitWheel(float notches);
// Sets the Macro size limited to 0 ... 1, publishes it and shows the cockpit.
void CockpitSetPipSize(float value);
// Shows the cockpit and restarts its 6 s auto-hide timer (main window timer 2).
void CockpitShow();
// Writes the Macro size to the UI state and to capture's pipFraction together.
void PublishPipSize(float value);

// The main window's actions behind the cockpit's buttons. The application registers them at
// start-up, so the cockpit triggers them without depending on the application; a missing
// entry leaves its button without effect.
struct CockpitActions {
    void (*toggleRecording)();
    void (*takePhoto)();
    void (*toggleStabilisation)();
    void (*toggleMute)();
    void (*openSettings)();  // with the main window as owner
    void (*restartCameras)();
};
// The table must outlive its use; null removes it.
void CockpitSetActions(const CockpitActions* actions);
