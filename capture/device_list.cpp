#include "capture/device_list.h"

#include <windows.h>
#include <mfapi.h>
#include <mfidl.h>
#include <objbase.h>

#include <cstring>
#include <span>

#include "base/text_copy.h"
#include "app/texts.h"
#include "base/win_owners.h"
#include "capture/camera_control.h"
#include "capture/device_rules.h"
#include "capture/media_seam.h"
#include "diag/log.h"
#include "settings/settings_store.h"

namespace {

enum class MediaFoundationState : uint8_t { NotTried, Started, Failed };

// Guards `mediaFoundation` and is held across MFStartup/MFShutdown, so that concurrent first
// callers wait for the one start and then see its result. Nothing is logged under it.
SRWLOCK startLock = SRWLOCK_INIT;
MediaFoundationState mediaFoundation = MediaFoundationState::NotTried;

CaptureActiveIdSet activeIds;  // camera control thread only

// The lock of DeviceIdsWriteLock: exclusive for the UI thread's changes, shared for the copy.
SRWLOCK deviceIdsLock = SRWLOCK_INIT;

// Fills `entry` from one activation object; false when it has no identifier.
bool ReadEntry(CaptureKind kind, IMFActivate* activate, CaptureDevice& entry)
{
    const GUID& idKey = kind == CaptureKind::Camera ? MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK
                                                    : MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_AUDCAP_ENDPOINT_ID;
    CoTaskText id;
    UINT32 length = 0;
    if (FAILED(activate->GetAllocatedString(idKey, &id.text, &length)) || !id.text || id.text[0] == L'\0') return false;
    std::memset(&entry, 0, sizeof(entry));
    CopyTextCut(entry.id, CAPTURE_ID_CAPACITY, id.text);
    CoTaskText name;
    if (SUCCEEDED(activate->GetAllocatedString(MF_DEVSOURCE_ATTRIBUTE_FRIENDLY_NAME, &name.text, &length)) && name.text &&
        name.text[0] != L'\0')
        CopyTextCut(entry.friendlyName, CAPTURE_FRIENDLY_NAME_CAPACITY, name.text);
    else
        CopyTextCut(entry.friendlyName, CAPTURE_FRIENDLY_NAME_CAPACITY, PickText(L"Unbekanntes Ger\u00e4t", L"Unknown device"));
    return true;
}

// The devices of one kind in the system's order, at most `capacity`; every activation object
// is released, also those beyond the capacity.
int32_t CollectDevices(CaptureKind kind, CaptureDevice* devices, int32_t capacity)
{
    ComOwner<IMFAttributes> attributes;
    IMFActivate** activates = nullptr;  // some systems leave it untouched when nothing is found
    UINT32 total = 0;
    HRESULT hr = MFCreateAttributes(&attributes, 1);
    if (SUCCEEDED(hr))
        hr = attributes->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, kind == CaptureKind::Camera
                                                                         ? MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID
                                                                         : MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_AUDCAP_GUID);
    if (SUCCEEDED(hr)) hr = SeamEnumDeviceSources(attributes.Get(), &activates, &total);
    if (FAILED(hr)) {
        LogWrite(LOG_WARN, L"Ger\u00e4te-Suche fehlgeschlagen (0x%08lX)", LogHresult(hr));
        total = 0;
    }
    int32_t count = 0;
    for (UINT32 i = 0; activates && i < total; ++i) {
        IMFActivate* activate = activates[i];
        if (!activate) continue;
        if (count < capacity && ReadEntry(kind, activate, devices[count])) ++count;
        activate->Release();
    }
    CoTaskMemFree(activates);
    return count;
}

}  // namespace

bool CaptureStartMediaFoundation()
{
    HRESULT failure = S_OK;
    AcquireSRWLockExclusive(&startLock);
    if (mediaFoundation == MediaFoundationState::NotTried) {
        const HRESULT hr = MFStartup(MF_VERSION, MFSTARTUP_FULL);
        mediaFoundation = SUCCEEDED(hr) ? MediaFoundationState::Started : MediaFoundationState::Failed;
        if (FAILED(hr)) failure = hr;
    }
    const bool started = mediaFoundation == MediaFoundationState::Started;
    ReleaseSRWLockExclusive(&startLock);
    if (FAILED(failure)) LogWrite(LOG_ERROR, L"Media Foundation konnte nicht gestartet werden (0x%08lX)", LogHresult(failure));
    return started;
}

void CaptureStopMediaFoundation()
{
    AcquireSRWLockExclusive(&startLock);
    if (mediaFoundation == MediaFoundationState::Started) {
        MFShutdown();
        mediaFoundation = MediaFoundationState::NotTried;
    }
    ReleaseSRWLockExclusive(&startLock);
}

int32_t CaptureEnumerate(CaptureKind kind, CaptureDevice* devices, int32_t capacity)
{
    if (!devices || capacity < 1) return 0;
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const int32_t count = CollectDevices(kind, devices, capacity);
    if (SUCCEEDED(com)) CoUninitialize();
    DeviceListOrder(std::span<CaptureDevice>(devices, static_cast<size_t>(count)));
    return count;
}

int32_t CaptureListCameras(CaptureDevice* devices, int32_t capacity)
{
    if (!devices || capacity < 1 || !CaptureStartMediaFoundation()) return 0;
    return CaptureEnumerate(CaptureKind::Camera, devices, capacity);
}

int32_t CaptureListMicrophones(CaptureDevice* devices, int32_t capacity)
{
    if (!devices || capacity < 1 || !CaptureStartMediaFoundation()) return 0;
    return CaptureEnumerate(CaptureKind::Microphone, devices, capacity);
}

DeviceIdsWriteLock::DeviceIdsWriteLock()
{
    AcquireSRWLockExclusive(&deviceIdsLock);
}

DeviceIdsWriteLock::~DeviceIdsWriteLock()
{
    ReleaseSRWLockExclusive(&deviceIdsLock);
}

void CaptureResolveDeviceIds()
{
    AcquireSRWLockShared(&deviceIdsLock);
    CopyTextCut(activeIds.wide, CAPTURE_ID_CAPACITY, Settings.wideDeviceID);
    CopyTextCut(activeIds.macro, CAPTURE_ID_CAPACITY, Settings.macroDeviceID);
    CopyTextCut(activeIds.microphone, CAPTURE_ID_CAPACITY, Settings.micDeviceID);
    ReleaseSRWLockShared(&deviceIdsLock);
    if ((activeIds.wide[0] == L'\0' || activeIds.macro[0] == L'\0') && CaptureStartMediaFoundation()) {
        CaptureDevice cameras[CAPTURE_LIST_CAPACITY];
        const int32_t count = CaptureListCameras(cameras, CAPTURE_LIST_CAPACITY);
        DeviceFillEmptyRoles(std::span<const CaptureDevice>(cameras, static_cast<size_t>(count)), activeIds.wide,
                             activeIds.macro);
    }
    CaptureBeginSearch();
}

const CaptureActiveIdSet& CaptureActiveIds()
{
    return activeIds;
}

void CameraExchangeIds()
{
    {
        DeviceIdsWriteLock hold;
        wchar_t wide[SETTINGS_DEVICE_ID_CAPACITY];
        CopyTextCut(wide, SETTINGS_DEVICE_ID_CAPACITY, Settings.wideDeviceID);
        CopyTextCut(Settings.wideDeviceID, SETTINGS_DEVICE_ID_CAPACITY, Settings.macroDeviceID);
        CopyTextCut(Settings.macroDeviceID, SETTINGS_DEVICE_ID_CAPACITY, wide);
    }
    SettingsSave();
}

void CameraSwapRoles()
{
    CameraExchangeIds();
    LogWrite(LOG_EVENT, L"Kameras getauscht (Wide \u2194 Macro)");
}
