#include "settings/settings_store.h"

#include <windows.h>
#include <knownfolders.h>
#include <objbase.h>
#include <shlobj.h>

#include <cwchar>

#include "base/text_copy.h"
#include "base/win_owners.h"
#include "diag/log.h"
#include "settings/ini_values.h"
#include "settings/praxis_text.h"

namespace {

constexpr const wchar_t* kSection = L"MIRU";
constexpr const wchar_t* kMissing = L"\x0001";  // a default no stored value holds
constexpr const wchar_t* kPersonalizeKey = L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";

#ifdef MIRU_TEST_HOOKS
// Test-only folder override. The lock guards `overrideActive` and `overrideFolder` and is held
// only while they are read or copied; SettingsFolder runs on every log call from any thread.
SRWLOCK overrideLock = SRWLOCK_INIT;
bool overrideActive = false;
wchar_t overrideFolder[SETTINGS_FOLDER_CAPACITY];

bool ReadOverride(wchar_t* dest)
{
    AcquireSRWLockShared(&overrideLock);
    const bool active = overrideActive;
    if (active) CopyTextCut(dest, SETTINGS_FOLDER_CAPACITY, overrideFolder);
    ReleaseSRWLockShared(&overrideLock);
    return active;
}
#else
bool ReadOverride(wchar_t*)
{
    return false;
}
#endif

// Roaming application data, else %APPDATA%; empty when neither is available.
void BaseFolder(wchar_t* dest)
{
    dest[0] = 0;
    {
        CoTaskText known;
        if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &known.text)) &&
            known.text && known.text[0]) {
            CopyTextCut(dest, SETTINGS_FOLDER_CAPACITY, known.text);
            return;
        }
    }
    wchar_t environment[SETTINGS_FOLDER_CAPACITY];
    DWORD length = GetEnvironmentVariableW(L"APPDATA", environment, SETTINGS_FOLDER_CAPACITY);
    if (length >= 1 && length <= SETTINGS_FOLDER_CAPACITY - 1) CopyTextCut(dest, SETTINGS_FOLDER_CAPACITY, environment);
}

// "<folder>\settings.ini" in MAX_PATH characters; false when the folder is unknown.
bool SettingsFilePath(wchar_t* path)
{
    wchar_t folder[SETTINGS_FOLDER_CAPACITY];
    SettingsFolder(folder);
    if (!folder[0]) return false;
    CopyTextCut(path, MAX_PATH, folder);
    AppendTextCut(path, MAX_PATH, L"\\settings.ini");
    return true;
}

// GetPrivateProfileStringW into `buffer`; false when the key is absent.
bool ReadRaw(const wchar_t* path, const wchar_t* key, wchar_t* buffer, DWORD capacity)
{
    GetPrivateProfileStringW(kSection, key, kMissing, buffer, capacity, path);
    return wcscmp(buffer, kMissing) != 0;
}

// A new file must start with the byte-order mark: the profile functions then keep it in
// UTF-16, while a file they create themselves would be written in the ANSI code page.
// Returns false (with the error) when a new file could not be given its header; the
// half-made file is removed so that the next save starts over.
bool CreateWithHeader(const wchar_t* path, DWORD* error)
{
    static constexpr wchar_t header[] = L"\xFEFF[MIRU]\r\n";  // UTF-16LE in memory: 18 bytes
    static constexpr DWORD headerBytes = sizeof(header) - sizeof(wchar_t);
    bool complete = false;
    {
        HandleOwner file{CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr)};
        // An existing file is left alone; one that cannot be made shows in the key writes.
        if (!file.Valid()) return true;
        DWORD written = 0;
        complete = WriteFile(file.handle, header, headerBytes, &written, nullptr) && written == headerBytes;
        if (!complete) *error = GetLastError();
    }
    if (!complete) DeleteFileW(path);
    return complete;
}

}  // namespace

#ifdef MIRU_TEST_HOOKS
void SettingsSetFolderOverride(const wchar_t* folder)
{
    AcquireSRWLockExclusive(&overrideLock);
    overrideActive = folder != nullptr;
    if (folder) CopyTextCut(overrideFolder, SETTINGS_FOLDER_CAPACITY, folder);
    ReleaseSRWLockExclusive(&overrideLock);
}
#endif

void SettingsFolder(wchar_t* dest)
{
    if (!dest) return;
    dest[0] = 0;
    if (ReadOverride(dest)) {
        if (dest[0]) CreateDirectoryW(dest, nullptr);
        return;
    }
    BaseFolder(dest);
    if (!dest[0]) return;
    if (wcslen(dest) < SETTINGS_FOLDER_CAPACITY - 1) AppendTextCut(dest, SETTINGS_FOLDER_CAPACITY, L"\\MI-RU");
    CreateDirectoryW(dest, nullptr);  // fails harmlessly when the folder exists
}

void IniReadBool(const wchar_t* path, const wchar_t* key, bool* field)
{
    wchar_t text[16];
    if (ReadRaw(path, key, text, 16)) IniParseBool(text, field);
}

void IniReadDouble(const wchar_t* path, const wchar_t* key, double* field)
{
    wchar_t text[64];
    if (ReadRaw(path, key, text, 64)) IniParseDouble(text, field);
}

void IniReadString(const wchar_t* path, const wchar_t* key, wchar_t* field, int capacity)
{
    if (!field || capacity < 1) return;
    wchar_t text[512];
    if (ReadRaw(path, key, text, 512)) CopyTextCut(field, capacity, text);
}

bool IniWriteDouble(const wchar_t* path, const wchar_t* key, double value, uint32_t* lastError)
{
    wchar_t text[64];
    IniFormatDouble(value, text, 64);
    if (WritePrivateProfileStringW(kSection, key, text, path)) return true;
    if (lastError) *lastError = GetLastError();
    return false;
}

void SettingsLoad()
{
    SettingsResetDefaults();
    wchar_t path[MAX_PATH];
    if (!SettingsFilePath(path)) {
        LogWrite(LOG_ERROR, L"Einstellungen: AppData-Ordner nicht verf\u00fcgbar \u2014 Standardwerte werden verwendet");
        return;
    }
    SettingsRecord& s = Settings;
    IniReadBool(path, L"resolutionHigh", &s.resolutionHigh);
    IniReadBool(path, L"watermarkOn", &s.watermarkOn);
    IniReadString(path, L"praxisText", s.praxisText, SETTINGS_PRAXIS_CAPACITY);
    PraxisTextStrip(s.praxisText);  // a hand-edited file may hold tabs
    IniReadBool(path, L"stabilizeMacro", &s.stabilizeMacro);
    IniReadDouble(path, L"stabGain", &s.stabGain);
    IniReadDouble(path, L"stabSmoothing", &s.stabSmoothing);
    IniReadDouble(path, L"stabCropZoom", &s.stabCropZoom);
    IniReadDouble(path, L"stabLead", &s.stabLead);
    IniReadBool(path, L"devShowFPS", &s.devShowFPS);
    IniReadBool(path, L"devStabSliders", &s.devStabSliders);
    IniReadBool(path, L"devStabFrame", &s.devStabFrame);
    IniReadBool(path, L"devStabDiag", &s.devStabDiag);
    IniReadBool(path, L"didCompleteOnboarding", &s.didCompleteOnboarding);
    IniReadString(path, L"recordingFolder", s.recordingFolder, SETTINGS_FOLDER_CAPACITY);
    IniReadString(path, L"wideDeviceID", s.wideDeviceID, SETTINGS_DEVICE_ID_CAPACITY);
    IniReadString(path, L"macroDeviceID", s.macroDeviceID, SETTINGS_DEVICE_ID_CAPACITY);
    IniReadString(path, L"micDeviceID", s.micDeviceID, SETTINGS_DEVICE_ID_CAPACITY);
    wchar_t mode[32];
    if (ReadRaw(path, L"appearanceMode", mode, 32)) IniParseInt(mode, &s.appearanceMode);
    SettingsClamp();
}

bool SettingsSave()
{
    wchar_t path[MAX_PATH];
    if (!SettingsFilePath(path)) {
        LogWrite(LOG_ERROR, L"Einstellungen konnten nicht gespeichert werden \u2014 AppData-Ordner nicht verf\u00fcgbar");
        return false;
    }
    constexpr int kKeyCount = 18;
    DWORD headerError = 0;
    if (!CreateWithHeader(path, &headerError)) {
        // Without its header the file would be written in the ANSI code page and lose every
        // character outside it; nothing is written this time.
        LogWrite(LOG_WARN, L"Einstellungen unvollst\u00e4ndig gespeichert (%d Schl\u00fcssel, Fehler %lu)", kKeyCount,
                 static_cast<unsigned long>(headerError));
        return false;
    }

    const SettingsRecord& s = Settings;
    int failed = 0;
    uint32_t lastError = 0;
    auto writeText = [&](const wchar_t* key, const wchar_t* value) {
        if (!WritePrivateProfileStringW(kSection, key, value, path)) {
            ++failed;
            lastError = GetLastError();
        }
    };
    auto writeBool = [&](const wchar_t* key, bool value) { writeText(key, value ? L"1" : L"0"); };
    auto writeDouble = [&](const wchar_t* key, double value) {
        if (!IniWriteDouble(path, key, value, &lastError)) ++failed;
    };

    writeBool(L"resolutionHigh", s.resolutionHigh);
    writeBool(L"watermarkOn", s.watermarkOn);
    wchar_t praxis[SETTINGS_PRAXIS_CAPACITY + 2];
    PraxisTextToIni(s.praxisText, praxis, SETTINGS_PRAXIS_CAPACITY + 2);
    writeText(L"praxisText", praxis);
    writeBool(L"stabilizeMacro", s.stabilizeMacro);
    writeDouble(L"stabGain", s.stabGain);
    writeDouble(L"stabSmoothing", s.stabSmoothing);
    writeDouble(L"stabCropZoom", s.stabCropZoom);
    writeDouble(L"stabLead", s.stabLead);
    writeBool(L"devShowFPS", s.devShowFPS);
    writeBool(L"devStabSliders", s.devStabSliders);
    writeBool(L"devStabFrame", s.devStabFrame);
    writeBool(L"devStabDiag", s.devStabDiag);
    writeBool(L"didCompleteOnboarding", s.didCompleteOnboarding);
    writeText(L"recordingFolder", s.recordingFolder);
    writeText(L"wideDeviceID", s.wideDeviceID);
    writeText(L"macroDeviceID", s.macroDeviceID);
    writeText(L"micDeviceID", s.micDeviceID);
    wchar_t mode[16];
    swprintf(mode, 16, L"%d", static_cast<int>(s.appearanceMode));
    writeText(L"appearanceMode", mode);

    // Flushes the profile cache. Its result says nothing about the keys (some systems report
    // failure with no error), so it is not counted.
    WritePrivateProfileStringW(nullptr, nullptr, nullptr, path);

    if (failed > 0) {
        LogWrite(LOG_WARN, L"Einstellungen unvollst\u00e4ndig gespeichert (%d Schl\u00fcssel, Fehler %lu)", failed,
                 static_cast<unsigned long>(lastError));
        return false;
    }
    return true;
}

bool IsDarkAppearance()
{
    if (Settings.appearanceMode == 2) return true;
    if (Settings.appearanceMode == 1) return false;
    DWORD useLight = 1;
    DWORD size = sizeof(useLight);
    const LSTATUS status = RegGetValueW(HKEY_CURRENT_USER, kPersonalizeKey, L"AppsUseLightTheme", RRF_RT_REG_DWORD,
                                        nullptr, &useLight, &size);
    return status == ERROR_SUCCESS && useLight == 0;
}
