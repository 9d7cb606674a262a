#pragma once
// The camera control thread: starts, stops and restarts the cameras, searches for missing
// ones, watches for cameras without image and handles hot-plug. The UI thread sends commands;
// the thread reports through WM_APP_STATUS, WM_APP_LIVE and WM_APP_STOP_RECORDING.
#include <windows.h>

struct IMFMediaType;

// UI thread, once at start-up: the window that receives the reports; starts the thread.
void CaptureInit(HWND notifyWindow);
// Start command (starts the thread if needed; status 4 when that is impossible, also while a
// thread left behind at a shutdown still runs).
void CaptureStart();
// Stop command.
void CaptureStop();
// Device-change notification from the main window.
void CaptureDevicesChanged();
// Ends the thread (waiting up to 10 s) and frees the capture-wide objects. Safe when
// CaptureInit never ran. A thread that does not end in time is left behind with everything it
// uses (nothing is closed under it) and the result is false; starts are refused until it has
// ended, and a later call frees everything once it has.
bool CaptureShutdown();
bool CaptureIsLive();
// Smoothed microphone level 0 ... 1.
float CaptureGetMicLevel();
// The Macro picture-in-picture width as a fraction of the frame width (handed to recordings).
void CaptureSetPipFraction(float fraction);
// The microphone's current media type with a reference for the caller, or null.
IMFMediaType* CaptureAcquireAudioMediaType();

// Camera control thread only (the start command's device binding ends with it): resets the
// attempt counter and, unless the cameras are live or a search runs, arms a search whose first
// attempt is due at once.
void CaptureBeginSearch();
