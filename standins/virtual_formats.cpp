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

// `withStride` false: the type leaves MF_MT_DEFAULT_STRIDE out (the device is scripted so).
HRESULT VideoType(const VirtualMode& mode, VirtualPixels pixels, bool bottomUp, bool withStride, IMFMediaType** out)
{
    ComOwner<IMFMediaType> type;
    HRESULT hr = MFCreateMediaType(&type);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_SUBTYPE, SubtypeOf(pixels));
    if (SUCCEEDED(hr) && HasSize(mode)) {
        hr = MFSetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, mode.width, mode.height);
        if (SUCCEEDED(hr) && withStride)
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

HRESULT AudioType(uint32_t rate, uint32_t channels, bool isFloat, IMFMediaType** out)
{
    UINT32 bits = isFloat ? 32 : 16;
    UINT32 blockAlign = channels * bits / 8;
    ComOwner<IMFMediaType> type;
    HRESULT hr = MFCreateMediaType(&type);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_SUBTYPE, isFloat ? MFAudioFormat_Float : MFAudioFormat_PCM);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, rate);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, channels);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, bits);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, blockAlign);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, blockAlign * rate);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_ALL_SAMPLES_INDEPENDENT, TRUE);
    if (SUCCEEDED(hr)) *out = type.Detach();
    return hr;
}

// With MF_SOURCE_READER_ENABLE_ADVANCED_VIDEO_PROCESSING the source reader puts a video
// processor between the camera and the application, and "attempts to match the following
// attributes of the output type: frame rate, frame size, interlace mode, pixel aspect ratio,
// subtype" (Microsoft's page of that attribute). A converting type that leaves any of them out
// leaves the processor to guess; this reader refuses such a type, so that what the application
// asks for is what it states. It cannot scale either: size and rate must be a native mode's,
// aspect and interlacing those of its native types (square pixels, progressive).
bool StatesWhatTheProcessorMatches(IMFMediaType* requested)
{
    UINT32 width = 0, height = 0, numerator = 0, denominator = 0, aspectX = 0, aspectY = 0, interlace = 0;
    return SUCCEEDED(MFGetAttributeSize(requested, MF_MT_FRAME_SIZE, &width, &height)) &&
           SUCCEEDED(MFGetAttributeRatio(requested, MF_MT_FRAME_RATE, &numerator, &denominator)) &&
           SUCCEEDED(MFGetAttributeRatio(requested, MF_MT_PIXEL_ASPECT_RATIO, &aspectX, &aspectY)) && aspectX != 0 &&
           aspectX == aspectY && SUCCEEDED(requested->GetUINT32(MF_MT_INTERLACE_MODE, &interlace)) &&
           interlace == MFVideoInterlace_Progressive;
}

HRESULT AcceptVideo(const VirtualDevice& device, const VirtualOutput& current, IMFMediaType* requested,
                    bool videoProcessor, VirtualOutput* next)
{
    GUID subtype{};
    VirtualPixels pixels{};
    if (FAILED(requested->GetGUID(MF_MT_SUBTYPE, &subtype)) || !PixelsOf(subtype, &pixels)) return MF_E_INVALIDMEDIATYPE;
    const bool converting = current.mode < device.modeCount && device.modes[current.mode].pixels != pixels;
    if (videoProcessor && converting && !StatesWhatTheProcessorMatches(requested)) return MF_E_INVALIDMEDIATYPE;
    UINT32 width = 0, height = 0, numerator = 0, denominator = 0;
    bool sized = SUCCEEDED(MFGetAttributeSize(requested, MF_MT_FRAME_SIZE, &width, &height));
    bool rated = SUCCEEDED(MFGetAttributeRatio(requested, MF_MT_FRAME_RATE, &numerator, &denominator));
    // Converting to RGB32 works from any native layout; other layouts only come as they are.
    auto fits = [&](const VirtualMode& mode) {
        return HasSize(mode) && (pixels == VirtualPixels::Rgb32 || pixels == mode.pixels) &&
               (!sized || (mode.width == width && mode.height == height)) &&
               (!rated || SameRate(numerator, denominator, mode));
    };
    // The current native format when it fits (a partial type changes only the layout), else the
    // first native mode that does.
    if (current.mode < device.modeCount && fits(device.modes[current.mode])) {
        *next = {current.mode, pixels, 0, 0, 0};
        return S_OK;
    }
    if (!sized) return MF_E_INVALIDMEDIATYPE;
    for (uint32_t i = 0; i < device.modeCount; ++i) {
        if (!fits(device.modes[i])) continue;
        *next = {i, pixels, 0, 0, 0};
        return S_OK;
    }
    return MF_E_INVALIDMEDIATYPE;
}

// Since Windows 8 the source reader resamples sound (IMFSourceReader::SetCurrentMediaType,
// Remarks), mixing the channels as well; it decodes but never encodes, so only PCM or float
// come out. This one serves rates that fill its 10 ms blocks with whole frames (8000 to
// 192000 Hz) and 1 to 8 channels; a type it is given must agree with itself.
HRESULT AcceptAudio(const VirtualDevice& device, IMFMediaType* requested, VirtualOutput* next)
{
    GUID subtype{};
    if (FAILED(requested->GetGUID(MF_MT_SUBTYPE, &subtype))) return MF_E_INVALIDMEDIATYPE;
    bool isFloat = subtype == MFAudioFormat_Float;
    if (!isFloat && subtype != MFAudioFormat_PCM) return MF_E_INVALIDMEDIATYPE;
    const UINT32 bits = isFloat ? 32u : 16u;
    UINT32 value = 0;
    if (SUCCEEDED(requested->GetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, &value)) && (device.rejectAudioBits || value != bits))
        return MF_E_INVALIDMEDIATYPE;
    const UINT32 rate = MFGetAttributeUINT32(requested, MF_MT_AUDIO_SAMPLES_PER_SECOND, device.sampleRate);
    const UINT32 channels = MFGetAttributeUINT32(requested, MF_MT_AUDIO_NUM_CHANNELS, device.channels);
    if (rate < 8000 || rate > 192000 || rate % 100 != 0 || channels < 1 || channels > 8) return MF_E_INVALIDMEDIATYPE;
    const UINT32 blockAlign = channels * bits / 8;
    if (SUCCEEDED(requested->GetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, &value)) && value != blockAlign)
        return MF_E_INVALIDMEDIATYPE;
    if (SUCCEEDED(requested->GetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, &value)) && value != blockAlign * rate)
        return MF_E_INVALIDMEDIATYPE;
    *next = {0, VirtualPixels::Rgb32, static_cast<uint8_t>(isFloat), rate, channels};
    return S_OK;
}

}  // namespace

VirtualOutput VirtualDefaultOutput(const VirtualDevice& device)
{
    if (device.kind == VirtualKind::Microphone) return {0, VirtualPixels::Rgb32, 0, device.sampleRate, device.channels};
    for (uint32_t i = 0; i < device.modeCount; ++i)
        if (HasSize(device.modes[i])) return {i, device.modes[i].pixels, 0, 0, 0};
    return {0, device.modeCount ? device.modes[0].pixels : VirtualPixels::Rgb32, 0, 0, 0};
}

HRESULT VirtualNativeType(const VirtualDevice& device, DWORD index, IMFMediaType** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (device.kind == VirtualKind::Microphone)
        return index == 0 ? AudioType(device.sampleRate, device.channels, false, out) : MF_E_NO_MORE_TYPES;
    if (index >= device.modeCount) return MF_E_NO_MORE_TYPES;
    return VideoType(device.modes[index], device.modes[index].pixels, false, true, out);
}

HRESULT VirtualCurrentType(const VirtualDevice& device, const VirtualOutput& output, IMFMediaType** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    if (device.kind == VirtualKind::Microphone)
        return AudioType(output.audioRate, output.audioChannels, output.audioFloat, out);
    if (output.mode >= device.modeCount) return MF_E_INVALIDREQUEST;
    const bool withStride = !(device.omitDefaultStride && output.pixels == VirtualPixels::Rgb32);
    return VideoType(device.modes[output.mode], output.pixels, device.bottomUp, withStride, out);
}

HRESULT VirtualAcceptType(const VirtualDevice& device, const VirtualOutput& current, IMFMediaType* requested,
                          bool videoProcessor, VirtualOutput* next)
{
    if (!requested || !next) return E_POINTER;
    GUID major{};
    if (FAILED(requested->GetGUID(MF_MT_MAJOR_TYPE, &major))) return MF_E_INVALIDMEDIATYPE;
    if (device.kind == VirtualKind::Microphone)
        return major == MFMediaType_Audio ? AcceptAudio(device, requested, next) : MF_E_INVALIDMEDIATYPE;
    return major == MFMediaType_Video ? AcceptVideo(device, current, requested, videoProcessor, next)
                                      : MF_E_INVALIDMEDIATYPE;
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
