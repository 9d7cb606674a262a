#pragma once
// Activation object of a virtual device, as device enumeration returns it: an attribute store
// with the source type, the symbolic link or endpoint id and (optionally) the friendly name.
// Activating it opens the device's virtual media source.
#include <windows.h>
#include <mfidl.h>

#include "standins/virtual_devices.h"

HRESULT VirtualActivateCreate(const VirtualDevice& device, IMFActivate** out);
