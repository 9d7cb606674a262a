#pragma once
// A camera preview for the first-run wizard: one reader that keeps only its newest Frame.
struct Frame;
struct CapturePreview;

// Opens and starts the camera with this symbolic link; null when the id is empty or the camera
// cannot be opened or started (logged).
CapturePreview* PreviewOpen(const wchar_t* id);
// The newest Frame with a reference for the caller, or null.
Frame* PreviewAcquireFrame(CapturePreview* preview);
// Stops the camera and frees the handle; null does nothing.
void PreviewClose(CapturePreview* preview);
