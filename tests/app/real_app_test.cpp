// The real MI-RU.exe with the virtual headset and a fresh roaming folder: the setup wizard
// comes before the main window and leads into it with the choices saved; the program runs
// once, raises itself on a second start and saves on the way out; a cancel ends it with
// nothing saved.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>

#include "record/recording_folder.h"
#include "settings/onboarding_rules.h"
#include "settings/onboarding_state.h"
#include "tests/support/test_folder.h"
#include "tests/support/ui_wait.h"

namespace {

constexpr wchar_t WIDE_LINK[] =
    L"\\\\?\\usb#vid_0c45&pid_636b&mi_00#7&1a2b3c4d&0&0000#{e5323777-f976-4f5b-9b55-b94699c46e44}\\global";
constexpr wchar_t MACRO_LINK[] =
    L"\\\\?\\usb#vid_0c45&pid_636b&mi_00#7&2c4e6f81&0&0000#{e5323777-f976-4f5b-9b55-b94699c46e44}\\global";
constexpr wchar_t MIC_ENDPOINT[] = L"{0.0.1.00000000}.{8d2f6a3e-5b1c-4e7a-9f0d-3c6b2a1e4f57}";

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
        if (WaitForSingleObject(*process, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(*process, &code);
        if (code != STILL_ACTIVE) {
            CloseHandle(*process);
            *process = nullptr;
        }
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

HWND WaitForWindow(const wchar_t* className)
{
    HWND window = nullptr;
    WaitUntil([&] { return (window = FindWindowW(className, nullptr)) && IsWindowVisible(window); }, 60);
    return window;
}

// Commands go through the wizard's own WM_COMMAND handling; the call returns once handled.
void Command(HWND wizard, int id, int code = BN_CLICKED)
{
    DWORD_PTR ignored = 0;
    SendMessageTimeoutW(wizard, WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(GetDlgItem(wizard, id)),
                        SMTO_NORMAL, 30000, &ignored);
}

void Select(HWND wizard, int id, int index)
{
    SendMessageW(GetDlgItem(wizard, id), CB_SETCURSEL, static_cast<WPARAM>(index), 0);
    Command(wizard, id, CBN_SELCHANGE);
}

bool Visible(HWND wizard, int id)
{
    return IsWindowVisible(GetDlgItem(wizard, id)) != FALSE;
}

std::wstring PrimaryText(HWND wizard)
{
    wchar_t text[64] = {};
    GetWindowTextW(GetDlgItem(wizard, ID_PRIMARY), text, 64);
    return text;
}

bool HasLine(const std::wstring& text, const std::wstring& line)
{
    return text.find(L"\r\n" + line + L"\r\n") != std::wstring::npos;
}

}  // namespace

TEST(RealApp, FirstStartSetsUpTheHeadsetThenRunsOnceAndSavesOnTheWayOut)
{
    FirstStart app;
    wchar_t suggestion[MAX_PATH] = {};
    SuggestRecordingFolder(suggestion, MAX_PATH);
    ASSERT_EQ(std::wstring(suggestion), app.videos + L"\\MI-RU Aufnahmen");
    ASSERT_EQ(FindWindowW(L"MIRU_MAIN", nullptr), nullptr) << "another MI-RU window is open";
    ASSERT_TRUE(app.Start());
    HWND wizard = WaitForWindow(L"MIRU_ONBOARD");
    ASSERT_NE(wizard, nullptr);
    EXPECT_EQ(FindWindowW(L"MIRU_MAIN", nullptr), nullptr);
    wchar_t title[64] = {};
    GetWindowTextW(wizard, title, 64);
    EXPECT_STREQ(title, L"MI-RU \u2013 Setup");
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

    HWND window = WaitForWindow(L"MIRU_MAIN");
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(FindWindowW(L"MIRU_ONBOARD", nullptr), nullptr);
    GetWindowTextW(window, title, 64);
    EXPECT_STREQ(title, L"MI-RU");
    RECT client;
    GetClientRect(window, &client);
    const int dpi = GetDpiForSystem() ? static_cast<int>(GetDpiForSystem()) : 96;
    EXPECT_TRUE(client.right == MulDiv(1280, dpi, 96) && client.bottom == MulDiv(800, dpi, 96));
    const std::wstring settings = app.SettingsText();
    EXPECT_TRUE(HasLine(settings, L"didCompleteOnboarding=1")) << settings;
    EXPECT_TRUE(HasLine(settings, std::wstring(L"wideDeviceID=") + MACRO_LINK));
    EXPECT_TRUE(HasLine(settings, std::wstring(L"macroDeviceID=") + WIDE_LINK));
    EXPECT_TRUE(HasLine(settings, std::wstring(L"micDeviceID=") + MIC_ENDPOINT));
    EXPECT_TRUE(HasLine(settings, std::wstring(L"recordingFolder=") + suggestion));
    const DWORD attributes = GetFileAttributesW(suggestion);
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));  // created

    EXPECT_TRUE(WaitUntil([&] { return CountText(app.Log(), "2 Kameras live \xC2\xB7 Mikrofon aktiv") == 1; }));
    const std::string log = app.Log();
    EXPECT_EQ(CountText(log, "Kamera 0 konfiguriert: HD USB Camera #2"), 1u) << log;
    EXPECT_EQ(CountText(log, "Einrichtung abgeschlossen"), 1u);
    EXPECT_EQ(CountText(log, "Aufnahmeordner angelegt: "), 1u) << log;
    // The start event carries the system text.
    ASSERT_EQ(CountText(log, "App gestartet \xE2\x80\x94 Windows"), 1u) << log;
    const size_t lineStart = log.rfind('\n', log.find("App gestartet")) + 1;
    const std::string line = log.substr(lineStart, log.find('\n', lineStart) - lineStart);
    EXPECT_NE(line.find("  EVENT  "), std::string::npos) << line;
    EXPECT_NE(line.find("MI-RU App v1.1 (2)"), std::string::npos) << line;

    // A second start raises the minimised first and ends without touching settings or log.
    ShowWindow(window, SW_MINIMIZE);
    ASSERT_TRUE(WaitUntil([&] { return IsIconic(window) != FALSE; }));
    HANDLE second = nullptr;
    ASSERT_TRUE(app.Start(&second));
    EXPECT_EQ(FirstStart::WaitForExit(&second), 0u);
    EXPECT_TRUE(WaitUntil([&] { return !IsIconic(window); }));
    EXPECT_EQ(CountText(app.Log(), "App gestartet"), 1u);
    EXPECT_EQ(app.SettingsText(), settings);

    // Without its file the program saves a whole new one as it ends.
    ASSERT_TRUE(DeleteFileW(app.File(L"settings.ini").c_str()));
    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(FirstStart::WaitForExit(&app.process), 0u);
    EXPECT_TRUE(HasLine(app.SettingsText(), std::wstring(L"wideDeviceID=") + MACRO_LINK));
}

// The close box cancels (Esc is the in-process wizard's): the program ends with 0 before any
// main window, and no settings file is written.
TEST(RealApp, CancelledSetupEndsTheProgramWithNothingSaved)
{
    FirstStart app;
    ASSERT_TRUE(app.Start());
    HWND wizard = WaitForWindow(L"MIRU_ONBOARD");
    ASSERT_NE(wizard, nullptr);
    PostMessageW(wizard, WM_CLOSE, 0, 0);
    EXPECT_EQ(FirstStart::WaitForExit(&app.process), 0u);
    EXPECT_EQ(FindWindowW(L"MIRU_MAIN", nullptr), nullptr);
    EXPECT_EQ(GetFileAttributesW(app.File(L"settings.ini").c_str()), INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(CountText(app.Log(), "INFO  Einrichtung abgebrochen"), 1u) << app.Log();
}
