#pragma once
// Frame-sized video samples for the recording's writer thread, each with its own buffer, reused
// once the sink writer has let go of them: a new frame-sized buffer costs far more than filling
// one again. The pool learns that a sample is free from the sample itself (a tracked sample calls
// its owner back when every other holder has released it), never from reference counts.
#include <windows.h>
#include <mfidl.h>

#include <cstdint>

// Samples the pool keeps; beyond them, a sample the writer still holds is replaced by a new one
// that is not kept.
constexpr int32_t VIDEO_SAMPLE_POOL_SIZE = 6;

// Writer thread: a sample with one buffer of `bytes`, with a reference each for the caller: a
// free one of the pool, else a new one (kept while the pool has room). The caller sets its times
// and hands it to the writer; it comes back to the pool when the last holder releases it.
HRESULT VideoSamplePoolTake(DWORD bytes, IMFSample** sample, IMFMediaBuffer** buffer);
// Writer thread, once the sink writer is released: waits up to `timeoutMs` for the samples still
// held elsewhere, then frees the pool. A sample that comes back later is simply released.
void VideoSamplePoolClose(DWORD timeoutMs);
