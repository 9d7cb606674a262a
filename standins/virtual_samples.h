#pragma once
// Samples of the virtual devices, made with Media Foundation's own sample and buffer functions
// (and the IMF2DBuffer-only buffer where a device is scripted to use one).
#include <windows.h>
#include <mfobjects.h>

#include "standins/scene_render.h"
#include "standins/virtual_devices.h"

struct VirtualVideoShape {
    uint32_t width;
    uint32_t height;
    VirtualPixels pixels;
    VirtualBuffer buffer;
    bool bottomUp;
    bool undersized;  // the buffer holds only the upper half of the rows (at least one)
};

// One frame of `canvas` (prepared at the shape's size) as a sample with one buffer, with the
// mark's flash when `flash` is set. Layouts other than RGB32 carry a plain grey image of the
// right length.
HRESULT VirtualVideoSample(const VirtualVideoShape& shape, const SceneCanvas& canvas, int64_t frameIndex,
                           int64_t time100ns, int64_t duration100ns, bool flash, IMFSample** out);

// Recycled video samples of one reader, as capture pipelines keep them: allocating a large
// buffer per frame costs far more than drawing it (tens of milliseconds for 1080p under Wine).
// A pooled sample is drawn again only when nobody but the pool holds it any more.
constexpr uint32_t VIRTUAL_POOL_SIZE = 4;
struct VirtualSamplePool {
    VirtualVideoShape shape;
    IMFSample* samples[VIRTUAL_POOL_SIZE];  // one reference each, or null
};

// The next frame as a sample with a reference for the caller: a free pooled sample drawn again,
// a new pooled one, or (all in use) a sample of its own. A new shape empties the pool first.
HRESULT VirtualPoolNextSample(VirtualSamplePool& pool, const VirtualVideoShape& shape, const SceneCanvas& canvas,
                              int64_t frameIndex, int64_t time100ns, int64_t duration100ns, bool flash, IMFSample** out);
void VirtualPoolClear(VirtualSamplePool& pool);

// A sound format: frames per second and interleaved channels.
struct VirtualAudioShape {
    uint32_t rate;
    uint32_t channels;
};

// One block of an audio scene lasting `duration100ns`, whose first frame is `firstFrame` of
// the device's own `native` format, delivered in the `delivered` format as interleaved 16-bit
// PCM or 32-bit float in one plain buffer; with the marks' clicks when `sharedFirstFrame` (the
// block's first native frame on the shared mark clock) is not negative. Rates must fill the
// block with whole frames.
HRESULT VirtualAudioSample(SceneKind scene, uint64_t firstFrame, const VirtualAudioShape& native,
                           const VirtualAudioShape& delivered, bool isFloat, int64_t time100ns, int64_t duration100ns,
                           int64_t sharedFirstFrame, IMFSample** out);
