#pragma once
// The recorder as the rest of the program calls it: the shell starts and stops recordings, the
// readers hand it frames and sound. One table, so development builds' tests can put a scripted
// recorder in its place; a test that scripts only some entries fills the others with the real
// functions (record/recorder.h) or with no-ops.
#include <cstdint>

struct Frame;
struct IMFSample;

struct RecorderCalls {
    // UI thread (see RecordingStart, RecordingRequestStop, RecordingTakeWrittenCount).
    const wchar_t* (*start)(int32_t width, int32_t height, bool withSound, const uint8_t* overlay,
                            int32_t overlayWidth, int32_t overlayHeight);
    void (*requestStop)();
    int32_t (*takeWrittenCount)();
    // Reader threads. Both submit calls take references of their own: the caller releases its
    // references right after.
    bool (*isActive)();
    void (*submitVideo)(Frame* wide, Frame* macro, float pipFraction, int64_t timestamp);
    void (*submitAudio)(IMFSample* sample);
};

// The recorder in use: the real one, or a test's replacement. Any thread.
const RecorderCalls& RecorderInUse();

#ifdef MIRU_TEST_HOOKS
// Tests only: null restores the real recorder. The table must outlive its use.
void RecorderSetForTest(const RecorderCalls* calls);
#endif
