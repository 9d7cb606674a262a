#pragma once
// The media source of a virtual device: the handle that the seam's device-source factory gives
// out and that the virtual source reader is created from. It only knows which device it stands
// for and whether it was shut down; the reader produces the samples.
#include <windows.h>
#include <mfidl.h>

#include "standins/virtual_devices.h"

struct VirtualSourceInfo {
    VirtualDevice device;
    int32_t handle;       // device table handle and plug generation at opening
    uint32_t generation;
};

// Opens the source of the plugged-in device `id` of `kind`; VIRTUAL_DEVICE_MISSING when there is
// none.
HRESULT VirtualSourceOpen(VirtualKind kind, const wchar_t* id, IMFMediaSource** out);

// Copies what a virtual source stands for. False when `source` is not a virtual source.
bool VirtualSourceDescribe(IMFMediaSource* source, VirtualSourceInfo* info, bool* shutDown);
