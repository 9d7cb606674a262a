#pragma once
// One time line for all capture streams. Each device stamps its samples from its own start
// (and the microphone starts after the cameras), so the readers map every sample time onto
// the process clock with one offset per stream, keeping the device's own spacing.
//
// A sample arrives some time after the instant it stamps, and the first ones of a stream
// usually arrive late (the device is still starting). The offset is therefore the smallest
// "arrival minus stamp" seen over the stream's first samples; after those it stays fixed, so
// a recording never sees a stream's times jump.
#include <cstdint>

constexpr int32_t STREAM_CLOCK_SETTLE_SAMPLES = 8;

struct StreamClock {
    int32_t samples;  // seen so far (counts up to the settle length)
    int64_t offset;   // process time minus device time, 100-ns units
};

// The sample's time on the process clock; `now` is the process clock (100-ns units) at the
// sample's arrival.
int64_t StreamClockMap(StreamClock& clock, int64_t sampleTime, int64_t now);
