#pragma once
// The decisions behind the device lists, free of Media Foundation: the order of a list, the
// display names and the automatic binding of empty camera roles.
#include <cstdint>
#include <span>

#include "capture/device_list.h"

// Sorts by `id` in code-unit order (entries with equal ids keep their order) and gives every
// entry its display name: the friendly name when no other entry shares it, otherwise
// "<name> #k" with k counting the entries of that name in id order from 1.
void DeviceListOrder(std::span<CaptureDevice> devices);

// Fills an empty Wide identifier with the first camera whose id differs from the Macro one,
// then an empty Macro identifier with the first camera whose id differs from the (possibly just
// filled) Wide one. A role without such a camera stays empty. Both buffers hold
// CAPTURE_ID_CAPACITY units.
void DeviceFillEmptyRoles(std::span<const CaptureDevice> cameras, wchar_t* wideId, wchar_t* macroId);

// Index of the entry whose id equals `id`, or -1; an empty or null id finds nothing.
int32_t DeviceFind(std::span<const CaptureDevice> devices, const wchar_t* id);
