#include "standins/virtual_samples.h"

#include <mfapi.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <span>
#include <vector>

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

HRESULT VirtualAudioSample(SceneKind scene, uint64_t firstFrame, const VirtualAudioShape& native,
                           const VirtualAudioShape& delivered, bool isFloat, int64_t time100ns, int64_t duration100ns,
                           int64_t sharedFirstFrame, IMFSample** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    const auto framesOf = [duration100ns](uint32_t rate) {
        return static_cast<uint32_t>(static_cast<int64_t>(rate) * duration100ns / 10'000'000);
    };
    const uint32_t nativeFrames = framesOf(native.rate);
    const uint32_t frames = framesOf(delivered.rate);
    if (nativeFrames == 0 || frames == 0 || native.channels == 0 || delivered.channels == 0) return E_INVALIDARG;
    // The device's own sound, with the next block's first frame for the interpolation.
    std::vector<float> source(static_cast<size_t>(nativeFrames + 1) * native.channels);
    SceneFillFloat(scene, firstFrame, native.rate, native.channels, source);
    if (sharedFirstFrame >= 0) SceneAddClicks(scene, sharedFirstFrame, native.rate, native.channels, std::span(source));
    const auto at = [&](uint32_t frame, uint32_t channel) { return source[static_cast<size_t>(frame) * native.channels + channel]; };
    // Delivered frame j lies at native position j × nativeFrames / frames, between two native
    // frames (linear interpolation; the same format gives the native frames exactly). A
    // delivered channel is the mean of the native channels that fold onto it (channel i onto
    // i mod delivered channels), or a copy of one when more channels are delivered.
    std::vector<float> values(static_cast<size_t>(frames) * delivered.channels);
    for (uint32_t j = 0; j < frames; ++j) {
        const uint64_t position = static_cast<uint64_t>(j) * nativeFrames;
        const auto i = static_cast<uint32_t>(position / frames);
        const float weight = static_cast<float>(position % frames) / static_cast<float>(frames);
        const auto sample = [&](uint32_t channel) { return at(i, channel) * (1.0f - weight) + at(i + 1, channel) * weight; };
        for (uint32_t c = 0; c < delivered.channels; ++c) {
            float sum = 0.0f;
            uint32_t count = 0;
            if (delivered.channels >= native.channels) {
                sum = sample(c % native.channels);
                count = 1;
            } else {
                for (uint32_t from = c; from < native.channels; from += delivered.channels, ++count) sum += sample(from);
            }
            values[static_cast<size_t>(j) * delivered.channels + c] = sum / static_cast<float>(count);
        }
    }
    const DWORD length = static_cast<DWORD>(values.size() * (isFloat ? sizeof(float) : sizeof(int16_t)));
    ComOwner<IMFMediaBuffer> buffer;
    HRESULT hr = PlainBuffer(
        length,
        [&](BYTE* data) {
            if (isFloat) {
                std::memcpy(data, values.data(), length);
                return;
            }
            auto* pcm = reinterpret_cast<int16_t*>(data);
            for (size_t k = 0; k < values.size(); ++k)
                pcm[k] = static_cast<int16_t>(std::lround(std::clamp(values[k], -1.0f, 1.0f) * 32767.0f));
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
