#pragma once
// Which native camera format to capture in: the one closest to 1920 × 1080, and among equally
// close ones the frame rate nearest to 30 per second, preferring one at or below 30.01 to any
// faster one. And which sound format to ask the microphone's reader for.
#include <array>
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

// The microphone's sound as the source reader is asked for it (it converts), in this order:
// 16-bit PCM at 48000 Hz, else at 44100 Hz, with the device's channel count when that is 1 or 2
// and 2 otherwise. The AAC encoder takes only these rates, and its rate and channel count must
// equal its input's (the sink writer converts nothing).
struct MicRequest {
    uint32_t sampleRate;
    uint32_t channels;
};
std::array<MicRequest, 2> MicRequests(uint32_t deviceChannels);
