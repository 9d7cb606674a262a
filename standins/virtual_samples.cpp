#include "standins/virtual_samples.h"

#include <mfapi.h>

#include <cstring>
#include <span>

#include "base/win_owners.h"
#include "standins/virtual_2d_buffer.h"
#include "standins/virtual_formats.h"

namespace {

HRESULT WrapInSample(IMFMediaBuffer* buffer, int64_t time100ns, int64_t duration100ns, IMFSample** out)
{
    ComOwner<IMFSample> sample;
    HRESULT hr = MFCreateSample(&sample);
    if (SUCCEEDED(hr)) hr = sample->AddBuffer(buffer);
    if (SUCCEEDED(hr)) hr = sample->SetSampleTime(time100ns);
    if (SUCCEEDED(hr)) hr = sample->SetSampleDuration(duration100ns);
    if (SUCCEEDED(hr)) *out = sample.Detach();
    return hr;
}

uint32_t RowsOf(const VirtualVideoShape& shape)
{
    return shape.undersized ? (shape.height / 2 > 0 ? shape.height / 2 : 1) : shape.height;
}

// A plain buffer of `length` bytes filled by `fill(data)`.
template <class Fill>
HRESULT PlainBuffer(DWORD length, Fill fill, IMFMediaBuffer** out)
{
    ComOwner<IMFMediaBuffer> buffer;
    HRESULT hr = MFCreateMemoryBuffer(length, &buffer);
    BYTE* data = nullptr;
    if (SUCCEEDED(hr)) hr = buffer->Lock(&data, nullptr, nullptr);
    if (SUCCEEDED(hr)) {
        fill(data);
        buffer->Unlock();
        hr = buffer->SetCurrentLength(length);
    }
    if (SUCCEEDED(hr)) *out = buffer.Detach();
    return hr;
}

// Draws the frame into an RGB32 buffer made by NewRgb32Buffer for the same shape.
HRESULT DrawRgb32(const VirtualVideoShape& shape, const SceneCanvas& canvas, int64_t frameIndex, int64_t time100ns,
                  bool flash, IMFMediaBuffer* buffer)
{
    uint32_t rows = RowsOf(shape);
    ComOwner<IMF2DBuffer> planes;
    BYTE* row0 = nullptr;
    LONG pitch = 0;
    HRESULT hr;
    if (shape.buffer == VirtualBuffer::Plain) {
        // Bottom-up: the image's top row is the last one in memory.
        LONG rowBytes = static_cast<LONG>(shape.width * 4);
        hr = buffer->Lock(&row0, nullptr, nullptr);
        if (SUCCEEDED(hr) && shape.bottomUp) row0 += static_cast<size_t>(rows - 1) * rowBytes;
        pitch = shape.bottomUp ? -rowBytes : rowBytes;
    } else {
        hr = buffer->QueryInterface(IID_PPV_ARGS(&planes));
        if (SUCCEEDED(hr)) hr = planes->Lock2D(&row0, &pitch);
    }
    if (FAILED(hr)) return hr;
    SceneDrawFrame(canvas, frameIndex, time100ns, row0, pitch, static_cast<int32_t>(rows));
    if (flash) SceneDrawFlash(canvas, row0, pitch, static_cast<int32_t>(rows));
    if (planes) planes->Unlock2D();
    else buffer->Unlock();
    return S_OK;
}

HRESULT NewRgb32Buffer(const VirtualVideoShape& shape, IMFMediaBuffer** out)
{
    uint32_t rows = RowsOf(shape);
    DWORD rowBytes = shape.width * 4;
    ComOwner<IMFMediaBuffer> buffer;
    HRESULT hr;
    DWORD length = rowBytes * rows;
    if (shape.buffer == VirtualBuffer::Plain) {
        hr = MFCreateMemoryBuffer(length, &buffer);
    } else {
        hr = shape.buffer == VirtualBuffer::TwoD2
                 ? MFCreate2DMediaBuffer(shape.width, rows, MFVideoFormat_RGB32.Data1, shape.bottomUp, &buffer)
                 : Virtual2DBufferCreate(rowBytes, rows, shape.bottomUp, &buffer);
        ComOwner<IMF2DBuffer> planes;
        if (SUCCEEDED(hr)) hr = buffer->QueryInterface(IID_PPV_ARGS(&planes));
        if (SUCCEEDED(hr)) hr = planes->GetContiguousLength(&length);
    }
    if (SUCCEEDED(hr)) hr = buffer->SetCurrentLength(length);
    if (SUCCEEDED(hr)) *out = buffer.Detach();
    return hr;
}

bool SameShape(const VirtualVideoShape& a, const VirtualVideoShape& b)
{
    return a.width == b.width && a.height == b.height && a.pixels == b.pixels && a.buffer == b.buffer &&
           a.bottomUp == b.bottomUp && a.undersized == b.undersized;
}

// Whether the pool's reference is the only one left.
bool OnlyPoolHolds(IMFSample* sample)
{
    sample->AddRef();
    return sample->Release() == 1;
}

HRESULT Redraw(const VirtualVideoShape& shape, const SceneCanvas& canvas, int64_t frameIndex, int64_t time100ns,
               int64_t duration100ns, bool flash, IMFSample* sample)
{
    HRESULT hr = S_OK;
    if (shape.pixels == VirtualPixels::Rgb32) {
        ComOwner<IMFMediaBuffer> buffer;
        hr = sample->GetBufferByIndex(0, &buffer);
        if (SUCCEEDED(hr)) hr = DrawRgb32(shape, canvas, frameIndex, time100ns, flash, buffer.Get());
    }
    if (SUCCEEDED(hr)) hr = sample->SetSampleTime(time100ns);
    if (SUCCEEDED(hr)) hr = sample->SetSampleDuration(duration100ns);
    return hr;
}

}  // namespace

HRESULT VirtualVideoSample(const VirtualVideoShape& shape, const SceneCanvas& canvas, int64_t frameIndex,
                           int64_t time100ns, int64_t duration100ns, bool flash, IMFSample** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (shape.width == 0 || shape.height == 0) return E_INVALIDARG;
    ComOwner<IMFMediaBuffer> buffer;
    HRESULT hr;
    if (shape.pixels == VirtualPixels::Rgb32) {
        hr = NewRgb32Buffer(shape, &buffer);
        if (SUCCEEDED(hr)) hr = DrawRgb32(shape, canvas, frameIndex, time100ns, flash, buffer.Get());
    } else {
        DWORD length = VirtualImageBytes(shape.pixels, shape.width, shape.height);
        if (shape.undersized) length /= 2;
        hr = PlainBuffer(length, [&](BYTE* data) { std::memset(data, 0x80, length); }, &buffer);
    }
    if (SUCCEEDED(hr)) hr = WrapInSample(buffer.Get(), time100ns, duration100ns, out);
    return hr;
}

HRESULT VirtualAudioSample(SceneKind scene, uint64_t firstFrame, uint32_t frames, uint32_t sampleRate,
                           uint32_t channels, bool isFloat, int64_t time100ns, int64_t duration100ns,
                           int64_t sharedFirstFrame, IMFSample** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    size_t values = static_cast<size_t>(frames) * channels;
    DWORD length = static_cast<DWORD>(values * (isFloat ? sizeof(float) : sizeof(int16_t)));
    ComOwner<IMFMediaBuffer> buffer;
    HRESULT hr = PlainBuffer(
        length,
        [&](BYTE* data) {
            if (isFloat) {
                std::span samples(reinterpret_cast<float*>(data), values);
                SceneFillFloat(scene, firstFrame, sampleRate, channels, samples);
                if (sharedFirstFrame >= 0) SceneAddClicks(scene, sharedFirstFrame, sampleRate, channels, samples);
            } else {
                std::span pcm(reinterpret_cast<int16_t*>(data), values);
                SceneFillPcm16(scene, firstFrame, sampleRate, channels, pcm);
                if (sharedFirstFrame >= 0) SceneAddClicks(scene, sharedFirstFrame, sampleRate, channels, pcm);
            }
        },
        &buffer);
    if (SUCCEEDED(hr)) hr = WrapInSample(buffer.Get(), time100ns, duration100ns, out);
    return hr;
}

HRESULT VirtualPoolNextSample(VirtualSamplePool& pool, const VirtualVideoShape& shape, const SceneCanvas& canvas,
                              int64_t frameIndex, int64_t time100ns, int64_t duration100ns, bool flash, IMFSample** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (!SameShape(pool.shape, shape)) {
        VirtualPoolClear(pool);
        pool.shape = shape;
    }
    for (IMFSample*& slot : pool.samples) {
        if (slot && !OnlyPoolHolds(slot)) continue;
        if (slot) {
            HRESULT hr = Redraw(shape, canvas, frameIndex, time100ns, duration100ns, flash, slot);
            if (FAILED(hr)) return hr;
        } else {
            HRESULT hr = VirtualVideoSample(shape, canvas, frameIndex, time100ns, duration100ns, flash, &slot);
            if (FAILED(hr)) return hr;
        }
        slot->AddRef();
        *out = slot;
        return S_OK;
    }
    return VirtualVideoSample(shape, canvas, frameIndex, time100ns, duration100ns, flash, out);
}

void VirtualPoolClear(VirtualSamplePool& pool)
{
    for (IMFSample*& slot : pool.samples) {
        if (slot) slot->Release();
        slot = nullptr;
    }
}
