#pragma once
// Which native camera format to capture in: the one closest to 1920 × 1080, and among equally
// close ones the frame rate nearest to 30 per second, preferring one at or below 30.01 to any
// faster one.
#include <cstdint>

// What a native media type says about size and rate.
struct NativeFormatInfo {
    bool hasSize;
    uint32_t width;
    uint32_t height;
    bool hasRate;
    uint32_t rateNumerator;
    uint32_t rateDenominator;
};

struct FormatScore {
    int64_t distance;  // |width − 1920| + |height − 1080|, or 3000 without a size
    double rate;       // frames per second, 0 without a rate or with a denominator of 0
};

FormatScore FormatScoreOf(const NativeFormatInfo& format);

// Whether `candidate` replaces the best type so far; ties keep the earlier type.
bool FormatBeats(const FormatScore& candidate, const FormatScore& best);
