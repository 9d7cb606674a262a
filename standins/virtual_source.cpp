#include "standins/virtual_source.h"

#include <mfapi.h>
#include <mferror.h>

#include <atomic>
#include <new>

namespace {

// Private interface id: answered only by virtual sources, with the object itself.
constexpr GUID IID_VIRTUAL_SOURCE = {0x6d1c52a4, 0x3b0e, 0x4f43, {0x9a, 0x61, 0x2e, 0x83, 0x5c, 0x77, 0x10, 0xd9}};

struct VirtualSource final : IMFMediaSource {
    std::atomic<ULONG> refs{1};
    std::atomic<bool> shutDown{false};
    VirtualSourceInfo info{};

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid == IID_IUnknown || riid == IID_IMFMediaEventGenerator || riid == IID_IMFMediaSource ||
            riid == IID_VIRTUAL_SOURCE) {
            *object = static_cast<IMFMediaSource*>(this);
            AddRef();
            return S_OK;
        }
        return E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        ULONG count = --refs;
        if (count == 0) {
            VirtualCount(VirtualCounter::Sources, -1);
            delete this;
        }
        return count;
    }

    // The readers made from this source do not use its events or its start and stop.
    HRESULT Unused() const { return shutDown ? MF_E_SHUTDOWN : E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetEvent(DWORD, IMFMediaEvent**) override { return Unused(); }
    HRESULT STDMETHODCALLTYPE BeginGetEvent(IMFAsyncCallback*, IUnknown*) override { return Unused(); }
    HRESULT STDMETHODCALLTYPE EndGetEvent(IMFAsyncResult*, IMFMediaEvent**) override { return Unused(); }
    HRESULT STDMETHODCALLTYPE QueueEvent(MediaEventType, REFGUID, HRESULT, const PROPVARIANT*) override { return Unused(); }
    HRESULT STDMETHODCALLTYPE CreatePresentationDescriptor(IMFPresentationDescriptor**) override { return Unused(); }
    HRESULT STDMETHODCALLTYPE Start(IMFPresentationDescriptor*, const GUID*, const PROPVARIANT*) override { return Unused(); }
    HRESULT STDMETHODCALLTYPE Stop() override { return Unused(); }
    HRESULT STDMETHODCALLTYPE Pause() override { return Unused(); }

    HRESULT STDMETHODCALLTYPE GetCharacteristics(DWORD* characteristics) override
    {
        if (!characteristics) return E_POINTER;
        if (shutDown) return MF_E_SHUTDOWN;
        *characteristics = MFMEDIASOURCE_IS_LIVE;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE Shutdown() override
    {
        shutDown = true;
        return S_OK;
    }
};

}  // namespace

HRESULT VirtualSourceOpen(VirtualKind kind, const wchar_t* id, IMFMediaSource** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    VirtualSource* source = new (std::nothrow) VirtualSource;
    if (!source) return E_OUTOFMEMORY;
    if (!VirtualDeviceFind(kind, id, &source->info.device, &source->info.handle, &source->info.generation)) {
        delete source;
        return VIRTUAL_DEVICE_MISSING;
    }
    VirtualCount(VirtualCounter::Sources, 1);
    *out = source;
    return S_OK;
}

bool VirtualSourceDescribe(IMFMediaSource* source, VirtualSourceInfo* info, bool* shutDown)
{
    if (!source) return false;
    void* object = nullptr;
    if (FAILED(source->QueryInterface(IID_VIRTUAL_SOURCE, &object)) || !object) return false;
    auto* own = static_cast<VirtualSource*>(static_cast<IMFMediaSource*>(object));
    if (info) *info = own->info;
    if (shutDown) *shutDown = own->shutDown;
    own->Release();
    return true;
}
