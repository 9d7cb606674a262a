#include "record/recording_recovery.h"

#include <windows.h>
#include <shlobj.h>

#include <cstring>
#include <cwchar>
#include <new>

#include "base/app_messages.h"
#include "base/text_copy.h"
#include "app/texts.h"
#include "base/win_owners.h"
#include "diag/log.h"
#include "record/file_move.h"
#include "record/file_names.h"
#include "record/recovery_rules.h"
#include "settings/settings_store.h"

namespace {

constexpr int32_t PATH_CAPACITY = 400;

// The marker of the running recording: opened without sharing (so a scan of the temporary
// folder sees it is taken) and with delete access (so it disappears the moment it is let go).
// Used by the recording's start and by its writer thread, one after the other.
HANDLE heldMarker = INVALID_HANDLE_VALUE;

void ToLogTime(const SYSTEMTIME& system, LogTime* time)
{
    static_assert(sizeof(LogTime) == sizeof(SYSTEMTIME), "LogTime mirrors SYSTEMTIME");
    memcpy(time, &system, sizeof(*time));
}

// Deletes the file behind an open handle that has delete access; it goes when the last
// handle closes, which is this one.
bool DeleteByHandle(HANDLE file)
{
    FILE_DISPOSITION_INFO disposition = {TRUE};
    return SetFileInformationByHandle(file, FileDispositionInfo, &disposition, sizeof(disposition)) != FALSE;
}

// ---- One leftover ----

struct Leftover {
    wchar_t marker[PATH_CAPACITY];
    wchar_t file[PATH_CAPACITY];
    HANDLE markerHandle;  // held exclusively while the leftover is dealt with
};

// The recording's start time: from the marker, else from the temporary name, else now.
LogTime StartTime(const Leftover& leftover)
{
    char text[32] = {};
    DWORD got = 0;
    LogTime time = {};
    if (ReadFile(leftover.markerHandle, text, sizeof(text) - 1, &got, nullptr) &&
        RecordingMarkerParse(text, got, &time))
        return time;
    SYSTEMTIME local;
    int64_t seconds = 0;
    if (TempRecordingSeconds(leftover.file, &seconds) && seconds >= 0) {
        // 100-ns intervals since 1601 of the Unix time.
        const uint64_t ticks = static_cast<uint64_t>(seconds) * 10'000'000ull + 116444736000000000ull;
        FILETIME utc = {static_cast<DWORD>(ticks), static_cast<DWORD>(ticks >> 32)};
        SYSTEMTIME universal;
        if (FileTimeToSystemTime(&utc, &universal) && SystemTimeToTzSpecificLocalTime(nullptr, &universal, &local)) {
            ToLogTime(local, &time);
            return time;
        }
    }
    GetLocalTime(&local);
    ToLogTime(local, &time);
    return time;
}

size_t ReadAt(void* context, uint64_t offset, uint8_t* out, size_t count)
{
    OVERLAPPED at = {};
    at.Offset = static_cast<DWORD>(offset);
    at.OffsetHigh = static_cast<DWORD>(offset >> 32);
    DWORD got = 0;
    if (!ReadFile(static_cast<HANDLE>(context), out, static_cast<DWORD>(count), &got, &at)) return 0;
    return got;
}

// What the leftover holds; false (with the cause in `error`) when it cannot be read.
bool Inspect(const wchar_t* file, LeftoverContent* content, DWORD* error)
{
    HandleOwner handle{CreateFileW(file, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr)};
    LARGE_INTEGER size = {};
    if (!handle.Valid() || !GetFileSizeEx(handle.handle, &size)) {
        *error = GetLastError();
        return false;
    }
    const LeftoverScan scan = ScanLeftover(static_cast<uint64_t>(size.QuadPart), ReadAt, handle.handle);
    if (scan.readFailed) {
        *error = GetLastError();
        return false;
    }
    *content = scan.content;
    return true;
}

// ---- Messages ----

enum Section { SECTION_RECOVERED, SECTION_KEPT, SECTION_FAILED, SECTION_COPY_KEPT, SECTION_COUNT };

struct Report {
    RecoveryOutcome* outcome;
    bool headed[SECTION_COUNT];  // a section's heading was written
};

void Append(RecoveryOutcome* outcome, const wchar_t* text)
{
    const size_t used = wcslen(outcome->message);
    if (used + 1 >= RECOVERY_MESSAGE_CAPACITY) return;
    CopyTextCut(outcome->message + used, static_cast<int32_t>(RECOVERY_MESSAGE_CAPACITY - used), text);
}

void Tell(Report& report, Section section, const wchar_t* path)
{
    static const wchar_t* const headings[SECTION_COUNT][2] = {
        {L"Unterbrochene Aufnahme wiederhergestellt:", L"Interrupted recording recovered:"},
        {L"Unterbrochene Aufnahme im tempor\u00e4ren Ordner (kein Aufnahmeordner gew\u00e4hlt):",
         L"Interrupted recording in the temporary folder (no recording folder chosen):"},
        {L"Unterbrochene Aufnahme konnte nicht in den Aufnahmeordner gebracht werden und liegt weiterhin im "
         L"tempor\u00e4ren Ordner:",
         L"Interrupted recording could not be brought into the recording folder and is still in the temporary "
         L"folder:"},
        {L"Unvollst\u00e4ndige Kopie einer Aufnahme im Aufnahmeordner (nicht gel\u00f6scht, weil ihr Original im "
         L"tempor\u00e4ren Ordner fehlt oder nicht vollst\u00e4ndig ist):",
         L"Incomplete copy of a recording in the recording folder (kept because its original in the temporary "
         L"folder is missing or incomplete):"},
    };
    if (!report.headed[section]) {
        if (report.outcome->message[0]) Append(report.outcome, L"\n\n");
        Append(report.outcome, PickText(headings[section][0], headings[section][1]));
        report.headed[section] = true;
    }
    Append(report.outcome, L"\n");
    Append(report.outcome, path);
}

volatile LONG cancelMoves = 0;

struct RecoveredName {
    const wchar_t* folder;
    LogTime start;
};

bool RecoveredNameFor(const void* context, int32_t n, wchar_t* out, int32_t capacity)
{
    const RecoveredName& name = *static_cast<const RecoveredName*>(context);
    return RecoveredRecordingName(name.folder, name.start, n, out, capacity);
}

// A copy into the recording folder that broke off (crash, power cut, log-off during the copy):
// it goes when the file it was copied from is still whole and marked (that file is moved again
// below); otherwise it may be all that is left of the recording, so it stays and the user learns
// where it is.
void CleanStaging(const wchar_t* tempFolder, const wchar_t* folder, Report& report)
{
    wchar_t pattern[PATH_CAPACITY];
    if (folder[0] == L'\0' || swprintf(pattern, PATH_CAPACITY, L"%ls\\%ls", folder, RECORDING_STAGING_PATTERN) < 0)
        return;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return;
    do {
        wchar_t staging[PATH_CAPACITY], source[PATH_CAPACITY], marker[PATH_CAPACITY];
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) ||
            swprintf(staging, PATH_CAPACITY, L"%ls\\%ls", folder, found.cFileName) < 0 ||
            !StagingRecordingSource(tempFolder, staging, source, PATH_CAPACITY) ||
            !RecordingMarkerName(source, marker, PATH_CAPACITY))
            continue;
        HandleOwner held{CreateFileW(marker, GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr)};
        // The recording that runs in this process is being copied right now.
        if (!held.Valid() && GetLastError() == ERROR_SHARING_VIOLATION) continue;
        LeftoverContent content = LeftoverContent::Empty;
        DWORD error = 0;
        if (held.Valid() && Inspect(source, &content, &error) && content == LeftoverContent::Playable) {
            if (DeleteFileW(staging))
                LogWrite(LOG_INFO, L"Abgebrochene Kopie entfernt, das Original ist vollst\u00e4ndig: %ls", found.cFileName);
            else
                LogWrite(LOG_WARN, L"Abgebrochene Kopie nicht entfernt (Fehler %lu): %ls", GetLastError(), staging);
            continue;
        }
        LogWrite(LOG_WARN, L"Abgebrochene Kopie bleibt im Aufnahmeordner, das Original fehlt oder ist unvollst\u00e4ndig: %ls",
                 staging);
        Tell(report, SECTION_COPY_KEPT, staging);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

// Moves the leftover under the first free recovered name; never replaces a file.
bool MoveRecovered(const Leftover& leftover, const wchar_t* folder, wchar_t* moved, DWORD* error)
{
    const RecoveredName name = {folder, StartTime(leftover)};
    return FileMoveInto(leftover.file, folder, RecoveredNameFor, &name, moved, PATH_CAPACITY, &cancelMoves, error);
}

void Handle(Leftover& leftover, const wchar_t* folder, Report& report)
{
    RecoveryOutcome* outcome = report.outcome;
    const wchar_t* name = FileNamePart(leftover.file);
    if (GetFileAttributesW(leftover.file) == INVALID_FILE_ATTRIBUTES && GetLastError() == ERROR_FILE_NOT_FOUND) {
        // Finalised and moved, cut off just before its marker went.
        LogWrite(LOG_INFO, L"Aufnahme-Markierung ohne Datei entfernt: %ls", FileNamePart(leftover.marker));
        DeleteByHandle(leftover.markerHandle);
        return;
    }
    LeftoverContent content = LeftoverContent::Empty;
    DWORD error = 0;
    if (!Inspect(leftover.file, &content, &error)) {
        // Perhaps held by another program for now: it stays marked for the next start.
        LogWrite(LOG_WARN, L"Unterbrochene Aufnahme nicht lesbar (Fehler %lu) \u2014 bleibt im tempor\u00e4ren Ordner: %ls",
                 error, name);
        outcome->keptMarked++;
        return;
    }
    if (content == LeftoverContent::Empty) {
        LogWrite(LOG_WARN, L"Unterbrochene Aufnahme ohne Bilddaten \u2014 bleibt im tempor\u00e4ren Ordner: %ls", name);
        DeleteByHandle(leftover.markerHandle);
        outcome->keptUnmarked++;
        return;
    }
    if (content == LeftoverContent::Unplayable) {
        LogWrite(LOG_WARN, L"Unterbrochene Aufnahme nicht abspielbar \u2014 bleibt im tempor\u00e4ren Ordner: %ls",
                 leftover.file);
        Tell(report, SECTION_FAILED, leftover.file);
        DeleteByHandle(leftover.markerHandle);
        outcome->keptUnmarked++;
        return;
    }
    if (folder[0] == L'\0') {
        // Stays marked: once a folder is chosen, the next start brings it there.
        LogWrite(LOG_WARN,
                 L"Kein Aufnahmeordner gew\u00e4hlt \u2014 unterbrochene Aufnahme bleibt im tempor\u00e4ren Ordner: %ls",
                 leftover.file);
        Tell(report, SECTION_KEPT, leftover.file);
        outcome->keptMarked++;
        return;
    }
    wchar_t moved[PATH_CAPACITY];
    if (!MoveRecovered(leftover, folder, moved, &error)) {
        LogWrite(LOG_ERROR, L"Unterbrochene Aufnahme konnte nicht verschoben werden (Fehler %lu): %ls", error,
                 leftover.file);
        Tell(report, SECTION_FAILED, leftover.file);
        outcome->keptMarked++;
        return;
    }
    LogWrite(LOG_EVENT, L"Unterbrochene Aufnahme wiederhergestellt: %ls", FileNamePart(moved));
    Tell(report, SECTION_RECOVERED, moved);
    DeleteByHandle(leftover.markerHandle);
    outcome->recovered++;
}

// ---- Background run at start-up ----

struct RecoveryJob {
    wchar_t tempFolder[PATH_CAPACITY];
    wchar_t recordingFolder[SETTINGS_FOLDER_CAPACITY];
    RecoveryOutcome outcome;
};

HANDLE recoveryThread = nullptr;  // UI thread only

DWORD WINAPI RecoveryThread(void* parameter)
{
    RecoveryJob* job = static_cast<RecoveryJob*>(parameter);
    RecoveryRun(job->tempFolder, job->recordingFolder, &job->outcome);
    if (job->outcome.message[0]) PostAppMessageText(WM_APP_WARNING, 0, job->outcome.message);
    delete job;
    return 0;
}

}  // namespace

void RecordingMarkerCreate(const wchar_t* tempFile)
{
    RecordingMarkerRemove();
    wchar_t marker[PATH_CAPACITY];
    SYSTEMTIME now;
    GetLocalTime(&now);
    LogTime start;
    ToLogTime(now, &start);
    char stamp[32];
    DWORD error = ERROR_FILENAME_EXCED_RANGE;
    if (RecordingMarkerName(tempFile, marker, PATH_CAPACITY) && RecordingMarkerFormat(start, stamp, sizeof(stamp))) {
        heldMarker = CreateFileW(marker, GENERIC_READ | GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr);
        DWORD written = 0;
        if (heldMarker != INVALID_HANDLE_VALUE &&
            WriteFile(heldMarker, stamp, static_cast<DWORD>(RECORDING_MARKER_STAMP_LENGTH), &written, nullptr) &&
            FlushFileBuffers(heldMarker))
            return;
        error = GetLastError();
        if (heldMarker != INVALID_HANDLE_VALUE) {
            DeleteByHandle(heldMarker);
            CloseHandle(heldMarker);
            heldMarker = INVALID_HANDLE_VALUE;
        }
    }
    LogWrite(LOG_WARN, L"Aufnahme-Markierung nicht angelegt (Fehler %lu) \u2014 Aufnahme ohne Absturzschutz", error);
}

void RecordingMarkerKeep()
{
    if (heldMarker == INVALID_HANDLE_VALUE) return;
    CloseHandle(heldMarker);
    heldMarker = INVALID_HANDLE_VALUE;
}

void RecordingMarkerRemove()
{
    if (heldMarker == INVALID_HANDLE_VALUE) return;
    if (!DeleteByHandle(heldMarker))
        LogWrite(LOG_WARN, L"Aufnahme-Markierung nicht entfernt (Fehler %lu)", GetLastError());
    CloseHandle(heldMarker);
    heldMarker = INVALID_HANDLE_VALUE;
}

void RecoveryRun(const wchar_t* tempFolder, const wchar_t* recordingFolder, RecoveryOutcome* outcome)
{
    *outcome = RecoveryOutcome{};
    Report report = {outcome, {}};
    CleanStaging(tempFolder, recordingFolder, report);
    wchar_t pattern[PATH_CAPACITY];
    if (swprintf(pattern, PATH_CAPACITY, L"%ls\\%ls", tempFolder, RECORDING_MARKER_PATTERN) < 0) return;
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW(pattern, &found);
    if (search == INVALID_HANDLE_VALUE) return;  // no folder or no markers: nothing was cut off
    do {
        if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) continue;
        Leftover leftover = {};
        if (swprintf(leftover.marker, PATH_CAPACITY, L"%ls\\%ls", tempFolder, found.cFileName) < 0 ||
            !RecordingMarkerTarget(leftover.marker, leftover.file, PATH_CAPACITY))
            continue;
        // A marker that cannot be had alone belongs to a recording running right now.
        leftover.markerHandle = CreateFileW(leftover.marker, GENERIC_READ | DELETE, 0, nullptr, OPEN_EXISTING,
                                            FILE_ATTRIBUTE_NORMAL, nullptr);
        if (leftover.markerHandle == INVALID_HANDLE_VALUE) continue;
        Handle(leftover, recordingFolder, report);
        CloseHandle(leftover.markerHandle);
    } while (FindNextFileW(search, &found));
    FindClose(search);
}

void RecoveryStartInBackground()
{
    if (recoveryThread) return;
    wchar_t local[MAX_PATH];
    if (FAILED(SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, local))) return;
    RecoveryJob* job = new (std::nothrow) RecoveryJob{};
    if (!job) return;  // nothing is lost: the leftovers stay marked for the next start
    if (swprintf(job->tempFolder, PATH_CAPACITY, L"%ls\\MI-RU\\tmp", local) < 0) {
        delete job;
        return;
    }
    CopyTextCut(job->recordingFolder, SETTINGS_FOLDER_CAPACITY, Settings.recordingFolder);
    InterlockedExchange(&cancelMoves, 0);
    recoveryThread = CreateThread(nullptr, 0, RecoveryThread, job, 0, nullptr);
    if (!recoveryThread) {
        LogWrite(LOG_WARN, L"Wiederherstellung konnte nicht gestartet werden (Fehler %lu)", GetLastError());
        delete job;
    }
}

bool RecoveryWaitForShutdown(uint32_t timeoutMs)
{
    if (!recoveryThread) return true;
    InterlockedExchange(&cancelMoves, 1);
    const bool ended = WaitForSingleObject(recoveryThread, timeoutMs) == WAIT_OBJECT_0;
    if (!ended) LogWrite(LOG_WARN, L"Wiederherstellung endet nicht rechtzeitig \u2014 Programm wird trotzdem beendet");
    CloseHandle(recoveryThread);
    recoveryThread = nullptr;
    return ended;
}
