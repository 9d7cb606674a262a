#include "tests/standins/test_callback.h"

#include <mfapi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "capture/media_seam.h"
#include "standins/com_ref.h"

TestCallback::~TestCallback()
{
    for (IMFSample* sample : samples) sample->Release();
}

HRESULT TestCallback::QueryInterface(REFIID riid, void** object)
{
    if (!object) return E_POINTER;
    *object = nullptr;
    if (riid != IID_IUnknown && riid != IID_IMFSourceReaderCallback) return E_NOINTERFACE;
    *object = static_cast<IMFSourceReaderCallback*>(this);
    AddRef();
    return S_OK;
}

ULONG TestCallback::Release()
{
    ULONG count = --refs;
    if (count == 0) delete this;
    return count;
}

HRESULT TestCallback::OnReadSample(HRESULT status, DWORD, DWORD flags, LONGLONG timestamp, IMFSample* sample)
{
    AcquireSRWLockExclusive(&lock);
    deliveries.push_back({status, flags, timestamp, TestNowSeconds()});
    size_t count = deliveries.size();
    if (sample && samples.size() < keepSamples) {
        sample->AddRef();
        samples.push_back(sample);
    }
    ReleaseSRWLockExclusive(&lock);
    WakeAllConditionVariable(&changed);
    if (static_cast<int>(count) == releaseAfter.load()) {
        IMFSourceReader* owned = ownedReader.exchange(nullptr);
        if (owned) owned->Release();
        return S_OK;
    }
    IMFSourceReader* reader = requestFrom.load();
    if (reader && SUCCEEDED(status) && !(flags & MF_SOURCE_READERF_ERROR))
        reader->ReadSample(stream, 0, nullptr, nullptr, nullptr, nullptr);
    return S_OK;
}

HRESULT TestCallback::OnFlush(DWORD streamIndex)
{
    AcquireSRWLockExclusive(&lock);
    ++flushes;
    flushStream = streamIndex;
    ReleaseSRWLockExclusive(&lock);
    WakeAllConditionVariable(&changed);
    return S_OK;
}

bool TestCallback::WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    ULONGLONG end = GetTickCount64() + timeoutMs;
    AcquireSRWLockExclusive(&lock);
    bool met = condition();
    while (!met) {
        ULONGLONG now = GetTickCount64();
        if (now >= end) break;
        SleepConditionVariableSRW(&changed, &lock, static_cast<DWORD>(end - now), 0);
        met = condition();
    }
    ReleaseSRWLockExclusive(&lock);
    return met;
}

size_t TestCallback::DeliveryCount()
{
    AcquireSRWLockShared(&lock);
    size_t count = deliveries.size();
    ReleaseSRWLockShared(&lock);
    return count;
}

double TestNowSeconds()
{
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

HRESULT OpenVirtualReader(VirtualKind kind, const wchar_t* id, TestCallback* callback, IMFSourceReader** reader)
{
    bool camera = kind == VirtualKind::Camera;
    ComRef<IMFAttributes> device;
    HRESULT hr = MFCreateAttributes(&device, 2);
    if (SUCCEEDED(hr))
        hr = device->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE,
                             camera ? MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID : MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_AUDCAP_GUID);
    if (SUCCEEDED(hr))
        hr = device->SetString(camera ? MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK
                                      : MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_AUDCAP_ENDPOINT_ID,
                               id);
    ComRef<IMFMediaSource> source;
    if (SUCCEEDED(hr)) hr = SeamCreateDeviceSource(device.Get(), &source);
    ComRef<IMFAttributes> options;
    if (SUCCEEDED(hr)) hr = MFCreateAttributes(&options, 1);
    if (SUCCEEDED(hr)) hr = options->SetUnknown(MF_SOURCE_READER_ASYNC_CALLBACK, callback);
    if (SUCCEEDED(hr)) hr = SeamCreateSourceReaderFromMediaSource(source.Get(), options.Get(), reader);
    return hr;
}

HRESULT ChooseRgb32(IMFSourceReader* reader, DWORD nativeIndex)
{
    const DWORD video = static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM);
    ComRef<IMFMediaType> native;
    HRESULT hr = reader->GetNativeMediaType(video, nativeIndex, &native);
    if (SUCCEEDED(hr)) hr = reader->SetCurrentMediaType(video, nullptr, native.Get());
    ComRef<IMFMediaType> rgb;
    if (SUCCEEDED(hr)) hr = MFCreateMediaType(&rgb);
    if (SUCCEEDED(hr)) hr = rgb->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    if (SUCCEEDED(hr)) hr = rgb->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_RGB32);
    if (SUCCEEDED(hr)) hr = reader->SetCurrentMediaType(video, nullptr, rgb.Get());
    return hr;
}

bool ReadRgb32(IMFSample* sample, int32_t width, int32_t height, int32_t defaultStride, std::vector<uint32_t>* pixels,
               int* path)
{
    ComRef<IMFMediaBuffer> buffer;
    if (FAILED(sample->ConvertToContiguousBuffer(&buffer))) return false;
    size_t rowBytes = static_cast<size_t>(width) * 4;
    pixels->assign(static_cast<size_t>(width) * height, 0);
    auto copyRows = [&](const BYTE* row0, ptrdiff_t pitch) {
        for (int32_t y = 0; y < height; ++y) std::memcpy(pixels->data() + static_cast<size_t>(y) * width, row0 + y * pitch, rowBytes);
    };
    ComRef<IMF2DBuffer2> planes2;
    ComRef<IMF2DBuffer> planes;
    if (SUCCEEDED(buffer->QueryInterface(IID_PPV_ARGS(&planes2)))) {
        *path = 2;
        BYTE *scanline0 = nullptr, *start = nullptr;
        LONG pitch = 0;
        DWORD length = 0;
        if (FAILED(planes2->Lock2DSize(MF2DBuffer_LockFlags_Read, &scanline0, &pitch, &start, &length))) return false;
        const BYTE* first = scanline0;
        const BYTE* last = first + static_cast<ptrdiff_t>(height - 1) * pitch;
        bool fits = static_cast<size_t>(std::abs(pitch)) >= rowBytes && std::min(first, last) >= start &&
                    std::max(first, last) + rowBytes <= start + length;
        if (fits) copyRows(scanline0, pitch);
        planes2->Unlock2D();
        return fits;
    }
    if (SUCCEEDED(buffer->QueryInterface(IID_PPV_ARGS(&planes)))) {
        *path = 1;
        BYTE* scanline0 = nullptr;
        LONG pitch = 0;
        DWORD length = 0;
        if (FAILED(planes->Lock2D(&scanline0, &pitch))) return false;
        bool fits = SUCCEEDED(planes->GetContiguousLength(&length)) && length >= rowBytes * height &&
                    static_cast<size_t>(std::abs(pitch)) >= rowBytes;
        if (fits) copyRows(scanline0, pitch);
        planes->Unlock2D();
        return fits;
    }
    *path = 0;
    BYTE* data = nullptr;
    DWORD length = 0;
    if (FAILED(buffer->Lock(&data, nullptr, &length))) return false;
    ptrdiff_t stride = defaultStride ? defaultStride : static_cast<ptrdiff_t>(rowBytes);
    size_t span = static_cast<size_t>(height - 1) * static_cast<size_t>(std::abs(stride)) + rowBytes;
    bool fits = length >= span && static_cast<size_t>(std::abs(stride)) >= rowBytes;
    if (fits) copyRows(stride > 0 ? data : data + (height - 1) * -stride, stride);
    buffer->Unlock();
    return fits;
}

void VirtualDeviceTest::SetUp()
{
    com_ = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    ASSERT_EQ(MFStartup(MF_VERSION, 0), S_OK);
    VirtualDevicesInstall();
    before_ = VirtualDevicesCounters();
}

void VirtualDeviceTest::TearDown()
{
    VirtualDevicesUninstall();
    MFShutdown();
    if (SUCCEEDED(com_)) CoUninitialize();
}

VirtualDevice PatternCamera(const wchar_t* id)
{
    VirtualDevice device = VirtualCamera(id, L"Test Camera", SceneKind::Pattern);
    device.modeCount = 1;
    device.modes[0] = {300, 5, 30, 1, VirtualPixels::Nv12};
    return device;
}
