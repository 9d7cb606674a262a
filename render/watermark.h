#pragma once
// The watermark that recordings and photos carry along their bottom edge.
#include <cstdint>

// A width x height overlay of premultiplied BGRA pixels, rows top-down and tightly packed
// (pitch width * 4), transparent except for the practice text (when given, not null and not
// empty) and the brand group. One malloc block that the caller releases with free(); null on
// failure (logged).
uint8_t* WatermarkBuildOverlay(int32_t width, int32_t height, const wchar_t* practiceText);
