// The virtual devices as the capture code uses them: device lists, the asynchronous reader's
// pixel layout, flush, unplugging, release rules and leaks.
#include <windows.h>
#include <dbt.h>
#include <gtest/gtest.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "base/app_messages.h"
#include "capture/media_seam.h"
#include "base/win_owners.h"
#include "standins/virtual_devices.h"
#include "standins/virtual_seam.h"
#include "tests/support/handle_count.h"

namespace {

class VirtualDeviceTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        com_ = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ASSERT_EQ(MFStartup(MF_VERSION, 0), S_OK);
        VirtualDevicesInstall();
        before_ = VirtualDevicesCounters();
    }
    void TearDown() override
    {
        VirtualDevicesUninstall();
        MFShutdown();
        if (SUCCEEDED(com_)) CoUninitialize();
    }
    HRESULT com_ = E_FAIL;
    VirtualDeviceCounters before_{};
};

const GUID& IdKey(VirtualKind kind)
{
    return kind == VirtualKind::Camera ? MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK
                                       : MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_AUDCAP_ENDPOINT_ID;
}

// Attributes naming the device kind and, unless `id` is null, the device.
HRESULT DeviceAttributes(VirtualKind kind, const wchar_t* id, IMFAttributes** out)
{
    HRESULT hr = MFCreateAttributes(out, 2);
    if (SUCCEEDED(hr))
        hr = (*out)->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, kind == VirtualKind::Camera
                                                                     ? MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID
                                                                     : MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_AUDCAP_GUID);
    if (SUCCEEDED(hr) && id) hr = (*out)->SetString(IdKey(kind), id);
    return hr;
}

HRESULT OpenSource(VirtualKind kind, const wchar_t* id, IMFMediaSource** source)
{
    ComOwner<IMFAttributes> attributes;
    HRESULT hr = DeviceAttributes(kind, id, &attributes);
    return SUCCEEDED(hr) ? SeamCreateDeviceSource(attributes.Get(), source) : hr;
}

// A small pattern camera: 300 × 5 pixels at 30 per second (NV12 native), so that 2-D buffer
// rows are padded and the pattern's 256-pixel blocks show.
VirtualDevice PatternCamera(const wchar_t* id)
{
    VirtualDevice device = VirtualCamera(id, L"Test Camera", SceneKind::Pattern);
    device.modeCount = 1;
    device.modes[0] = {300, 5, 30, 1, VirtualPixels::Nv12};
    return device;
}

constexpr DWORD ALL = static_cast<DWORD>(MF_SOURCE_READER_ALL_STREAMS);
constexpr LONGLONG PERIOD_30 = 10'000'000 / 30;

struct Delivery {
    HRESULT status;
    DWORD flags;
    LONGLONG timestamp;
};

// Polls `condition` for at most `timeoutMs`.
template <class Condition>
bool Eventually(Condition condition, DWORD timeoutMs = 10000)
{
    for (const ULONGLONG end = GetTickCount64() + timeoutMs; !condition(); Sleep(2))
        if (GetTickCount64() >= end) return false;
    return true;
}

// Records every answer. While `requestFrom` is set, each good answer asks that reader for the
// next sample (as the capture code does); answer number `releaseAfter` drops the reference
// `requestFrom` holds instead.
struct TestCallback final : IMFSourceReaderCallback {
    std::atomic<ULONG> refs{1};
    std::atomic<IMFSourceReader*> requestFrom{nullptr};
    std::atomic<int> releaseAfter{-1};
    std::atomic<int> flushes{0};
    std::atomic<DWORD> dwellMs{0};  // each answer takes this long
    std::atomic<bool> answering{false};
    size_t keepSamples = 0;  // set before the first request
    std::function<void(IMFSample*, LONGLONG)> inspect;  // set before the first request; runs on every sample
    SRWLOCK lock = SRWLOCK_INIT;  // guards the two records below
    std::vector<Delivery> deliveries;
    std::vector<IMFSample*> samples;  // the first `keepSamples`, one reference each

    ~TestCallback()
    {
        for (IMFSample* sample : samples) sample->Release();
    }
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** object) override
    {
        const bool known = riid == IID_IUnknown || riid == IID_IMFSourceReaderCallback;
        *object = known ? static_cast<IMFSourceReaderCallback*>(this) : nullptr;
        if (known) AddRef();
        return known ? S_OK : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++refs; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG count = --refs;
        if (count == 0) delete this;
        return count;
    }
    HRESULT STDMETHODCALLTYPE OnReadSample(HRESULT status, DWORD, DWORD flags, LONGLONG timestamp,
                                           IMFSample* sample) override
    {
        answering = true;
        Sleep(dwellMs);
        if (sample && inspect) inspect(sample, timestamp);
        AcquireSRWLockExclusive(&lock);
        deliveries.push_back({status, flags, timestamp});
        const int count = static_cast<int>(deliveries.size());
        if (sample && samples.size() < keepSamples) {
            sample->AddRef();
            samples.push_back(sample);
        }
        ReleaseSRWLockExclusive(&lock);
        if (count == releaseAfter.load()) {
            if (IMFSourceReader* owned = requestFrom.exchange(nullptr)) owned->Release();
        } else if (IMFSourceReader* reader = requestFrom.load();
                   reader && SUCCEEDED(status) && !(flags & MF_SOURCE_READERF_ERROR)) {
            reader->ReadSample(0, 0, nullptr, nullptr, nullptr, nullptr);
        }
        answering = false;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnFlush(DWORD) override
    {
        ++flushes;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE OnEvent(DWORD, IMFMediaEvent*) override { return S_OK; }

    size_t Count()
    {
        AcquireSRWLockShared(&lock);
        const size_t count = deliveries.size();
        ReleaseSRWLockShared(&lock);
        return count;
    }
    // Answer `index`, or the latest one when it is beyond them (status S_FALSE before any).
    Delivery At(size_t index)
    {
        AcquireSRWLockShared(&lock);
        const Delivery delivery = deliveries.empty() ? Delivery{S_FALSE, 0, 0}
                                                     : deliveries[std::min(index, deliveries.size() - 1)];
        ReleaseSRWLockShared(&lock);
        return delivery;
    }
    Delivery Last() { return At(SIZE_MAX); }
};

// One reader with its callback; the test holds one reference to each.
struct Session {
    TestCallback* callback = new TestCallback;
    ComOwner<IMFSourceReader> reader;

    ~Session()
    {
        reader.Reset();
        callback->Release();
    }
    HRESULT Open(VirtualKind kind, const wchar_t* id)
    {
        ComOwner<IMFMediaSource> source;
        ComOwner<IMFAttributes> options;
        HRESULT hr = OpenSource(kind, id, &source);
        if (SUCCEEDED(hr)) hr = MFCreateAttributes(&options, 1);
        if (SUCCEEDED(hr)) hr = options->SetUnknown(MF_SOURCE_READER_ASYNC_CALLBACK, callback);
        if (SUCCEEDED(hr)) hr = SeamCreateSourceReaderFromMediaSource(source.Get(), options.Get(), &reader);
        return hr;
    }
    HRESULT Read() { return reader->ReadSample(0, 0, nullptr, nullptr, nullptr, nullptr); }
    // Keeps reading from inside the callback.
    HRESULT Stream()
    {
        callback->requestFrom = reader.Get();
        return Read();
    }
    bool WaitFor(size_t count)
    {
        return Eventually([&] { return callback->Count() >= count; });
    }
};

// RGB32 at the native size, as the capture code asks for it.
HRESULT ChooseRgb32(IMFSourceReader* reader)
{
    ComOwner<IMFMediaType> type;
    HRESULT hr = MFCreateMediaType(&type);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_RGB32);
    if (SUCCEEDED(hr)) hr = reader->SetCurrentMediaType(0, nullptr, type.Get());
    return hr;
}

// Checks that a 300 × 5 RGB32 sample holds frame `index` of the pattern, top row first, read
// through the interface the capture code uses for `kind`: a 2-D buffer by its own pitch, a
// plain buffer by the media type's default stride (negative: bottom-up).
void ExpectPattern(IMFSample* sample, VirtualBuffer kind, int32_t stride, int64_t index)
{
    ComOwner<IMFMediaBuffer> buffer;
    ASSERT_EQ(sample->ConvertToContiguousBuffer(&buffer), S_OK);
    ComOwner<IMF2DBuffer2> sized;
    ComOwner<IMF2DBuffer> planes;
    EXPECT_EQ(SUCCEEDED(buffer->QueryInterface(IID_PPV_ARGS(&sized))), kind == VirtualBuffer::TwoD2);
    const bool twoD = SUCCEEDED(buffer->QueryInterface(IID_PPV_ARGS(&planes)));
    ASSERT_EQ(twoD, kind != VirtualBuffer::Plain);
    BYTE* row0 = nullptr;
    LONG pitch = stride;
    DWORD length = 0;
    if (twoD) {
        ASSERT_EQ(planes->Lock2D(&row0, &pitch), S_OK);
        EXPECT_GE(std::abs(pitch), 1200);
    } else {
        ASSERT_EQ(buffer->Lock(&row0, nullptr, &length), S_OK);
        EXPECT_GE(length, 5 * 1200u);
        if (stride < 0) row0 += 4 * 1200;
    }
    EXPECT_EQ(pitch < 0, stride < 0);
    std::string mismatch;
    for (int32_t y = 0; y < 5 && mismatch.empty(); ++y) {
        for (int32_t x = 0; x < 300 && mismatch.empty(); ++x) {
            uint32_t pixel;
            std::memcpy(&pixel, row0 + static_cast<ptrdiff_t>(y) * pitch + x * 4, 4);
            if (pixel != ScenePatternPixel(x, y, index)) mismatch = std::to_string(x) + "," + std::to_string(y);
        }
    }
    EXPECT_EQ(mismatch, "");
    if (twoD) planes->Unlock2D();
    else buffer->Unlock();
}

bool WaitForCounters(const VirtualDeviceCounters& expected)
{
    return Eventually([&] {
        const VirtualDeviceCounters now = VirtualDevicesCounters();
        return now.readersLive == expected.readersLive && now.readerThreadsLive == expected.readerThreadsLive &&
               now.sourcesLive == expected.sourcesLive;
    });
}

// The ids of one kind in the order enumeration returns them; every activation object is released.
std::vector<std::wstring> Enumerate(VirtualKind kind)
{
    ComOwner<IMFAttributes> attributes;
    EXPECT_EQ(DeviceAttributes(kind, nullptr, &attributes), S_OK);
    IMFActivate** activates = nullptr;
    UINT32 count = 0;
    EXPECT_EQ(SeamEnumDeviceSources(attributes.Get(), &activates, &count), S_OK);
    std::vector<std::wstring> ids;
    for (UINT32 i = 0; i < count; ++i) {
        wchar_t* id = nullptr;
        UINT32 length = 0;
        activates[i]->GetAllocatedString(IdKey(kind), &id, &length);
        ids.emplace_back(id ? id : L"");
        CoTaskMemFree(id);
        activates[i]->Release();
    }
    CoTaskMemFree(activates);
    return ids;
}

}  // namespace

TEST_F(VirtualDeviceTest, EnumerationListsEveryDeviceOfItsKindInPlugOrderAndCountsReleases)
{
    for (int i = 19; i >= 0; --i)
        ASSERT_GE(VirtualDeviceAdd(VirtualCamera((L"cam-" + std::to_wstring(i)).c_str(), L"Cam", SceneKind::Pattern)), 0);
    VirtualDeviceAdd(VirtualMicrophone(L"mic", L"Mic", SceneKind::Silence));
    const std::vector<std::wstring> cameras = Enumerate(VirtualKind::Camera);
    ASSERT_EQ(cameras.size(), 20u);
    EXPECT_EQ(cameras.front(), L"cam-19");
    EXPECT_EQ(cameras.back(), L"cam-0");
    EXPECT_EQ(Enumerate(VirtualKind::Microphone), std::vector<std::wstring>{L"mic"});
    const VirtualDeviceCounters after = VirtualDevicesCounters();
    EXPECT_EQ(after.activatesLive, 0);
    EXPECT_EQ(after.activatesFreed - before_.activatesFreed, 21);

    // The named sets for runs without capture hardware: name, cameras, microphones.
    struct Set {
        const wchar_t* name;
        size_t cameras, microphones;
    };
    for (const Set& set : {Set{L"default", 2, 1}, Set{L"NONE", 0, 0}, Set{L"wide-only", 1, 1}, Set{L"no-mic", 2, 0},
                           Set{L"mic-16k-mono", 2, 1}, Set{L"Mic-4ch", 2, 1}}) {
        VirtualDevicesRemoveAll();
        VirtualAddNamedSet(set.name);
        EXPECT_EQ(Enumerate(VirtualKind::Camera).size(), set.cameras) << set.name;
        EXPECT_EQ(Enumerate(VirtualKind::Microphone).size(), set.microphones) << set.name;
    }
}

TEST_F(VirtualDeviceTest, Rgb32FramesHoldTheExactPatternThroughEachBufferInterface)
{
    VirtualDevicesSetTimeScale(10);
    for (const VirtualBuffer kind : {VirtualBuffer::TwoD2, VirtualBuffer::TwoDOnly, VirtualBuffer::Plain}) {
        for (const bool bottomUp : {false, true}) {
            SCOPED_TRACE(testing::Message() << "buffer " << static_cast<int>(kind) << " bottom-up " << bottomUp);
            VirtualDevice device = PatternCamera(L"cam");
            device.buffer = kind;
            device.bottomUp = bottomUp;
            const int32_t handle = VirtualDeviceAdd(device);
            Session session;
            ASSERT_EQ(session.Open(VirtualKind::Camera, L"cam"), S_OK);
            ASSERT_EQ(ChooseRgb32(session.reader.Get()), S_OK);
            ComOwner<IMFMediaType> type;
            ASSERT_EQ(session.reader->GetCurrentMediaType(0, &type), S_OK);
            const auto stride = static_cast<int32_t>(MFGetAttributeUINT32(type.Get(), MF_MT_DEFAULT_STRIDE, 0));
            EXPECT_EQ(stride, bottomUp ? -1200 : 1200);

            session.callback->keepSamples = 2;
            ASSERT_EQ(session.Stream(), S_OK);
            ASSERT_TRUE(session.WaitFor(2));
            session.callback->requestFrom = nullptr;
            for (size_t i = 0; i < 2; ++i) {
                const Delivery delivery = session.callback->At(i);
                ASSERT_EQ(delivery.status, S_OK);
                ASSERT_EQ(delivery.timestamp % PERIOD_30, 0);  // whole frames of stream time
                ExpectPattern(session.callback->samples[i], kind, stride, delivery.timestamp / PERIOD_30);
            }
            session.reader.Reset();
            VirtualDeviceRemove(handle);
        }
    }
}

// Sound as the capture code asks for it: `subtype` at `rate` with `channels`.
HRESULT ChooseSound(IMFSourceReader* reader, const GUID& subtype, UINT32 rate, UINT32 channels)
{
    ComOwner<IMFMediaType> type;
    HRESULT hr = MFCreateMediaType(&type);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
    if (SUCCEEDED(hr)) hr = type->SetGUID(MF_MT_SUBTYPE, subtype);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, rate);
    if (SUCCEEDED(hr)) hr = type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, channels);
    if (SUCCEEDED(hr)) hr = reader->SetCurrentMediaType(0, nullptr, type.Get());
    return hr;
}

double NowSeconds()
{
    LARGE_INTEGER now, frequency;
    QueryPerformanceCounter(&now);
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// What one stream showed: its stream times, where marks began, and how its stream time maps
// onto the wall clock (the smallest arrival-minus-stream-time: the least delayed sample).
struct MarkLog {
    SRWLOCK lock = SRWLOCK_INIT;
    LONGLONG first = -1;
    double offset = 1e30;
    bool inMark = true;  // a mark already running at the start is not an onset
    std::vector<double> onsets;  // stream seconds
    double last = 0;             // stream seconds of the newest sample

    void Sample(LONGLONG time, int64_t markFrom, double perUnit)
    {
        double now = NowSeconds();
        AcquireSRWLockExclusive(&lock);
        if (first < 0) first = time;
        last = time / 1e7;
        offset = std::min(offset, now - time / 1e7);
        if (markFrom >= 0 && !inMark) onsets.push_back(time / 1e7 + markFrom * perUnit);
        inMark = markFrom >= 0;
        ReleaseSRWLockExclusive(&lock);
    }
    size_t Onsets()
    {
        AcquireSRWLockShared(&lock);
        size_t count = onsets.size();
        ReleaseSRWLockShared(&lock);
        return count;
    }
    // Wall-clock seconds of the first onset and of the newest sample (1e30 while none).
    double FirstOnsetAt()
    {
        AcquireSRWLockShared(&lock);
        double at = onsets.empty() ? 1e30 : offset + onsets[0];
        ReleaseSRWLockShared(&lock);
        return at;
    }
    double NewestAt()
    {
        AcquireSRWLockShared(&lock);
        double at = first < 0 ? -1e30 : offset + last;
        ReleaseSRWLockShared(&lock);
        return at;
    }
};

// The microphones are a 16 kHz mono one and a 48 kHz four-channel one whose sound the reader
// converts to 48 kHz with one or two channels, as the capture code asks: the conversion keeps
// the clicks at their instants.
TEST_F(VirtualDeviceTest, WideCameraAndMicrophoneStampFromZeroAndMarkTheSameInstants)
{
    VirtualDevice wide = VirtualCamera(L"wide", L"Wide", SceneKind::Wide);
    wide.modeCount = 1;
    wide.modes[0] = {320, 180, 30, 1, VirtualPixels::Nv12};
    ASSERT_GE(VirtualDeviceAdd(wide), 0);
    for (const auto& [rate, native, channels] : {std::tuple{16000u, 1u, 1u}, {48000u, 4u, 2u}}) {
        SCOPED_TRACE(testing::Message() << rate << " Hz, " << native << " channels");
        VirtualDevice mic = VirtualMicrophone(L"mic", L"Mic", SceneKind::Tone);
        mic.sampleRate = rate;
        mic.channels = native;
        const int32_t micHandle = VirtualDeviceAdd(mic);
        MarkLog video, audio;
        Session camera, microphone;
        ASSERT_EQ(camera.Open(VirtualKind::Camera, L"wide"), S_OK);
        ASSERT_EQ(ChooseRgb32(camera.reader.Get()), S_OK);
        const SceneRect flash = SceneFlashRect(320, 180);
        camera.callback->inspect = [&](IMFSample* sample, LONGLONG time) {
            ComOwner<IMFMediaBuffer> buffer;
            ComOwner<IMF2DBuffer> planes;
            BYTE* row0 = nullptr;
            LONG pitch = 0;
            uint32_t pixel = 0;
            if (SUCCEEDED(sample->GetBufferByIndex(0, &buffer)) &&
                SUCCEEDED(buffer->QueryInterface(IID_PPV_ARGS(&planes))) && SUCCEEDED(planes->Lock2D(&row0, &pitch))) {
                int32_t x = (flash.left + flash.right) / 2, y = (flash.top + flash.bottom) / 2;
                std::memcpy(&pixel, row0 + y * pitch + x * 4, 4);
                planes->Unlock2D();
            }
            video.Sample(time, (pixel & 0xFFFFFF) == 0xFFFFFF ? 0 : -1, 0);
        };
        ASSERT_EQ(microphone.Open(VirtualKind::Microphone, L"mic"), S_OK);
        EXPECT_EQ(ChooseSound(microphone.reader.Get(), MFAudioFormat_AAC, 48000, channels), MF_E_INVALIDMEDIATYPE);
        ASSERT_EQ(ChooseSound(microphone.reader.Get(), MFAudioFormat_PCM, 48000, channels), S_OK);
        microphone.callback->inspect = [&, channels = channels](IMFSample* sample, LONGLONG time) {
            ComOwner<IMFMediaBuffer> buffer;
            BYTE* data = nullptr;
            DWORD length = 0;
            int64_t click = -1;
            if (SUCCEEDED(sample->ConvertToContiguousBuffer(&buffer)) && SUCCEEDED(buffer->Lock(&data, nullptr, &length))) {
                const auto* pcm = reinterpret_cast<const int16_t*>(data);
                for (DWORD frame = 0; frame < length / 2 / channels && click < 0; ++frame)
                    if (std::abs(pcm[frame * channels]) > 16000) click = frame;  // the tone stays far below
                buffer->Unlock();
            }
            audio.Sample(time, click, 1.0 / 48000);
        };
        ASSERT_EQ(camera.Stream(), S_OK);
        ASSERT_EQ(microphone.Stream(), S_OK);
        // Either stream may start first: wait until the sound has come past the picture's first
        // flash, so that the click of the same mark has been seen whichever stream delivered first.
        ASSERT_TRUE(Eventually([&] { return audio.NewestAt() > video.FirstOnsetAt() + 0.2; }, 8000));
        camera.callback->requestFrom = nullptr;
        microphone.callback->requestFrom = nullptr;
        ASSERT_TRUE(Eventually([&] { return !camera.callback->answering && !microphone.callback->answering; }));

        EXPECT_EQ(video.first, 0);
        EXPECT_EQ(audio.first, 0);
        // On one wall clock, the flash begins within a camera frame (plus delivery jitter) of a
        // click. The jitter allowance is wide enough for a loaded machine and still far below the
        // 2 s between marks, where a mark of the wrong instant would land.
        double flashAt = video.offset + video.onsets[0];
        double nearest = 1e30;
        for (double onset : audio.onsets) nearest = std::min(nearest, std::abs(audio.offset + onset - flashAt));
        EXPECT_LT(nearest, 1.0 / 30 + 0.1);
        VirtualDeviceRemove(micHandle);
    }
}

TEST_F(VirtualDeviceTest, AFlushThatNeverCompletesRefusesRequestsAndSendsNoOnFlush)
{
    VirtualDevice device = PatternCamera(L"cam");
    device.flushNeverCompletes = 1;
    VirtualDeviceAdd(device);
    {
        Session session;
        ASSERT_EQ(session.Open(VirtualKind::Camera, L"cam"), S_OK);
        ASSERT_EQ(session.reader->Flush(ALL), S_OK);
        EXPECT_EQ(session.Read(), MF_E_NOTACCEPTING);
        EXPECT_FALSE(Eventually([&] { return session.callback->flushes > 0; }, 300));
    }
    EXPECT_TRUE(WaitForCounters(before_));  // the reader still goes
}

TEST_F(VirtualDeviceTest, UnplugFailsOpenReadersAndPostsTheDeviceChangeNotice)
{
    VirtualDevicesSetTimeScale(10);
    const HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    SetAppWindow(window);
    auto noticed = [&] {
        MSG message{};
        bool found = false;
        while (PeekMessageW(&message, window, WM_DEVICECHANGE, WM_DEVICECHANGE, PM_REMOVE))
            found = found || message.wParam == DBT_DEVNODES_CHANGED;
        return found;
    };
    VirtualDevice silentCamera = PatternCamera(L"silent");
    silentCamera.neverDelivers = 1;
    const int32_t handles[] = {VirtualDeviceAdd(PatternCamera(L"cam")),
                               VirtualDeviceAdd(VirtualMicrophone(L"mic", L"Mic", SceneKind::Tone)),
                               VirtualDeviceAdd(silentCamera)};
    EXPECT_TRUE(noticed());
    Session video, audio, silent;
    ASSERT_EQ(video.Open(VirtualKind::Camera, L"cam"), S_OK);
    ASSERT_EQ(audio.Open(VirtualKind::Microphone, L"mic"), S_OK);
    ASSERT_EQ(silent.Open(VirtualKind::Camera, L"silent"), S_OK);
    ASSERT_EQ(video.Stream(), S_OK);
    ASSERT_EQ(audio.Stream(), S_OK);
    ASSERT_EQ(silent.Read(), S_OK);
    ASSERT_TRUE(video.WaitFor(2));
    ASSERT_TRUE(audio.WaitFor(2));

    ASSERT_TRUE(VirtualDeviceRemove(handles[0]));
    EXPECT_TRUE(noticed());
    VirtualDevicesSetNotify(false);
    ASSERT_TRUE(VirtualDeviceRemove(handles[1]));
    ASSERT_TRUE(VirtualDeviceRemove(handles[2]));
    EXPECT_FALSE(noticed());
    for (const auto& [session, gone] : {std::pair<Session*, HRESULT>{&video, VIRTUAL_CAMERA_GONE},
                                        {&audio, VIRTUAL_MICROPHONE_GONE}, {&silent, VIRTUAL_CAMERA_GONE}}) {
        ASSERT_TRUE(Eventually([&] { return FAILED(session->callback->Last().status); }));
        const Delivery last = session->callback->Last();
        EXPECT_EQ(last.status, gone);
        EXPECT_TRUE(last.flags & MF_SOURCE_READERF_ERROR);
    }
    EXPECT_EQ(silent.callback->Count(), 1u);  // a camera that never delivers still reports its unplugging
    Session again;
    EXPECT_EQ(again.Open(VirtualKind::Camera, L"cam"), VIRTUAL_DEVICE_MISSING);

    // Plugged in again it is a new device: a new reader works, the old one stays failed.
    VirtualDeviceAdd(PatternCamera(L"cam"));
    ASSERT_EQ(again.Open(VirtualKind::Camera, L"cam"), S_OK);
    ASSERT_EQ(again.Read(), S_OK);
    ASSERT_TRUE(again.WaitFor(1));
    EXPECT_EQ(again.callback->At(0).status, S_OK);
    EXPECT_EQ(video.Read(), VIRTUAL_CAMERA_GONE);
    SetAppWindow(nullptr);
    DestroyWindow(window);
}

TEST_F(VirtualDeviceTest, NoCallbackRunsAfterTheLastReleaseAndReleaseInsideTheCallbackCannotDeadlock)
{
    VirtualDevicesSetTimeScale(20);
    VirtualDeviceAdd(PatternCamera(L"cam"));
    Session session;
    ASSERT_EQ(session.Open(VirtualKind::Camera, L"cam"), S_OK);
    EXPECT_EQ(session.callback->refs.load(), 2u);
    ASSERT_EQ(session.Stream(), S_OK);
    ASSERT_TRUE(session.WaitFor(5));
    session.callback->dwellMs = 50;  // the last Release comes while an answer is under way
    ASSERT_TRUE(Eventually([&] { return session.callback->answering.load(); }));
    session.reader.Reset();
    EXPECT_FALSE(session.callback->answering);
    session.callback->dwellMs = 0;  // a late answer would count at once
    const size_t delivered = session.callback->Count();
    EXPECT_EQ(session.callback->refs.load(), 1u);  // the callback is let go
    const VirtualDeviceCounters after = VirtualDevicesCounters();
    EXPECT_EQ(after.readersLive, before_.readersLive);
    EXPECT_EQ(after.readerThreadsLive, before_.readerThreadsLive);

    // Its callback holds the last reference and drops it in its third answer; those answers come
    // at the pace the released reader would have kept, had it gone on.
    Session owner;
    ASSERT_EQ(owner.Open(VirtualKind::Camera, L"cam"), S_OK);
    owner.callback->releaseAfter = 3;
    owner.callback->requestFrom = owner.reader.Detach();
    ASSERT_EQ(owner.callback->requestFrom.load()->ReadSample(0, 0, nullptr, nullptr, nullptr, nullptr), S_OK);
    ASSERT_TRUE(WaitForCounters(before_));
    EXPECT_EQ(owner.callback->Count(), 3u);
    EXPECT_EQ(owner.callback->refs.load(), 1u);
    EXPECT_EQ(session.callback->Count(), delivered);
}

TEST_F(VirtualDeviceTest, TwoHundredOpenStartStopCyclesLeakNothing)
{
    VirtualDevicesSetTimeScale(10);
    VirtualDeviceAdd(PatternCamera(L"cam"));
    auto cycle = [&] {
        Session session;
        ASSERT_EQ(session.Open(VirtualKind::Camera, L"cam"), S_OK);
        ASSERT_EQ(ChooseRgb32(session.reader.Get()), S_OK);
        ASSERT_EQ(session.Stream(), S_OK);
        ASSERT_TRUE(session.WaitFor(2));
        session.callback->requestFrom = nullptr;
        ASSERT_EQ(session.reader->Flush(ALL), S_OK);
        ASSERT_TRUE(Eventually([&] { return session.callback->flushes == 1; }));
    };
    cycle();  // the first use settles lazily created objects
    const DWORD handlesBefore = OpenHandleCount();
    for (int i = 0; i < 200 && !HasFatalFailure(); ++i) cycle();
    EXPECT_LE(OpenHandleCount(), handlesBefore + 4);
    EXPECT_TRUE(WaitForCounters(before_));
    EXPECT_EQ(VirtualDevicesCounters().activatesLive, 0);
}
