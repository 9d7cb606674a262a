// The asynchronous reader of the virtual devices: pixels, pacing, flush, faults, unplugging,
// release rules and leaks.
#include <windows.h>
#include <dbt.h>
#include <mfapi.h>
#include <mferror.h>

#include <initializer_list>

#include "app/app_messages.h"
#include "standins/com_ref.h"
#include "tests/standins/test_callback.h"

namespace {

constexpr DWORD VIDEO = static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM);
constexpr DWORD AUDIO = static_cast<DWORD>(MF_SOURCE_READER_FIRST_AUDIO_STREAM);
constexpr DWORD ALL = static_cast<DWORD>(MF_SOURCE_READER_ALL_STREAMS);
constexpr LONGLONG PERIOD_30 = 10'000'000 / 30;

// One reader with its test callback; the test holds one reference to each.
struct Session {
    TestCallback* callback = new TestCallback;
    ComRef<IMFSourceReader> reader;

    ~Session()
    {
        reader.Reset();
        callback->Release();
    }
    HRESULT Open(VirtualKind kind, const wchar_t* id) { return OpenVirtualReader(kind, id, callback, &reader); }
    HRESULT Read(DWORD stream = VIDEO) { return reader->ReadSample(stream, 0, nullptr, nullptr, nullptr, nullptr); }
    // Keeps reading from inside the callback, as the capture code does.
    HRESULT Stream(DWORD stream = VIDEO)
    {
        callback->stream = stream;
        callback->requestFrom = reader.Get();
        return Read(stream);
    }
    bool WaitForDeliveries(size_t count)
    {
        return callback->WaitUntil([&] { return callback->deliveries.size() >= count; });
    }
    Delivery At(size_t index)
    {
        AcquireSRWLockShared(&callback->lock);
        Delivery delivery = callback->deliveries.at(index);
        ReleaseSRWLockShared(&callback->lock);
        return delivery;
    }
};

bool WaitForCounters(const VirtualDeviceCounters& expected)
{
    for (int i = 0; i < 1000; ++i) {
        VirtualDeviceCounters now = VirtualDevicesCounters();
        if (now.readersLive == expected.readersLive && now.readerThreadsLive == expected.readerThreadsLive &&
            now.sourcesLive == expected.sourcesLive)
            return true;
        Sleep(10);
    }
    return false;
}

}  // namespace

TEST_F(VirtualDeviceTest, Rgb32FramesHaveTheExactPatternThroughEachBufferInterface)
{
    VirtualDevicesSetTimeScale(10);
    constexpr VirtualBuffer BUFFERS[] = {VirtualBuffer::TwoD2, VirtualBuffer::TwoDOnly, VirtualBuffer::Plain};
    for (VirtualBuffer buffer : BUFFERS) {
        for (uint8_t bottomUp = 0; bottomUp < 2; ++bottomUp) {
            for (uint8_t undersized = 0; undersized < 2; ++undersized) {
                SCOPED_TRACE(testing::Message() << "buffer " << static_cast<int>(buffer) << " bottomUp "
                                                << int(bottomUp) << " undersized " << int(undersized));
                VirtualDevice device = PatternCamera(L"cam");
                device.buffer = buffer;
                device.bottomUp = bottomUp;
                device.undersized = undersized;
                int32_t handle = VirtualDeviceAdd(device);
                Session session;
                ASSERT_EQ(session.Open(VirtualKind::Camera, L"cam"), S_OK);
                ASSERT_EQ(ChooseRgb32(session.reader.Get(), 0), S_OK);
                ComRef<IMFMediaType> type;
                ASSERT_EQ(session.reader->GetCurrentMediaType(VIDEO, &type), S_OK);
                int32_t stride = static_cast<int32_t>(MFGetAttributeUINT32(type.Get(), MF_MT_DEFAULT_STRIDE, 0));
                EXPECT_EQ(stride, bottomUp ? -1200 : 1200);

                session.callback->keepSamples = 2;
                ASSERT_EQ(session.Stream(), S_OK);
                ASSERT_TRUE(session.WaitForDeliveries(2));
                session.callback->requestFrom = nullptr;
                for (size_t i = 0; i < 2; ++i) {
                    Delivery delivery = session.At(i);
                    ASSERT_EQ(delivery.status, S_OK);
                    ASSERT_EQ(delivery.timestamp % PERIOD_30, 0);
                    int64_t frameIndex = delivery.timestamp / PERIOD_30;
                    std::vector<uint32_t> pixels;
                    int path = -1;
                    bool fits = ReadRgb32(session.callback->samples[i], 300, 5, stride, &pixels, &path);
                    EXPECT_EQ(path, buffer == VirtualBuffer::TwoD2 ? 2 : buffer == VirtualBuffer::TwoDOnly ? 1 : 0);
                    ASSERT_EQ(fits, !undersized);
                    for (int32_t y = 0; fits && y < 5; ++y)
                        for (int32_t x = 0; x < 300; ++x)
                            ASSERT_EQ(pixels[y * 300 + x], ScenePatternPixel(x, y, frameIndex)) << x << "," << y;
                }
                session.reader.Reset();
                VirtualDeviceRemove(handle);
            }
        }
    }
}

TEST_F(VirtualDeviceTest, SamplesArePacedAtTheStreamRateAndStampedInStreamTime)
{
    constexpr double SCALE = 4;
    VirtualDevicesSetTimeScale(SCALE);
    VirtualDeviceAdd(PatternCamera(L"cam"));
    Session session;
    ASSERT_EQ(session.Open(VirtualKind::Camera, L"cam"), S_OK);
    double start = TestNowSeconds();
    ASSERT_EQ(session.Stream(), S_OK);
    ASSERT_TRUE(session.WaitForDeliveries(8));
    session.callback->requestFrom = nullptr;
    LONGLONG previous = -1;
    for (size_t i = 0; i < 8; ++i) {
        Delivery delivery = session.At(i);
        ASSERT_EQ(delivery.status, S_OK);
        // Whole frames of stream time, rising; a late reader may skip frames but never repeats one.
        ASSERT_EQ(delivery.timestamp % PERIOD_30, 0);
        ASSERT_GT(delivery.timestamp, previous);
        previous = delivery.timestamp;
        // Never earlier than the frame's place in the stream.
        double due = static_cast<double>(delivery.timestamp) / 1e7 / SCALE;
        EXPECT_GE(delivery.wallSeconds - start, due - 0.002) << i;
    }
    EXPECT_EQ(session.At(0).timestamp, 0);
}

TEST_F(VirtualDeviceTest, FlushCancelsPendingRequestsAndAnswersWithOnFlush)
{
    VirtualDevice device = PatternCamera(L"cam");
    device.modes[0].rateNumerator = 2;  // slow enough that the cancelled request would be noticed
    VirtualDeviceAdd(device);
    Session session;
    ASSERT_EQ(session.Open(VirtualKind::Camera, L"cam"), S_OK);
    ASSERT_EQ(session.Read(), S_OK);
    ASSERT_TRUE(session.WaitForDeliveries(1));
    ASSERT_EQ(session.Read(), S_OK);  // due 500 ms later
    ASSERT_EQ(session.reader->Flush(ALL), S_OK);
    ASSERT_TRUE(session.callback->WaitUntil([&] { return session.callback->flushes == 1; }));
    EXPECT_EQ(session.callback->flushStream, ALL);
    Sleep(700);
    EXPECT_EQ(session.callback->DeliveryCount(), 1u);
    EXPECT_EQ(session.callback->flushes, 1);
    // Reading goes on after the flush.
    ASSERT_EQ(session.Read(), S_OK);
    EXPECT_TRUE(session.WaitForDeliveries(2));
}

TEST_F(VirtualDeviceTest, FlushThatNeverCompletesRefusesRequestsAndSendsNoOnFlush)
{
    VirtualDevice device = PatternCamera(L"cam");
    device.flushNeverCompletes = 1;
    VirtualDeviceAdd(device);
    Session session;
    ASSERT_EQ(session.Open(VirtualKind::Camera, L"cam"), S_OK);
    ASSERT_EQ(session.reader->Flush(ALL), S_OK);
    EXPECT_EQ(session.Read(), MF_E_NOTACCEPTING);
    EXPECT_FALSE(session.callback->WaitUntil([&] { return session.callback->flushes > 0; }, 300));
    session.reader.Reset();  // still releases cleanly
    EXPECT_TRUE(WaitForCounters(before_));
}

TEST_F(VirtualDeviceTest, ScriptedStreamErrorEndsTheStreamAfterNSamples)
{
    VirtualDevicesSetTimeScale(10);
    VirtualDevice device = PatternCamera(L"cam");
    device.errorAfterSamples = 3;
    VirtualDeviceAdd(device);
    Session session;
    ASSERT_EQ(session.Open(VirtualKind::Camera, L"cam"), S_OK);
    ASSERT_EQ(session.Stream(), S_OK);
    ASSERT_TRUE(session.WaitForDeliveries(4));
    for (size_t i = 0; i < 3; ++i) EXPECT_EQ(session.At(i).status, S_OK);
    Delivery failure = session.At(3);
    EXPECT_EQ(failure.status, VIRTUAL_STREAM_FAILURE);
    EXPECT_TRUE(failure.flags & MF_SOURCE_READERF_ERROR);
    EXPECT_EQ(session.Read(), VIRTUAL_STREAM_FAILURE);
    Sleep(100);
    EXPECT_EQ(session.callback->DeliveryCount(), 4u);
}

TEST_F(VirtualDeviceTest, UnplugFailsOpenReadersRemovesTheDeviceAndPostsDeviceChange)
{
    VirtualDevicesSetTimeScale(10);
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = DefWindowProcW;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"MIRU_STANDINS_TEST";
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(0, windowClass.lpszClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  windowClass.hInstance, nullptr);
    ASSERT_NE(window, nullptr);
    mainWindow = window;
    auto takeDeviceChange = [&] {
        MSG message{};
        bool found = false;
        while (PeekMessageW(&message, window, WM_DEVICECHANGE, WM_DEVICECHANGE, PM_REMOVE))
            found = found || message.wParam == DBT_DEVNODES_CHANGED;
        return found;
    };

    VirtualDevice device = PatternCamera(L"cam");
    int32_t camera = VirtualDeviceAdd(device);
    int32_t microphone = VirtualDeviceAdd(VirtualMicrophone(L"mic", L"Mic", SceneKind::Tone));
    EXPECT_TRUE(takeDeviceChange());
    Session video, audio;
    ASSERT_EQ(video.Open(VirtualKind::Camera, L"cam"), S_OK);
    ASSERT_EQ(audio.Open(VirtualKind::Microphone, L"mic"), S_OK);
    ASSERT_EQ(video.Stream(), S_OK);
    ASSERT_EQ(audio.Stream(AUDIO), S_OK);
    ASSERT_TRUE(video.WaitForDeliveries(2));
    ASSERT_TRUE(audio.WaitForDeliveries(2));

    ASSERT_TRUE(VirtualDeviceRemove(camera));
    EXPECT_TRUE(takeDeviceChange());
    VirtualDevicesSetNotify(false);
    ASSERT_TRUE(VirtualDeviceRemove(microphone));
    EXPECT_FALSE(takeDeviceChange());
    for (Session* session : {&video, &audio}) {
        ASSERT_TRUE(session->callback->WaitUntil([&] {
            return !session->callback->deliveries.empty() && FAILED(session->callback->deliveries.back().status);
        }));
        Delivery last = session->At(session->callback->DeliveryCount() - 1);
        EXPECT_EQ(last.status, session == &video ? VIRTUAL_CAMERA_GONE : VIRTUAL_MICROPHONE_GONE);
        EXPECT_TRUE(last.flags & MF_SOURCE_READERF_ERROR);
    }
    Session again;
    EXPECT_EQ(again.Open(VirtualKind::Camera, L"cam"), VIRTUAL_DEVICE_MISSING);

    // Plugged in again it is a new device: new readers work, the old one stays failed.
    VirtualDeviceAdd(device);
    ASSERT_EQ(again.Open(VirtualKind::Camera, L"cam"), S_OK);
    ASSERT_EQ(again.Read(), S_OK);
    ASSERT_TRUE(again.WaitForDeliveries(1));
    EXPECT_EQ(again.At(0).status, S_OK);
    EXPECT_EQ(video.Read(), VIRTUAL_CAMERA_GONE);

    mainWindow = nullptr;
    DestroyWindow(window);
}

TEST_F(VirtualDeviceTest, CameraThatNeverDeliversStillReportsItsUnplugging)
{
    VirtualDevicesSetTimeScale(10);
    VirtualDevice device = PatternCamera(L"cam");
    device.neverDelivers = 1;
    int32_t handle = VirtualDeviceAdd(device);
    Session session;
    ASSERT_EQ(session.Open(VirtualKind::Camera, L"cam"), S_OK);
    ASSERT_EQ(session.Read(), S_OK);
    EXPECT_FALSE(session.callback->WaitUntil([&] { return !session.callback->deliveries.empty(); }, 200));
    VirtualDeviceRemove(handle);
    ASSERT_TRUE(session.WaitForDeliveries(1));
    EXPECT_EQ(session.At(0).status, VIRTUAL_CAMERA_GONE);
}

TEST_F(VirtualDeviceTest, MicrophoneDeliversTenMillisecondBlocksOfQuietSound)
{
    VirtualDevicesSetTimeScale(10);
    VirtualDeviceAdd(VirtualMicrophone(L"mic", L"Mic", SceneKind::Tone));
    Session session;
    ASSERT_EQ(session.Open(VirtualKind::Microphone, L"mic"), S_OK);
    session.callback->keepSamples = 5;
    ASSERT_EQ(session.Stream(AUDIO), S_OK);
    ASSERT_TRUE(session.WaitForDeliveries(5));
    session.callback->requestFrom = nullptr;
    int peak = 0;
    for (size_t i = 0; i < 5; ++i) {
        EXPECT_EQ(session.At(i).timestamp, static_cast<LONGLONG>(i) * 100'000);
        ComRef<IMFMediaBuffer> buffer;
        ASSERT_EQ(session.callback->samples[i]->ConvertToContiguousBuffer(&buffer), S_OK);
        BYTE* data = nullptr;
        DWORD length = 0;
        ASSERT_EQ(buffer->Lock(&data, nullptr, &length), S_OK);
        EXPECT_EQ(length, 480u * 2 * 2);
        auto* values = reinterpret_cast<const int16_t*>(data);
        for (DWORD k = 0; k < length / 2; ++k) peak = std::max(peak, std::abs(static_cast<int>(values[k])));
        buffer->Unlock();
    }
    EXPECT_GT(peak, 100);
    EXPECT_LT(peak, 32768 / 20);
}

TEST_F(VirtualDeviceTest, NoCallbackAfterTheLastReleaseAndTheCallbackIsLetGo)
{
    VirtualDevicesSetTimeScale(20);
    VirtualDeviceAdd(PatternCamera(L"cam"));
    Session session;
    ASSERT_EQ(session.Open(VirtualKind::Camera, L"cam"), S_OK);
    EXPECT_EQ(session.callback->refs.load(), 2u);
    ASSERT_EQ(session.Stream(), S_OK);
    ASSERT_TRUE(session.WaitForDeliveries(5));
    session.reader.Reset();
    size_t delivered = session.callback->DeliveryCount();
    EXPECT_EQ(session.callback->refs.load(), 1u);
    VirtualDeviceCounters after = VirtualDevicesCounters();
    EXPECT_EQ(after.readersLive, before_.readersLive);
    EXPECT_EQ(after.readerThreadsLive, before_.readerThreadsLive);
    Sleep(100);
    EXPECT_EQ(session.callback->DeliveryCount(), delivered);
}

TEST_F(VirtualDeviceTest, ReleaseFromInsideTheCallbackEndsTheReaderWithoutDeadlock)
{
    VirtualDevicesSetTimeScale(20);
    VirtualDeviceAdd(PatternCamera(L"cam"));
    Session session;
    ASSERT_EQ(session.Open(VirtualKind::Camera, L"cam"), S_OK);
    IMFSourceReader* reader = session.reader.Detach();
    session.callback->ownedReader = reader;
    session.callback->releaseAfter = 3;
    session.callback->requestFrom = reader;
    ASSERT_EQ(reader->ReadSample(VIDEO, 0, nullptr, nullptr, nullptr, nullptr), S_OK);
    ASSERT_TRUE(WaitForCounters(before_));
    EXPECT_EQ(session.callback->DeliveryCount(), 3u);
    EXPECT_EQ(session.callback->refs.load(), 1u);
}

TEST_F(VirtualDeviceTest, TwoHundredOpenStartStopCyclesLeakNothing)
{
    VirtualDevicesSetTimeScale(10);
    VirtualDeviceAdd(PatternCamera(L"cam"));
    auto cycle = [&] {
        Session session;
        ASSERT_EQ(session.Open(VirtualKind::Camera, L"cam"), S_OK);
        ASSERT_EQ(ChooseRgb32(session.reader.Get(), 0), S_OK);
        ASSERT_EQ(session.Stream(), S_OK);
        ASSERT_TRUE(session.WaitForDeliveries(2));
        session.callback->requestFrom = nullptr;
        ASSERT_EQ(session.reader->Flush(ALL), S_OK);
        ASSERT_TRUE(session.callback->WaitUntil([&] { return session.callback->flushes == 1; }));
    };
    cycle();  // first use settles lazily created objects
    DWORD handlesBefore = OpenHandleCount();
    for (int i = 0; i < 200 && !HasFatalFailure(); ++i) cycle();
    EXPECT_LE(OpenHandleCount(), handlesBefore + 4);
    EXPECT_TRUE(WaitForCounters(before_));
    EXPECT_EQ(VirtualDevicesCounters().activatesLive, 0);
}
