#include "record/snapshot.h"

#include <windows.h>
#include <wincodec.h>

#include <atomic>
#include <cstdlib>
#include <cwchar>
#include <new>

#include "base/ui_state.h"
#include "base/win_owners.h"
#include "capture/camera_control.h"
#include "diag/log.h"
#include "frames/frame_store.h"
#include "record/file_names.h"
#include "record/recovery_rules.h"
#include "render/compositor.h"
#include "render/watermark.h"
#include "settings/settings_store.h"

namespace {

constexpr int32_t FOLDER_CAPACITY = 260;
constexpr int32_t PHOTO_PATH_CAPACITY = 325;  // 324 units and the terminator
// The program is not long-path aware: a file path past MAX_PATH cannot be opened, so a name
// whose temporary form does not fit is reported as too long before anything is written.
constexpr int32_t PHOTO_TEMP_CAPACITY = MAX_PATH;
constexpr int32_t STAMP_CAPACITY = 32;
constexpr float JPEG_QUALITY = 0.95f;

struct SnapshotJob {
    Frame* wide;
    Frame* macro;
    uint8_t* overlay;
    int32_t width;
    int32_t height;
    float pipFraction;
    wchar_t folder[FOLDER_CAPACITY];
};

// Photo threads that have not ended yet. Guarded by `jobsLock` (held only to count);
// `jobsEnded` wakes the shutdown wait.
SRWLOCK jobsLock = SRWLOCK_INIT;
CONDITION_VARIABLE jobsEnded = CONDITION_VARIABLE_INIT;
int32_t jobsRunning = 0;
#ifdef MIRU_TEST_HOOKS
std::atomic<HANDLE> holdGate{nullptr};
#endif

// Claims a place for one more job; false when the bound is reached.
bool ClaimJob()
{
    AcquireSRWLockExclusive(&jobsLock);
    const bool claimed = jobsRunning < SNAPSHOT_MAX_RUNNING;
    if (claimed) jobsRunning++;
    ReleaseSRWLockExclusive(&jobsLock);
    return claimed;
}

void EndJob()
{
    AcquireSRWLockExclusive(&jobsLock);
    jobsRunning--;
    ReleaseSRWLockExclusive(&jobsLock);
    WakeAllConditionVariable(&jobsEnded);
}

void FreeJob(SnapshotJob* job)
{
    FrameRelease(job->wide);
    FrameRelease(job->macro);
    free(job->overlay);
    delete job;
}

// The JPEG is written under "<first free photo name>.tmp", reserved empty so that neither
// another press nor an earlier file is touched, and gets its photo name only when complete: a
// crash never leaves a partial JPEG under a photo's name. False when no name fits or the
// reservation fails (`temp` empty when a name did not fit).
bool ReservePhotoTemp(const SnapshotJob& job, const wchar_t* stamp, const wchar_t* kind, wchar_t* temp)
{
    wchar_t path[PHOTO_PATH_CAPACITY];
    for (int32_t n = 1; n <= FILE_NAME_MAX_TRIES; n++) {
        if (!PhotoName(job.folder, stamp, kind, n, path, PHOTO_PATH_CAPACITY) ||
            !PhotoTempName(path, temp, PHOTO_TEMP_CAPACITY)) {
            temp[0] = L'\0';
            return false;
        }
        HandleOwner file{CreateFileW(temp, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)};
        if (file.Valid()) return true;
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
    }
    return false;
}

// Renames the finished file to the first free photo name; never replaces a file.
bool PublishPhoto(const SnapshotJob& job, const wchar_t* stamp, const wchar_t* kind, const wchar_t* temp,
                  wchar_t* path)
{
    for (int32_t n = 1; n <= FILE_NAME_MAX_TRIES; n++) {
        if (!PhotoName(job.folder, stamp, kind, n, path, PHOTO_PATH_CAPACITY)) return false;
        if (MoveFileExW(temp, path, MOVEFILE_WRITE_THROUGH)) return true;
        const DWORD error = GetLastError();
        if (error != ERROR_FILE_EXISTS && error != ERROR_ALREADY_EXISTS) return false;
    }
    return false;
}

HRESULT EncodeJpeg(IWICImagingFactory* factory, const SnapshotJob& job, uint8_t* pixels, const wchar_t* path)
{
    const UINT width = static_cast<UINT>(job.width), height = static_cast<UINT>(job.height);
    const UINT stride = width * 4;
    ComOwner<IWICStream> stream;
    HRESULT hr = factory->CreateStream(&stream);
    if (SUCCEEDED(hr)) hr = stream->InitializeFromFilename(path, GENERIC_WRITE);
    ComOwner<IWICBitmapEncoder> encoder;
    if (SUCCEEDED(hr)) hr = factory->CreateEncoder(GUID_ContainerFormatJpeg, nullptr, &encoder);
    if (SUCCEEDED(hr)) hr = encoder->Initialize(stream.Get(), WICBitmapEncoderNoCache);
    ComOwner<IWICBitmapFrameEncode> frame;
    ComOwner<IPropertyBag2> options;
    if (SUCCEEDED(hr)) hr = encoder->CreateNewFrame(&frame, &options);
    if (SUCCEEDED(hr) && options) {
        PROPBAG2 option = {};
        option.pstrName = const_cast<LPOLESTR>(L"ImageQuality");
        VARIANT value;
        VariantInit(&value);
        value.vt = VT_R4;
        value.fltVal = JPEG_QUALITY;
        hr = options->Write(1, &option, &value);
    }
    if (SUCCEEDED(hr)) hr = frame->Initialize(options.Get());
    if (SUCCEEDED(hr)) hr = frame->SetSize(width, height);
    WICPixelFormatGUID format = GUID_WICPixelFormat24bppBGR;
    if (SUCCEEDED(hr)) hr = frame->SetPixelFormat(&format);  // the encoder may answer with another
    ComOwner<IWICBitmap> bitmap;
    if (SUCCEEDED(hr))
        hr = factory->CreateBitmapFromMemory(width, height, GUID_WICPixelFormat32bppPBGRA, stride, stride * height,
                                             pixels, &bitmap);
    ComOwner<IWICBitmapSource> converted;
    if (SUCCEEDED(hr)) hr = WICConvertBitmapSource(format, bitmap.Get(), &converted);
    if (SUCCEEDED(hr)) hr = frame->WriteSource(converted.Get(), nullptr);
    if (SUCCEEDED(hr)) hr = frame->Commit();
    if (SUCCEEDED(hr)) hr = encoder->Commit();
    return hr;
}

bool SnapshotSaveJpeg(OffscreenCompositor* compositor, IWICImagingFactory* factory, const SnapshotJob& job,
                      const Frame* first, const Frame* second, uint8_t* buffer, const wchar_t* stamp,
                      const wchar_t* kind)
{
    if (!CompositorCompose(compositor, first, second, job.pipFraction, job.overlay, job.width, job.height, buffer,
                           job.width * 4)) {
        LogWrite(LOG_ERROR, L"Foto speichern fehlgeschlagen: Compositing-Fehler (%ls)", kind);
        return false;
    }
    wchar_t temp[PHOTO_TEMP_CAPACITY];
    if (!ReservePhotoTemp(job, stamp, kind, temp)) {
        if (temp[0] == L'\0') LogWrite(LOG_ERROR, L"Foto speichern fehlgeschlagen: Pfad zu lang (%ls)", kind);
        else LogWrite(LOG_ERROR, L"Foto speichern fehlgeschlagen: Fehler %lu (%ls)", GetLastError(), kind);
        return false;
    }
    const HRESULT hr = EncodeJpeg(factory, job, buffer, temp);
    if (FAILED(hr)) {
        LogWrite(LOG_ERROR, L"Foto speichern fehlgeschlagen: 0x%08lX (%ls)", LogHresult(hr), kind);
        DeleteFileW(temp);  // this press's own unfinished file
        return false;
    }
    wchar_t path[PHOTO_PATH_CAPACITY];
    if (!PublishPhoto(job, stamp, kind, temp, path)) {
        // The complete JPEG stays under its temporary name.
        LogWrite(LOG_ERROR, L"Foto speichern fehlgeschlagen: Fehler %lu (%ls), Datei: %ls", GetLastError(), kind, temp);
        return false;
    }
    LogWrite(LOG_INFO, L"Foto gespeichert: %ls", path);
    return true;
}

void ComposeAndSave(const SnapshotJob& job, IWICImagingFactory* factory)
{
    OffscreenCompositor* compositor = CompositorCreate(job.width, job.height);
    if (!compositor) {
        LogWrite(LOG_ERROR, L"Snapshot: Offscreen-Compositor konnte nicht erstellt werden (%dx%d)", job.width, job.height);
        return;
    }
    const size_t bytes = static_cast<size_t>(job.width) * static_cast<size_t>(job.height) * 4;
    uint8_t* buffer = static_cast<uint8_t*>(malloc(bytes));
    if (!buffer) {
        LogWrite(LOG_ERROR, L"Snapshot: kein Speicher f\u00fcr Render-Puffer (%zu Bytes)", bytes);
        CompositorDestroy(compositor);
        return;
    }
    SYSTEMTIME now;
    GetLocalTime(&now);
    LogTime time;
    memcpy(&time, &now, sizeof(time));
    wchar_t stamp[STAMP_CAPACITY];
    PhotoStamp(time, stamp, STAMP_CAPACITY);
    int32_t saved = SnapshotSaveJpeg(compositor, factory, job, job.wide, nullptr, buffer, stamp, L"Wide") ? 1 : 0;
    // The Macro photo is drawn like a Wide image: whole, without the stabiliser's crop.
    if (job.macro && SnapshotSaveJpeg(compositor, factory, job, job.macro, nullptr, buffer, stamp, L"Macro")) saved++;
    if (SnapshotSaveJpeg(compositor, factory, job, job.wide, job.macro, buffer, stamp, L"Ansicht")) saved++;
    if (saved > 0) LogWrite(LOG_EVENT, L"%d Fotos gespeichert (Wide, Macro, Ansicht)", saved);
    else LogWrite(LOG_ERROR, L"Keine Fotos gespeichert");
    free(buffer);
    CompositorDestroy(compositor);
}

DWORD WINAPI SnapshotThread(void* parameter)
{
    SnapshotJob* job = static_cast<SnapshotJob*>(parameter);
#ifdef MIRU_TEST_HOOKS
    if (const HANDLE gate = holdGate.load()) WaitForSingleObject(gate, 60000);
#endif
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    if (FAILED(com)) {
        LogWrite(LOG_ERROR, L"Snapshot: COM-Initialisierung fehlgeschlagen (0x%08lX)", LogHresult(com));
        if (job->folder[0] == L'\0')
            LogWrite(LOG_WARN, L"Kein Aufnahmeordner gew\u00e4hlt \u2014 Fotos nicht gespeichert");
    } else if (job->folder[0] == L'\0') {
        LogWrite(LOG_WARN, L"Kein Aufnahmeordner gew\u00e4hlt \u2014 Fotos nicht gespeichert");
    } else {
        ComOwner<IWICImagingFactory> factory;
        const HRESULT hr =
            CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&factory));
        if (FAILED(hr)) LogWrite(LOG_ERROR, L"Snapshot: WIC-Factory konnte nicht erstellt werden (0x%08lX)", LogHresult(hr));
        else ComposeAndSave(*job, factory.Get());
    }
    FreeJob(job);
    if (SUCCEEDED(com)) CoUninitialize();
    EndJob();
    return 0;
}

}  // namespace

SnapshotResult SnapshotRequest()
{
    Frame* wide = CaptureIsLive() ? FrameAcquireLatest(SLOT_WIDE) : nullptr;
    if (!wide) {
        LogWrite(LOG_WARN, L"Foto nicht m\u00f6glich \u2014 noch kein Live-Bild");
        return SnapshotResult::NoPicture;
    }
    // Every job has a graphics device of its own: presses in quick succession wait their turn.
    if (!ClaimJob()) {
        FrameRelease(wide);
        LogWrite(LOG_WARN, L"Foto ignoriert \u2014 vorherige Fotos werden noch gespeichert");
        return SnapshotResult::Busy;
    }
    SnapshotJob* job = new (std::nothrow) SnapshotJob{};
    if (!job) {
        LogWrite(LOG_ERROR, L"Snapshot: kein Speicher f\u00fcr Auftrag");
        FrameRelease(wide);
        EndJob();
        return SnapshotResult::Failed;
    }
    job->wide = wide;
    job->macro = FrameAcquireLatest(SLOT_MACRO);
    job->width = Settings.resolutionHigh ? 2560 : 1920;
    job->height = Settings.resolutionHigh ? 1440 : 1080;
    job->pipFraction = UiState.pipSize;
    swprintf(job->folder, FOLDER_CAPACITY, L"%ls", Settings.recordingFolder);
    job->overlay = WatermarkBuildOverlay(job->width, job->height, Settings.watermarkOn ? Settings.praxisText : nullptr);
    if (!job->overlay) LogWrite(LOG_WARN, L"Snapshot: Wasserzeichen-Overlay fehlt \u2014 Fotos ohne Einblendung");

    const HANDLE thread = CreateThread(nullptr, 0, SnapshotThread, job, 0, nullptr);
    if (!thread) {
        LogWrite(LOG_ERROR, L"Snapshot: Hintergrund-Thread konnte nicht gestartet werden (Fehler %lu)", GetLastError());
        FreeJob(job);
        EndJob();
        return SnapshotResult::Failed;
    }
    CloseHandle(thread);
    return SnapshotResult::Started;
}

#ifdef MIRU_TEST_HOOKS
void SnapshotHoldJobsForTest(void* gate) { holdGate = static_cast<HANDLE>(gate); }
#endif

bool SnapshotWaitForShutdown(uint32_t timeoutMs)
{
    const ULONGLONG deadline = GetTickCount64() + timeoutMs;
    AcquireSRWLockExclusive(&jobsLock);
    while (jobsRunning > 0) {
        const ULONGLONG now = GetTickCount64();
        if (now >= deadline) break;
        SleepConditionVariableSRW(&jobsEnded, &jobsLock, static_cast<DWORD>(deadline - now), 0);
    }
    const bool ended = jobsRunning == 0;
    ReleaseSRWLockExclusive(&jobsLock);
    if (!ended) LogWrite(LOG_WARN, L"Foto-Threads enden nicht rechtzeitig \u2014 Programm wird trotzdem beendet");
    return ended;
}
