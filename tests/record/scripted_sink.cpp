#include "tests/record/scripted_sink.h"

#include <gtest/gtest.h>
#include <mfapi.h>
#include <shlobj.h>

#include <algorithm>
#include <string>

#include "app/texts.h"
#include "base/app_messages.h"
#include "capture/capture_state.h"
#include "capture/media_seam.h"
#include "record/recorder.h"
#include "settings/settings_store.h"

SinkScript sink;
std::vector<Posted> posted;

namespace {

struct ScriptedSinkWriter final : IMFSinkWriter {
    LONG refs = 1;
    std::wstring path;
    DWORD streams = 0;

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** out) override
    {
        if (riid != IID_IUnknown && riid != IID_IMFSinkWriter) return *out = nullptr, E_NOINTERFACE;
        AddRef();
        *out = this;
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return InterlockedIncrement(&refs); }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const LONG left = InterlockedDecrement(&refs);
        if (left == 0) delete this;
        return left;
    }
    HRESULT STDMETHODCALLTYPE AddStream(IMFMediaType*, DWORD* index) override
    {
        *index = streams++;
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE SetInputMediaType(DWORD, IMFMediaType*, IMFAttributes*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE BeginWriting() override { return S_OK; }
    HRESULT STDMETHODCALLTYPE WriteSample(DWORD stream, IMFSample* sample) override
    {
        Write write = {stream, -1, -1, MFGetAttributeUINT32(sample, MFSampleExtension_Discontinuity, FALSE) != FALSE};
        sample->GetSampleTime(&write.time);
        sample->GetSampleDuration(&write.duration);
        HRESULT result = S_OK;
        {
            std::lock_guard<std::mutex> hold(sink.mutex);
            sink.writes.push_back(write);
            sink.blockedWrites++;
            if (stream == 0 && sink.videoWritesBeforeFailure == 0) result = sink.failure;
            else if (stream == 0 && sink.videoWritesBeforeFailure > 0) sink.videoWritesBeforeFailure--;
            if (stream == 0 && result == S_OK) sink.lastVideoReceived = write.time;
        }
        WaitForSingleObject(sink.gate, INFINITE);
        if (stream == 0 && result == S_OK && !sink.videoBytes.empty()) result = Append(sink.videoBytes);
        std::lock_guard<std::mutex> hold(sink.mutex);
        sink.blockedWrites--;
        return result;
    }
    // Appends to the file as a real writer would; the disk's error when it is full.
    HRESULT Append(const std::string& data)
    {
        HANDLE file = CreateFileW(path.c_str(), FILE_APPEND_DATA, 0, nullptr, OPEN_ALWAYS, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return HRESULT_FROM_WIN32(GetLastError());
        DWORD written = 0;
        const BOOL ok = WriteFile(file, data.data(), static_cast<DWORD>(data.size()), &written, nullptr);
        const DWORD error = GetLastError();
        CloseHandle(file);
        return ok && written == data.size() ? S_OK : HRESULT_FROM_WIN32(ok ? ERROR_DISK_FULL : error);
    }
    HRESULT STDMETHODCALLTYPE SendStreamTick(DWORD stream, LONGLONG time) override
    {
        std::lock_guard<std::mutex> hold(sink.mutex);
        sink.ticks.push_back({stream, time, -1, false});
        return S_OK;
    }
    HRESULT STDMETHODCALLTYPE PlaceMarker(DWORD, void*) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE NotifyEndOfSegment(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Flush(DWORD) override { return S_OK; }
    HRESULT STDMETHODCALLTYPE Finalize() override
    {
        {
            std::lock_guard<std::mutex> hold(sink.mutex);
            sink.finalizing++;
        }
        WaitForSingleObject(sink.gate, INFINITE);
        // The index at the end of the file.
        const HRESULT result = FAILED(sink.finalizeFailure) ? sink.finalizeFailure : Append("movie");
        std::lock_guard<std::mutex> hold(sink.mutex);
        if (SUCCEEDED(result)) sink.finalized++;
        return result;
    }
    HRESULT STDMETHODCALLTYPE GetServiceForStream(DWORD, REFGUID, REFIID, void**) override { return E_NOTIMPL; }
    HRESULT STDMETHODCALLTYPE GetStatistics(DWORD, MF_SINK_WRITER_STATISTICS* stats) override
    {
        std::lock_guard<std::mutex> hold(sink.mutex);
        sink.statisticsQueries++;
        stats->llLastTimestampReceived = sink.lastVideoReceived;
        stats->llLastTimestampProcessed = sink.processedTime < 0 ? sink.lastVideoReceived : sink.processedTime;
        return S_OK;
    }
};

HRESULT CreateScripted(const wchar_t* url, IMFByteStream*, IMFAttributes*, IMFSinkWriter** writer)
{
    ScriptedSinkWriter* created = new ScriptedSinkWriter;
    created->path = url;
    std::lock_guard<std::mutex> hold(sink.mutex);
    sink.writersCreated++;
    *writer = created;
    return S_OK;
}
constexpr MediaSeamOverride seamTable = {nullptr, nullptr, nullptr, CreateScripted};

LRESULT CALLBACK SinkWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message >= WM_APP_RECORDING_ENDED && message <= WM_APP_STOP_RECORDING) {
        const wchar_t* text = reinterpret_cast<const wchar_t*>(lParam);
        const bool carriesText = message != WM_APP_STOP_RECORDING;
        posted.push_back({message, wParam, carriesText && text ? text : L""});
        if (carriesText) FreeAppMessageText(lParam);
        return 0;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace

int CountPosted(UINT message)
{
    return static_cast<int>(std::count_if(posted.begin(), posted.end(), [&](const Posted& p) { return p.message == message; }));
}

std::vector<std::wstring> Warnings()
{
    std::vector<std::wstring> texts;
    for (const Posted& p : posted)
        if (p.message == WM_APP_WARNING) texts.push_back(p.text);
    return texts;
}

const Posted* Ended()
{
    for (const Posted& p : posted)
        if (p.message == WM_APP_RECORDING_ENDED) return &p;
    return nullptr;
}

Posted StopAndWait()
{
    RecordingRequestStop();
    EXPECT_TRUE(WaitUntil([] { return Ended() != nullptr; })) << "the recording's end was not posted";
    return Ended() ? *Ended() : Posted{};
}

std::vector<Write> Writes()
{
    std::lock_guard<std::mutex> hold(sink.mutex);
    return sink.writes;
}

int Blocked()
{
    std::lock_guard<std::mutex> hold(sink.mutex);
    return sink.blockedWrites;
}

void SubmitSound(LONGLONG time)
{
    IMFSample* sample = nullptr;
    IMFMediaBuffer* buffer = nullptr;
    MFCreateSample(&sample);
    MFCreateMemoryBuffer(480 * 4, &buffer);
    buffer->SetCurrentLength(480 * 4);
    sample->AddBuffer(buffer);
    buffer->Release();
    sample->SetSampleTime(time);
    sample->SetSampleDuration(100000);
    RecordingSubmitAudio(sample);
    sample->Release();
}

void StoreMicrophoneType(UINT32 rate, UINT32 channels)
{
    IMFMediaType* type = nullptr;
    ASSERT_EQ(MFCreateMediaType(&type), S_OK);
    type->SetGUID(MF_MT_MAJOR_TYPE, MFMediaType_Audio);
    type->SetGUID(MF_MT_SUBTYPE, MFAudioFormat_PCM);
    type->SetUINT32(MF_MT_AUDIO_SAMPLES_PER_SECOND, rate);
    type->SetUINT32(MF_MT_AUDIO_NUM_CHANNELS, channels);
    type->SetUINT32(MF_MT_AUDIO_BITS_PER_SAMPLE, 16);
    CaptureStoreAudioMediaType(type);
    type->Release();
}

std::wstring TempFolder()
{
    wchar_t local[MAX_PATH];
    SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, local);
    return std::wstring(local) + L"\\MI-RU\\tmp";
}

std::vector<std::wstring> FilesIn(const std::wstring& folder, const wchar_t* pattern)
{
    std::vector<std::wstring> names;
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((folder + L"\\" + pattern).c_str(), &found);
    if (find == INVALID_HANDLE_VALUE) return names;
    do {
        if (!(found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) names.emplace_back(found.cFileName);
    } while (FindNextFileW(find, &found));
    FindClose(find);
    std::sort(names.begin(), names.end());
    return names;
}

void ScriptedSinkInstall()
{
    {
        std::lock_guard<std::mutex> hold(sink.mutex);
        static_cast<SinkState&>(sink) = SinkState{};
    }
    sink.gate = CreateEventW(nullptr, TRUE, TRUE, nullptr);
    MediaSeamInstall(&seamTable);
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = SinkWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"RecorderTestSink";
    RegisterClassW(&windowClass);
    SetAppWindow(CreateWindowW(L"RecorderTestSink", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr));
    posted.clear();
}

void ScriptedSinkUninstall()
{
    SetEvent(sink.gate);
    RecordingWaitForShutdown(30000);
    PumpMessages();
    DestroyWindow(AppWindow());
    SetAppWindow(nullptr);
    MediaSeamInstall(nullptr);
    CloseHandle(sink.gate);
    sink.gate = nullptr;
}

void RecorderFixture::Begin(const std::wstring& root)
{
    TextsSetLanguageForTest(0);
    MFStartup(MF_VERSION, MFSTARTUP_FULL);
    ScriptedSinkInstall();
    recordings = (root.empty() ? std::wstring(folder.Path()) : root) + L"\\Aufnahmen";
    CreateDirectoryW(recordings.c_str(), nullptr);
    wcscpy(Settings.recordingFolder, recordings.c_str());
    wide = FrameCreate(32, 18);
}

void RecorderFixture::End()
{
    ScriptedSinkUninstall();
    CaptureDropAudioMediaType();
    FrameRelease(wide);
    EXPECT_EQ(FrameLiveCount(), 0);
    MFShutdown();
}

void RecorderFixture::Start(bool withSound)
{
    ASSERT_EQ(RecordingStart(64, 36, withSound, nullptr, 0, 0), nullptr);
    ASSERT_TRUE(RecordingIsActive());
}

void RecorderFixture::SubmitFrame(int64_t time)
{
    RecordingSubmitVideo(wide, nullptr, 0.3f, time);
}
