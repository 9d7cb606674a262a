#include "capture/stream_clock.h"

int64_t StreamClockMap(StreamClock& clock, int64_t sampleTime, int64_t now)
{
    if (!clock.started) {
        clock.offset = now - sampleTime;
        clock.started = true;
    }
    return sampleTime + clock.offset;
}
