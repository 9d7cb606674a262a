// The substitute sink writer as the recorder uses it: the types and call order Media
// Foundation's writer accepts, scripted faults, and files that ffprobe reads, written as the
// samples come, failing cleanly on a full disk.
#include <windows.h>
#include <gtest/gtest.h>
#include <codecapi.h>
#include <mfapi.h>
#include <mferror.h>
#include <mfidl.h>
#include <mfreadwrite.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "base/win_owners.h"
#include "capture/media_seam.h"
#include "standins/virtual_devices.h"
#include "standins/virtual_sink_writer.h"
#include "tests/support/test_folder.h"

namespace {

constexpr uint32_t W = 320;
constexpr uint32_t H = 240;

class SinkWriterTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        com_ = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
        ASSERT_EQ(MFStartup(MF_VERSION, 0), S_OK);
        VirtualDevicesInstall();
        VirtualSinkResetScript();
        live_ = VirtualSinkWritersLive();
    }
    void TearDown() override
    {
        EXPECT_EQ(VirtualSinkWritersLive(), live_);
        VirtualSinkResetScript();
        VirtualDevicesUninstall();
        MFShutdown();
        if (SUCCEEDED(com_)) CoUninitialize();
    }
    HRESULT com_ = E_FAIL;
    int32_t live_ = 0;
    TestSettingsFolder folder_;
};

HRESULT Create(const std::wstring& path, IMFSinkWriter** writer, bool fragmented = false, bool throttlingOff = true,
               bool hardware = true)
{
    ComOwner<IMFAttributes> attributes;
    MFCreateAttributes(&attributes, 3);
    if (hardware) attributes->SetUINT32(MF_READWRITE_ENABLE_HARDWARE_TRANSFORMS, 1);
    if (throttlingOff) attributes->SetUINT32(MF_SINK_WRITER_DISABLE_THROTTLING, 1);
    if (fragmented) attributes->SetGUID(MF_TRANSCODE_CONTAINERTYPE, MFTranscodeContainerType_FMPEG4);
    return SeamCreateSinkWriterFromURL(path.c_str(), nullptr, attributes.Get(), writer);
}

ComOwner<IMFMediaType> VideoType(const GUID& subtype, uint32_t width, uint32_t height, uint32_t rate)
{
    ComOwner<IMFMediaType> type;
    MFCreateMediaType(&type);
    type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    type->SetGUID(MF_MT_SUBTYPE, subtype);
    MFSetAttributeSize(type.Get(), MF_MT_FRAME_SIZE, width, height);
    MFSetAttributeRatio(type.Get(), MF_MT_FRAME_RATE, rate, 1);
    MFSetAttributeRatio(type.Get(), MF_MT_PIXEL_ASPECT_RATIO, 1, 1);
    type->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
    if (subtype == MFVideoFormat_H264) {
        type->SetUINT32(MF_MT_AVG_BITRATE, 12'000'000);
        type->SetUINT32(MF_MT_MPEG2_PROFILE, 100);
        type->SetUINT32(MF_MT_MAX_KEYFRAME_SPACING, 60);
    } else {
        type->SetUINT32(MF_MT_DEFAULT_STRIDE, static_cast<UINT32>(-static_cast<int32_t>(width * 4)));
    }
    return ComOwner<IMFMediaType>(type.Detach());
}

// An AAC output type (`extra`: its bytes per second) or a PCM/float input type (`extra`: bits).
ComOwner<IMFMediaType> AudioType(const GUID& subtype, uint32_t rate, uint32_t channels, uint32_t extra = 0)
{
    ComOwner<IMFMediaType> type;
    MFCreateMediaType(&type);
    type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
    type->SetGUID(MF_MT_SUBTYPE, subtype);
    type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, rate);
    type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, channels);
    const bool aac = subtype == MFAudioFormat_AAC;
    type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, aac || !extra ? 16 : extra);
    if (aac) type->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, extra ? extra : 12000);
    else type->SetUINT32(MF_MT_AUDIO_BLOCK_ALIGNMENT, channels * (extra ? extra : 16) / 8);
    return ComOwner<IMFMediaType>(type.Detach());
}

// The encoding parameters the recorder gives the video encoder: its GOP size.
ComOwner<IMFAttributes> Gop(uint32_t frames)
{
    ComOwner<IMFAttributes> parameters;
    MFCreateAttributes(&parameters, 1);
    parameters->SetUINT32(CODECAPI_AVEncMPVGOPSize, frames);
    return ComOwner<IMFAttributes>(parameters.Detach());
}

// A writer set up as the recorder sets it up: video with a GOP of `gop` frames (and sound at 48 kHz
// stereo), begun.
void SetUpStreams(IMFSinkWriter* writer, bool withSound, DWORD* video, DWORD* audio, uint32_t gop = 60)
{
    ASSERT_EQ(writer->AddStream(VideoType(MFVideoFormat_H264, W, H, 30).Get(), video), S_OK);
    ASSERT_EQ(writer->SetInputMediaType(*video, VideoType(MFVideoFormat_RGB32, W, H, 30).Get(), Gop(gop).Get()), S_OK);
    if (withSound) {
        ASSERT_EQ(writer->AddStream(AudioType(MFAudioFormat_AAC, 48000, 2).Get(), audio), S_OK);
        ASSERT_EQ(writer->SetInputMediaType(*audio, AudioType(MFAudioFormat_PCM, 48000, 2).Get(), nullptr), S_OK);
    }
    ASSERT_EQ(writer->BeginWriting(), S_OK);
}

// A writer at `path` set up as above; the caller owns it (null when it could not be made).
DWORD video = 0, audio = 0;  // its streams
IMFSinkWriter* Open(const std::wstring& path, bool withSound = false, bool fragmented = false, bool throttlingOff = true,
                    uint32_t gop = 60)
{
    ComOwner<IMFSinkWriter> writer;
    EXPECT_EQ(Create(path, &writer, fragmented, throttlingOff), S_OK);
    if (writer) SetUpStreams(writer.Get(), withSound, &video, &audio, gop);
    return writer.Detach();
}

// A bottom-up RGB32 frame, the image's top half red, bottom half blue: in a plain buffer, or in
// a bottom-up 2-D buffer.
ComOwner<IMFSample> Frame(int64_t time, int64_t duration = 333'333, bool twoD = false)
{
    ComOwner<IMFMediaBuffer> buffer;
    BYTE* top = nullptr;
    LONG pitch = 0;
    ComOwner<IMF2DBuffer> planes;
    if (twoD) {
        MFCreate2DMediaBuffer(W, H, MFVideoFormat_RGB32.Data1, TRUE, &buffer);
        buffer->QueryInterface(IID_PPV_ARGS(&planes));
        planes->Lock2D(&top, &pitch);
    } else {
        MFCreateMemoryBuffer(W * H * 4, &buffer);
        buffer->Lock(&top, nullptr, nullptr);
        top += (H - 1) * W * 4;
        pitch = -static_cast<LONG>(W * 4);
    }
    for (uint32_t row = 0; row < H; ++row) {
        uint32_t color = row < H / 2 ? 0xFFFF0000u : 0xFF0000FFu;
        for (uint32_t x = 0; x < W; ++x) std::memcpy(top + static_cast<ptrdiff_t>(row) * pitch + x * 4, &color, 4);
    }
    if (planes) planes->Unlock2D();
    else buffer->Unlock();
    buffer->SetCurrentLength(W * H * 4);
    ComOwner<IMFSample> sample;
    MFCreateSample(&sample);
    sample->AddBuffer(buffer.Get());
    sample->SetSampleTime(time);
    sample->SetSampleDuration(duration);
    return ComOwner<IMFSample>(sample.Detach());
}

// 10 ms of 48 kHz stereo silence.
ComOwner<IMFSample> Sound(int64_t time)
{
    ComOwner<IMFMediaBuffer> buffer;
    MFCreateMemoryBuffer(480 * 4, &buffer);
    BYTE* data = nullptr;
    buffer->Lock(&data, nullptr, nullptr);
    std::memset(data, 0, 480 * 4);
    buffer->Unlock();
    buffer->SetCurrentLength(480 * 4);
    ComOwner<IMFSample> sample;
    MFCreateSample(&sample);
    sample->AddBuffer(buffer.Get());
    sample->SetSampleTime(time);
    sample->SetSampleDuration(100'000);
    return ComOwner<IMFSample>(sample.Detach());
}

std::wstring UnixPath(const std::wstring& path);

// Runs a shell command of the host system and returns what it printed, prefixed with
// "exit N: " when it failed. Wine starts Unix programs detached from the caller's handles, so
// the output goes through a file that appears complete when the command has ended.
std::string RunHost(const std::wstring& command)
{
    static int serial = 0;
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring base = std::wstring(temp) + L"miru-host-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++serial);
    std::wstring done = base + L".txt";
    std::wstring unixBase = UnixPath(base);
    std::wstring line = L"Z:\\bin\\sh -c \"(" + command + L") > '" + unixBase + L".tmp' 2>&1; echo $? > '" + unixBase +
                        L".code'; mv '" + unixBase + L".tmp' '" + unixBase + L".txt'\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return "not started: " + std::to_string(GetLastError());
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    for (int i = 0; i < 3000 && GetFileAttributesW(done.c_str()) == INVALID_FILE_ATTRIBUTES; ++i) Sleep(20);
    std::string output = ReadFileBytes(done);
    std::string code = ReadFileBytes(base + L".code");
    DeleteFileW(done.c_str());
    DeleteFileW((base + L".code").c_str());
    if (code.empty()) return "no answer: " + output;
    if (std::atoi(code.c_str()) != 0) return "exit " + std::to_string(std::atoi(code.c_str())) + ": " + output;
    return output;
}

std::wstring UnixPath(const std::wstring& path)
{
    using ToUnix = char* (*)(const wchar_t*);
    auto toUnix = reinterpret_cast<ToUnix>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    if (!toUnix) return path;
    char* unix = toUnix(path.c_str());
    if (!unix) return path;
    std::wstring result(unix, unix + std::strlen(unix));
    HeapFree(GetProcessHeap(), 0, unix);
    return result;
}

std::string Probe(const std::wstring& file, const wchar_t* arguments)
{
    return RunHost(L"ffprobe -v error " + std::wstring(arguments) + L" '" + UnixPath(file) + L"'");
}

uint64_t FileSize(const std::wstring& path)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &data)) return 0;
    return (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
}

TEST_F(SinkWriterTest, AcceptsWhatTheSystemWriterAcceptsAndRefusesTheRest)
{
    ComOwner<IMFSinkWriter> writer;
    EXPECT_EQ(Create(folder_.File(L"x.avi"), &writer), MF_E_UNSUPPORTED_BYTESTREAM_TYPE);
    ASSERT_EQ(Create(folder_.File(L"types.mp4"), &writer), S_OK);
    video = audio = 9;
    EXPECT_EQ(writer->AddStream(VideoType(MFVideoFormat_RGB32, W, H, 30).Get(), &video), MF_E_INVALIDMEDIATYPE);
    ASSERT_EQ(writer->AddStream(VideoType(MFVideoFormat_H264, W, H, 30).Get(), &video), S_OK);
    ASSERT_EQ(writer->AddStream(AudioType(MFAudioFormat_AAC, 48000, 2).Get(), &audio), S_OK);
    EXPECT_EQ(video, 0u);
    EXPECT_EQ(audio, 1u);
    // The input must match the output's size and rate (sound: the AAC encoder's test below).
    EXPECT_EQ(writer->SetInputMediaType(video, VideoType(MFVideoFormat_RGB32, W, H + 2, 30).Get(), nullptr), MF_E_INVALIDMEDIATYPE);
    EXPECT_EQ(writer->SetInputMediaType(video, VideoType(MFVideoFormat_RGB32, W, H, 25).Get(), nullptr), MF_E_INVALIDMEDIATYPE);
    EXPECT_EQ(writer->SetInputMediaType(5, VideoType(MFVideoFormat_RGB32, W, H, 30).Get(), nullptr), MF_E_INVALIDSTREAMNUMBER);
    ASSERT_EQ(writer->SetInputMediaType(video, VideoType(MFVideoFormat_RGB32, W, H, 30).Get(), Gop(60).Get()), S_OK);
    // A stream without its input type cannot be fed: writing cannot begin.
    EXPECT_EQ(writer->WriteSample(video, Frame(0).Get()), MF_E_INVALIDREQUEST);
    EXPECT_EQ(writer->BeginWriting(), MF_E_INVALIDREQUEST);
    ASSERT_EQ(writer->SetInputMediaType(audio, AudioType(MFAudioFormat_PCM, 48000, 2).Get(), nullptr), S_OK);
    EXPECT_EQ(writer->Finalize(), MF_E_INVALIDREQUEST);
    EXPECT_EQ(writer->SendStreamTick(audio, 0), MF_E_INVALIDREQUEST);
    ASSERT_EQ(writer->BeginWriting(), S_OK);
    EXPECT_EQ(writer->BeginWriting(), MF_E_INVALIDREQUEST);
    EXPECT_EQ(writer->AddStream(VideoType(MFVideoFormat_H264, W, H, 30).Get(), &video), MF_E_INVALIDREQUEST);
    EXPECT_EQ(writer->SetInputMediaType(video, VideoType(MFVideoFormat_RGB32, W, H, 30).Get(), nullptr), MF_E_INVALIDREQUEST);
    EXPECT_EQ(writer->WriteSample(7, Frame(0).Get()), MF_E_INVALIDSTREAMNUMBER);
    ComOwner<IMFSample> untimed;
    MFCreateSample(&untimed);
    EXPECT_EQ(writer->WriteSample(video, untimed.Get()), MF_E_NO_SAMPLE_TIMESTAMP);
    EXPECT_EQ(writer->WriteSample(video, Frame(0).Get()), S_OK);
    // A gap in the sound: a tick at its start, the sample after it marked.
    EXPECT_EQ(writer->WriteSample(audio, Sound(0).Get()), S_OK);
    EXPECT_EQ(writer->SendStreamTick(audio, 100'000), S_OK);
    ComOwner<IMFSample> afterGap = Sound(1'500'000);
    afterGap->SetUINT32(MFSampleExtension_Discontinuity, TRUE);
    EXPECT_EQ(writer->WriteSample(audio, afterGap.Get()), S_OK);
    EXPECT_EQ(writer->SendStreamTick(MF_SINK_WRITER_ALL_STREAMS, 0), MF_E_INVALIDSTREAMNUMBER);
    EXPECT_EQ(writer->Finalize(), S_OK);
    EXPECT_EQ(writer->Finalize(), MF_E_INVALIDREQUEST);
    EXPECT_EQ(writer->WriteSample(video, Frame(333'333).Get()), MF_E_INVALIDREQUEST);

    VirtualSinkReport report;
    ASSERT_TRUE(VirtualSinkLastReport(&report));
    EXPECT_TRUE(report.throttlingDisabled);
    EXPECT_TRUE(report.hardwareTransforms);
    EXPECT_FALSE(report.fragmented);
    EXPECT_TRUE(report.finalized);
    ASSERT_EQ(report.streamCount, 2u);
    const VirtualSinkStreamReport& v = report.streams[0];
    EXPECT_EQ(v.outputSubtype, MFVideoFormat_H264);
    EXPECT_EQ(v.width, W);
    EXPECT_EQ(v.bitRate, 12'000'000u);
    EXPECT_EQ(v.profile, 100u);
    EXPECT_EQ(v.keyFrameSpacing, 60u);
    EXPECT_EQ(v.gopSize, 60u);
    EXPECT_EQ(v.inputStride, -static_cast<int32_t>(W * 4));
    EXPECT_EQ(report.streams[1].sampleRate, 48000u);
    EXPECT_EQ(report.streams[1].channels, 2u);
    EXPECT_EQ(report.streams[1].avgBytesPerSecond, 12000u);
    ASSERT_EQ(report.tickCount, 1u);
    EXPECT_TRUE(report.ticks[0].stream == audio && report.ticks[0].time == 100'000);
    ASSERT_EQ(report.writeCount, 3u);
    EXPECT_TRUE(!report.writes[1].discontinuity && report.writes[2].discontinuity);
}

// The AAC encoder takes 16-bit PCM at 44.1 or 48 kHz with 1, 2 or 6 channels and encodes it at
// that rate and channel count, at 12000 to 24000 bytes per second (six times that for 6
// channels); the writer converts nothing. Anything else is refused when the input type is set.
TEST_F(SinkWriterTest, AnAacStreamTakesOnlyWhatTheEncoderTakes)
{
    struct Case {
        uint32_t outRate, outChannels, outBytes;
        GUID inSubtype;
        uint32_t inRate, inChannels, inBits;
        HRESULT want;
    };
    const GUID PCM = MFAudioFormat_PCM;
    const Case cases[] = {
        {48000, 2, 12000, PCM, 48000, 2, 16, S_OK},  {44100, 1, 24000, PCM, 44100, 1, 16, S_OK},
        {48000, 6, 72000, PCM, 48000, 6, 16, S_OK},  {16000, 1, 12000, PCM, 16000, 1, 16, MF_E_INVALIDMEDIATYPE},
        {48000, 4, 12000, PCM, 48000, 4, 16, MF_E_INVALIDMEDIATYPE},
        {44100, 2, 12000, PCM, 48000, 2, 16, MF_E_INVALIDMEDIATYPE},  // no resampling
        {48000, 2, 12000, PCM, 48000, 1, 16, MF_E_INVALIDMEDIATYPE},
        {48000, 2, 12000, PCM, 48000, 2, 24, MF_E_INVALIDMEDIATYPE},
        {48000, 2, 12000, MFAudioFormat_Float, 48000, 2, 32, MF_E_INVALIDMEDIATYPE},
        {48000, 6, 12000, PCM, 48000, 6, 16, MF_E_INVALIDMEDIATYPE},  {48000, 2, 13000, PCM, 48000, 2, 16, MF_E_INVALIDMEDIATYPE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.inRate) + " Hz " + std::to_string(c.inChannels) + " ch");
        ComOwner<IMFSinkWriter> writer;
        ASSERT_EQ(Create(folder_.File(L"aac.mp4"), &writer), S_OK);
        ASSERT_EQ(writer->AddStream(AudioType(MFAudioFormat_AAC, c.outRate, c.outChannels, c.outBytes).Get(), &audio), S_OK);
        EXPECT_EQ(writer->SetInputMediaType(audio, AudioType(c.inSubtype, c.inRate, c.inChannels, c.inBits).Get(), nullptr), c.want);
    }
}

TEST_F(SinkWriterTest, ScriptedFaults)
{
    // The encoder is busy twice after two frames, then takes frames again.
    VirtualSinkScript script;
    script.writeFault = {VirtualSinkStream::Video, 2, 2, MF_E_NOTACCEPTING};
    VirtualSinkSetScript(script);
    {
        ComOwner<IMFSinkWriter> writer(Open(folder_.File(L"busy.mp4"), true));
        ASSERT_TRUE(writer);
        HRESULT results[5];
        for (int i = 0; i < 5; ++i) results[i] = writer->WriteSample(video, Frame(i * 333'333).Get());
        EXPECT_EQ(results[1], S_OK);
        EXPECT_EQ(results[2], MF_E_NOTACCEPTING);
        EXPECT_EQ(results[3], MF_E_NOTACCEPTING);
        EXPECT_EQ(results[4], S_OK);
        EXPECT_EQ(writer->WriteSample(audio, Sound(0).Get()), S_OK);  // sound is not affected
        EXPECT_EQ(writer->Finalize(), S_OK);
    }
    // Out of memory once; a hard failure then sticks to every later call, Finalize included.
    script.writeFault = {VirtualSinkStream::Video, 1, 1, E_OUTOFMEMORY};
    VirtualSinkSetScript(script);
    {
        ComOwner<IMFSinkWriter> writer(Open(folder_.File(L"memory.mp4")));
        ASSERT_TRUE(writer);
        EXPECT_EQ(writer->WriteSample(video, Frame(0).Get()), S_OK);
        EXPECT_EQ(writer->WriteSample(video, Frame(333'333).Get()), E_OUTOFMEMORY);
        EXPECT_EQ(writer->WriteSample(video, Frame(666'666).Get()), S_OK);
        constexpr HRESULT BROKEN = HRESULT_FROM_WIN32(ERROR_GEN_FAILURE);
        script.writeFault = {VirtualSinkStream::Any, 0, -1, BROKEN};
        VirtualSinkSetScript(script);
        EXPECT_EQ(writer->WriteSample(video, Frame(999'999).Get()), BROKEN);
        script.writeFault = {};
        VirtualSinkSetScript(script);
        EXPECT_EQ(writer->WriteSample(video, Frame(1'333'332).Get()), BROKEN);
        EXPECT_EQ(writer->Finalize(), BROKEN);
        VirtualSinkReport report;
        VirtualSinkLastReport(&report);
        EXPECT_EQ(report.failure, BROKEN);
        EXPECT_EQ(report.streams[0].samplesWritten, 2u);
        EXPECT_EQ(report.streams[0].samplesRefused, 2u);
    }
    // A failing Finalize; a stream without any sample fails it as well, the file left unfinished.
    script = VirtualSinkScript{};
    script.finalizeResult = E_FAIL;
    VirtualSinkSetScript(script);
    {
        ComOwner<IMFSinkWriter> finishing(Open(folder_.File(L"final.mp4")));
        ASSERT_TRUE(finishing);
        EXPECT_EQ(finishing->WriteSample(video, Frame(0).Get()), S_OK);
        EXPECT_EQ(finishing->Finalize(), E_FAIL);
    }
    VirtualSinkResetScript();
    {
        ComOwner<IMFSinkWriter> silent(Open(folder_.File(L"silent.mp4"), true));
        ASSERT_TRUE(silent);
        EXPECT_EQ(silent->WriteSample(video, Frame(0).Get()), S_OK);
        EXPECT_EQ(silent->Finalize(), MF_E_SINK_NO_SAMPLES_PROCESSED);
        VirtualSinkReport report;
        VirtualSinkLastReport(&report);
        EXPECT_FALSE(report.finalized);
    }
}

// Set-up steps fail as scripted, some only under the fragmented container or with hardware
// encoders allowed; a write fault can be the hardware encoder's alone.
TEST_F(SinkWriterTest, SetUpFaultsUnderANamedContainerOrAttribute)
{
    constexpr HRESULT REFUSED = MF_E_INVALIDMEDIATYPE;
    auto fault = [](VirtualSinkStep step, VirtualSinkStream stream, bool onlyFragmented, bool onlyHardware) {
        VirtualSinkScript script;
        script.setUpFaults[0] = {step, stream, onlyFragmented, onlyHardware, REFUSED};
        VirtualSinkSetScript(script);
    };
    // Each row: where a writer (fragmented?, hardware?) first fails with the fault.
    struct Case {
        VirtualSinkStep step;
        VirtualSinkStream stream;
        bool onlyFragmented, onlyHardware, fragmented, hardware, fails;
    };
    const Case cases[] = {
        {VirtualSinkStep::Create, VirtualSinkStream::Any, true, false, true, false, true},
        {VirtualSinkStep::Create, VirtualSinkStream::Any, true, false, false, true, false},
        {VirtualSinkStep::AddStream, VirtualSinkStream::Audio, false, false, false, false, true},
        {VirtualSinkStep::SetInput, VirtualSinkStream::Video, false, true, false, true, true},
        {VirtualSinkStep::SetInput, VirtualSinkStream::Video, false, true, true, false, false},
        {VirtualSinkStep::Begin, VirtualSinkStream::Any, true, true, true, true, true},
        {VirtualSinkStep::Begin, VirtualSinkStream::Any, true, true, true, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(static_cast<int>(c.step) * 10 + c.fragmented * 2 + c.hardware);
        fault(c.step, c.stream, c.onlyFragmented, c.onlyHardware);
        ComOwner<IMFSinkWriter> writer;
        HRESULT hr = Create(folder_.File(L"setup.mp4"), &writer, c.fragmented, true, c.hardware);
        if (SUCCEEDED(hr)) hr = writer->AddStream(VideoType(MFVideoFormat_H264, W, H, 30).Get(), &video);
        if (SUCCEEDED(hr)) hr = writer->SetInputMediaType(video, VideoType(MFVideoFormat_RGB32, W, H, 30).Get(), nullptr);
        if (SUCCEEDED(hr)) hr = writer->AddStream(AudioType(MFAudioFormat_AAC, 48000, 2).Get(), &audio);
        if (SUCCEEDED(hr)) hr = writer->SetInputMediaType(audio, AudioType(MFAudioFormat_PCM, 48000, 2).Get(), nullptr);
        if (SUCCEEDED(hr)) hr = writer->BeginWriting();
        EXPECT_EQ(hr, c.fails ? REFUSED : S_OK);
    }
    // The hardware encoder fails after two frames; the software one does not.
    VirtualSinkScript script;
    script.writeFault = {VirtualSinkStream::Video, 2, -1, E_FAIL};
    script.writeFaultOnlyHardware = true;
    VirtualSinkSetScript(script);
    for (bool hardware : {true, false}) {
        ComOwner<IMFSinkWriter> writer;
        ASSERT_EQ(Create(folder_.File(L"encoder.mp4"), &writer, false, true, hardware), S_OK);
        SetUpStreams(writer.Get(), false, &video, &audio);
        for (int i = 0; i < 2; ++i) EXPECT_EQ(writer->WriteSample(video, Frame(i * 333'333).Get()), S_OK);
        EXPECT_EQ(writer->WriteSample(video, Frame(666'666).Get()), hardware ? E_FAIL : S_OK);
    }
}

TEST_F(SinkWriterTest, SlowEncoderBuildsABacklogOnlyWithoutThrottling)
{
    VirtualSinkScript script;
    script.encodeDelayMs = 200;
    VirtualSinkSetScript(script);
    for (bool throttlingOff : {true, false}) {
        ComOwner<IMFSinkWriter> writer(Open(folder_.File(L"slow.mp4"), false, false, throttlingOff));
        ASSERT_TRUE(writer);
        for (int i = 0; i < 8; ++i) ASSERT_EQ(writer->WriteSample(video, Frame(i * 333'333).Get()), S_OK);
        MF_SINK_WRITER_STATISTICS stats{};
        stats.cb = sizeof stats;
        ASSERT_EQ(writer->GetStatistics(video, &stats), S_OK);
        EXPECT_EQ(stats.qwNumSamplesReceived, 8u);
        uint64_t backlog = stats.qwNumSamplesReceived - stats.qwNumSamplesEncoded;
        if (throttlingOff) EXPECT_GE(backlog, 6u);  // WriteSample returned at once
        else EXPECT_LE(backlog, 5u);                // WriteSample waited for the encoder
        VirtualSinkScript fast;
        VirtualSinkSetScript(fast);
        EXPECT_EQ(writer->Finalize(), S_OK);
        ASSERT_EQ(writer->GetStatistics(MF_SINK_WRITER_ALL_STREAMS, &stats), S_OK);
        EXPECT_EQ(stats.qwNumSamplesEncoded, 8u);
        VirtualSinkSetScript(script);
    }
}

TEST_F(SinkWriterTest, WritesAFileThatFfprobeReadsWithTheTimesAsGiven)
{
    for (bool fragmented : {false, true}) {  // the fragmented file also takes its pictures from 2-D buffers
        SCOPED_TRACE(fragmented ? "fragmented" : "plain");
        std::wstring path = folder_.File(fragmented ? L"frag.mp4" : L"plain.mp4");
        ComOwner<IMFSinkWriter> writer(Open(path, true, fragmented));
        ASSERT_TRUE(writer);
        // Irregular frame times (a camera's own), sound from 0.5 s with a gap.
        const int64_t times[] = {0, 1'000'000, 2'500'000, 2'600'000, 30'000'000, 31'000'000};
        uint64_t grown = FileSize(path);
        for (int64_t t : times) {
            ASSERT_EQ(writer->WriteSample(video, Frame(t, 1'000'000, fragmented).Get()), S_OK);
            if (!fragmented && t == 2'500'000) {
                // The file grows while the writer is still open.
                for (int i = 0; i < 200 && FileSize(path) <= grown; ++i) Sleep(10);
                EXPECT_GT(FileSize(path), grown);
            }
        }
        for (int i = 0; i < 50; ++i) ASSERT_EQ(writer->WriteSample(audio, Sound(5'000'000 + i * 100'000).Get()), S_OK);
        for (int i = 0; i < 50; ++i) ASSERT_EQ(writer->WriteSample(audio, Sound(20'000'000 + i * 100'000).Get()), S_OK);
        ASSERT_EQ(writer->Finalize(), S_OK);
        writer.Reset();

        std::string streams = Probe(path, L"-show_entries stream=codec_name,width,height,sample_rate,channels,start_time -of compact=nk=0");
        EXPECT_NE(streams.find("codec_name=mjpeg|width=320|height=240"), std::string::npos) << streams;
        EXPECT_NE(streams.find("codec_name=pcm_s16le|sample_rate=48000|channels=2"), std::string::npos) << streams;
        EXPECT_NE(streams.find("start_time=0.500000"), std::string::npos) << streams;
        std::string packets = Probe(path, L"-select_streams v -show_entries packet=pts_time -of csv=p=0");
        EXPECT_EQ(packets, "0.000000\n0.100000\n0.250000\n0.260000\n3.000000\n3.100000\n") << packets;
        std::string duration = Probe(path, L"-select_streams a -show_entries stream=duration -of csv=p=0");
        // The gap is filled with silence: 2 s of sound from 0.5 s (readers count a fragmented
        // file's sound from 0).
        EXPECT_NEAR(std::atof(duration.c_str()), fragmented ? 2.5 : 2.0, 0.02) << duration;
        // The first frame decodes to the picture given: red over blue.
        std::string pixels = RunHost(L"ffmpeg -v error -i '" + UnixPath(path) +
                                     L"' -frames:v 1 -vf scale=1:2:flags=area -f rawvideo -pix_fmt rgb24 -");
        ASSERT_EQ(pixels.size(), 6u) << pixels;
        EXPECT_GT(static_cast<uint8_t>(pixels[0]), 200);
        EXPECT_LT(static_cast<uint8_t>(pixels[2]), 60);
        EXPECT_GT(static_cast<uint8_t>(pixels[5]), 200);
        std::string comment = Probe(path, L"-show_entries format_tags=comment -of default=nw=1");
        EXPECT_NE(comment.find("bitrate=12000000 profile=100 keyframes=60 gop=60"), std::string::npos) << comment;
    }
}

// A fragment begins at a key frame: its length follows the GOP size the encoder was given (2 s
// when it chooses its own).
TEST_F(SinkWriterTest, FragmentsFollowTheGopSize)
{
    for (uint32_t gop : {30u, 0u}) {
        std::wstring path = folder_.File(L"gop.mp4");
        ComOwner<IMFSinkWriter> writer(Open(path, false, true, true, gop));
        ASSERT_TRUE(writer);
        for (int i = 0; i < 90; ++i) ASSERT_EQ(writer->WriteSample(video, Frame(i * 333'333).Get()), S_OK);  // 3 s
        ASSERT_EQ(writer->Finalize(), S_OK);
        writer.Reset();
        std::string file = ReadFileBytes(path);
        size_t fragments = 0;
        for (size_t at = file.find("moof"); at != std::string::npos; at = file.find("moof", at + 4)) ++fragments;
        EXPECT_EQ(fragments, gop ? 3u : 2u) << gop;
    }
}

// A small tmpfs as drive Q: of the prefix; the test run is root. Skipped where that is not possible.
class FullDisk {
public:
    FullDisk()
    {
        wchar_t prefix[MAX_PATH];
        if (!GetEnvironmentVariableW(L"WINEPREFIX", prefix, MAX_PATH)) return;
        dir_ = std::wstring(prefix) + L"/miru-full-disk";
        link_ = std::wstring(prefix) + L"/dosdevices/q:";
        std::string out = RunHost(L"mkdir -p '" + dir_ + L"' && mount -t tmpfs -o size=256k tmpfs '" + dir_ +
                                  L"' && ln -sfn '" + dir_ + L"' '" + link_ + L"'");
        ready_ = out.empty();
        why_ = out;
    }
    ~FullDisk()
    {
        if (!dir_.empty()) RunHost(L"rm -f '" + link_ + L"'; umount '" + dir_ + L"'; rmdir '" + dir_ + L"'");
    }
    bool ready_ = false;
    std::string why_;

private:
    std::wstring dir_, link_;
};

TEST_F(SinkWriterTest, AFullDiskFailsTheWritesWithTheSystemsError)
{
    FullDisk disk;
    ASSERT_TRUE(disk.ready_) << "this test mounts a small tmpfs drive and needs root: " << disk.why_;
    ComOwner<IMFSinkWriter> writer(Open(L"Q:\\full.mp4"));
    ASSERT_TRUE(writer);
    HRESULT hr = S_OK;
    int written = 0;
    for (; written < 1000 && SUCCEEDED(hr); ++written) {
        hr = writer->WriteSample(video, Frame(written * 333'333).Get());
        Sleep(2);  // lets the worker reach the disk's end while frames still come
    }
    EXPECT_EQ(hr, HRESULT_FROM_WIN32(ERROR_DISK_FULL)) << "after " << written << " frames";
    EXPECT_EQ(writer->Finalize(), HRESULT_FROM_WIN32(ERROR_DISK_FULL));
}

}  // namespace
