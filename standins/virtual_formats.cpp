#include "standins/virtual_formats.h"

#include <mfapi.h>
#include <mferror.h>

#include <cstdlib>

#include "base/win_owners.h"

namespace {

const GUID& SubtypeOf(VirtualPixels pixels)
{
    switch (pixels) {
    case VirtualPixels::Yuy2: return MFVideoFormat_YUY2;
    case VirtualPixels::Nv12: return MFVideoFormat_NV12;
    default: return MFVideoFormat_RGB32;
    }
}

bool PixelsOf(const GUID& subtype, VirtualPixels* pixels)
{
    if (subtype == MFVideoFormat_RGB32) *pixels = VirtualPixels::Rgb32;
    else if (subtype == MFVideoFormat_YUY2) *pixels = VirtualPixels::Yuy2;
    else if (subtype == MFVideoFormat_NV12) *pixels = VirtualPixels::Nv12;
    else return false;
    return true;
}

bool HasSize(const VirtualMode& mode)
{
    return mode.width > 0 && mode.height > 0;
}

bool HasRate(const VirtualMode& mode)
{
    return mode.rateNumerator != 0 || mode.rateDenominator != 0;
}

bool SameRate(UINT32 numerator, UINT32 denominator, const VirtualMode& mode)
{
    if (denominator == 0 || mode.rateDenominator == 0)
        return denominator == mode.rateDenominator && numerator == mode.rateNumerator;
    return static_cast<uint64_t>(numerator) * mode.rateDenominator ==
           static_cast<uint64_t>(mode.rateNumerator) * denominator;
}

HRESULT VideoType(const VirtualMode& mode, VirtualPixels pixels, bool bottomUp, IMFMediaType** out)
{
    ComOwner<IMFMediaType> type;
    HRESULT hr = MFCreateMediaType(&type);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_SUBTYPE, SubtypeOf(pixels));
    if (SUCCEEDED(hr) && HasSize(mode)) {
        hr = MFSetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, mode.width, mode.height);
        if (SUCCEEDED(hr))
            hr = type->SetUINT32(MF_MT_DEFAULT_STRIDE,
                                 static_cast<UINT32>(VirtualStride(pixels, mode.width, bottomUp)));
        if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_SAMPLE_SIZE, VirtualImageBytes(pixels, mode.width, mode.height));
    }
    if (SUCCEEDED(hr) && HasRate(mode))
        hr = MFSetAttributeRatio(type.Get(), MF_MT_FRAME_RATE, mode.rateNumerator, mode.rateDenominator);
    if (SUCCEEDED(hr)) hr = MFSetAttributeRatio(type.Get(), MF_MT_PIXEL_ASPECT_RATIO, 1, 1);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_FIXED_SIZE_SAMPLES, TRUE);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, TRUE);
    if (SUCCEEDED(hr)) *out = type.Detach();
    return hr;
}

HRESULT AudioType(const VirtualDevice& device, bool isFloat, IMFMediaType** out)
{
    UINT32 bits = isFloat ? 32 : 16;
    UINT32 blockAlign = device.channels * bits / 8;
    ComOwner<IMFMediaType> type;
    HRESULT hr = MFCreateMediaType(&type);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_SUBTYPE, isFloat ? MFAudioFormat_Float : MFAudioFormat_PCM);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, device.sampleRate);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, device.channels);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, bits);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, blockAlign);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, blockAlign * device.sampleRate);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, TRUE);
    if (SUCCEEDED(hr)) *out = type.Detach();
    return hr;
}

HRESULT AcceptVideo(const VirtualDevice& device, const VirtualOutput& current, IMFMediaType* requested,
                    VirtualOutput* next)
{
    GUID subtype{};
    VirtualPixels pixels{};
    if (FAILED(requested->GetGUID(MF_MT_SUBTYPE, &subtype)) || !PixelsOf(subtype, &pixels)) return MF_E_INVALIDMEDIATYPE;
    UINT32 width = 0, height = 0, numerator = 0, denominator = 0;
    bool sized = SUCCEEDED(MFGetAttributeSize(requested, MF_MT_FRAME_SIZE, &width, &height));
    bool rated = SUCCEEDED(MFGetAttributeRatio(requested, MF_MT_FRAME_RATE, &numerator, &denominator));
    // Converting to RGB32 works from any native layout; other layouts only come as they are.
    auto fits = [&](const VirtualMode& mode) {
        return HasSize(mode) && (pixels == VirtualPixels::Rgb32 || pixels == mode.pixels) &&
               (!sized || (mode.width == width && mode.height == height)) &&
               (!rated || SameRate(numerator, denominator, mode));
    };
    if (!sized) {
        // A partial type keeps the current native format and changes only the layout.
        if (current.mode >= device.modeCount || !fits(device.modes[current.mode])) return MF_E_INVALIDMEDIATYPE;
        *next = {current.mode, pixels, 0};
        return S_OK;
    }
    for (uint32_t i = 0; i < device.modeCount; ++i) {
        if (!fits(device.modes[i])) continue;
        *next = {i, pixels, 0};
        return S_OK;
    }
    return MF_E_INVALIDMEDIATYPE;
}

HRESULT AcceptAudio(const VirtualDevice& device, IMFMediaType* requested, VirtualOutput* next)
{
    GUID subtype{};
    if (FAILED(requested->GetGUID(MF_MT_SUBTYPE, &subtype))) return MF_E_INVALIDMEDIATYPE;
    bool isFloat = subtype == MFAudioFormat_Float;
    if (!isFloat && subtype != MFAudioFormat_PCM) return MF_E_INVALIDMEDIATYPE;
    UINT32 value = 0;
    if (SUCCEEDED(requested->GetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, &value)) &&
        (device.rejectAudioBits || value != (isFloat ? 32u : 16u)))
        return MF_E_INVALIDMEDIATYPE;
    if (SUCCEEDED(requested->GetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, &value)) && value != device.sampleRate)
        return MF_E_INVALIDMEDIATYPE;
    if (SUCCEEDED(requested->GetUINT32(MF_MT_AUDIO_NUM_CHANNELS, &value)) && value != device.channels)
        return MF_E_INVALIDMEDIATYPE;
    *next = {0, VirtualPixels::Rgb32, static_cast<uint8_t>(isFloat)};
    return S_OK;
}

}  // namespace

VirtualOutput VirtualDefaultOutput(const VirtualDevice& device)
{
    if (device.kind == VirtualKind::Microphone) return {0, VirtualPixels::Rgb32, 0};
    for (uint32_t i = 0; i < device.modeCount; ++i)
        if (HasSize(device.modes[i])) return {i, device.modes[i].pixels, 0};
    return {0, device.modeCount ? device.modes[0].pixels : VirtualPixels::Rgb32, 0};
}

HRESULT VirtualNativeType(const VirtualDevice& device, DWORD index, IMFMediaType** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (device.kind == VirtualKind::Microphone) return index == 0 ? AudioType(device, false, out) : MF_E_NO_MORE_TYPES;
    if (index >= device.modeCount) return MF_E_NO_MORE_TYPES;
    return VideoType(device.modes[index], device.modes[index].pixels, false, out);
}

HRESULT VirtualCurrentType(const VirtualDevice& device, const VirtualOutput& output, IMFMediaType** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (device.kind == VirtualKind::Microphone) return AudioType(device, output.audioFloat, out);
    if (output.mode >= device.modeCount) return MF_E_INVALIDREQUEST;
    return VideoType(device.modes[output.mode], output.pixels, device.bottomUp, out);
}

HRESULT VirtualAcceptType(const VirtualDevice& device, const VirtualOutput& current, IMFMediaType* requested,
                          VirtualOutput* next)
{
    if (!requested || !next) return E_POINTER;
    GUID major{};
    if (FAILED(requested->GetGUID(MF_MT_MAJOR_TYPE, &major))) return MF_E_INVALIDMEDIATYPE;
    if (device.kind == VirtualKind::Microphone)
        return major == MFMediaType_Audio ? AcceptAudio(device, requested, next) : MF_E_INVALIDMEDIATYPE;
    return major == MFMediaType_Video ? AcceptVideo(device, current, requested, next) : MF_E_INVALIDMEDIATYPE;
}

int32_t VirtualStride(VirtualPixels pixels, uint32_t width, bool bottomUp)
{
    switch (pixels) {
    case VirtualPixels::Yuy2: return static_cast<int32_t>(width * 2);
    case VirtualPixels::Nv12: return static_cast<int32_t>(width);
    default: return static_cast<int32_t>(width * 4) * (bottomUp ? -1 : 1);
    }
}

uint32_t VirtualImageBytes(VirtualPixels pixels, uint32_t width, uint32_t height)
{
    switch (pixels) {
    case VirtualPixels::Yuy2: return width * 2 * height;
    case VirtualPixels::Nv12: return width * height + width * ((height + 1) / 2);
    default: return width * 4 * height;
    }
}

int64_t VirtualFramePeriod(const VirtualMode& mode)
{
    if (mode.rateNumerator == 0 || mode.rateDenominator == 0) return 10'000'000 / 30;
    int64_t period = 10'000'000ll * mode.rateDenominator / mode.rateNumerator;
    return period > 0 ? period : 1;
}
