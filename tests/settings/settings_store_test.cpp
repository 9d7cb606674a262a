#include "settings/settings_store.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "tests/diag/log_probe.h"

namespace {
// UTF-16LE bytes of a text (wchar_t is UTF-16 here).
std::string Utf16(const std::wstring& text)
{
    return std::string(reinterpret_cast<const char*>(text.data()), text.size() * 2);
}

// The whole saved file; the arguments are the parts that differ between the cases.
std::string SavedFile(const std::wstring& praxis, const wchar_t* cropLead, const std::wstring& tail)
{
    return Utf16(L"\xFEFF[MIRU]\r\nresolutionHigh=0\r\nwatermarkOn=1\r\npraxisText=" + praxis +
                 L"\r\nstabilizeMacro=0\r\nstabGain=0.500000\r\nstabSmoothing=0.850000\r\n" + cropLead +
                 L"devShowFPS=0\r\ndevStabSliders=0\r\ndevStabFrame=0\r\ndevStabDiag=0\r\n" + tail);
}
}  // namespace

TEST(SettingsStore, SavedFileByteForByteAndValuesSurviveSaveAndLoad)
{
    TestSettingsFolder folder;
    const std::wstring path = folder.File(L"settings.ini");
    Settings.stabGain = 3.0;
    SettingsLoad();  // no file: the defaults
    SettingsRecord loaded = Settings;
    SettingsResetDefaults();
    EXPECT_EQ(memcmp(&loaded, &Settings, sizeof(Settings)), 0);
    SettingsSave();  // the flush call's result must not count as a failed key
    EXPECT_EQ(ReadFileBytes(path), SavedFile(L"Praxis Dr. Vorlanz", L"stabCropZoom=1.150000\r\nstabLead=0.000000\r\n",
                                             L"didCompleteOnboarding=0\r\nrecordingFolder=\r\nwideDeviceID=\r\n"
                                             L"macroDeviceID=\r\nmicDeviceID=\r\nappearanceMode=0\r\n"));

    const std::wstring praxis = L"Zahnärzte Müller & Söhne – Größe";
    wcscpy(Settings.praxisText, praxis.c_str());
    Settings.stabLead = -0.25;  // not clamped on the way out
    Settings.stabCropZoom = 1.35;
    Settings.didCompleteOnboarding = true;
    wcscpy(Settings.recordingFolder, L"D:\\Aufnahmen Übersicht");
    wcscpy(Settings.wideDeviceID, L"\\\\?\\usb#vid_0c45&pid_6366#{e5323777}\\global");
    Settings.appearanceMode = 2;
    SettingsSave();
    SettingsSave();  // a second save rewrites the same keys in place
    EXPECT_EQ(ReadFileBytes(path),
              SavedFile(praxis, L"stabCropZoom=1.350000\r\nstabLead=-0.250000\r\n",
                        L"didCompleteOnboarding=1\r\nrecordingFolder=D:\\Aufnahmen Übersicht\r\n"
                        L"wideDeviceID=\\\\?\\usb#vid_0c45&pid_6366#{e5323777}\\global\r\nmacroDeviceID=\r\n"
                        L"micDeviceID=\r\nappearanceMode=2\r\n"));

    SettingsResetDefaults();
    SettingsLoad();
    EXPECT_EQ(std::wstring(Settings.praxisText), praxis);
    EXPECT_EQ(std::wstring(Settings.recordingFolder), L"D:\\Aufnahmen Übersicht");
    EXPECT_EQ(Settings.stabLead, 0.0);  // clamped on the way in
    EXPECT_EQ(Settings.appearanceMode, 2);
    // Blanks and quotes at the ends come back although the profile reader trims and unquotes.
    wcscpy(Settings.praxisText, L" \"Praxis am Markt\" ");
    SettingsSave();
    SettingsResetDefaults();
    SettingsLoad();
    EXPECT_EQ(std::wstring(Settings.praxisText), L" \"Praxis am Markt\" ");
    EXPECT_TRUE(LogTexts().empty());
}

TEST(SettingsStore, LoadAcceptsLenientValuesAndKeepsDefaultsForBadOnes)
{
    TestSettingsFolder folder;
    const std::wstring longText(300, L'ä');
    WriteFileBytes(folder.File(L"settings.ini"),
                   Utf16(L"\xFEFF[MIRU]\r\nresolutionHigh=TRUE\r\nwatermarkOn=yes\r\npraxisText=Zeile\teins\r\n"
                         L"stabGain=9\r\nstabSmoothing=0,9\r\nstabLead=-1\r\nstabCropZoom=abc\r\nappearanceMode=2x\r\n"
                         L"recordingFolder=" + longText + L"\r\nmicDeviceID=" + std::wstring(600, L'm') +
                         L"\r\n[Andere]\r\nwideDeviceID=x\r\n"));
    SettingsLoad();
    EXPECT_TRUE(Settings.resolutionHigh && Settings.watermarkOn);  // "yes" keeps the default
    EXPECT_EQ(std::wstring(Settings.praxisText), L"Zeileeins");  // an older file, edited by hand
    EXPECT_TRUE(Settings.stabGain == 8.0 && Settings.stabLead == 0.0 && Settings.stabCropZoom == 1.15);
    EXPECT_NEAR(Settings.stabSmoothing, 0.9, 1e-12);
    EXPECT_EQ(Settings.appearanceMode, 2);
    EXPECT_EQ(std::wstring(Settings.recordingFolder), longText.substr(0, SETTINGS_FOLDER_CAPACITY - 1));
    EXPECT_EQ(wcslen(Settings.micDeviceID), size_t(SETTINGS_DEVICE_ID_CAPACITY - 1));
    EXPECT_EQ(Settings.wideDeviceID[0], 0);  // other sections are not read

    for (const wchar_t* mode : {L"7", L"-1"}) {
        WriteFileBytes(folder.File(L"settings.ini"),
                       Utf16(L"\xFEFF[MIRU]\r\npraxisText=" + longText + L"\r\nappearanceMode=" + mode));
        SettingsLoad();
        EXPECT_EQ(Settings.appearanceMode, 0) << mode;
        EXPECT_EQ(std::wstring(Settings.praxisText), longText.substr(0, SETTINGS_PRAXIS_CAPACITY - 1));
    }
    EXPECT_TRUE(LogTexts().empty());
}

// Foreign content stays; a save that fails changes nothing and is reported once; without a
// folder the defaults are used and nothing is written (where the real folder is, and that it is
// made, shows in the real app's test, which reads its log and settings there).
TEST(SettingsStore, FailuresChangeNothingAndAreReported)
{
    wchar_t real[SETTINGS_FOLDER_CAPACITY];
    SettingsFolder(real);
    const std::string realBefore = ReadFileBytes(std::wstring(real) + L"\\settings.ini");

    TestSettingsFolder folder;
    const std::wstring path = folder.File(L"settings.ini");
    const std::string foreign = Utf16(L"\xFEFF[Andere]\r\nx=1\r\n");
    WriteFileBytes(path, foreign);
    SettingsSave();
    const std::string before = ReadFileBytes(path);
    EXPECT_TRUE(before.starts_with(foreign));
    // Another program holds the file exclusively: every key fails.
    HANDLE held = CreateFileW(path.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    Settings.stabGain = 2.0;
    SettingsSave();
    CloseHandle(held);
    EXPECT_EQ(ReadFileBytes(path), before);

    SettingsSetFolderOverride(L"");  // the folder cannot be determined
    SettingsLoad();
    EXPECT_EQ(Settings.stabGain, 0.5);
    SettingsSave();
    EXPECT_EQ(ReadFileBytes(std::wstring(real) + L"\\settings.ini"), realBefore);
    EXPECT_EQ(LogTexts(), (std::vector<std::wstring>{
                              L"Einstellungen unvollständig gespeichert (18 Schlüssel, Fehler 32)",
                              L"Einstellungen: AppData-Ordner nicht verfügbar — Standardwerte werden verwendet",
                              L"Einstellungen konnten nicht gespeichert werden — AppData-Ordner nicht verfügbar"}));
}

TEST(SettingsStore, AppearanceFollowsModeThenWindowsTheme)
{
    TestSettingsFolder folder;
    const wchar_t* key = L"Software\\Microsoft\\Windows\\CurrentVersion\\Themes\\Personalize";
    struct Case { int light; int32_t mode; bool dark; };  // light −1: value missing
    for (Case c : {Case{0, 0, true}, {0, 1, false}, {0, 2, true}, {0, 5, true}, {1, 0, false}, {1, 2, true},
                   {-1, 0, false}, {-1, 2, true}}) {
        const DWORD value = static_cast<DWORD>(c.light);
        if (c.light < 0) RegDeleteKeyValueW(HKEY_CURRENT_USER, key, L"AppsUseLightTheme");
        else ASSERT_FALSE(RegSetKeyValueW(HKEY_CURRENT_USER, key, L"AppsUseLightTheme", REG_DWORD, &value, sizeof(value)));
        Settings.appearanceMode = c.mode;
        EXPECT_EQ(IsDarkAppearance(), c.dark) << c.light << " " << c.mode;
    }
}
