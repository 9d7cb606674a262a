#include "standins/virtual_activate.h"

#include <mfapi.h>

#include <atomic>
#include <new>

#include "base/win_owners.h"
#include "standins/virtual_source.h"

namespace {

struct VirtualActivate final : IMFActivate {
    std::atomic<ULONG> refs{1};
    IMFAttributes* store = nullptr;  // owned; every attribute call goes here
    VirtualKind kind = VirtualKind::Camera;
    wchar_t id[VIRTUAL_ID_CAPACITY] = {};
    SRWLOCK activatedLock = SRWLOCK_INIT;  // guards `activated` only
    IMFMediaSource* activated = nullptr;

    ~VirtualActivate()
    {
        if (activated) activated->Release();
        if (store) store->Release();
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        if (!object) return E_POINTER;
        *object = nullptr;
        if (riid == IID_IUnknown || riid == IID_IMFAttributes || riid == IID_IMFActivate) {
            *object = static_cast<IMFActivate*>(this);
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
            VirtualCount(VirtualCounter::Activates, -1);
            VirtualCount(VirtualCounter::ActivatesFreed, 1);
            delete this;
        }
        return count;
    }

    HRESULT STDMETHODCALLTYPE ActivateObject(REFIID riid, void** object) override
    {
        if (!object) return E_POINTER;
        *object = nullptr;
        AcquireSRWLockExclusive(&activatedLock);
        HRESULT hr = activated ? S_OK : VirtualSourceOpen(kind, id, &activated);
        if (SUCCEEDED(hr)) hr = activated->QueryInterface(riid, object);
        ReleaseSRWLockExclusive(&activatedLock);
        return hr;
    }
    HRESULT STDMETHODCALLTYPE ShutdownObject() override
    {
        ComOwner<IMFMediaSource> source(TakeActivated());
        if (source) source->Shutdown();
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE DetachObject() override
    {
        ComOwner<IMFMediaSource> source(TakeActivated());
        return S_OK;
    }
    IMFMediaSource* TakeActivated()
    {
        AcquireSRWLockExclusive(&activatedLock);
        IMFMediaSource* source = activated;
        activated = nullptr;
        ReleaseSRWLockExclusive(&activatedLock);
        return source;
    }

    // IMFAttributes: the inner store answers.
    HRESULT STDMETHODCALLTYPE GetItem(REFGUID key, PROPVARIANT* value) override { return store->GetItem(key, value); }
    HRESULT STDMETHODCALLTYPE GetItemType(REFGUID key, MF_ATTRIBUTE_TYPE* type) override { return store->GetItemType(key, type); }
    HRESULT STDMETHODCALLTYPE CompareItem(REFGUID key, REFPROPVARIANT value, BOOL* result) override { return store->CompareItem(key, value, result); }
    HRESULT STDMETHODCALLTYPE Compare(IMFAttributes* theirs, MF_ATTRIBUTES_MATCH_TYPE match, BOOL* result) override { return store->Compare(theirs, match, result); }
    HRESULT STDMETHODCALLTYPE GetUINT32(REFGUID key, UINT32* value) override { return store->GetUINT32(key, value); }
    HRESULT STDMETHODCALLTYPE GetUINT64(REFGUID key, UINT64* value) override { return store->GetUINT64(key, value); }
    HRESULT STDMETHODCALLTYPE GetDouble(REFGUID key, double* value) override { return store->GetDouble(key, value); }
    HRESULT STDMETHODCALLTYPE GetGUID(REFGUID key, GUID* value) override { return store->GetGUID(key, value); }
    HRESULT STDMETHODCALLTYPE GetStringLength(REFGUID key, UINT32* length) override { return store->GetStringLength(key, length); }
    HRESULT STDMETHODCALLTYPE GetString(REFGUID key, LPWSTR value, UINT32 size, UINT32* length) override { return store->GetString(key, value, size, length); }
    HRESULT STDMETHODCALLTYPE GetAllocatedString(REFGUID key, LPWSTR* value, UINT32* length) override { return store->GetAllocatedString(key, value, length); }
    HRESULT STDMETHODCALLTYPE GetBlobSize(REFGUID key, UINT32* size) override { return store->GetBlobSize(key, size); }
    HRESULT STDMETHODCALLTYPE GetBlob(REFGUID key, UINT8* buffer, UINT32 size, UINT32* used) override { return store->GetBlob(key, buffer, size, used); }
    HRESULT STDMETHODCALLTYPE GetAllocatedBlob(REFGUID key, UINT8** buffer, UINT32* size) override { return store->GetAllocatedBlob(key, buffer, size); }
    HRESULT STDMETHODCALLTYPE GetUnknown(REFGUID key, REFIID riid, LPVOID* object) override { return store->GetUnknown(key, riid, object); }
    HRESULT STDMETHODCALLTYPE SetItem(REFGUID key, REFPROPVARIANT value) override { return store->SetItem(key, value); }
    HRESULT STDMETHODCALLTYPE DeleteItem(REFGUID key) override { return store->DeleteItem(key); }
    HRESULT STDMETHODCALLTYPE DeleteAllItems() override { return store->DeleteAllItems(); }
    HRESULT STDMETHODCALLTYPE SetUINT32(REFGUID key, UINT32 value) override { return store->SetUINT32(key, value); }
    HRESULT STDMETHODCALLTYPE SetUINT64(REFGUID key, UINT64 value) override { return store->SetUINT64(key, value); }
    HRESULT STDMETHODCALLTYPE SetDouble(REFGUID key, double value) override { return store->SetDouble(key, value); }
    HRESULT STDMETHODCALLTYPE SetGUID(REFGUID key, REFGUID value) override { return store->SetGUID(key, value); }
    HRESULT STDMETHODCALLTYPE SetString(REFGUID key, LPCWSTR value) override { return store->SetString(key, value); }
    HRESULT STDMETHODCALLTYPE SetBlob(REFGUID key, const UINT8* buffer, UINT32 size) override { return store->SetBlob(key, buffer, size); }
    HRESULT STDMETHODCALLTYPE SetUnknown(REFGUID key, IUnknown* object) override { return store->SetUnknown(key, object); }
    HRESULT STDMETHODCALLTYPE LockStore() override { return store->LockStore(); }
    HRESULT STDMETHODCALLTYPE UnlockStore() override { return store->UnlockStore(); }
    HRESULT STDMETHODCALLTYPE GetCount(UINT32* count) override { return store->GetCount(count); }
    HRESULT STDMETHODCALLTYPE GetItemByIndex(UINT32 index, GUID* key, PROPVARIANT* value) override { return store->GetItemByIndex(index, key, value); }
    HRESULT STDMETHODCALLTYPE CopyAllItems(IMFAttributes* dest) override { return store->CopyAllItems(dest); }
};

}  // namespace

HRESULT VirtualActivateCreate(const VirtualDevice& device, IMFActivate** out)
{
    if (!out) return E_POINTER;
    *out = nullptr;
    VirtualActivate* activate = new (std::nothrow) VirtualActivate;
    if (!activate) return E_OUTOFMEMORY;
    activate->kind = device.kind;
    wcscpy_s(activate->id, device.id);
    bool camera = device.kind == VirtualKind::Camera;
    HRESULT hr = MFCreateAttributes(&activate->store, 3);
    if (SUCCEEDED(hr))
        hr = activate->store->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, camera ? MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID
                                                                                 : MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_AUDCAP_GUID);
    if (SUCCEEDED(hr))
        hr = activate->store->SetString(camera ? MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK
                                               : MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_AUDCAP_ENDPOINT_ID,
                                        device.id);
    if (SUCCEEDED(hr) && device.hasFriendlyName)
        hr = activate->store->SetString(MF_DEVSOURCE_ATTRIBUTE_FRIENDLY_NAME, device.friendlyName);
    if (FAILED(hr)) {
        delete activate;
        return hr;
    }
    VirtualCount(VirtualCounter::Activates, 1);
    *out = activate;
    return S_OK;
}
