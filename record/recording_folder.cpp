// Recording-folder routines: Windows calls only; the decisions live in folder_rules.cpp.
#include "record/recording_folder.h"

#include <knownfolders.h>
#include <objbase.h>
#include <shellapi.h>
#include <shlobj.h>
#include <shobjidl.h>

#include "app/texts.h"
#include "base/win_owners.h"
#include "diag/log.h"
#include "record/folder_rules.h"

namespace {

// Balances a successful CoInitializeEx on this thread.
struct ComApartment {
    bool initialized = false;
    ComApartment() : initialized(SUCCEEDED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE))) {}
    ComApartment(const ComApartment&) = delete;
    ComApartment& operator=(const ComApartment&) = delete;
    ~ComApartment()
    {
        if (initialized) CoUninitialize();
    }
};

// Points the dialog at the suggestion's parent folder; any failure simply keeps the default.
void SetPickerStartFolder(IFileDialog* dialog)
{
    wchar_t suggestion[MAX_PATH];
    SuggestRecordingFolder(suggestion, MAX_PATH);
    wchar_t parent[MAX_PATH];
    if (!PickerStartFolder(suggestion, parent, MAX_PATH)) return;
    ComOwner<IShellItem> folder;
    if (SUCCEEDED(SHCreateItemFromParsingName(parent, nullptr, IID_PPV_ARGS(&folder))) && folder) {
        dialog->SetFolder(folder.Get());
    }
}

}  // namespace

void SuggestRecordingFolder(wchar_t* out, int32_t capacity)
{
    if (!out || capacity < 1) return;
    out[0] = L'\0';
    CoTaskText videos;
    const HRESULT videosHr = SHGetKnownFolderPath(FOLDERID_Videos, 0, nullptr, &videos.text);
    CoTaskText profile;
    HRESULT profileHr = S_OK;
    if (FAILED(videosHr) || !videos.text || videos.text[0] == L'\0') {
        profileHr = SHGetKnownFolderPath(FOLDERID_Profile, 0, nullptr, &profile.text);
    }
    ComposeSuggestedFolder({static_cast<int32_t>(videosHr), videos.text}, {static_cast<int32_t>(profileHr), profile.text}, out,
                           capacity);
}

int64_t FreeBytesForCaller(const wchar_t* path)
{
    if (!path || path[0] == L'\0') return -1;
    ULARGE_INTEGER available{};
    if (!GetDiskFreeSpaceExW(FreeSpaceQueryPath(path).c_str(), &available, nullptr, nullptr)) return -1;
    return available.QuadPart > static_cast<ULONGLONG>(INT64_MAX) ? INT64_MAX : static_cast<int64_t>(available.QuadPart);
}

bool FolderExists(const wchar_t* path)
{
    if (!path || path[0] == L'\0') return false;
    const DWORD attributes = GetFileAttributesW(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool PickRecordingFolder(HWND owner, wchar_t* out, int32_t capacity)
{
    if (!PickerBeginOutput(out, capacity)) return false;
    // Declared first so every interface below is released before the apartment ends.
    ComApartment apartment;

    ComOwner<IFileDialog> dialog;
    HRESULT hr = CoCreateInstance(CLSID_FileOpenDialog, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&dialog));
    if (FAILED(hr) || !dialog) {
        LogWrite(LOG_ERROR, L"Ordnerauswahl-Dialog konnte nicht erstellt werden (0x%08lX)", LogHresult(FAILED(hr) ? hr : E_POINTER));
        return false;
    }
    FILEOPENDIALOGOPTIONS options = 0;
    if (SUCCEEDED(dialog->GetOptions(&options))) {
        dialog->SetOptions(options | FOS_PICKFOLDERS | FOS_FORCEFILESYSTEM);
    }
    dialog->SetTitle(PickText(L"W\u00e4hle den Ordner, in dem MI-RU Aufnahmen und Fotos speichert.",
                              L"Choose the folder where MI-RU saves recordings and photos."));
    dialog->SetOkButtonLabel(PickText(L"Ausw\u00e4hlen", L"Select"));
    SetPickerStartFolder(dialog.Get());

    hr = dialog->Show(owner);
    if (hr == static_cast<HRESULT>(PICKER_CANCELLED_HR)) return false;
    if (FAILED(hr)) {
        LogWrite(LOG_ERROR, L"Ordnerauswahl fehlgeschlagen (0x%08lX)", LogHresult(hr));
        return false;
    }
    ComOwner<IShellItem> item;
    hr = dialog->GetResult(&item);
    if (FAILED(hr) || !item) {
        LogWrite(LOG_ERROR, L"Ordnerauswahl: kein Ergebnis (0x%08lX)", LogHresult(FAILED(hr) ? hr : E_POINTER));
        return false;
    }
    CoTaskText path;
    hr = item->GetDisplayName(SIGDN_FILESYSPATH, &path.text);
    if (FAILED(hr) || !path.text || path.text[0] == L'\0') {
        LogWrite(LOG_ERROR, L"Ordnerauswahl: Pfad nicht lesbar (0x%08lX)", LogHresult(FAILED(hr) ? hr : E_FAIL));
        return false;
    }
    return AdoptPickedFolder(path.text, out, capacity);
}

void OpenFolderInExplorer(const wchar_t* path)
{
    if (!path || path[0] == L'\0') return;
    // ShellExecuteW reports success as a value above 32.
    if (reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"explore", path, nullptr, nullptr, SW_SHOWNORMAL)) > 32) return;
    if (reinterpret_cast<INT_PTR>(ShellExecuteW(nullptr, L"open", path, nullptr, nullptr, SW_SHOWNORMAL)) > 32) return;
    LogWrite(LOG_WARN, L"Ordner konnte nicht ge\u00f6ffnet werden: %ls", path);
}
