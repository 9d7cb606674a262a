#include "record/storage_rules.h"

#include <algorithm>

#include "record/free_space_text.h"

StorageThresholds StorageThresholdsFor(bool highRes)
{
    const double bpm = RecordingBytesPerMinute(highRes);
    const int64_t reserve = std::max(static_cast<int64_t>(2.0 * bpm), int64_t{1'000'000'000});
    return {bpm, reserve, reserve + static_cast<int64_t>(10.0 * bpm)};
}

bool StorageUsableBytes(const StorageSample& sample, int64_t* usable)
{
    int64_t value = sample.tempFree;
    if (sample.hasDestination && sample.destinationFree >= 0) {
        int64_t destination = sample.destinationFree;
        if (!sample.sameVolume && sample.fileSize > 0) destination -= sample.fileSize;
        value = value < 0 ? destination : std::min(value, destination);
        *usable = value;
        return true;
    }
    if (value < 0) return false;
    *usable = value;
    return true;
}

StorageAction StorageDecide(const StorageThresholds& limits, int64_t usable, bool warned)
{
    if (usable < limits.reserve) return StorageAction::Stop;
    if (!warned && usable < limits.warnLevel) return StorageAction::Warn;
    return StorageAction::None;
}

int32_t StorageMinutesLeft(const StorageThresholds& limits, int64_t usable)
{
    const double minutes = static_cast<double>(usable - limits.reserve) / limits.bytesPerMinute;
    return minutes > 0.0 ? static_cast<int32_t>(minutes) : 0;
}
