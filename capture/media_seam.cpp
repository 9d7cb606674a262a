#include "capture/media_seam.h"

#include <mfapi.h>

#include <atomic>

#ifdef MIRU_TEST_HOOKS

#include "diag/log.h"
#include "standins/virtual_seam.h"

namespace {

std::atomic<const MediaSeamOverride*> installed{nullptr};
INIT_ONCE environmentOnce = INIT_ONCE_STATIC_INIT;

// A machine without cameras (or a demonstration) asks for the virtual devices through the
// environment; the value names the device set.
BOOL CALLBACK ReadEnvironment(PINIT_ONCE, PVOID, PVOID*)
{
    wchar_t value[64];
    DWORD length = GetEnvironmentVariableW(L"MIRU_VIRTUAL_DEVICES", value, 64);
    if (length == 0) return TRUE;  // not set, or empty
    if (length >= 64) wcscpy_s(value, L"default");  // too long to be a set name
    installed.store(VirtualDevicesFromEnvironment(value), std::memory_order_release);
    LogWrite(LOG_INFO, L"Virtuelle Kameras aktiv (MIRU_VIRTUAL_DEVICES=%ls)", value);
    return TRUE;
}

const MediaSeamOverride* Current()
{
    InitOnceExecuteOnce(&environmentOnce, ReadEnvironment, nullptr, nullptr);
    return installed.load(std::memory_order_acquire);
}

}  // namespace

void MediaSeamInstall(const MediaSeamOverride* table)
{
    Current();  // an explicit table replaces the one the environment chose, never the reverse
    installed.store(table, std::memory_order_release);
}

#else

namespace {
// Nothing can be installed: every call below goes to Media Foundation.
constexpr const MediaSeamOverride* Current()
{
    return nullptr;
}
}  // namespace

#endif

HRESULT SeamEnumDeviceSources(IMFAttributes* attributes, IMFActivate*** activates, UINT32* count)
{
    const MediaSeamOverride* table = Current();
    if (table && table->enumDeviceSources) return table->enumDeviceSources(attributes, activates, count);
    return MFEnumDeviceSources(attributes, activates, count);
}

HRESULT SeamCreateDeviceSource(IMFAttributes* attributes, IMFMediaSource** source)
{
    const MediaSeamOverride* table = Current();
    if (table && table->createDeviceSource) return table->createDeviceSource(attributes, source);
    return MFCreateDeviceSource(attributes, source);
}

HRESULT SeamCreateSourceReaderFromMediaSource(IMFMediaSource* source, IMFAttributes* attributes,
                                              IMFSourceReader** reader)
{
    const MediaSeamOverride* table = Current();
    if (table && table->createSourceReaderFromMediaSource)
        return table->createSourceReaderFromMediaSource(source, attributes, reader);
    return MFCreateSourceReaderFromMediaSource(source, attributes, reader);
}

HRESULT SeamCreateSinkWriterFromURL(const wchar_t* url, IMFByteStream* byteStream, IMFAttributes* attributes,
                                    IMFSinkWriter** writer)
{
    const MediaSeamOverride* table = Current();
    if (table && table->createSinkWriterFromURL)
        return table->createSinkWriterFromURL(url, byteStream, attributes, writer);
    return MFCreateSinkWriterFromURL(url, byteStream, attributes, writer);
}
