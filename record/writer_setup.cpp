#include "record/writer_setup.h"

#include <codecapi.h>
#include <mfapi.h>
#include <mferror.h>

#include <cwchar>

#include "app/texts.h"
#include "base/win_owners.h"
#include "capture/media_seam.h"
#include "diag/log.h"

namespace {

constexpr uint32_t FRAME_RATE = 30;
constexpr uint32_t H264_PROFILE_HIGH = 100;
// A key frame at least every 2 s: each fragment of a fragmented file begins with one, so a crash
// loses about that much.
constexpr uint32_t KEY_FRAME_SPACING = 60;
constexpr uint32_t AAC_BITS_PER_SAMPLE = 16;

// One way of setting the writer up.
struct SetUp {
    bool fragmented;  // MFTranscodeContainerType_FMPEG4, else the plain MPEG-4 container
    bool hardware;    // MF_READWRITE_ENABLE_HARDWARE_TRANSFORMS
    bool sound;
};
// Tried in turn until one works. A fragmented file survives a crash, which weighs more than a
// hardware encoder's speed: hardware is given up first, the fragments after it. The sound the
// user asked for is kept while any set-up takes it; only when none does is it left out.
constexpr SetUp SET_UPS[] = {{true, true, true},  {true, false, true},  {false, true, true},  {false, false, true},
                             {true, true, false}, {true, false, false}, {false, true, false}, {false, false, false}};

enum class Step : uint8_t { Create, Video, Sound, Begin };

HRESULT CreateWriter(const wchar_t* path, const SetUp& setUp, IMFSinkWriter** writer)
{
    ComOwner<IMFAttributes> attributes;
    if (SUCCEEDED(MFCreateAttributes(&attributes, 3)) && attributes) {
        if (setUp.hardware) attributes->SetUINT32(MF_READWRITE_ENABLE_HARDWARE_TRANSFORMS, 1);
        attributes->SetUINT32(MF_SINK_WRITER_DISABLE_THROTTLING, 1);
        attributes->SetGUID(MF_TRANSCODE_CONTAINERTYPE,
                            setUp.fragmented ? MFTranscodeContainerType_FMPEG4 : MFTranscodeContainerType_MPEG4);
    } else {
        attributes.Reset();
        LogWrite(LOG_WARN, L"Aufnahme: SinkWriter-Attribute nicht verf\u00fcgbar \u2014 Standardeinstellungen werden verwendet");
    }
    return SeamCreateSinkWriterFromURL(path, nullptr, attributes.Get(), writer);
}

HRESULT AddVideo(IMFSinkWriter* writer, int32_t width, int32_t height, DWORD* index)
{
    const UINT32 w = static_cast<UINT32>(width), h = static_cast<UINT32>(height);
    ComOwner<IMFMediaType> output;
    HRESULT hr = MFCreateMediaType(&output);
    if (SUCCEEDED(hr)) hr = output->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    if (SUCCEEDED(hr)) hr = output->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_H264);
    if (SUCCEEDED(hr)) hr = output->SetUINT32(MF_MT_AVG_BITRATE, RecordingVideoBitrate(width));
    if (SUCCEEDED(hr)) hr = MFSetAttributeSize(output.Get(), MF_MT_FRAME_SIZE, w, h);
    if (SUCCEEDED(hr)) hr = MFSetAttributeRatio(output.Get(), MF_MT_FRAME_RATE, FRAME_RATE, 1);
    if (SUCCEEDED(hr)) hr = MFSetAttributeRatio(output.Get(), MF_MT_PIXEL_ASPECT_RATIO, 1, 1);
    if (SUCCEEDED(hr)) hr = output->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
    if (SUCCEEDED(hr)) hr = output->SetUINT32(MF_MT_MPEG2_PROFILE, H264_PROFILE_HIGH);
    if (SUCCEEDED(hr)) hr = output->SetUINT32(MF_MT_MAX_KEYFRAME_SPACING, KEY_FRAME_SPACING);
    if (SUCCEEDED(hr)) hr = writer->AddStream(output.Get(), index);

    ComOwner<IMFMediaType> input;
    if (SUCCEEDED(hr)) hr = MFCreateMediaType(&input);
    if (SUCCEEDED(hr)) hr = input->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Video);
    if (SUCCEEDED(hr)) hr = input->SetGUID(MF_MT_SUBTYPE, MFVideoFormat_RGB32);
    if (SUCCEEDED(hr)) hr = MFSetAttributeSize(input.Get(), MF_MT_FRAME_SIZE, w, h);
    if (SUCCEEDED(hr)) hr = MFSetAttributeRatio(input.Get(), MF_MT_FRAME_RATE, FRAME_RATE, 1);
    if (SUCCEEDED(hr)) hr = MFSetAttributeRatio(input.Get(), MF_MT_PIXEL_ASPECT_RATIO, 1, 1);
    if (SUCCEEDED(hr)) hr = input->SetUINT32(MF_MT_INTERLACE_MODE, MFVideoInterlace_Progressive);
    // Bottom-up rows, as the writer thread copies them.
    if (SUCCEEDED(hr)) hr = input->SetUINT32(MF_MT_DEFAULT_STRIDE, static_cast<UINT32>(-4 * width));
    // The H.264 encoder's documented setting for the key-frame spacing is its GOP size (the media
    // type's attribute is not among its output type's); the writer hands the encoding parameters
    // to it. Without them the encoder chooses its own spacing.
    ComOwner<IMFAttributes> parameters;
    if (SUCCEEDED(hr) && SUCCEEDED(MFCreateAttributes(&parameters, 1)) && parameters)
        parameters->SetUINT32(CODECAPI_AVEncMPVGOPSize, KEY_FRAME_SPACING);
    if (SUCCEEDED(hr)) hr = writer->SetInputMediaType(*index, input.Get(), parameters.Get());
    return hr;
}

HRESULT AddSound(IMFSinkWriter* writer, IMFMediaType* microphone, const AudioTrackFormat& format, DWORD* index)
{
    ComOwner<IMFMediaType> output;
    HRESULT hr = MFCreateMediaType(&output);
    if (SUCCEEDED(hr)) hr = output->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
    if (SUCCEEDED(hr)) hr = output->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_AAC);
    if (SUCCEEDED(hr)) hr = output->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, AAC_BITS_PER_SAMPLE);
    if (SUCCEEDED(hr)) hr = output->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, format.samplesPerSecond);
    if (SUCCEEDED(hr)) hr = output->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, format.channels);
    if (SUCCEEDED(hr)) hr = output->SetUINT32(MF_MT_AUDIO_AVG_BYTES_PER_SECOND, format.avgBytesPerSecond);
    if (SUCCEEDED(hr)) hr = writer->AddStream(output.Get(), index);
    if (SUCCEEDED(hr)) hr = writer->SetInputMediaType(*index, microphone, nullptr);
    return hr;
}

// One set-up to its BeginWriting; on failure nothing stays open and `failed` names the step.
HRESULT TrySetUp(const wchar_t* path, int32_t width, int32_t height, const SetUp& setUp, IMFMediaType* microphone,
                 OpenedWriter* opened, Step* failed)
{
    ComOwner<IMFSinkWriter> writer;
    *failed = Step::Create;
    HRESULT hr = CreateWriter(path, setUp, &writer);
    if (SUCCEEDED(hr) && !writer) hr = E_POINTER;
    if (SUCCEEDED(hr)) {
        *failed = Step::Video;
        hr = AddVideo(writer.Get(), width, height, &opened->videoStream);
    }
    if (SUCCEEDED(hr) && setUp.sound) {
        *failed = Step::Sound;
        hr = AddSound(writer.Get(), microphone, opened->format, &opened->audioStream);
    }
    if (SUCCEEDED(hr)) {
        *failed = Step::Begin;
        hr = writer->BeginWriting();
    }
    if (SUCCEEDED(hr)) {
        opened->writer = writer.Detach();
        opened->sound = setUp.sound;
        opened->fragmented = setUp.fragmented;
        opened->hardware = setUp.hardware;
    }
    return hr;
}

// The microphone's format as its type states it.
MicrophoneFormat ReadMicrophone(IMFMediaType* type)
{
    GUID subtype = GUID_NULL;
    return MicrophoneFormat{SUCCEEDED(type->GetGUID(MF_MT_SUBTYPE, &subtype)) && subtype == MFAudioFormat_PCM,
                            MFGetAttributeUINT32(type, MF_MT_AUDIO_BITS_PER_SAMPLE, 0),
                            MFGetAttributeUINT32(type, MF_MT_AUDIO_SAMPLES_PER_SECOND, 0),
                            MFGetAttributeUINT32(type, MF_MT_AUDIO_NUM_CHANNELS, 0)};
}

}  // namespace

const wchar_t* WriterSetUp(const wchar_t* path, int32_t width, int32_t height, bool withSound, IMFMediaType* microphone,
                           OpenedWriter* opened, wchar_t* errorText, int32_t errorCapacity)
{
    *opened = OpenedWriter{};
    bool soundWanted = false;
    if (withSound && microphone) {
        const MicrophoneFormat format = ReadMicrophone(microphone);
        opened->format = RecordingAudioTrackFormat(format);
        soundWanted = opened->format.usable;
        if (!soundWanted)
            LogWrite(LOG_WARN,
                     L"Ton-Spur nicht hinzuf\u00fcgbar: das Mikrofon liefert %u Hz, Kan\u00e4le: %u, %u Bit%ls \u2014 der "
                     L"AAC-Encoder nimmt 16 Bit, 44100 oder 48000 Hz, 1, 2 oder 6 Kan\u00e4le; Aufnahme ohne Ton",
                     format.samplesPerSecond, format.channels, format.bitsPerSample, format.pcm ? L"" : L" (kein PCM)");
    }
    HRESULT fragmentedFailure = S_OK, hardwareFailure = S_OK, soundFailure = S_OK, last = E_FAIL;
    Step lastStep = Step::Create;
    for (const SetUp& setUp : SET_UPS) {
        if (setUp.sound && !soundWanted) continue;
        const HRESULT hr = TrySetUp(path, width, height, setUp, microphone, opened, &lastStep);
        if (SUCCEEDED(hr)) {
            static bool containerFallbackLogged = false;  // UI thread only; once per run
            if (!setUp.fragmented && FAILED(fragmentedFailure) && !containerFallbackLogged) {
                containerFallbackLogged = true;
                LogWrite(LOG_WARN, L"Fragmentiertes MP4 nicht verf\u00fcgbar (0x%08lX) \u2014 Aufnahme als einfaches MP4",
                         LogHresult(fragmentedFailure));
            }
            if (!setUp.hardware && FAILED(hardwareFailure))
                LogWrite(LOG_WARN, L"Hardware-Encoder nicht verwendbar (0x%08lX) \u2014 Aufnahme mit Software-Encoder",
                         LogHresult(hardwareFailure));
            if (soundWanted && !setUp.sound)
                LogWrite(LOG_WARN, L"Ton-Spur nicht hinzuf\u00fcgbar (0x%08lX) \u2014 Aufnahme ohne Ton", LogHresult(soundFailure));
            return nullptr;
        }
        if (setUp.fragmented) fragmentedFailure = hr;
        if (setUp.hardware) hardwareFailure = hr;
        if (setUp.sound) soundFailure = hr;
        last = hr;
    }
    *opened = OpenedWriter{};
    switch (lastStep) {
    case Step::Create:
        LogWrite(LOG_ERROR, L"SinkWriter konnte nicht erstellt werden (0x%08lX): %ls", LogHresult(last), path);
        return PickText(L"SinkWriter konnte nicht erstellt werden", L"SinkWriter could not be created");
    case Step::Video:
    case Step::Sound:
        LogWrite(LOG_ERROR, L"Video-Spur nicht hinzuf\u00fcgbar (0x%08lX)", LogHresult(last));
        return PickText(L"Video-Spur nicht hinzuf\u00fcgbar", L"Video track could not be added");
    case Step::Begin:
        break;
    }
    LogWrite(LOG_ERROR, L"BeginWriting fehlgeschlagen (0x%08lX)", LogHresult(last));
    swprintf(errorText, static_cast<size_t>(errorCapacity), L"%ls: 0x%08lX",
             PickText(L"BeginWriting fehlgeschlagen", L"BeginWriting failed"), LogHresult(last));
    return errorText;
}
