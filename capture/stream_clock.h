#pragma once
// One time line for all capture streams. Each device stamps its samples from its own start
// (and the microphone starts after the cameras), so the readers map every sample time onto
// the process clock: the offset is fixed at a stream's first sample and the device's own
// spacing is kept from then on.
#include <cstdint>

struct StreamClock {
    bool started;
    int64_t offset;  // process time minus device time, 100-ns units
};

// The sample's time on the process clock; `now` is the process clock (100-ns units) when the
// sample arrived, used only for the stream's first sample.
int64_t StreamClockMap(StreamClock& clock, int64_t sampleTime, int64_t now);
