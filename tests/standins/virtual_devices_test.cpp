// Device lists, device sources, media types and the scenes of the virtual devices.
#include <mfapi.h>
#include <mferror.h>

#include <cmath>
#include <string>

#include "capture/media_seam.h"
#include "standins/com_ref.h"
#include "standins/virtual_seam.h"
#include "tests/standins/test_callback.h"

namespace {

constexpr DWORD VIDEO = static_cast<DWORD>(MF_SOURCE_READER_FIRST_VIDEO_STREAM);
constexpr DWORD AUDIO = static_cast<DWORD>(MF_SOURCE_READER_FIRST_AUDIO_STREAM);

struct Listed {
    std::wstring id;
    std::wstring name;
    bool hasName;
};

// Lists one kind through the seam the way enumeration code does, releasing every object.
std::vector<Listed> Enumerate(VirtualKind kind, HRESULT* result = nullptr)
{
    bool camera = kind == VirtualKind::Camera;
    std::vector<Listed> listed;
    ComRef<IMFAttributes> attributes;
    MFCreateAttributes(&attributes, 1);
    attributes->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE,
                        camera ? MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID : MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_AUDCAP_GUID);
    IMFActivate** activates = nullptr;
    UINT32 count = 0;
    HRESULT hr = SeamEnumDeviceSources(attributes.Get(), &activates, &count);
    if (result) *result = hr;
    for (UINT32 i = 0; i < count; ++i) {
        wchar_t* text = nullptr;
        UINT32 length = 0;
        Listed entry{};
        activates[i]->GetAllocatedString(camera ? MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK
                                                : MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_AUDCAP_ENDPOINT_ID,
                                         &text, &length);
        entry.id = text ? text : L"";
        CoTaskMemFree(text);
        text = nullptr;
        entry.hasName = SUCCEEDED(activates[i]->GetAllocatedString(MF_DEVSOURCE_ATTRIBUTE_FRIENDLY_NAME, &text, &length));
        entry.name = text ? text : L"";
        CoTaskMemFree(text);
        listed.push_back(entry);
        activates[i]->Release();
    }
    CoTaskMemFree(activates);
    return listed;
}

HRESULT OpenSource(VirtualKind kind, const wchar_t* id, IMFMediaSource** source)
{
    ComRef<IMFAttributes> attributes;
    MFCreateAttributes(&attributes, 2);
    bool camera = kind == VirtualKind::Camera;
    attributes->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE,
                        camera ? MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_GUID : MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_AUDCAP_GUID);
    attributes->SetString(camera ? MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_VIDCAP_SYMBOLIC_LINK
                                 : MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_AUDCAP_ENDPOINT_ID,
                          id);
    return SeamCreateDeviceSource(attributes.Get(), source);
}

HRESULT SetPartialType(IMFSourceReader* reader, DWORD stream, const GUID& major, const GUID& subtype, UINT32 bits = 0,
                       UINT32 width = 0, UINT32 height = 0)
{
    ComRef<IMFMediaType> type;
    MFCreateMediaType(&type);
    type->SetGUID(MF_MT_MAJOR_TYPE, major);
    type->SetGUID(MF_MT_SUBTYPE, subtype);
    if (bits) type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, bits);
    if (width) MFSetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, width, height);
    return reader->SetCurrentMediaType(stream, nullptr, type.Get());
}

}  // namespace

TEST_F(VirtualDeviceTest, HeadsetSetIsTwoCamerasOfOneModelAndAMicrophone)
{
    EXPECT_EQ(VirtualAddNamedSet(L"default"), 3u);
    std::vector<Listed> cameras = Enumerate(VirtualKind::Camera);
    ASSERT_EQ(cameras.size(), 2u);
    EXPECT_LT(cameras[0].id, cameras[1].id);  // the Wide camera sorts first
    EXPECT_EQ(cameras[0].name, L"HD USB Camera");
    EXPECT_EQ(cameras[1].name, cameras[0].name);
    std::vector<Listed> microphones = Enumerate(VirtualKind::Microphone);
    ASSERT_EQ(microphones.size(), 1u);
    EXPECT_EQ(microphones[0].id.rfind(L"{0.0.1.", 0), 0u);

    VirtualDevicesRemoveAll();
    EXPECT_EQ(VirtualAddNamedSet(L"NONE"), 0u);
    EXPECT_EQ(VirtualAddNamedSet(L"wide-only"), 2u);
    EXPECT_EQ(Enumerate(VirtualKind::Camera).size(), 1u);
    VirtualDevicesRemoveAll();
    EXPECT_EQ(VirtualAddNamedSet(L"no-mic"), 2u);
    EXPECT_EQ(Enumerate(VirtualKind::Microphone).size(), 0u);
    EXPECT_EQ(VirtualDevicesCounters().activatesLive, 0);
}

TEST_F(VirtualDeviceTest, EnumerationReturnsEveryDeviceInPlugOrderAndCountsReleases)
{
    for (int i = 0; i < 20; ++i) {
        std::wstring id = L"cam-" + std::to_wstring(19 - i);
        ASSERT_GE(VirtualDeviceAdd(VirtualCamera(id.c_str(), i == 5 ? nullptr : L"Cam", SceneKind::Pattern)), 0);
    }
    VirtualDeviceAdd(VirtualMicrophone(L"mic", L"Mic", SceneKind::Silence));
    std::vector<Listed> cameras = Enumerate(VirtualKind::Camera);
    ASSERT_EQ(cameras.size(), 20u);
    EXPECT_EQ(cameras[0].id, L"cam-19");
    EXPECT_EQ(cameras[19].id, L"cam-0");
    EXPECT_FALSE(cameras[5].hasName);
    EXPECT_TRUE(cameras[6].hasName);
    VirtualDeviceCounters after = VirtualDevicesCounters();
    EXPECT_EQ(after.activatesLive, 0);
    EXPECT_EQ(after.activatesFreed - before_.activatesFreed, 20);

    // Without a source type there is nothing to list.
    ComRef<IMFAttributes> empty;
    MFCreateAttributes(&empty, 1);
    IMFActivate** activates = nullptr;
    UINT32 count = 7;
    EXPECT_EQ(SeamEnumDeviceSources(empty.Get(), &activates, &count), E_INVALIDARG);
    EXPECT_EQ(count, 0u);
    EXPECT_EQ(activates, nullptr);
}

TEST_F(VirtualDeviceTest, DeviceSourcesOpenOnlyForPluggedInDevicesOfTheirKind)
{
    int32_t camera = VirtualDeviceAdd(PatternCamera(L"cam"));
    VirtualDeviceAdd(VirtualMicrophone(L"mic", L"Mic", SceneKind::Tone));
    {
        ComRef<IMFMediaSource> source;
        ASSERT_EQ(OpenSource(VirtualKind::Camera, L"cam", &source), S_OK);
        DWORD characteristics = 0;
        EXPECT_EQ(source->GetCharacteristics(&characteristics), S_OK);
        EXPECT_TRUE(characteristics & MFMEDIASOURCE_IS_LIVE);
        EXPECT_EQ(source->Shutdown(), S_OK);
        EXPECT_EQ(source->GetCharacteristics(&characteristics), MF_E_SHUTDOWN);
        // A shut-down source cannot be read.
        TestCallback* callback = new TestCallback;
        ComRef<IMFAttributes> options;
        MFCreateAttributes(&options, 1);
        options->SetUnknown(MF_SOURCE_READER_ASYNC_CALLBACK, callback);
        ComRef<IMFSourceReader> reader;
        EXPECT_EQ(SeamCreateSourceReaderFromMediaSource(source.Get(), options.Get(), &reader), MF_E_SHUTDOWN);
        callback->Release();
    }
    ComRef<IMFMediaSource> source;
    EXPECT_EQ(OpenSource(VirtualKind::Camera, L"mic", &source), VIRTUAL_DEVICE_MISSING);
    EXPECT_EQ(OpenSource(VirtualKind::Microphone, L"mic", &source), S_OK);
    source.Reset();
    VirtualDeviceRemove(camera);
    EXPECT_EQ(OpenSource(VirtualKind::Camera, L"cam", &source), VIRTUAL_DEVICE_MISSING);
    EXPECT_FALSE(source);

    // Activation objects open the source too.
    IMFActivate** activates = nullptr;
    UINT32 count = 0;
    ComRef<IMFAttributes> attributes;
    MFCreateAttributes(&attributes, 1);
    attributes->SetGUID(MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE, MF_DEVSOURCE_ATTRIBUTE_SOURCE_TYPE_AUDCAP_GUID);
    ASSERT_EQ(SeamEnumDeviceSources(attributes.Get(), &activates, &count), S_OK);
    ASSERT_EQ(count, 1u);
    EXPECT_EQ(activates[0]->ActivateObject(IID_PPV_ARGS(&source)), S_OK);
    EXPECT_EQ(activates[0]->ShutdownObject(), S_OK);
    EXPECT_EQ(source->GetCharacteristics(nullptr), E_POINTER);
    source.Reset();
    activates[0]->Release();
    CoTaskMemFree(activates);
    EXPECT_EQ(VirtualDevicesCounters().sourcesLive, 0);
}

TEST_F(VirtualDeviceTest, CameraOffersNativeTypesAndConvertsToRgb32AtTheNativeSize)
{
    VirtualDevice device = VirtualCamera(L"cam", L"Cam", SceneKind::Pattern);
    device.modes[device.modeCount++] = {0, 0, 0, 0, VirtualPixels::Yuy2};  // a type without size and rate
    device.bottomUp = 1;
    VirtualDeviceAdd(device);
    TestCallback* callback = new TestCallback;
    ComRef<IMFSourceReader> reader;
    ASSERT_EQ(OpenVirtualReader(VirtualKind::Camera, L"cam", callback, &reader), S_OK);

    UINT32 expected[][3] = {{1920, 1080, 30}, {1920, 1080, 60}, {1280, 720, 30}, {640, 480, 30}};
    for (DWORD i = 0; i < 4; ++i) {
        ComRef<IMFMediaType> type;
        ASSERT_EQ(reader->GetNativeMediaType(VIDEO, i, &type), S_OK);
        UINT32 width = 0, height = 0, numerator = 0, denominator = 0;
        EXPECT_EQ(MFGetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, &width, &height), S_OK);
        EXPECT_EQ(MFGetAttributeRatio(type.Get(), MF_MT_FRAME_RATE, &numerator, &denominator), S_OK);
        EXPECT_EQ(width, expected[i][0]);
        EXPECT_EQ(height, expected[i][1]);
        EXPECT_EQ(numerator, expected[i][2]);
        EXPECT_EQ(denominator, 1u);
    }
    ComRef<IMFMediaType> sizeless;
    ASSERT_EQ(reader->GetNativeMediaType(VIDEO, 4, &sizeless), S_OK);
    UINT64 packed = 0;
    EXPECT_EQ(sizeless->GetUINT64(MF_MT_FRAME_SIZE, &packed), MF_E_ATTRIBUTENOTFOUND);
    EXPECT_EQ(sizeless->GetUINT64(MF_MT_FRAME_RATE, &packed), MF_E_ATTRIBUTENOTFOUND);
    EXPECT_EQ(reader->GetNativeMediaType(VIDEO, 5, &sizeless), MF_E_NO_MORE_TYPES);
    EXPECT_EQ(reader->GetNativeMediaType(AUDIO, 0, &sizeless), MF_E_INVALIDSTREAMNUMBER);

    ASSERT_EQ(ChooseRgb32(reader.Get(), 1), S_OK);
    // Rejected requests leave the output as it was.
    EXPECT_EQ(SetPartialType(reader.Get(), VIDEO, MFMediaType_Video, MFVideoFormat_H264), MF_E_INVALIDMEDIATYPE);
    EXPECT_EQ(SetPartialType(reader.Get(), VIDEO, MFMediaType_Audio, MFAudioFormat_PCM), MF_E_INVALIDMEDIATYPE);
    EXPECT_EQ(SetPartialType(reader.Get(), VIDEO, MFMediaType_Video, MFVideoFormat_RGB32, 0, 800, 600), MF_E_INVALIDMEDIATYPE);
    ComRef<IMFMediaType> current;
    ASSERT_EQ(reader->GetCurrentMediaType(VIDEO, &current), S_OK);
    GUID subtype{};
    current->GetGUID(MF_MT_SUBTYPE, &subtype);
    EXPECT_EQ(subtype, MFVideoFormat_RGB32);
    UINT32 width = 0, height = 0, numerator = 0, denominator = 0;
    MFGetAttributeSize(current.Get(), MF_MT_FRAME_SIZE, &width, &height);
    MFGetAttributeRatio(current.Get(), MF_MT_FRAME_RATE, &numerator, &denominator);
    EXPECT_EQ(width, 1920u);
    EXPECT_EQ(height, 1080u);
    EXPECT_EQ(numerator, 60u);
    EXPECT_EQ(static_cast<INT32>(MFGetAttributeUINT32(current.Get(), MF_MT_DEFAULT_STRIDE, 0)), -7680);

    // Another size among the native ones switches the native format.
    EXPECT_EQ(SetPartialType(reader.Get(), VIDEO, MFMediaType_Video, MFVideoFormat_RGB32, 0, 640, 480), S_OK);
    ASSERT_EQ(reader->GetCurrentMediaType(VIDEO, &current), S_OK);
    MFGetAttributeSize(current.Get(), MF_MT_FRAME_SIZE, &width, &height);
    EXPECT_EQ(width, 640u);

    // Stream selection and asynchronous-mode rules.
    LONGLONG timestamp = 0;
    EXPECT_EQ(reader->ReadSample(VIDEO, 0, nullptr, nullptr, &timestamp, nullptr), E_INVALIDARG);
    EXPECT_EQ(reader->SetStreamSelection(static_cast<DWORD>(MF_SOURCE_READER_ALL_STREAMS), FALSE), S_OK);
    EXPECT_EQ(reader->ReadSample(VIDEO, 0, nullptr, nullptr, nullptr, nullptr), MF_E_INVALIDREQUEST);
    EXPECT_EQ(reader->SetStreamSelection(AUDIO, TRUE), MF_E_INVALIDSTREAMNUMBER);
    EXPECT_EQ(reader->SetStreamSelection(VIDEO, TRUE), S_OK);
    BOOL selected = FALSE;
    EXPECT_EQ(reader->GetStreamSelection(0, &selected), S_OK);
    EXPECT_TRUE(selected);
    reader.Reset();
    callback->Release();
}

TEST_F(VirtualDeviceTest, MicrophoneDeliversPcm16OrFloatAtItsNativeRate)
{
    VirtualDeviceAdd(VirtualMicrophone(L"mic", L"Mic", SceneKind::Tone));
    VirtualDevice picky = VirtualMicrophone(L"picky", L"Mic", SceneKind::Tone);
    picky.rejectAudioBits = 1;
    VirtualDeviceAdd(picky);
    TestCallback* callback = new TestCallback;
    ComRef<IMFSourceReader> reader;
    ASSERT_EQ(OpenVirtualReader(VirtualKind::Microphone, L"mic", callback, &reader), S_OK);
    ComRef<IMFMediaType> type;
    ASSERT_EQ(reader->GetNativeMediaType(AUDIO, 0, &type), S_OK);
    EXPECT_EQ(reader->GetNativeMediaType(AUDIO, 1, &type), MF_E_NO_MORE_TYPES);
    EXPECT_EQ(reader->GetNativeMediaType(VIDEO, 0, &type), MF_E_INVALIDSTREAMNUMBER);

    EXPECT_EQ(SetPartialType(reader.Get(), AUDIO, MFMediaType_Audio, MFAudioFormat_PCM, 24), MF_E_INVALIDMEDIATYPE);
    EXPECT_EQ(SetPartialType(reader.Get(), AUDIO, MFMediaType_Audio, MFAudioFormat_Float), S_OK);
    ASSERT_EQ(reader->GetCurrentMediaType(AUDIO, &type), S_OK);
    EXPECT_EQ(MFGetAttributeUINT32(type.Get(), MF_MT_AUDIO_SAMPLES_PER_SECOND, 0), 48000u);
    EXPECT_EQ(MFGetAttributeUINT32(type.Get(), MF_MT_AUDIO_NUM_CHANNELS, 0), 2u);
    EXPECT_EQ(MFGetAttributeUINT32(type.Get(), MF_MT_AUDIO_BITS_PER_SAMPLE, 0), 32u);
    EXPECT_EQ(MFGetAttributeUINT32(type.Get(), MF_MT_AUDIO_BLOCK_ALIGNMENT, 0), 8u);
    EXPECT_EQ(SetPartialType(reader.Get(), AUDIO, MFMediaType_Audio, MFAudioFormat_PCM, 16), S_OK);
    ASSERT_EQ(reader->GetCurrentMediaType(AUDIO, &type), S_OK);
    EXPECT_EQ(MFGetAttributeUINT32(type.Get(), MF_MT_AUDIO_BLOCK_ALIGNMENT, 0), 4u);
    EXPECT_EQ(MFGetAttributeUINT32(type.Get(), MF_MT_AUDIO_AVG_BYTES_PER_SECOND, 0), 192000u);
    reader.Reset();

    // A device that refuses the bits item still takes the same type without it.
    ASSERT_EQ(OpenVirtualReader(VirtualKind::Microphone, L"picky", callback, &reader), S_OK);
    EXPECT_EQ(SetPartialType(reader.Get(), AUDIO, MFMediaType_Audio, MFAudioFormat_PCM, 16), MF_E_INVALIDMEDIATYPE);
    EXPECT_EQ(SetPartialType(reader.Get(), AUDIO, MFMediaType_Audio, MFAudioFormat_PCM), S_OK);
    reader.Reset();
    callback->Release();
}

TEST(SceneRender, MacroFrameIsTheSurfaceShiftedByAFewPixelsOfTremor)
{
    SceneCanvas canvas;
    ASSERT_TRUE(ScenePrepare(canvas, SceneKind::Macro, 40, 30));
    std::vector<uint32_t> frame(40 * 30);
    int32_t lowest = 0, highest = 0;
    for (int64_t time = 0; time < 10'000'000; time += 1'000'000 / 60) {
        SceneDrawFrame(canvas, 0, time, reinterpret_cast<uint8_t*>(frame.data()), 40 * 4, 30);
        int32_t dx = 0, dy = 0;
        SceneTremor(time, &dx, &dy);
        ASSERT_LT(std::abs(dx), SCENE_TREMOR_MARGIN);
        ASSERT_LT(std::abs(dy), SCENE_TREMOR_MARGIN);
        lowest = std::min(lowest, dx);
        highest = std::max(highest, dx);
        for (int32_t y = 0; y < 30; y += 7)
            for (int32_t x = 0; x < 40; x += 3)
                ASSERT_EQ(frame[y * 40 + x], canvas.texture[(y + SCENE_TREMOR_MARGIN + dy) * canvas.textureWidth +
                                                            x + SCENE_TREMOR_MARGIN + dx]);
    }
    EXPECT_LE(lowest, -2);
    EXPECT_GE(highest, 2);
}

TEST(SceneRender, MicrophoneSignalsAreQuietToneSilenceAndFullScaleSquare)
{
    std::vector<int16_t> pcm(4800 * 2);
    SceneFillPcm16(SceneKind::Tone, 0, 48000, 2, pcm);
    double sum = 0;
    for (int16_t value : pcm) sum += (value / 32768.0) * (value / 32768.0);
    double dbfs = 20 * std::log10(std::sqrt(sum / pcm.size()));
    EXPECT_GT(dbfs, -45.0);
    EXPECT_LT(dbfs, -30.0);
    SceneFillPcm16(SceneKind::Silence, 0, 48000, 2, pcm);
    for (int16_t value : pcm) ASSERT_EQ(value, 0);
    std::vector<float> values(960);
    SceneFillFloat(SceneKind::SquareWave, 123, 48000, 2, values);
    for (float value : values) ASSERT_EQ(std::fabs(value), 1.0f);
}
