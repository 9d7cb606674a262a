#include "standins/virtual_2d_buffer.h"

#include <mferror.h>

#include <atomic>
#include <cstring>
#include <memory>
#include <new>

namespace {

struct Virtual2DBuffer final : IMFMediaBuffer, IMF2DBuffer {
    std::atomic<ULONG> refs{1};
    std::unique_ptr<uint8_t[]> memory;
    uint32_t rowBytes = 0;
    uint32_t rows = 0;
    uint32_t pitch = 0;  // distance of rows in memory, always positive
    bool bottomUp = false;
    DWORD currentLength = 0;
    // Lock (the contiguous view) of a padded or bottom-up buffer hands out a packed top-down
    // copy and writes it back on Unlock. Buffers are used by one thread at a time.
    std::unique_ptr<uint8_t[]> packed;

    DWORD Contiguous() const { return rowBytes * rows; }
    uint8_t* Scanline0() const { return memory.get() + (bottomUp ? static_cast<size_t>(rows - 1) * pitch : 0); }
    LONG SignedPitch() const { return bottomUp ? -static_cast<LONG>(pitch) : static_cast<LONG>(pitch); }
    bool Packed() const { return !bottomUp && pitch == rowBytes; }

    void CopyOut(uint8_t* dest) const
    {
        for (uint32_t i = 0; i < rows; ++i)
            std::memcpy(dest + static_cast<size_t>(i) * rowBytes, Scanline0() + static_cast<ptrdiff_t>(i) * SignedPitch(), rowBytes);
    }
    void CopyIn(const uint8_t* source)
    {
        for (uint32_t i = 0; i < rows; ++i)
            std::memcpy(Scanline0() + static_cast<ptrdiff_t>(i) * SignedPitch(), source + static_cast<size_t>(i) * rowBytes, rowBytes);
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid == IID_IUnknown || riid == IID_IMFMediaBuffer) *object = static_cast<IMFMediaBuffer*>(this);
        else if (riid == IID_IMF2DBuffer) *object = static_cast<IMF2DBuffer*>(this);
        else return E_NOINTERFACE;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG count = --refs;
        if (count == 0) delete this;
        return count;
    }

    // IMFMediaBuffer
    HRESULT STDMETHODCALLTYPE Lock(BYTE** data, DWORD* maxLength, DWORD* length) override
    {
        if (!data) return E_POINTER;
        if (Packed()) {
            *data = memory.get();
        } else {
            if (!packed) {
                packed.reset(new (std::nothrow) uint8_t[Contiguous()]);
                if (!packed) return E_OUTOFMEMORY;
                CopyOut(packed.get());
            }
            *data = packed.get();
        }
        if (maxLength) *maxLength = Contiguous();
        if (length) *length = currentLength;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Unlock() override
    {
        if (packed) {
            CopyIn(packed.get());
            packed.reset();
        }
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetCurrentLength(DWORD* length) override
    {
        if (!length) return E_POINTER;
        *length = currentLength;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetCurrentLength(DWORD length) override
    {
        if (length > Contiguous()) return E_INVALIDARG;
        currentLength = length;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetMaxLength(DWORD* length) override
    {
        if (!length) return E_POINTER;
        *length = Contiguous();
        return S_OK;
    }

    // IMF2DBuffer
    HRESULT STDMETHODCALLTYPE Lock2D(BYTE** scanline0, LONG* linePitch) override { return GetScanline0AndPitch(scanline0, linePitch); }
    HRESULT STDMETHODCALLTYPE Unlock2D() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE GetScanline0AndPitch(BYTE** scanline0, LONG* linePitch) override
    {
        if (!scanline0 || !linePitch) return E_POINTER;
        *scanline0 = Scanline0();
        *linePitch = SignedPitch();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE IsContiguousFormat(BOOL* contiguous) override
    {
        if (!contiguous) return E_POINTER;
        *contiguous = Packed();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE GetContiguousLength(DWORD* length) override
    {
        if (!length) return E_POINTER;
        *length = Contiguous();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContiguousCopyTo(BYTE* dest, DWORD size) override
    {
        if (!dest) return E_POINTER;
        if (size < Contiguous()) return MF_E_BUFFERTOOSMALL;
        CopyOut(dest);
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE ContiguousCopyFrom(const BYTE* source, DWORD size) override
    {
        if (!source) return E_POINTER;
        if (size < Contiguous()) return E_INVALIDARG;
        CopyIn(source);
        return S_OK;
    }
};

}  // namespace

HRESULT Virtual2DBufferCreate(uint32_t rowBytes, uint32_t rows, bool bottomUp, IMFMediaBuffer** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (rowBytes == 0 || rows == 0) return E_INVALIDARG;
    Virtual2DBuffer* buffer = new (std::nothrow) Virtual2DBuffer;
    if (!buffer) return E_OUTOFMEMORY;
    buffer->rowBytes = rowBytes;
    buffer->rows = rows;
    buffer->pitch = (rowBytes + 63) / 64 * 64;
    buffer->bottomUp = bottomUp;
    buffer->memory.reset(new (std::nothrow) uint8_t[static_cast<size_t>(buffer->pitch) * rows]);
    if (!buffer->memory) {
        delete buffer;
        return E_OUTOFMEMORY;
    }
    *out = static_cast<IMFMediaBuffer*>(buffer);
    return S_OK;
}
