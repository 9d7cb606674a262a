#include "record/recorder_calls.h"

#include "record/recorder.h"

namespace {

constexpr RecorderCalls REAL_RECORDER = {RecordingStart,    RecordingRequestStop, RecordingTakeWrittenCount,
                                         RecordingIsActive, RecordingSubmitVideo, RecordingSubmitAudio};

}  // namespace

#ifdef MIRU_TEST_HOOKS

#include <atomic>

namespace {
// Atomic: the readers' threads look it up while a test's UI thread replaces it.
std::atomic<const RecorderCalls*> recorder{&REAL_RECORDER};
}  // namespace

const RecorderCalls& RecorderInUse()
{
    return *recorder.load();
}

void RecorderSetForTest(const RecorderCalls* calls)
{
    recorder.store(calls ? calls : &REAL_RECORDER);
}

#else

const RecorderCalls& RecorderInUse()
{
    return REAL_RECORDER;
}

#endif
