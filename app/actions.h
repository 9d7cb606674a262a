#pragma once
// The user actions of the main window, run on the UI thread by keyboard shortcuts and by the
// cockpit's buttons.
#include <windows.h>
#include <cstdint>

// Starts a recording (only while the cameras are live) or asks the running one to stop.
void ToggleRecording();
// A photo, only while the cameras are live.
void TakePhoto();
void ToggleStabilisation();
// Mutes the microphone for the next recording; a running recording keeps its sound.
void ToggleMute();
void OpenRecordingFolder();
// Stops a running recording, stops the cameras and starts them again 300 ms later.
void RestartCameras();
// Exchanges the Wide and Macro cameras, saves the choice and restarts the cameras.
void SwapCameras();
// Borderless full screen on the window's monitor, and back to the saved placement.
void ToggleFullScreen(HWND window);
// The free-space text of the recording folder (empty when there is none or it is unknown).
void RefreshFreeSpaceText();

// Carries out the recording effects returned by the decisions in app/recording_flow.h and
// mirrors the phase into the UI state. `window` is the main window.
void ApplyRecordingEffects(HWND window, uint32_t effects);

// A message box owned by the main window. The window stays while the box is open, even when the
// recording it waited for ends meanwhile; it then closes once the user has answered.
int MainWindowMessageBox(HWND window, const wchar_t* text, UINT type);

// A short notice over the picture for a few seconds (at most 63 characters).
void ShowNotice(const wchar_t* text);
