// The real MI-RU.exe with the virtual headset and a fresh roaming folder: a cancelled setup ends
// it with nothing saved; the setup wizard comes before the main window and leads into it with
// the choices saved; the program runs once, raises itself on a second start and saves on the
// way out.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <utility>

#include "record/recording_folder.h"
#include "settings/onboarding_rules.h"
#include "settings/onboarding_state.h"
#include "tests/support/test_folder.h"
#include "tests/support/ui_wait.h"

namespace {

// The user's roaming and Videos folders point into the test folder while this lives, and the
// apps started from here get the virtual headset.
struct FirstStart {
    static constexpr wchar_t key[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    static constexpr const wchar_t* names[3] = {L"AppData", L"My Video", L"My Videos"};
    TestSettingsFolder folder;
    std::wstring roaming = std::wstring(folder.Path()) + L"\\roaming";
    std::wstring videos = std::wstring(folder.Path()) + L"\\videos";
    wchar_t old[3][MAX_PATH] = {};
    HANDLE process = nullptr;

    FirstStart()
    {
        CreateDirectoryW(roaming.c_str(), nullptr);
        CreateDirectoryW(videos.c_str(), nullptr);
        // Wine's user folders are links into the Unix home: the suggested folder must not land there.
        for (int i = 0; i < 3; i++) {
            DWORD size = sizeof(old[i]);
            if (RegGetValueW(HKEY_CURRENT_USER, key, names[i], RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, old[i], &size))
                wcscpy(old[i], i ? L"%USERPROFILE%\\Videos" : L"%USERPROFILE%\\AppData\\Roaming");
            Set(names[i], i ? videos.c_str() : roaming.c_str());
        }
        SetEnvironmentVariableW(L"MIRU_VIRTUAL_DEVICES", L"default");
    }
    ~FirstStart()
    {
        SetEnvironmentVariableW(L"MIRU_VIRTUAL_DEVICES", nullptr);
        for (int i = 0; i < 3; i++) Set(names[i], old[i]);
        if (process) {
            TerminateProcess(process, 99);  // only after a failed check left it running
            CloseHandle(process);
        }
    }
    static void Set(const wchar_t* name, const wchar_t* value)
    {
        RegSetKeyValueW(HKEY_CURRENT_USER, key, name, REG_EXPAND_SZ, value,
                        static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
    }
    // Starts MI-RU.exe; the handle goes to `process` (or to `*other` for a second instance).
    bool Start(HANDLE* other = nullptr)
    {
        wchar_t unixPath[MAX_PATH] = {};
        GetEnvironmentVariableW(L"MIRU_EXE", unixPath, MAX_PATH);
        std::wstring path = L"Z:";
        for (const wchar_t* c = unixPath; *c; c++) path += *c == L'/' ? L'\\' : *c;
        STARTUPINFOW startup = {};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info = {};
        if (!CreateProcessW(path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info))
            return false;
        CloseHandle(info.hThread);
        *(other ? other : &process) = info.hProcess;
        return true;
    }
    // The exit code, or STILL_ACTIVE when the process did not end within a minute.
    static DWORD WaitForExit(HANDLE* process)
    {
        DWORD code = STILL_ACTIVE;
        if (WaitForSingleObject(*process, 60000) == WAIT_OBJECT_0 && GetExitCodeProcess(*process, &code))
            CloseHandle(std::exchange(*process, nullptr));
        return code;
    }
    std::wstring File(const wchar_t* name) const { return roaming + L"\\MI-RU\\" + name; }
    std::string Log() const { return ReadFileBytes(File(L"miru-diagnose.log")); }
    // The settings file's text after its byte-order mark.
    std::wstring SettingsText() const
    {
        const std::string bytes = ReadFileBytes(File(L"settings.ini"));
        if (bytes.size() < 2 || bytes.compare(0, 2, "\xFF\xFE") != 0) return L"";
        return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
    }
};

std::wstring PrimaryText(HWND wizard) { return TextOf(GetDlgItem(wizard, ID_PRIMARY)); }

bool Visible(HWND wizard, int id) { return IsWindowVisible(GetDlgItem(wizard, id)) != FALSE; }

bool HasLine(const std::wstring& text, const std::wstring& line)
{
    return text.find(L"\r\n" + line + L"\r\n") != std::wstring::npos;
}

}  // namespace

// The close box cancels the first setup (Esc is the in-process wizard's): the program ends with 0
// before any main window and saves nothing, so the next start runs the setup again.
TEST(RealApp, FirstStartIsSetUpAfterACancelThenRunsOnceAndSavesOnTheWayOut)
{
    FirstStart app;
    wchar_t suggestion[MAX_PATH] = {};
    SuggestRecordingFolder(suggestion, MAX_PATH);
    ASSERT_EQ(std::wstring(suggestion), app.videos + L"\\MI-RU Aufnahmen");
    ASSERT_EQ(FindWindowW(L"MIRU_MAIN", nullptr), nullptr) << "another MI-RU window is open";
    ASSERT_TRUE(app.Start());
    HWND wizard = WaitForShown(L"MIRU_ONBOARD", 60);
    ASSERT_NE(wizard, nullptr);
    PostMessageW(wizard, WM_CLOSE, 0, 0);
    EXPECT_EQ(FirstStart::WaitForExit(&app.process), 0u);
    EXPECT_EQ(FindWindowW(L"MIRU_MAIN", nullptr), nullptr);
    EXPECT_EQ(GetFileAttributesW(app.File(L"settings.ini").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(CountText(app.Log(), "INFO  Einrichtung abgebrochen"), 1u) << app.Log();

    ASSERT_TRUE(app.Start());
    wizard = WaitForShown(L"MIRU_ONBOARD", 60);
    ASSERT_NE(wizard, nullptr);
    EXPECT_EQ(FindWindowW(L"MIRU_MAIN", nullptr), nullptr);
    EXPECT_EQ(TextOf(wizard), L"MI-RU \u2013 Setup");
    EXPECT_EQ(PrimaryText(wizard), L"Let's go");

    // Continue stays off on the folder page until a folder is set.
    for (int page = 0; page < PAGE_FOLDER; page++) Command(wizard, ID_PRIMARY);
    ASSERT_TRUE(Visible(wizard, ID_CHOOSE_FOLDER));
    EXPECT_FALSE(IsWindowEnabled(GetDlgItem(wizard, ID_PRIMARY)));
    Command(wizard, ID_USE_SUGGESTION);
    Command(wizard, ID_PRIMARY);
    ASSERT_TRUE(Visible(wizard, ID_WIDE_LIST));
    // The cameras swapped: Wide is the second camera, Macro the first.
    Select(wizard, ID_MACRO_LIST, 0);
    Select(wizard, ID_WIDE_LIST, 1);
    Command(wizard, ID_PRIMARY);
    ASSERT_TRUE(Visible(wizard, ID_MICROPHONE_LIST));
    Select(wizard, ID_MICROPHONE_LIST, 1);
    Command(wizard, ID_PRIMARY);
    Command(wizard, ID_PRIMARY);
    EXPECT_EQ(PrimaryText(wizard), L"Finish setup");
    Command(wizard, ID_PRIMARY);

    HWND window = WaitForShown(L"MIRU_MAIN", 60);
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(FindWindowW(L"MIRU_ONBOARD", nullptr), nullptr);
    EXPECT_EQ(TextOf(window), L"MI-RU");
    // The wizard's choices are what the main window runs with (which camera is which: the log).
    const std::wstring settings = app.SettingsText();
    EXPECT_TRUE(HasLine(settings, L"didCompleteOnboarding=1")) << settings;
    EXPECT_TRUE(HasLine(settings, std::wstring(L"recordingFolder=") + suggestion));
    const DWORD attributes = GetFileAttributesW(suggestion);
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));  // created

    EXPECT_TRUE(WaitUntil([&] { return CountText(app.Log(), "2 Kameras live \xC2\xB7 Mikrofon aktiv") == 1; }));
    const std::string log = app.Log();
    EXPECT_EQ(CountText(log, "Kamera 0 konfiguriert: HD USB Camera #2"), 1u) << log;
    EXPECT_EQ(CountText(log, "Aufnahmeordner angelegt: "), 1u);

    // A second start raises the minimised first and ends without touching settings or log (the
    // start line is the cancelled run's and this run's).
    ShowWindow(window, SW_MINIMIZE);
    ASSERT_TRUE(WaitUntil([&] { return IsIconic(window) != FALSE; }));
    HANDLE second = nullptr;
    ASSERT_TRUE(app.Start(&second));
    EXPECT_EQ(FirstStart::WaitForExit(&second), 0u);
    EXPECT_TRUE(WaitUntil([&] { return !IsIconic(window); }));
    EXPECT_EQ(CountText(app.Log(), "App gestartet"), 2u);
    EXPECT_EQ(app.SettingsText(), settings);

    // Without its file the program saves a whole new one as it ends.
    ASSERT_TRUE(DeleteFileW(app.File(L"settings.ini").c_str()));
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(FirstStart::WaitForExit(&app.process), 0u);
    EXPECT_EQ(app.SettingsText(), settings);
}
