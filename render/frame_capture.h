#pragma once
// Developer screenshots of the live picture. A flip-model window cannot be captured reliably
// from outside on every system (an X server under Wine shows it black), so developer builds
// (MIRU_DEV_CAPTURE) let the renderer save one of its own frames: when the environment
// variable MIRU_CAPTURE_FRAME names a PNG file, the 10th frame that shows both cameras (or the
// 100th frame, if they never both show) is written there once. Other builds never capture.
#include <cstdint>

// True once, for the frame that is to be saved. `bothCameras`: this frame shows both images.
bool FrameCaptureDue(bool bothCameras);
// Writes top-down premultiplied BGRA pixels (pitch width * 4) to the requested file as PNG.
void FrameCaptureSave(const uint8_t* pixels, int32_t width, int32_t height);
