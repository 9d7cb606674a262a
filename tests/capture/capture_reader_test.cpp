// Device lists and capture readers against scripted virtual devices: list order and names, the
// chosen format, the three buffer paths, undersized frames, the recorder hand-off, the
// microphone meter, the preview, and a stop racing a sample callback.
#include <mfapi.h>

#include <cstring>
#include <thread>

#include "base/win_owners.h"
#include "capture/preview.h"
#include "standins/virtual_seam.h"
#include "tests/capture/capture_test_support.h"

namespace {

using CaptureReaderTest = CaptureTest;
using Texts = std::vector<std::wstring>;

// Opens and starts a camera (by role) or the microphone; null (with a test failure) when either fails.
CaptureReader* Start(int32_t role, const wchar_t* id)
{
    CaptureReader* reader = nullptr;
    EXPECT_EQ(role == READER_ROLE_MICROPHONE ? CaptureMicrophoneOpen(id, L"Test Mic", &reader)
                                             : CaptureReaderOpen(role, id, nullptr, &reader),
              S_OK);
    if (reader) {
        EXPECT_EQ(CaptureReaderStart(reader), S_OK);
    }
    return reader;
}

// Whether `frame` is exactly the test pattern of some frame index, alpha forced to 0xFF.
bool IsPattern(const Frame& frame)
{
    const int64_t index = frame.pixels[2];  // red of pixel (0, 0) is the frame index
    for (int32_t y = 0; y < frame.height; ++y)
        for (int32_t x = 0; x < frame.width; ++x) {
            uint32_t pixel;
            std::memcpy(&pixel, frame.pixels + static_cast<ptrdiff_t>(y) * frame.stride + x * 4, 4);
            if (pixel != (ScenePatternPixel(x, y, index) | 0xFF000000u)) return false;
        }
    return true;
}

TEST_F(CaptureReaderTest, ListsAreSortedByIdWithNumberedTwinsAndHoldSixteenEntries)
{
    VirtualDeviceAdd(VirtualCamera(L"usb#c", L"X", SceneKind::Pattern));
    VirtualDeviceAdd(VirtualCamera(L"usb#a", L"X", SceneKind::Pattern));
    VirtualDeviceAdd(VirtualCamera(L"usb#b", L"Y", SceneKind::Pattern));
    VirtualDeviceAdd(VirtualCamera(L"usb#d", nullptr, SceneKind::Pattern));
    VirtualDeviceAdd(VirtualCamera(L"USB#z", L"Z", SceneKind::Pattern));  // upper case first, no locale rules
    CaptureDevice devices[CAPTURE_LIST_CAPACITY];
    TextsSetLanguageForTest(1);  // a camera without a name is an unknown device in the UI language
    Texts listed;
    for (int32_t i = 0, count = CaptureListCameras(devices, CAPTURE_LIST_CAPACITY); i < count; ++i)
        listed.push_back(std::wstring(devices[i].id) + L"=" + devices[i].displayName);
    TextsSetLanguageForTest(-1);
    EXPECT_EQ(listed, (Texts{L"USB#z=Z", L"usb#a=X #1", L"usb#b=Y", L"usb#c=X #2", L"usb#d=Unbekanntes Ger\u00e4t"}));

    // Plugged in descending id order: the sixteen kept are the first the system returns.
    VirtualDevicesRemoveAll();
    for (int i = 19; i >= 0; --i) VirtualDeviceAdd(VirtualCamera((L"cam-" + std::to_wstring(10 + i)).c_str(), L"Cam", SceneKind::Pattern));
    const int32_t freedBefore = VirtualDevicesCounters().activatesFreed;
    ASSERT_EQ(CaptureListCameras(devices, CAPTURE_LIST_CAPACITY), 16);
    EXPECT_EQ(std::wstring(devices[0].id) + devices[15].displayName, L"cam-14Cam #16");
    EXPECT_EQ(VirtualDevicesCounters().activatesFreed - freedBefore, 20);  // every activation released
}

// Pairing with the newest Macro frame and the stamps on the process clock are seen in the
// end-to-end recording (the Macro box, sound against picture at the marks).
TEST_F(CaptureReaderTest, TheWideReaderTakesSizeBeforeRateAndFeedsTheRecorderOnlyWhileRecording)
{
    VirtualDevice camera = PatternCamera(L"wide", L"Wide", 1280, 720);
    camera.modeCount = 2;
    camera.modes[1] = {1920, 1080, 5, 1, VirtualPixels::Nv12};
    VirtualDeviceAdd(camera);
    CaptureSetPipFraction(0.42f);
    CaptureReader* reader = Start(READER_ROLE_WIDE, L"wide");
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->frameHeight, 1080);
    ASSERT_TRUE(WaitUntil([&] { return reader->clock.samples >= STREAM_CLOCK_SETTLE_SAMPLES; }));
    EXPECT_TRUE(Recorder().Videos().empty());  // not recording

    // Once the stream's clock has settled, the device's spacing is kept exactly; without a
    // Macro frame a Wide frame goes alone.
    Recorder().active = true;
    ASSERT_TRUE(WaitUntil([] { return Recorder().Videos().size() >= 3; }));
    Recorder().active = false;
    const std::vector<RecordedVideo> videos = Recorder().Videos();
    for (size_t i = 1; i < videos.size(); ++i) {  // the first may have been under way already
        EXPECT_EQ(videos[i].macro, nullptr);
        EXPECT_FLOAT_EQ(videos[i].pipFraction, 0.42f);
        EXPECT_GT(videos[i].timestamp, videos[i - 1].timestamp);
        EXPECT_EQ((videos[i].timestamp - videos[i - 1].timestamp) % 2'000'000, 0) << "5 frames per second";
    }
    CaptureReaderStop(&reader);
    Recorder().Clear();
}

TEST_F(CaptureReaderTest, EveryBufferPathCopiesExactPixelsAndDropsUndersizedFramesWithOneWarningPerReader)
{
    const std::pair<VirtualBuffer, std::wstring> cases[] = {
        {VirtualBuffer::TwoD2, L"Kamera-Frame zu klein (2D, "},
        {VirtualBuffer::TwoDOnly, L"Kamera-Frame zu klein (2D) \u2014 verworfen"},
        {VirtualBuffer::Plain, L"Kamera-Frame zu klein (3600 Bytes f\u00fcr 300x7) \u2014 Frame verworfen"},
    };
    const std::wstring streamEnd = L"Kamera 0: Stream-Fehler (0xC00D3704) \u2014 USB-Verbindung pr\u00fcfen";
    size_t undersizedReaders = 0;
    for (const auto& [buffer, warning] : cases) {
        VirtualDevice camera = PatternCamera(L"cam", L"Cam", 300, 7);  // two 256-pixel blocks and a tail
        camera.buffer = buffer;
        // The third: a bottom-up image whose type states no stride (RGB in system memory is
        // bottom-up unless the type says otherwise).
        for (const auto& [bottomUp, strideless] : {std::pair{false, false}, {true, false}, {true, true}}) {
            SCOPED_TRACE(testing::Message() << "buffer " << static_cast<int>(buffer) << " bottom-up " << bottomUp
                                            << " without stride " << strideless);
            camera.bottomUp = bottomUp;
            camera.omitDefaultStride = strideless;
            const int32_t handle = VirtualDeviceAdd(camera);
            CaptureReader* reader = Start(READER_ROLE_WIDE, L"cam");
            ASSERT_NE(reader, nullptr);
            Frame* frame = nullptr;
            ASSERT_TRUE(WaitUntil([&] { return (frame = FrameAcquireLatest(SLOT_WIDE)) != nullptr; }));
            EXPECT_TRUE(frame->width == 300 && frame->height == 7 && IsPattern(*frame));
            FrameRelease(frame);
            CaptureReaderStop(&reader);
            FrameClearPublished();
            VirtualDeviceRemove(handle);
        }

        camera.undersized = 1;         // only the upper three rows
        camera.errorAfterSamples = 3;  // the stream error marks that three samples came
        const int32_t handle = VirtualDeviceAdd(camera);
        for (size_t round = 1; round <= 2; ++round) {  // a new reader warns again
            CaptureReader* reader = Start(READER_ROLE_WIDE, L"cam");
            ASSERT_TRUE(WaitUntil([&] { return TimesLogged(LOG_ERROR, streamEnd) == undersizedReaders + 1; }));
            ++undersizedReaders;
            CaptureReaderStop(&reader);
            EXPECT_EQ(TimesLogged(LOG_ANY_LEVEL, warning), round);
        }
        EXPECT_EQ(FrameAcquireLatest(SLOT_WIDE), nullptr);
        VirtualDeviceRemove(handle);
    }
}

// A 16 kHz mono headset microphone and a four-channel array microphone come as the AAC encoder
// takes them, 48 kHz with at most two channels (the reader converts); where the reader refuses
// both rates, the device's own format (here 48 kHz stereo) is taken and the refusal logged.
TEST_F(CaptureReaderTest, MicrophonesComeAt48kHzWithOneOrTwoChannelsAndFeedTheMeterAndTheRecorder)
{
    VirtualDevice picky = VirtualMicrophone(L"picky", L"Picky", SceneKind::Tone);
    picky.rejectAudioBits = 1;  // refuses every request that names 16 bits
    const struct {
        const wchar_t* set;
        UINT32 channels;
        const wchar_t* logged;
    } cases[] = {{L"mic-16k-mono", 1, L"Virtuelles Mikrofon: 16000 Hz, 1 Kanal"},
                 {L"mic-4ch", 2, L"Virtuelles Mikrofon: 48000 Hz, 4 Kan\u00e4le"},
                 {nullptr, 2, L"Mikrofon: 48000 und 44100 Hz abgelehnt (0xC00D36B4) \u2014 eigenes Format des Ger\u00e4ts"}};
    Recorder().active = true;  // every sample goes to the recorder as it is
    for (const auto& c : cases) {
        SCOPED_TRACE(c.logged);
        VirtualDevicesRemoveAll();
        if (c.set) VirtualAddNamedSet(c.set);
        else VirtualDeviceAdd(picky);
        CaptureDevice microphones[CAPTURE_LIST_CAPACITY];
        ASSERT_EQ(CaptureListMicrophones(microphones, CAPTURE_LIST_CAPACITY), 1);
        CaptureResetMicLevel();
        Recorder().Clear();
        CaptureReader* reader = Start(READER_ROLE_MICROPHONE, microphones[0].id);
        ASSERT_NE(reader, nullptr);
        EXPECT_EQ(TimesLogged(LOG_ANY_LEVEL, c.logged), 1u);
        EXPECT_EQ(reader->audioBitsPerSample, 16u);
        ComOwner<IMFMediaType> type(CaptureAcquireAudioMediaType());
        ASSERT_TRUE(type);
        EXPECT_EQ(MFGetAttributeUINT32(type.Get(), MF_MT_AUDIO_SAMPLES_PER_SECOND, 0), 48000u);
        EXPECT_EQ(MFGetAttributeUINT32(type.Get(), MF_MT_AUDIO_NUM_CHANNELS, 0), c.channels);
        ASSERT_TRUE(WaitUntil([] { return CaptureGetMicLevel() > 0.1f && Recorder().audioSamples > 0; }));
        CaptureReaderStop(&reader);
    }

    // A failed open forgets the type of the microphone before.
    CaptureReader* reader = nullptr;
    EXPECT_EQ(CaptureMicrophoneOpen(L"absent", L"Absent", &reader), VIRTUAL_DEVICE_MISSING);
    EXPECT_EQ(reader, nullptr);
    EXPECT_EQ(CaptureAcquireAudioMediaType(), nullptr);
    EXPECT_EQ(TimesLogged(LOG_WARN, L"Mikrofon konnte nicht verbunden werden: 0x80070002"), 1u);
}

TEST_F(CaptureReaderTest, PreviewKeepsItsNewestFrameToItselfAndAFlushThatNeverEndsIsWaitedForBounded)
{
    VirtualDevice camera = PatternCamera(L"cam", L"Cam", 40, 30);
    camera.flushNeverCompletes = 1;
    VirtualDeviceAdd(camera);
    EXPECT_EQ(PreviewOpen(L"absent"), nullptr);
    EXPECT_EQ(TimesLogged(LOG_WARN, L"Vorschau: Kamera konnte nicht ge\u00f6ffnet werden (0x80070002)"), 1u);

    CapturePreview* preview = PreviewOpen(L"cam");
    ASSERT_NE(preview, nullptr);
    Frame* frame = nullptr;
    ASSERT_TRUE(WaitUntil([&] { return (frame = PreviewAcquireFrame(preview)) != nullptr; }));
    EXPECT_TRUE(IsPattern(*frame));
    EXPECT_TRUE(!FrameAcquireLatest(SLOT_WIDE) && !FrameAcquireLatest(SLOT_MACRO));  // nothing is published
    PreviewClose(preview);
    EXPECT_EQ(TimesLogged(LOG_WARN, L"Kamera-Reader: Flush-Timeout beim Stoppen"), 1u);
    EXPECT_EQ(CaptureReaderLiveCount(), 0);  // the reader still goes
    EXPECT_EQ(frame->refCount.load(), 1);    // the caller's reference outlives the preview
    FrameRelease(frame);
}

// The device answers the flush beside a sample callback still under way, as Media Foundation may.
TEST_F(CaptureReaderTest, AStopWaitsForASampleCallbackUnderWayWhichThenDeliversNothing)
{
    VirtualDevice camera = PatternCamera(L"cam", L"Cam");
    camera.flushBesideSample = 1;
    VirtualDeviceAdd(camera);
    RecorderProbe& probe = Recorder();
    probe.active = true;
    const auto workersEnded = [] { return WaitUntil([] { return VirtualDevicesCounters().readerThreadsLive == 0; }); };

    // Held while it asks whether a recording runs, and let go once the stop has begun.
    CaptureReader* reader = Start(READER_ROLE_WIDE, L"cam");
    ASSERT_NE(reader, nullptr);
    CaptureReader* held = reader;
    probe.holdNextCall = true;
    ASSERT_EQ(WaitForSingleObject(probe.holding, 20000), WAIT_OBJECT_0);
    const size_t handedBefore = probe.Videos().size();
    std::thread stopper([&] {
        CaptureReaderStop(&reader);
        FrameClearPublished();  // as the control does after stopping
    });
    ASSERT_TRUE(WaitUntil([&] { return held->reading.load() == 0; }));  // the callback keeps it alive
    SetEvent(probe.release);
    stopper.join();
    ASSERT_TRUE(workersEnded());
    EXPECT_EQ(FrameAcquireLatest(SLOT_WIDE), nullptr);
    EXPECT_EQ(probe.Videos().size(), handedBefore);
    EXPECT_EQ(TimesLogged(LOG_ANY_LEVEL, L"Kamera-Reader"), 0u);

    // Held inside the hand-off itself: the stop waits for it, bounded, and says so.
    reader = Start(READER_ROLE_WIDE, L"cam");
    probe.holdNextSubmit = true;
    ASSERT_EQ(WaitForSingleObject(probe.holding, 20000), WAIT_OBJECT_0);
    CaptureReaderStop(&reader);
    EXPECT_EQ(TimesLogged(LOG_WARN, L"Kamera-Reader: Sample-Callback l\u00e4uft noch beim Stoppen"), 1u);
    SetEvent(probe.release);
    ASSERT_TRUE(workersEnded());
}

}  // namespace
