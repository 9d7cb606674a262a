#pragma once
// The recorder: one recording at a time, composed and encoded on its own writer thread.
#include <cstdint>

struct Frame;
struct IMFSample;

// UI thread. Null on success (also when a recording is already running), otherwise a
// localised error text owned by the recorder (the caller must not free it). The overlay
// (width x height premultiplied BGRA, or null) is copied; the caller frees its buffer.
const wchar_t* RecordingStart(int32_t width, int32_t height, bool withSound, const uint8_t* overlay,
                              int32_t overlayWidth, int32_t overlayHeight);
// UI thread. The recording ends asynchronously with WM_APP_RECORDING_ENDED.
void RecordingRequestStop();
// Any thread: a recording accepts frames and sound.
bool RecordingIsActive();
// UI thread: frames written since the last call; resets the count.
int32_t RecordingTakeWrittenCount();
// Wide camera reader: one frame pair per Wide sample (Macro may be null), 100-ns timestamp.
void RecordingSubmitVideo(Frame* wide, Frame* macro, float pipFraction, int64_t timestamp);
// Microphone reader.
void RecordingSubmitAudio(IMFSample* sample);
// Process end, before Media Foundation and COM go: stops a running recording and waits up to
// `timeoutMs` for its writer thread. False when the thread was still running.
bool RecordingWaitForShutdown(uint32_t timeoutMs);
