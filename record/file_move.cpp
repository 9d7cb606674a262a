#include "record/file_move.h"

#include <cstdlib>

#include "base/win_owners.h"
#include "diag/log.h"
#include "record/file_names.h"

namespace {

constexpr DWORD COPY_CHUNK = 1 << 20;
constexpr int32_t STAGING_CAPACITY = 400;

bool NameTaken(DWORD error)
{
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
}

// Copies what is left of `in` into `out` and flushes it; the cause of a failure in `*error`.
bool CopyContents(HANDLE in, HANDLE out, const volatile LONG* cancel, DWORD* error)
{
    uint8_t* buffer = static_cast<uint8_t*>(malloc(COPY_CHUNK));
    *error = buffer ? ERROR_SUCCESS : ERROR_NOT_ENOUGH_MEMORY;
    while (*error == ERROR_SUCCESS) {
        DWORD got = 0, written = 0;
        if (cancel && *cancel != 0) *error = ERROR_REQUEST_ABORTED;
        else if (!ReadFile(in, buffer, COPY_CHUNK, &got, nullptr)) *error = GetLastError();
        else if (got == 0) break;
        else if (!WriteFile(out, buffer, got, &written, nullptr)) *error = GetLastError();
        else if (written != got) *error = ERROR_DISK_FULL;
    }
    free(buffer);
    if (*error == ERROR_SUCCESS && !FlushFileBuffers(out)) *error = GetLastError();
    return *error == ERROR_SUCCESS;
}

void RemoveStaging(const wchar_t* staging)
{
    if (!DeleteFileW(staging))
        LogWrite(LOG_WARN, L"Kopie einer Aufnahme nicht entfernt (Fehler %lu): %ls", GetLastError(), staging);
}

// The whole source under `staging`, on the disk. A staging file that is there already is an
// earlier copy of this same source, which is still whole: it is replaced.
bool CopyToStaging(const wchar_t* source, const wchar_t* staging, const volatile LONG* cancel, DWORD* error)
{
    HandleOwner in{CreateFileW(source, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                               FILE_FLAG_SEQUENTIAL_SCAN, nullptr)};
    if (!in.Valid()) {
        *error = GetLastError();
        return false;
    }
    bool copied = false;
    {
        HandleOwner out{CreateFileW(staging, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr)};
        if (!out.Valid()) {
            *error = GetLastError();
            return false;
        }
        copied = CopyContents(in.handle, out.handle, cancel, error);
    }
    if (!copied) RemoveStaging(staging);
    return copied;
}

// The move to another volume, from try `n` on (the names before it are taken).
bool MoveAcross(const wchar_t* source, const wchar_t* folder, FileMoveNameFor nameFor, const void* context, int32_t n,
                wchar_t* moved, int32_t capacity, const volatile LONG* cancel, DWORD* error)
{
    wchar_t staging[STAGING_CAPACITY];
    if (!StagingRecordingName(folder, source, staging, STAGING_CAPACITY)) {
        *error = ERROR_FILENAME_EXCED_RANGE;
        return false;
    }
    if (!CopyToStaging(source, staging, cancel, error)) return false;
    for (; n <= FILE_NAME_MAX_TRIES; n++) {
        if (!nameFor(context, n, moved, capacity)) {
            *error = ERROR_FILENAME_EXCED_RANGE;
            break;
        }
        if (MoveFileExW(staging, moved, 0)) {
            // The recording is safe under its name; a source left behind is only a second copy.
            if (!DeleteFileW(source))
                LogWrite(LOG_WARN, L"Aufnahme kopiert, Quelldatei aber nicht gel\u00f6scht (Fehler %lu): %ls",
                         GetLastError(), source);
            return true;
        }
        *error = GetLastError();
        if (!NameTaken(*error)) break;
    }
    RemoveStaging(staging);  // the source is still whole
    return false;
}

}  // namespace

bool FileMoveInto(const wchar_t* source, const wchar_t* folder, FileMoveNameFor nameFor, const void* context,
                  wchar_t* moved, int32_t capacity, const volatile LONG* cancel, DWORD* error)
{
    *error = ERROR_FILENAME_EXCED_RANGE;
    for (int32_t n = 1; n <= FILE_NAME_MAX_TRIES; n++) {
        if (!nameFor(context, n, moved, capacity)) return false;
        // Without MOVEFILE_COPY_ALLOWED: a rename or nothing, and never over an existing file.
        if (MoveFileExW(source, moved, 0)) return true;
        *error = GetLastError();
        if (NameTaken(*error)) continue;
        if (*error != ERROR_NOT_SAME_DEVICE) return false;
        return MoveAcross(source, folder, nameFor, context, n, moved, capacity, cancel, error);
    }
    return false;
}
