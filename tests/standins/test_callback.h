#pragma once
// A source reader callback for tests: records every answer, can ask for the next sample from
// inside the callback (as the product does), and can drop the last reader reference there.
#include <windows.h>
#include <gtest/gtest.h>
#include <mfidl.h>
#include <mfreadwrite.h>

#include <atomic>
#include <functional>
#include <vector>

#include "standins/virtual_devices.h"
#include "tests/support/handle_count.h"

struct Delivery {
    HRESULT status;
    DWORD flags;
    LONGLONG timestamp;
    double wallSeconds;  // when the callback ran
};

struct TestCallback final : IMFSourceReaderCallback {
    std::atomic<ULONG> refs{1};
    // `lock` guards the fields up to `samples`.
    SRWLOCK lock = SRWLOCK_INIT;
    CONDITION_VARIABLE changed = CONDITION_VARIABLE_INIT;
    std::vector<Delivery> deliveries;
    int flushes = 0;
    DWORD flushStream = 0;
    std::vector<IMFSample*> samples;  // the first `keepSamples` samples, one reference each
    size_t keepSamples = 0;

    // When set, every successful answer asks this reader for the next sample.
    std::atomic<IMFSourceReader*> requestFrom{nullptr};
    DWORD stream = static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM);
    // When ≥ 0: after that many answers the callback releases `ownedReader` (its last reference).
    std::atomic<int> releaseAfter{-1};
    std::atomic<IMFSourceReader*> ownedReader{nullptr};

    ~TestCallback();
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override;
    HRESULT STDMETHODCALLTYPE OnReadSample(HRESULT status, DWORD streamIndex, DWORD flags, LONGLONG timestamp,
                                           IMFSample* sample) override;
    HRESULT STDMETHODCALLTYPE OnFlush(DWORD streamIndex) override;
    HRESULT STDMETHODCALLTYPE OnEvent(DWORD, IMFMediaEvent*) override { return S_OK; }

    // Waits (at most `timeoutMs`) until `condition` holds under the lock; returns whether it did.
    bool WaitUntil(const std::function<bool()>& condition, DWORD timeoutMs = 10000);
    size_t DeliveryCount();
};

double TestNowSeconds();

// Opens a device through the seam: device source, then an asynchronous reader with `callback`.
HRESULT OpenVirtualReader(VirtualKind kind, const wchar_t* id, TestCallback* callback, IMFSourceReader** reader);

// Sets the native type `index`, then the partial RGB32 type, as the product does.
HRESULT ChooseRgb32(IMFSourceReader* reader, DWORD nativeIndex);

// Reads the pixels of a one-buffer RGB32 sample through the first interface the buffer offers
// (IMF2DBuffer2, IMF2DBuffer, plain with `defaultStride`), top row first. Returns false when
// the buffer is too small for width × height. `path` gets 2, 1 or 0 for the interface used.
bool ReadRgb32(IMFSample* sample, int32_t width, int32_t height, int32_t defaultStride, std::vector<uint32_t>* pixels,
               int* path);


// Media Foundation started and the virtual devices installed (empty) for each test.
class VirtualDeviceTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;
    HRESULT com_ = E_FAIL;
    VirtualDeviceCounters before_{};
};

// A small pattern camera: 300 × 5 pixels at 30 frames per second (NV12 native), so that rows
// are padded in 2-D buffers and the pattern's 256-pixel blocks show.
VirtualDevice PatternCamera(const wchar_t* id);
