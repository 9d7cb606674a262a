// The storage monitor: every 5 s the usable free space at the temporary folder and the
// recording folder; one warning below about ten minutes, a stop before the disk is full.
#include <windows.h>

#include <atomic>
#include <new>
#include <cwchar>

#include "base/app_messages.h"
#include "app/texts.h"
#include "diag/log.h"
#include "record/recording_folder.h"
#include "record/recording_state.h"
#include "record/storage_rules.h"

// One monitor: its own copies of what it watches, shared by its thread and the recording until
// both have let go (the last one closes the event and frees the record).
struct StorageMonitor {
    std::atomic<int32_t> holders;
    HANDLE stopEvent;
    HANDLE thread;
    uint32_t generation;
    bool highRes;
    wchar_t tempFolder[RECORDING_PATH_CAPACITY];
    wchar_t tempFile[RECORDING_PATH_CAPACITY];
    wchar_t recordingFolder[SETTINGS_FOLDER_CAPACITY];  // empty: none chosen
};

namespace {

constexpr DWORD POLL_MS = 5000;
constexpr int32_t DETAIL_CAPACITY = 96;

void LetGo(StorageMonitor* monitor)
{
    if (monitor->holders.fetch_sub(1) != 1) return;
    CloseHandle(monitor->stopEvent);
    delete monitor;
}

// Whether the recording this monitor was started for still runs.
bool OwnRecordingActive(const StorageMonitor& monitor)
{
    AcquireSRWLockShared(&Recording.lock);
    const bool active = Recording.active && Recording.generation == monitor.generation;
    ReleaseSRWLockShared(&Recording.lock);
    return active;
}

bool SameVolume(const wchar_t* a, const wchar_t* b)
{
    wchar_t volumeA[MAX_PATH], volumeB[MAX_PATH];
    if (!GetVolumePathNameW(a, volumeA, MAX_PATH) || !GetVolumePathNameW(b, volumeB, MAX_PATH)) return false;
    return CompareStringOrdinal(volumeA, -1, volumeB, -1, TRUE) == CSTR_EQUAL;
}

StorageSample Measure(const StorageMonitor& monitor)
{
    StorageSample sample = {FreeBytesForCaller(monitor.tempFolder), false, -1, -1, false};
    const wchar_t* folder = monitor.recordingFolder;
    if (folder[0] == L'\0') return sample;
    sample.hasDestination = true;
    sample.destinationFree = FreeBytesForCaller(folder);
    WIN32_FILE_ATTRIBUTE_DATA file;
    if (GetFileAttributesExW(monitor.tempFile, GetFileExInfoStandard, &file))
        sample.fileSize = (static_cast<int64_t>(file.nFileSizeHigh) << 32) | file.nFileSizeLow;
    sample.sameVolume = SameVolume(monitor.tempFolder, folder);
    return sample;
}

void AutoStop(const StorageMonitor& monitor, int64_t usable)
{
    LogWrite(LOG_EVENT, L"Speicherplatz fast voll (%lld MB frei) \u2014 Aufnahme wird automatisch beendet",
             static_cast<long long>(usable / 1'000'000));
    // A disk call that hung past the recording's end must not stop a later one.
    if (!OwnRecordingActive(monitor)) return;
    PostAppMessageText(WM_APP_WARNING, 0,
                       PickText(L"Aufnahme automatisch beendet: Der Speicherplatz am Ziel ist fast voll. Die Aufnahme "
                                L"wurde gespeichert.",
                                L"Recording stopped automatically: storage at the destination is almost full. The "
                                L"recording has been saved."));
    if (HWND window = AppWindow()) PostMessageW(window, WM_APP_STOP_RECORDING, 0, 0);
}

void Warn(const StorageMonitor& monitor, int32_t minutes)
{
    if (!OwnRecordingActive(monitor)) return;
    wchar_t detail[DETAIL_CAPACITY];
    swprintf(detail, DETAIL_CAPACITY, PickText(L"Speicher fast voll \u00b7 \u2248 %d Min", L"Storage almost full \u00b7 \u2248 %d min"),
             minutes);
    PostAppMessageText(WM_APP_STATUS_DETAIL, 0, detail);
    LogWrite(LOG_WARN, L"Speicherplatz wird knapp: \u2248 %d Min Restzeit am Aufnahmeziel", minutes);
}

DWORD WINAPI MonitorThread(void* parameter)
{
    StorageMonitor* monitor = static_cast<StorageMonitor*>(parameter);
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    const StorageThresholds limits = StorageThresholdsFor(monitor->highRes);
    bool warned = false;
    while (WaitForSingleObject(monitor->stopEvent, POLL_MS) == WAIT_TIMEOUT && OwnRecordingActive(*monitor)) {
        int64_t usable = 0;
        if (!StorageUsableBytes(Measure(*monitor), &usable)) continue;
        const StorageAction action = StorageDecide(limits, usable, warned);
        if (action == StorageAction::Stop) {
            AutoStop(*monitor, usable);
            break;
        }
        if (action == StorageAction::Warn) {
            Warn(*monitor, StorageMinutesLeft(limits, usable));
            warned = true;
        }
    }
    if (SUCCEEDED(com)) CoUninitialize();
    LetGo(monitor);
    return 0;
}

}  // namespace

StorageMonitor* StorageMonitorStart(uint32_t generation, bool highRes, const wchar_t* tempFolder, const wchar_t* tempFile,
                                    const wchar_t* recordingFolder)
{
    StorageMonitor* monitor = new (std::nothrow) StorageMonitor{};
    if (monitor) {
        monitor->holders = 2;
        monitor->generation = generation;
        monitor->highRes = highRes;
        swprintf(monitor->tempFolder, RECORDING_PATH_CAPACITY, L"%ls", tempFolder);
        swprintf(monitor->tempFile, RECORDING_PATH_CAPACITY, L"%ls", tempFile);
        swprintf(monitor->recordingFolder, SETTINGS_FOLDER_CAPACITY, L"%ls", recordingFolder);
        monitor->stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    }
    HANDLE thread = monitor && monitor->stopEvent ? CreateThread(nullptr, 0, MonitorThread, monitor, 0, nullptr) : nullptr;
    if (!thread) {
        LogWrite(LOG_WARN, L"Speicher-Monitor konnte nicht gestartet werden \u2014 Aufnahme ohne Speicher\u00fcberwachung");
        if (monitor && monitor->stopEvent) CloseHandle(monitor->stopEvent);
        delete monitor;
        return nullptr;
    }
    monitor->thread = thread;  // the thread itself never reads it
    return monitor;
}

void StorageMonitorStop(StorageMonitor* monitor, DWORD timeoutMs)
{
    if (!monitor) return;
    SetEvent(monitor->stopEvent);
    if (WaitForSingleObject(monitor->thread, timeoutMs) != WAIT_OBJECT_0)
        LogWrite(LOG_WARN, L"Speicher-Monitor reagiert nicht (Laufwerk h\u00e4ngt?) \u2014 Thread wird zur\u00fcckgelassen");
    CloseHandle(monitor->thread);
    LetGo(monitor);
}
