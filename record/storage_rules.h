#pragma once
// The storage monitor's decisions, free of Windows calls: its thresholds, the usable free space
// from the two folders' measurements and what to do about it.
#include <cstdint>

struct StorageThresholds {
    double bytesPerMinute;
    int64_t reserve;    // below this the recording stops
    int64_t warnLevel;  // below this the user is warned once
};
StorageThresholds StorageThresholdsFor(bool highRes);

// One measurement: free bytes at the temporary folder (-1 unknown); whether a recording folder
// is set and the free bytes there (-1 unknown); the growing file's size (-1 unknown) and
// whether both folders lie on one volume. At another volume the file must still fit when it
// is moved, so its size counts against the destination; on the same volume the move is a
// rename and costs nothing.
struct StorageSample {
    int64_t tempFree;
    bool hasDestination;
    int64_t destinationFree;
    int64_t fileSize;
    bool sameVolume;
};
// The usable bytes, or false when nothing could be measured. A value computed from the
// destination counts even when it is negative.
bool StorageUsableBytes(const StorageSample& sample, int64_t* usable);

enum class StorageAction : uint8_t { None, Warn, Stop };
// Stop below the reserve (exactly the reserve goes on); warn once below the warning level.
StorageAction StorageDecide(const StorageThresholds& limits, int64_t usable, bool warned);
// Whole minutes left before the stop, 0 when negative.
int32_t StorageMinutesLeft(const StorageThresholds& limits, int64_t usable);
