#pragma once
// The virtual side of the media seam: device enumeration, device sources and source readers of
// the virtual devices, the substitute sink writer that goes with them, and the named device sets
// chosen by the MIRU_VIRTUAL_DEVICES variable.
#include <windows.h>

#include <cstdint>

#include "capture/media_seam.h"

// The replacement table that serves the virtual devices.
const MediaSeamOverride* VirtualSeamTable();

// Plugs in a named set: "none" (no devices), "wide-only" (the Wide camera and the microphone),
// "no-mic" (both cameras), "mic-16k-mono" and "mic-4ch" (the headset with a microphone of the
// same identifier that offers only 16000 Hz mono, or only 48000 Hz with four channels),
// anything else, also "default", the headset (both cameras and the microphone). Names are
// compared without regard to case. Returns the number of devices added.
uint32_t VirtualAddNamedSet(const wchar_t* name);

// For the seam's first use when MIRU_VIRTUAL_DEVICES is set: plugs in the named set and returns
// the table to install.
const MediaSeamOverride* VirtualDevicesFromEnvironment(const wchar_t* value);
