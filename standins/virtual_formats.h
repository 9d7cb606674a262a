#pragma once
// Media types of the virtual devices: the native types a device offers, the output type a
// reader currently delivers, and which requested output types a reader accepts. Cameras convert
// to RGB32 at the native size and rate (as the source reader's video processor does) or deliver
// a native type unchanged; microphones deliver 16-bit PCM or 32-bit float at the native rate
// and channel count, or at the rate and channel count asked for (the source reader resamples).
#include <windows.h>
#include <mfidl.h>

#include "standins/virtual_devices.h"

// What a reader delivers.
struct VirtualOutput {
    uint32_t mode;         // cameras: index into device.modes
    VirtualPixels pixels;  // cameras: delivered pixel layout
    uint8_t audioFloat;    // microphones: 32-bit float instead of 16-bit PCM
    uint32_t audioRate;      // microphones: delivered rate and channel count (converted from
    uint32_t audioChannels;  // the device's own where they differ)
};

// Before any type is set: the first native mode that has a frame size, in its own layout;
// microphones deliver their native PCM.
VirtualOutput VirtualDefaultOutput(const VirtualDevice& device);

// Native type `index` of the device's one stream; MF_E_NO_MORE_TYPES after the last.
HRESULT VirtualNativeType(const VirtualDevice& device, DWORD index, IMFMediaType** out);

// The full output type, with frame size, rate and default stride (cameras) or rate, channels,
// bits and block alignment (microphones).
HRESULT VirtualCurrentType(const VirtualDevice& device, const VirtualOutput& output, IMFMediaType** out);

// Decides a requested output type: S_OK with the new output in `next`, or
// MF_E_INVALIDMEDIATYPE for what the device cannot deliver (another major type, an unknown
// subtype, a size or rate it does not offer, a sample format other than 16-bit PCM or float, a
// sound rate or channel count the conversion does not serve). `videoProcessor`: the reader was
// made with MF_SOURCE_READER_ENABLE_ADVANCED_VIDEO_PROCESSING, so a converting video type must
// state what the processor matches.
HRESULT VirtualAcceptType(const VirtualDevice& device, const VirtualOutput& current, IMFMediaType* requested,
                          bool videoProcessor, VirtualOutput* next);

// Bytes from one row to the next in a delivered image (negative for a bottom-up RGB32 image),
// and the bytes of a whole image.
int32_t VirtualStride(VirtualPixels pixels, uint32_t width, bool bottomUp);
uint32_t VirtualImageBytes(VirtualPixels pixels, uint32_t width, uint32_t height);

// Length of one frame in 100 ns units; a mode without a usable rate runs at 30 per second.
int64_t VirtualFramePeriod(const VirtualMode& mode);
