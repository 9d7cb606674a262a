#pragma once
// Photos: one press saves the Wide image, the Macro image and the composed view as JPEG files.
#include <cstdint>

// Photo jobs that may run at once; a press beyond them is logged and refused (each job has a
// graphics device of its own).
constexpr int32_t SNAPSHOT_MAX_RUNNING = 2;

enum class SnapshotResult : uint8_t {
    Started,    // a photo job runs
    NoPicture,  // no live picture yet
    Busy,       // SNAPSHOT_MAX_RUNNING jobs are still saving
    Failed,     // no memory or no thread for the job (logged)
};

// UI thread, called only while the cameras are live. Takes the newest frames and builds the
// watermark here; composing and encoding run on a thread of their own. Only Started means that
// photos are being taken: the caller confirms nothing else.
SnapshotResult SnapshotRequest();

// Process end, before COM goes: waits up to `timeoutMs` for running photo jobs. False when
// some were still running.
bool SnapshotWaitForShutdown(uint32_t timeoutMs);

#ifdef MIRU_TEST_HOOKS
// Tests only: while `gate` (an event) is not set, photo jobs wait before saving (at most 60 s),
// so quick presses meet running jobs however fast they would otherwise end. Null: no wait.
void SnapshotHoldJobsForTest(void* gate);
#endif
