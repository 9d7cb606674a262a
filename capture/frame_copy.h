#pragma once
// The pixel side of the frame intake: copying camera rows into a Frame with the alpha byte
// forced opaque, and the checks that a locked buffer really holds the rows it is read from.
#include <cstddef>
#include <cstdint>

// Copies `height` rows of `width` 32-bit pixels, OR-ing each with 0xFF000000. Source row i
// starts at srcRow0 + i × srcPitch (a negative pitch walks a bottom-up image upwards);
// destination row i at dst + i × dstStride.
void IntakeCopyRows(uint8_t* dst, ptrdiff_t dstStride, const uint8_t* srcRow0, ptrdiff_t srcPitch, int32_t width,
                    int32_t height);

// IMF2DBuffer2::Lock2DSize: scan line 0 lies `scan0Offset` bytes after the buffer start (negative:
// before it). Usable when every row is at least a row long apart and all rows lie inside the
// buffer of `bufferLength` bytes.
bool IntakeSizedPlanesFit(int64_t scan0Offset, int64_t pitch, uint64_t bufferLength, int32_t width, int32_t height);

// IMF2DBuffer::Lock2D: usable when the contiguous length holds width × height × 4 bytes and the
// rows are at least a row long apart.
bool IntakePlanesFit(uint64_t contiguousLength, int64_t pitch, int32_t width, int32_t height);

// A plain buffer read with the media type's default stride (0: rows tightly packed). A
// negative stride is a bottom-up image whose top row is the last one in memory.
struct IntakePlainRows {
    bool usable;
    int64_t row0Offset;  // bytes from the buffer's data pointer to the image's top row
    int64_t pitch;       // bytes from one image row to the next
};
IntakePlainRows IntakePlainLayout(uint64_t currentLength, int32_t defaultStride, int32_t width, int32_t height);
