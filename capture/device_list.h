#pragma once
// Lists the cameras and microphones that Media Foundation offers, with display names unique
// within a list, and binds the Wide and Macro roles by device identifier.
#include <cstdint>

enum : uint32_t { ROLE_WIDE = 0, ROLE_MACRO = 1 };

constexpr int32_t CAPTURE_ID_CAPACITY = 512;
constexpr int32_t CAPTURE_FRIENDLY_NAME_CAPACITY = 128;
constexpr int32_t CAPTURE_DISPLAY_NAME_CAPACITY = 136;
constexpr int32_t CAPTURE_LIST_CAPACITY = 16;  // what every caller passes

struct CaptureDevice {
    wchar_t id[CAPTURE_ID_CAPACITY];  // symbolic link (camera) or audio endpoint id (microphone)
    wchar_t friendlyName[CAPTURE_FRIENDLY_NAME_CAPACITY];
    wchar_t displayName[CAPTURE_DISPLAY_NAME_CAPACITY];  // friendly name made unique
};

enum class CaptureKind : uint32_t { Camera = 0, Microphone = 1 };

// The devices of one start: copied from the settings by CaptureResolveDeviceIds, empty camera
// roles filled with free cameras, never written back. Camera control thread only.
struct CaptureActiveIdSet {
    wchar_t wide[CAPTURE_ID_CAPACITY];
    wchar_t macro[CAPTURE_ID_CAPACITY];
    wchar_t microphone[CAPTURE_ID_CAPACITY];
};

// Starts Media Foundation for capture once per process; whether it is started. A failed start
// is not retried.
bool CaptureStartMediaFoundation();
// The capture side's MFShutdown (at shutdown, after the control thread ended); a later
// CaptureStartMediaFoundation starts it again.
void CaptureStopMediaFoundation();
// Fill at most `capacity` entries, sorted by id; the count.
int32_t CaptureListCameras(CaptureDevice* devices, int32_t capacity);
int32_t CaptureListMicrophones(CaptureDevice* devices, int32_t capacity);
int32_t CaptureEnumerate(CaptureKind kind, CaptureDevice* devices, int32_t capacity);
// Camera control thread, on every start command: the active identifiers from the settings,
// empty roles filled with the first free camera; then the search begins.
void CaptureResolveDeviceIds();
// Camera control thread: the identifiers of the current start.
const CaptureActiveIdSet& CaptureActiveIds();
// UI thread: exchanges the Wide and Macro devices in the settings and saves them; the caller
// restarts the cameras. CameraSwapRoles also logs the swap as an event (the W key);
// CameraExchangeIds does not (the settings window's swap button).
void CameraSwapRoles();
void CameraExchangeIds();

// Guards the device identifiers in Settings (wideDeviceID, macroDeviceID, micDeviceID) between
// the UI thread, their only writer, and the camera control thread, which copies them at every
// start, so that the copy never sees half an identifier or half a swap. The UI thread holds it
// around each change (a swap or a role proposal as one change) and reads them without it; only
// the copying itself runs under it, nothing is saved, logged or posted.
struct DeviceIdsWriteLock {
    DeviceIdsWriteLock();
    ~DeviceIdsWriteLock();
    DeviceIdsWriteLock(const DeviceIdsWriteLock&) = delete;
    DeviceIdsWriteLock& operator=(const DeviceIdsWriteLock&) = delete;
};
