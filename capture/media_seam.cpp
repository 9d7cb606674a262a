#include "capture/media_seam.h"

#include <mfapi.h>

#include <atomic>

namespace {
std::atomic<const MediaSeamOverride*> installed{nullptr};
}

void MediaSeamInstall(const MediaSeamOverride* table)
{
    installed.store(table, std::memory_order_release);
}

HRESULT SeamEnumDeviceSources(IMFAttributes* attributes, IMFActivate*** activates, UINT32* count)
{
    const MediaSeamOverride* table = installed.load(std::memory_order_acquire);
    if (table && table->enumDeviceSources) return table->enumDeviceSources(attributes, activates, count);
    return MFEnumDeviceSources(attributes, activates, count);
}

HRESULT SeamCreateDeviceSource(IMFAttributes* attributes, IMFMediaSource** source)
{
    const MediaSeamOverride* table = installed.load(std::memory_order_acquire);
    if (table && table->createDeviceSource) return table->createDeviceSource(attributes, source);
    return MFCreateDeviceSource(attributes, source);
}

HRESULT SeamCreateSourceReaderFromMediaSource(IMFMediaSource* source, IMFAttributes* attributes,
                                              IMFSourceReader** reader)
{
    const MediaSeamOverride* table = installed.load(std::memory_order_acquire);
    if (table && table->createSourceReaderFromMediaSource)
        return table->createSourceReaderFromMediaSource(source, attributes, reader);
    return MFCreateSourceReaderFromMediaSource(source, attributes, reader);
}
