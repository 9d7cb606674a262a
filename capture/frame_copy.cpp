#include "capture/frame_copy.h"

#include <algorithm>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#include <emmintrin.h>
#define MIRU_INTAKE_SSE2 1
#endif

namespace {

constexpr uint32_t OPAQUE = 0xFF000000u;

int64_t Magnitude(int64_t value)
{
    return value < 0 ? -value : value;
}

// One row; source and destination may have any alignment.
void CopyRowOpaque(uint8_t* dst, const uint8_t* src, int32_t width)
{
    int32_t x = 0;
#ifdef MIRU_INTAKE_SSE2
    const __m128i alpha = _mm_set1_epi32(static_cast<int>(OPAQUE));
    for (; x + 16 <= width; x += 16) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x * 4));
        const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x * 4 + 16));
        const __m128i c = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x * 4 + 32));
        const __m128i d = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x * 4 + 48));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x * 4), _mm_or_si128(a, alpha));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x * 4 + 16), _mm_or_si128(b, alpha));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x * 4 + 32), _mm_or_si128(c, alpha));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x * 4 + 48), _mm_or_si128(d, alpha));
    }
    for (; x + 4 <= width; x += 4) {
        const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + x * 4));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + x * 4), _mm_or_si128(a, alpha));
    }
#endif
    for (; x < width; ++x) {
        uint32_t pixel;
        std::memcpy(&pixel, src + x * 4, 4);
        pixel |= OPAQUE;
        std::memcpy(dst + x * 4, &pixel, 4);
    }
}

}  // namespace

void IntakeCopyRows(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* srcRow0, ptrdiff_t srcPitch, int32_t width,
                    int32_t height)
{
    for (int32_t y = 0; y < height; ++y) CopyRowOpaque(dst + y * dstStride, srcRow0 + y * srcPitch, width);
}

bool IntakeSizedPlanesFit(int64_t scan0Offset, int64_t pitch, uint64_t bufferLength, int32_t width, int32_t height)
{
    if (width < 1 || height < 1) return false;
    const int64_t rowBytes = static_cast<int64_t>(width) * 4;
    if (Magnitude(pitch) < rowBytes) return false;
    const int64_t lastRow = scan0Offset + static_cast<int64_t>(height - 1) * pitch;
    const int64_t low = std::min(scan0Offset, lastRow);
    const int64_t high = std::max(scan0Offset, lastRow);
    return low >= 0 && static_cast<uint64_t>(high + rowBytes) <= bufferLength;
}

bool IntakePlanesFit(uint64_t contiguousLength, int64_t pitch, int32_t width, int32_t height)
{
    if (width < 1 || height < 1) return false;
    const int64_t rowBytes = static_cast<int64_t>(width) * 4;
    return contiguousLength >= static_cast<uint64_t>(rowBytes) * static_cast<uint64_t>(height) &&
           Magnitude(pitch) >= rowBytes;
}

IntakePlainRows IntakePlainLayout(uint64_t currentLength, int32_t defaultStride, int32_t width, int32_t height)
{
    IntakePlainRows rows{false, 0, 0};
    if (width < 1 || height < 1) return rows;
    const int64_t rowBytes = static_cast<int64_t>(width) * 4;
    const int64_t stride = defaultStride != 0 ? defaultStride : rowBytes;
    const int64_t span = static_cast<int64_t>(height - 1) * Magnitude(stride) + rowBytes;
    if (Magnitude(stride) < rowBytes || currentLength < static_cast<uint64_t>(span)) return rows;
    rows.usable = true;
    rows.pitch = stride;
    rows.row0Offset = stride > 0 ? 0 : static_cast<int64_t>(height - 1) * -stride;
    return rows;
}
