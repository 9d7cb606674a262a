#pragma once
// Photos: one press saves the Wide image, the Macro image and the composed view as JPEG files.
#include <cstdint>

// Photo jobs that may run at once; a press beyond them is logged and ignored (each job has a
// graphics device of its own, and a held key repeats).
constexpr int32_t SNAPSHOT_MAX_RUNNING = 2;

// UI thread, called only while the cameras are live. Takes the newest frames and builds the
// watermark here; composing and encoding run on a thread of their own.
void SnapshotRequest();

// Process end, before COM goes: waits up to `timeoutMs` for running photo jobs. False when
// some were still running.
bool SnapshotWaitForShutdown(uint32_t timeoutMs);
