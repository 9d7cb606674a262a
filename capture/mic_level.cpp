#include "capture/mic_level.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

constexpr double PCM16_SCALE = 1.0 / 32768.0;
constexpr double RMS_FLOOR = 1e-7;  // digital silence reads as −140 dBFS, not as −infinity
constexpr double RANGE_DB = 50.0;

template <class Sample>
double MeanSquare(std::span<const uint8_t> bytes, size_t count, double scale)
{
    double sum = 0.0;
    for (size_t i = 0; i < count; ++i) {
        Sample value;
        std::memcpy(&value, bytes.data() + i * sizeof(Sample), sizeof(Sample));  // buffers need not be aligned
        const double scaled = static_cast<double>(value) * scale;
        sum += scaled * scaled;
    }
    return sum / static_cast<double>(count);
}

}  // namespace

std::optional<float> MicLevelOfBlock(std::span<const uint8_t> bytes, bool isFloat, uint32_t bitsPerSample)
{
    double mean;
    if (isFloat && bitsPerSample == 32) {
        const size_t count = bytes.size() / 4;
        if (count == 0) return std::nullopt;
        mean = MeanSquare<float>(bytes, count, 1.0);
    } else if (!isFloat && bitsPerSample == 16) {
        const size_t count = bytes.size() / 2;
        if (count == 0) return std::nullopt;
        mean = MeanSquare<int16_t>(bytes, count, PCM16_SCALE);
    } else {
        return std::nullopt;
    }
    const double rms = std::max(std::sqrt(mean), RMS_FLOOR);
    const float level = static_cast<float>((20.0 * std::log10(rms) + RANGE_DB) / RANGE_DB);
    // A float block with NaN or infinite values must not stick the meter.
    if (!std::isfinite(level)) return level > 0 ? 1.0f : 0.0f;
    return std::clamp(level, 0.0f, 1.0f);
}

float MicLevelSmooth(float previous, float block)
{
    return 0.5f * previous + 0.5f * block;
}
