#include "capture/stream_clock.h"

int64_t StreamClockMap(StreamClock& clock, int64_t sampleTime, int64_t now)
{
    if (clock.samples < STREAM_CLOCK_SETTLE_SAMPLES) {
        const int64_t offset = now - sampleTime;
        if (clock.samples == 0 || offset < clock.offset) clock.offset = offset;
        clock.samples++;
    }
    return sampleTime + clock.offset;
}
