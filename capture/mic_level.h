#pragma once
// The microphone level meter: the loudness of one block of samples on a −50 … 0 dBFS scale
// mapped to 0 … 1, smoothed over successive blocks.
#include <cstdint>
#include <optional>
#include <span>

// Level of one block of interleaved samples: 32-bit float (isFloat, 32 bits) or signed 16-bit
// PCM (not float, 16 bits). Nothing for any other format or an empty block.
std::optional<float> MicLevelOfBlock(std::span<const uint8_t> bytes, bool isFloat, uint32_t bitsPerSample);

// The meter after one more block: half the old value plus half the block's level.
float MicLevelSmooth(float previous, float block);
