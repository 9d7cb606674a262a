// Device lists and capture readers against scripted virtual devices: list order and names,
// role binding, format choice, the three buffer paths, undersized frames, stream errors, the
// microphone meter, the recorder hand-off and the preview.
#include <windows.h>
#include <mfapi.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/app_messages.h"
#include "app/texts.h"
#include "capture/camera_control.h"
#include "capture/capture_reader.h"
#include "capture/capture_state.h"
#include "capture/device_list.h"
#include "capture/preview.h"
#include "diag/log.h"
#include "frames/frame_store.h"
#include "tests/capture/capture_test_support.h"

namespace {

using CaptureReaderTest = CaptureTest;

std::vector<std::wstring> Ids(const CaptureDevice* devices, int32_t count)
{
    std::vector<std::wstring> ids;
    for (int32_t i = 0; i < count; ++i) ids.emplace_back(devices[i].id);
    return ids;
}

std::vector<std::wstring> Names(const CaptureDevice* devices, int32_t count)
{
    std::vector<std::wstring> names;
    for (int32_t i = 0; i < count; ++i) names.emplace_back(devices[i].displayName);
    return names;
}

// Opens and starts a camera reader; null (with a test failure) when either fails.
CaptureReader* StartCamera(int32_t role, const wchar_t* id)
{
    CaptureReader* reader = nullptr;
    EXPECT_EQ(CaptureReaderOpen(role, id, nullptr, &reader), S_OK);
    if (reader) {
        EXPECT_EQ(CaptureReaderStart(reader), S_OK);
    }
    return reader;
}

CaptureReader* StartMicrophone(const wchar_t* id)
{
    CaptureReader* reader = nullptr;
    EXPECT_EQ(CaptureMicrophoneOpen(id, L"Test Mic", &reader), S_OK);
    if (reader) {
        EXPECT_EQ(CaptureReaderStart(reader), S_OK);
    }
    return reader;
}

// The newest Frame of a slot once there is one (with a reference for the caller).
Frame* WaitForFrame(uint32_t slot)
{
    Frame* frame = nullptr;
    PumpUntil([&] { return (frame = FrameAcquireLatest(slot)) != nullptr; });
    return frame;
}

// Empty when `frame` is exactly the test pattern of some frame index with alpha forced to
// 0xFF; otherwise where it differs.
std::string PatternMismatch(const Frame& frame)
{
    uint32_t first;
    std::memcpy(&first, frame.pixels, 4);
    const int64_t index = (first >> 16) & 0xFF;  // red of pixel (0, 0) is the frame index
    for (int32_t y = 0; y < frame.height; ++y) {
        for (int32_t x = 0; x < frame.width; ++x) {
            uint32_t pixel;
            std::memcpy(&pixel, frame.pixels + static_cast<ptrdiff_t>(y) * frame.stride + x * 4, 4);
            const uint32_t expected = ScenePatternPixel(x, y, index) | 0xFF000000u;
            if (pixel != expected) return "pixel " + std::to_string(x) + "," + std::to_string(y);
        }
    }
    return {};
}

TEST_F(CaptureReaderTest, ListsAreSortedByIdWithNumberedTwins)
{
    VirtualDeviceAdd(VirtualCamera(L"usb#c", L"X", SceneKind::Pattern));
    VirtualDeviceAdd(VirtualCamera(L"usb#a", L"X", SceneKind::Pattern));
    VirtualDeviceAdd(VirtualCamera(L"usb#b", L"Y", SceneKind::Pattern));
    VirtualDeviceAdd(VirtualMicrophone(L"mic", L"Mic", SceneKind::Tone));
    CaptureDevice devices[CAPTURE_LIST_CAPACITY];
    const int32_t count = CaptureListCameras(devices, CAPTURE_LIST_CAPACITY);
    EXPECT_EQ(Ids(devices, count), (std::vector<std::wstring>{L"usb#a", L"usb#b", L"usb#c"}));
    EXPECT_EQ(Names(devices, count), (std::vector<std::wstring>{L"X #1", L"Y", L"X #2"}));

    const int32_t microphones = CaptureListMicrophones(devices, CAPTURE_LIST_CAPACITY);
    ASSERT_EQ(microphones, 1);
    EXPECT_STREQ(devices[0].displayName, L"Mic");
    EXPECT_EQ(CaptureListCameras(nullptr, 16), 0);
    EXPECT_EQ(CaptureListCameras(devices, 0), 0);
}

TEST_F(CaptureReaderTest, ACameraWithoutFriendlyNameIsAnUnknownDeviceInTheUiLanguage)
{
    VirtualDeviceAdd(VirtualCamera(L"usb#nameless", nullptr, SceneKind::Pattern));
    CaptureDevice devices[CAPTURE_LIST_CAPACITY];
    TextsSetLanguageForTest(1);
    ASSERT_EQ(CaptureListCameras(devices, CAPTURE_LIST_CAPACITY), 1);
    EXPECT_STREQ(devices[0].displayName, L"Unbekanntes Ger\u00e4t");
    TextsSetLanguageForTest(0);
    ASSERT_EQ(CaptureListCameras(devices, CAPTURE_LIST_CAPACITY), 1);
    EXPECT_STREQ(devices[0].displayName, L"Unknown device");
    TextsSetLanguageForTest(-1);
}

TEST_F(CaptureReaderTest, TwentyCamerasFillSixteenEntriesAndEveryActivationIsReleased)
{
    // Plugged in descending id order, so that the sixteen kept are the first the system returns.
    for (int i = 19; i >= 0; --i) {
        wchar_t id[16];
        swprintf(id, 16, L"cam-%02d", i);
        ASSERT_GE(VirtualDeviceAdd(VirtualCamera(id, L"Cam", SceneKind::Pattern)), 0);
    }
    const VirtualDeviceCounters before = VirtualDevicesCounters();
    CaptureDevice devices[CAPTURE_LIST_CAPACITY];
    const int32_t count = CaptureListCameras(devices, CAPTURE_LIST_CAPACITY);
    ASSERT_EQ(count, 16);
    EXPECT_STREQ(devices[0].id, L"cam-04");
    EXPECT_STREQ(devices[15].id, L"cam-19");
    EXPECT_STREQ(devices[15].displayName, L"Cam #16");
    const VirtualDeviceCounters after = VirtualDevicesCounters();
    EXPECT_EQ(after.activatesFreed - before.activatesFreed, 20);
    EXPECT_EQ(after.activatesLive, 0);
}

TEST_F(CaptureReaderTest, SizeIsChosenBeforeRate)
{
    VirtualDevice camera = VirtualCamera(L"cam", L"Cam", SceneKind::Pattern);
    camera.modeCount = 3;
    camera.modes[0] = {1280, 720, 30, 1, VirtualPixels::Yuy2};
    camera.modes[1] = {1280, 720, 60, 1, VirtualPixels::Yuy2};
    camera.modes[2] = {1920, 1080, 5, 1, VirtualPixels::Nv12};
    VirtualDeviceAdd(camera);
    Recorder().active = true;  // the recorder sees the sample times
    CaptureReader* reader = StartCamera(READER_ROLE_WIDE, L"cam");
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->frameWidth, 1920);
    EXPECT_EQ(reader->frameHeight, 1080);
    ASSERT_TRUE(PumpUntil([] { return Recorder().VideoCount() >= 2; }));
    CaptureReaderStop(&reader);
    EXPECT_EQ(reader, nullptr);
    AcquireSRWLockShared(&Recorder().lock);
    const int64_t step = Recorder().videos[1].timestamp - Recorder().videos[0].timestamp;
    ReleaseSRWLockShared(&Recorder().lock);
    EXPECT_GT(step, 0);
    EXPECT_EQ(step % 2'000'000, 0) << "5 frames per second";
}

struct BufferCase {
    VirtualBuffer buffer;
    bool bottomUp;
};

TEST_F(CaptureReaderTest, EveryBufferPathCopiesExactPixelsTopRowFirstWithAlphaForced)
{
    const BufferCase cases[] = {{VirtualBuffer::TwoD2, false}, {VirtualBuffer::TwoD2, true},
                                {VirtualBuffer::TwoDOnly, false}, {VirtualBuffer::TwoDOnly, true},
                                {VirtualBuffer::Plain, false}, {VirtualBuffer::Plain, true}};
    for (const BufferCase& test : cases) {
        SCOPED_TRACE(testing::Message() << "buffer " << static_cast<int>(test.buffer) << " bottom-up " << test.bottomUp);
        VirtualDevice camera = PatternCamera(L"cam", L"Cam", 300, 7);  // two 256-pixel blocks, odd width tail
        camera.buffer = test.buffer;
        camera.bottomUp = test.bottomUp;
        const int32_t handle = VirtualDeviceAdd(camera);
        CaptureReader* reader = StartCamera(READER_ROLE_WIDE, L"cam");
        ASSERT_NE(reader, nullptr);
        EXPECT_EQ(reader->defaultStride, test.bottomUp ? -1200 : 1200);
        Frame* frame = WaitForFrame(SLOT_WIDE);
        ASSERT_NE(frame, nullptr);
        EXPECT_EQ(frame->width, 300);
        EXPECT_EQ(frame->height, 7);
        EXPECT_EQ(PatternMismatch(*frame), "");
        FrameRelease(frame);
        CaptureReaderStop(&reader);
        FrameClearPublished();
        VirtualDeviceRemove(handle);
    }
    EXPECT_EQ(CountLoggedPrefix(L"Kamera-Frame zu klein"), 0);
}

struct UndersizedCase {
    VirtualBuffer buffer;
    std::wstring warning;  // the start of the warning
};

TEST_F(CaptureReaderTest, UndersizedFramesAreDroppedWithOneWarningPerReader)
{
    const UndersizedCase cases[] = {
        {VirtualBuffer::TwoD2, L"Kamera-Frame zu klein (2D, "},
        {VirtualBuffer::TwoDOnly, L"Kamera-Frame zu klein (2D) \u2014 verworfen"},
        {VirtualBuffer::Plain, L"Kamera-Frame zu klein (3600 Bytes f\u00fcr 300x7) \u2014 Frame verworfen"},
    };
    const std::wstring streamEnd = L"Kamera 0: Stream-Fehler (0xC00D3704) \u2014 USB-Verbindung pr\u00fcfen";
    int readers = 0;
    for (const UndersizedCase& test : cases) {
        SCOPED_TRACE(testing::Message() << "buffer " << static_cast<int>(test.buffer));
        VirtualDevice camera = PatternCamera(L"cam", L"Cam", 300, 7);
        camera.buffer = test.buffer;
        camera.undersized = 1;        // only the upper three rows
        camera.errorAfterSamples = 3;  // the stream error marks that three samples came
        const int32_t handle = VirtualDeviceAdd(camera);
        for (int round = 1; round <= 2; ++round) {  // a new reader warns again
            CaptureReader* reader = StartCamera(READER_ROLE_WIDE, L"cam");
            ASSERT_NE(reader, nullptr);
            ++readers;
            ASSERT_TRUE(PumpUntil([&] { return CountLogged(LOG_ERROR, streamEnd) == readers; }));
            CaptureReaderStop(&reader);
            EXPECT_EQ(CountLoggedPrefix(test.warning), round);
        }
        EXPECT_EQ(FrameAcquireLatest(SLOT_WIDE), nullptr);
        VirtualDeviceRemove(handle);
    }
}

TEST_F(CaptureReaderTest, WideFramesReachTheRecorderOnlyWhileRecordingWithTheNewestMacroFrame)
{
    VirtualDeviceAdd(PatternCamera(L"wide", L"Wide"));
    CaptureSetPipFraction(0.42f);
    uint32_t counts[2];
    FrameTakePublishCounts(counts);
    CaptureReader* reader = StartCamera(READER_ROLE_WIDE, L"wide");
    uint32_t published = 0;
    ASSERT_TRUE(PumpUntil([&] {
        FrameTakePublishCounts(counts);
        published += counts[SLOT_WIDE];
        return published >= 3;
    }));
    EXPECT_EQ(Recorder().VideoCount(), 0u);

    Frame* macros[2] = {FrameCreate(8, 8), FrameCreate(8, 8)};
    for (Frame* macro : macros) {
        FramePublish(SLOT_MACRO, macro);
        Recorder().Clear();
        Recorder().active = true;
        ASSERT_TRUE(PumpUntil([] { return Recorder().VideoCount() >= 3; }));
        Recorder().active = false;
        AcquireSRWLockShared(&Recorder().lock);
        for (size_t i = 1; i < Recorder().videos.size(); ++i) {
            const RecorderProbe::Video& video = Recorder().videos[i];
            EXPECT_EQ(video.macro, macro);
            EXPECT_FLOAT_EQ(video.pipFraction, 0.42f);
            EXPECT_GT(video.timestamp, Recorder().videos[i - 1].timestamp);
        }
        ReleaseSRWLockShared(&Recorder().lock);
    }
    FramePublish(SLOT_MACRO, nullptr);  // no Macro image: the Wide frame goes alone
    Recorder().Clear();
    Recorder().active = true;
    ASSERT_TRUE(PumpUntil([] { return Recorder().VideoCount() >= 2; }));
    Recorder().active = false;
    AcquireSRWLockShared(&Recorder().lock);
    EXPECT_EQ(Recorder().videos.back().macro, nullptr);
    ReleaseSRWLockShared(&Recorder().lock);
    CaptureReaderStop(&reader);
    Recorder().Clear();
    for (Frame* macro : macros) FrameRelease(macro);
}

TEST_F(CaptureReaderTest, MicrophoneMeterRisesWithFullScaleAndHalvesTowardsSilence)
{
    VirtualDeviceAdd(VirtualMicrophone(L"square", L"Square", SceneKind::SquareWave));
    VirtualDeviceAdd(VirtualMicrophone(L"silence", L"Silence", SceneKind::Silence));
    CaptureReader* loud = StartMicrophone(L"square");
    ASSERT_NE(loud, nullptr);
    EXPECT_FALSE(loud->audioIsFloat);
    EXPECT_EQ(loud->audioBitsPerSample, 16u);
    EXPECT_EQ(CountLogged(LOG_INFO, L"Mikrofon eingebunden: Test Mic"), 1);
    IMFMediaType* type = CaptureAcquireAudioMediaType();
    ASSERT_NE(type, nullptr);
    EXPECT_EQ(MFGetAttributeUINT32(type, MF_MT_AUDIO_SAMPLES_PER_SECOND, 0), 48000u);
    type->Release();
    ASSERT_TRUE(PumpUntil([] { return CaptureGetMicLevel() > 0.99f; }));
    CaptureReaderStop(&loud);

    Recorder().active = true;  // every sample goes to the recorder as it is
    CaptureReader* quiet = StartMicrophone(L"silence");
    ASSERT_NE(quiet, nullptr);
    ASSERT_TRUE(PumpUntil([] { return CaptureGetMicLevel() < 0.001f; }));
    CaptureReaderStop(&quiet);
    AcquireSRWLockShared(&Recorder().lock);
    EXPECT_GT(Recorder().audioSamples, 9);  // halving from 1 to below 0.001 takes ten samples
    ReleaseSRWLockShared(&Recorder().lock);
    CaptureDropAudioMediaType();
}

TEST_F(CaptureReaderTest, MicrophoneFallsBackToItsOwnDepthAndAFailedOpenForgetsTheType)
{
    VirtualDevice picky = VirtualMicrophone(L"picky", L"Picky", SceneKind::Tone);
    picky.rejectAudioBits = 1;
    VirtualDeviceAdd(picky);
    CaptureReader* reader = StartMicrophone(L"picky");
    ASSERT_NE(reader, nullptr);
    EXPECT_EQ(reader->audioBitsPerSample, 16u);
    ASSERT_TRUE(PumpUntil([] { return CaptureGetMicLevel() > 0.1f; }));  // the quiet tone shows
    CaptureReaderStop(&reader);

    IMFMediaType* stale = CaptureAcquireAudioMediaType();
    EXPECT_NE(stale, nullptr);
    if (stale) stale->Release();
    CaptureReader* missing = nullptr;
    EXPECT_EQ(CaptureMicrophoneOpen(L"absent", L"Absent", &missing), VIRTUAL_DEVICE_MISSING);
    EXPECT_EQ(missing, nullptr);
    EXPECT_EQ(CaptureAcquireAudioMediaType(), nullptr);
    EXPECT_EQ(CountLogged(LOG_WARN, L"Mikrofon konnte nicht verbunden werden: 0x80070002"), 1);
}

TEST_F(CaptureReaderTest, PreviewKeepsItsNewestFrameToItself)
{
    VirtualDeviceAdd(PatternCamera(L"cam", L"Cam", 40, 30));
    EXPECT_EQ(PreviewOpen(L""), nullptr);
    EXPECT_EQ(PreviewOpen(nullptr), nullptr);
    EXPECT_EQ(PreviewOpen(L"absent"), nullptr);
    EXPECT_EQ(CountLogged(LOG_WARN, L"Vorschau: Kamera konnte nicht ge\u00f6ffnet werden (0x80070002)"), 1);

    CapturePreview* preview = PreviewOpen(L"cam");
    ASSERT_NE(preview, nullptr);
    Frame* frame = nullptr;
    ASSERT_TRUE(PumpUntil([&] { return (frame = PreviewAcquireFrame(preview)) != nullptr; }));
    EXPECT_EQ(PatternMismatch(*frame), "");
    EXPECT_EQ(FrameAcquireLatest(SLOT_WIDE), nullptr);  // nothing is published
    EXPECT_EQ(FrameAcquireLatest(SLOT_MACRO), nullptr);
    PreviewClose(preview);
    EXPECT_EQ(frame->refCount.load(), 1);  // the caller's reference outlives the preview
    FrameRelease(frame);
    PreviewClose(nullptr);
    EXPECT_EQ(CountLoggedPrefix(L"Kamera 3"), 0);  // the preview logs as a preview
}

TEST_F(CaptureReaderTest, AFlushThatNeverEndsIsWaitedForBoundedAndTheReaderStillGoes)
{
    VirtualDevice camera = PatternCamera(L"cam", L"Cam");
    camera.flushNeverCompletes = 1;
    VirtualDeviceAdd(camera);
    CaptureReader* reader = StartCamera(READER_ROLE_MACRO, L"cam");
    Frame* frame = WaitForFrame(SLOT_MACRO);
    ASSERT_NE(frame, nullptr);
    EXPECT_EQ(frame->stabZoom, 1.0);  // stabilisation is off: the stabiliser's neutral answer
    FrameRelease(frame);
    CaptureReaderStop(&reader);
    EXPECT_EQ(CountLogged(LOG_WARN, L"Kamera-Reader: Flush-Timeout beim Stoppen"), 1);
    EXPECT_EQ(CaptureReaderLiveCount(), 0);
}

}  // namespace
