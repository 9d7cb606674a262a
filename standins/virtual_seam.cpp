#include "standins/virtual_seam.h"

#include <mfapi.h>
#include <objbase.h>

#include <cwchar>
#include <memory>
#include <new>

#include "standins/virtual_activate.h"
#include "standins/virtual_devices.h"
#include "standins/virtual_reader.h"
#include "standins/virtual_sink_writer.h"
#include "standins/virtual_source.h"

namespace {

// The headset: two cameras of one model (same friendly name, different USB instance paths) and
// its microphone. The Wide camera has the smaller symbolic link, so automatic binding puts it
// in the Wide role.
constexpr const wchar_t* WIDE_LINK =
    L"\\\\?\\usb#vid_0c45&pid_636b&mi_00#7&1a2b3c4d&0&0000#{e5323777-f976-4f5b-9b55-b94699c46e44}\\global";
constexpr const wchar_t* MACRO_LINK =
    L"\\\\?\\usb#vid_0c45&pid_636b&mi_00#7&2c4e6f81&0&0000#{e5323777-f976-4f5b-9b55-b94699c46e44}\\global";
constexpr const wchar_t* CAMERA_NAME = L"HD USB Camera";
constexpr const wchar_t* MIC_ENDPOINT = L"{0.0.1.00000000}.{8d2f6a3e-5b1c-4e7a-9f0d-3c6b2a1e4f57}";
constexpr const wchar_t* MIC_NAME = L"Microphone (USB Audio Device)";

bool KindOf(IMFAttributes* attributes, VirtualKind* kind)
{
    GUID type{};
    if (!attributes || FAILED(attributes->GetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, &type))) return false;
    if (type == MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID) *kind = VirtualKind::Camera;
    else if (type == MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_AUDCAP_GUID) *kind = VirtualKind::Microphone;
    else return false;
    return true;
}

HRESULT EnumDeviceSources(IMFAttributes* attributes, IMFActivate*** activates, UINT32* count)
{
    if (!activates || !count) return E_POINTER;
    *activates = nullptr;
    *count = 0;
    VirtualKind kind{};
    if (!KindOf(attributes, &kind)) return E_INVALIDARG;
    std::unique_ptr<VirtualDevice[]> devices(new (std::nothrow) VirtualDevice[VIRTUAL_DEVICE_CAPACITY]);
    if (!devices) return E_OUTOFMEMORY;
    uint32_t found = VirtualDeviceList(kind, devices.get(), VIRTUAL_DEVICE_CAPACITY);
    if (found == 0) return S_OK;
    auto* array = static_cast<IMFActivate**>(CoTaskMemAlloc(found * sizeof(IMFActivate*)));
    if (!array) return E_OUTOFMEMORY;
    for (uint32_t i = 0; i < found; ++i) {
        HRESULT hr = VirtualActivateCreate(devices[i], &array[i]);
        if (FAILED(hr)) {
            for (uint32_t j = 0; j < i; ++j) array[j]->Release();
            CoTaskMemFree(array);
            return hr;
        }
    }
    *activates = array;
    *count = found;
    return S_OK;
}

HRESULT CreateDeviceSource(IMFAttributes* attributes, IMFMediaSource** source)
{
    if (!source) return E_POINTER;
    *source = nullptr;
    VirtualKind kind{};
    if (!KindOf(attributes, &kind)) return E_INVALIDARG;
    wchar_t* id = nullptr;
    UINT32 length = 0;
    const GUID& key = kind == VirtualKind::Camera ? MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK
                                                  : MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_AUDCAP_ENDPOINT_ID;
    if (FAILED(attributes->GetAllocatedString(key, &id, &length))) return E_INVALIDARG;
    HRESULT hr = VirtualSourceOpen(kind, id, source);
    CoTaskMemFree(id);
    return hr;
}

const MediaSeamOverride TABLE = {EnumDeviceSources, CreateDeviceSource, VirtualReaderCreate, VirtualSinkWriterCreate};

}  // namespace

const MediaSeamOverride* VirtualSeamTable()
{
    return &TABLE;
}

uint32_t VirtualAddNamedSet(const wchar_t* name)
{
    auto named = [name](const wchar_t* set) { return name && _wcsicmp(name, set) == 0; };
    if (named(L"none")) return 0;
    // The headset's microphone, or in its place one of another native format (a headset
    // microphone of 16 kHz mono, an array microphone of four channels).
    VirtualDevice microphone = VirtualMicrophone(MIC_ENDPOINT, MIC_NAME, SceneKind::Tone);
    if (named(L"mic-16k-mono")) {
        microphone.sampleRate = 16000;
        microphone.channels = 1;
    } else if (named(L"mic-4ch")) {
        microphone.channels = 4;
    }
    uint32_t added = 0;
    added += VirtualDeviceAdd(VirtualCamera(WIDE_LINK, CAMERA_NAME, SceneKind::Wide)) >= 0;
    if (!named(L"wide-only")) added += VirtualDeviceAdd(VirtualCamera(MACRO_LINK, CAMERA_NAME, SceneKind::Macro)) >= 0;
    if (!named(L"no-mic")) added += VirtualDeviceAdd(microphone) >= 0;
    return added;
}

const MediaSeamOverride* VirtualDevicesFromEnvironment(const wchar_t* value)
{
    VirtualAddNamedSet(value);
    return VirtualSeamTable();
}
