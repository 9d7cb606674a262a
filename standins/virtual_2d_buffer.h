#pragma once
// A media buffer that offers IMF2DBuffer but not IMF2DBuffer2, as the buffers of some capture
// drivers do. Rows are padded to a pitch of a multiple of 64 bytes; a bottom-up buffer keeps
// the image's top row last in memory and reports a negative pitch.
#include <windows.h>
#include <mfobjects.h>

#include <cstdint>

HRESULT Virtual2DBufferCreate(uint32_t rowBytes, uint32_t rows, bool bottomUp, IMFMediaBuffer** out);
