#include "capture/format_choice.h"

namespace {

constexpr int64_t TARGET_WIDTH = 1920;
constexpr int64_t TARGET_HEIGHT = 1080;
constexpr int64_t DISTANCE_WITHOUT_SIZE = 3000;
// Cameras announce "30 fps" as 30000/1001 or 30/1; both count as at most 30.
constexpr double RATE_LIMIT = 30.01;

int64_t Difference(int64_t a, int64_t b)
{
    return a > b ? a - b : b - a;
}

}  // namespace

FormatScore FormatScoreOf(const NativeFormatInfo& format)
{
    FormatScore score{DISTANCE_WITHOUT_SIZE, 0.0};
    if (format.hasSize)
        score.distance = Difference(format.width, TARGET_WIDTH) + Difference(format.height, TARGET_HEIGHT);
    if (format.hasRate && format.rateDenominator != 0)
        score.rate = static_cast<double>(format.rateNumerator) / static_cast<double>(format.rateDenominator);
    return score;
}

bool FormatBeats(const FormatScore& candidate, const FormatScore& best)
{
    if (candidate.distance != best.distance) return candidate.distance < best.distance;
    const bool candidateSlow = candidate.rate <= RATE_LIMIT;
    const bool bestSlow = best.rate <= RATE_LIMIT;
    if (candidateSlow != bestSlow) return candidateSlow;
    return candidateSlow ? candidate.rate > best.rate : candidate.rate < best.rate;
}

std::array<MicRequest, 2> MicRequests(uint32_t deviceChannels)
{
    const uint32_t channels = deviceChannels == 1 || deviceChannels == 2 ? deviceChannels : 2;
    return {MicRequest{48000, channels}, MicRequest{44100, channels}};
}
