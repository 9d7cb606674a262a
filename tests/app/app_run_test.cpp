// Start-up and shutdown: the real MI-RU.exe under Wine (single instance, window, settings and
// log), the failing start-up steps run in this process, and the executable's resources.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "app/app_messages.h"
#include "app/main_window.h"
#include "app/startup.h"
#include "app/texts.h"
#include "app/ui_state.h"
#include "diag/log.h"
#include "settings/settings_store.h"
#include "tests/app/shell_test_support.h"
#include "tests/support/test_folder.h"

namespace {

constexpr wchar_t SHELL_FOLDERS[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";

// Points the prefix user's roaming application data folder (where the app keeps its
// settings and log) at a test folder while it lives, so a started MI-RU.exe never touches
// the user's own files.
class RoamingRedirect {
public:
    explicit RoamingRedirect(const std::wstring& folder)
    {
        DWORD size = sizeof(old_);
        hadOld_ = RegGetValueW(HKEY_CURRENT_USER, SHELL_FOLDERS, L"AppData", RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND,
                               nullptr, old_, &size) == ERROR_SUCCESS;
        Set(folder.c_str());
    }
    ~RoamingRedirect() { Set(hadOld_ ? old_ : L"%USERPROFILE%\\AppData\\Roaming"); }

private:
    static void Set(const wchar_t* value)
    {
        RegSetKeyValueW(HKEY_CURRENT_USER, SHELL_FOLDERS, L"AppData", REG_EXPAND_SZ, value,
                        static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
    }
    wchar_t old_[MAX_PATH] = {};
    bool hadOld_ = false;
};

std::wstring AppPath()
{
    wchar_t unixPath[MAX_PATH] = {};
    GetEnvironmentVariableW(L"MIRU_EXE", unixPath, MAX_PATH);
    std::wstring path = L"Z:";
    for (const wchar_t* c = unixPath; *c; c++) path += *c == L'/' ? L'\\' : *c;
    return path;
}

HANDLE StartApp()
{
    std::wstring path = AppPath();
    STARTUPINFOW startup = {};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process = {};
    if (!CreateProcessW(path.c_str(), nullptr, nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return nullptr;
    CloseHandle(process.hThread);
    return process.hProcess;
}

// The exit code, or STILL_ACTIVE when the process did not end within a minute.
DWORD WaitForExit(HANDLE process)
{
    DWORD code = STILL_ACTIVE;
    if (WaitForSingleObject(process, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(process, &code);
    return code;
}

HWND WaitForMainWindow()
{
    HWND window = nullptr;
    WaitUntil([&] {
        window = FindWindowW(MAIN_WINDOW_CLASS, nullptr);
        return window && IsWindowVisible(window);
    }, 60);
    return window;
}

size_t CountText(const std::string& haystack, const std::string& needle)
{
    size_t count = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) count++;
    return count;
}

class RealAppTest : public testing::Test {
protected:
    void SetUp() override
    {
        roaming = std::wstring(folder.Path()) + L"\\roaming";
        ASSERT_TRUE(CreateDirectoryW(roaming.c_str(), nullptr));
        redirect = std::make_unique<RoamingRedirect>(roaming);
        ASSERT_EQ(FindWindowW(MAIN_WINDOW_CLASS, nullptr), nullptr) << "another MI-RU window is open";
    }
    std::wstring AppFile(const wchar_t* name) const { return roaming + L"\\MI-RU\\" + name; }

    TestSettingsFolder folder;
    std::wstring roaming;
    std::unique_ptr<RoamingRedirect> redirect;
};

TEST_F(RealAppTest, StartsWithItsWindowLogsAndClosesCleanly)
{
    HANDLE app = StartApp();
    ASSERT_NE(app, nullptr) << "cannot start " << std::string(AppPath().begin(), AppPath().end());
    HWND window = WaitForMainWindow();
    ASSERT_NE(window, nullptr);

    wchar_t title[64] = {};
    GetWindowTextW(window, title, 64);
    EXPECT_STREQ(title, L"MI-RU");
    RECT client;
    GetClientRect(window, &client);
    const UINT dpi = GetDpiForSystem() ? GetDpiForSystem() : 96;
    EXPECT_EQ(client.right, MulDiv(1280, static_cast<int>(dpi), 96));
    EXPECT_EQ(client.bottom, MulDiv(800, static_cast<int>(dpi), 96));

    // The start event carries the system text.
    const std::string log = ReadFileBytes(AppFile(L"miru-diagnose.log"));
    ASSERT_EQ(CountText(log, "App gestartet \xE2\x80\x94 Windows"), 1u) << log;
    const size_t lineStart = log.rfind('\n', log.find("App gestartet")) + 1;
    const std::string line = log.substr(lineStart, log.find('\n', lineStart) - lineStart);
    EXPECT_NE(line.find("EVENT"), std::string::npos) << line;
    EXPECT_NE(line.find("MI-RU App v1.1 (2)"), std::string::npos) << line;

    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForExit(app), 0u);
    CloseHandle(app);
    const std::string settings = ReadFileBytes(AppFile(L"settings.ini"));
    EXPECT_EQ(settings.substr(0, 2), "\xFF\xFE");  // saved on the way out (UTF-16LE)
    EXPECT_GT(settings.size(), 100u);
}

TEST_F(RealAppTest, SecondStartRaisesTheMinimisedFirstAndTouchesNothing)
{
    HANDLE first = StartApp();
    ASSERT_NE(first, nullptr);
    HWND window = WaitForMainWindow();
    ASSERT_NE(window, nullptr);
    ShowWindow(window, SW_MINIMIZE);
    ASSERT_TRUE(WaitUntil([&] { return IsIconic(window) != FALSE; }));
    const std::string settingsBefore = ReadFileBytes(AppFile(L"settings.ini"));
    const size_t startsBefore = CountText(ReadFileBytes(AppFile(L"miru-diagnose.log")), "App gestartet");
    EXPECT_EQ(startsBefore, 1u);

    HANDLE second = StartApp();
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(WaitForExit(second), 0u);
    CloseHandle(second);
    EXPECT_TRUE(WaitUntil([&] { return !IsIconic(window); }));
    EXPECT_EQ(CountText(ReadFileBytes(AppFile(L"miru-diagnose.log")), "App gestartet"), startsBefore);
    EXPECT_EQ(ReadFileBytes(AppFile(L"settings.ini")), settingsBefore);

    PostMessageW(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitForExit(first), 0u);
    CloseHandle(first);
}

// Start-up run in this process with some steps replaced.
class StartupTest : public testing::Test {
protected:
    void SetUp() override
    {
        TextsSetLanguageForTest(0);
        PumpMessages();
        Settings.didCompleteOnboarding = true;  // the first run is not under test here
        SettingsSave();
    }
    void TearDown() override
    {
        AppSetStartupHooksForTest(nullptr);
        UnregisterClassW(MAIN_WINDOW_CLASS, GetModuleHandleW(nullptr));
        PumpMessages();
    }
    int Run(const AppStartupHooks& hooks)
    {
        AppSetStartupHooksForTest(&hooks);
        return AppRun(GetModuleHandleW(nullptr), SW_SHOWNORMAL);
    }

    TestSettingsFolder folder;
};

TEST_F(StartupTest, RendererFailureShowsTheErrorBoxAndEndsWithOne)
{
    DeleteFileW(folder.File(L"settings.ini").c_str());
    BoxSeen seen;
    std::thread answer = AnswerBox(L"MI-RU", IDOK, &seen);
    const int exitCode = Run({nullptr, [](HWND) { return false; }});
    answer.join();
    EXPECT_EQ(exitCode, 1);
    EXPECT_TRUE(seen.found);
    EXPECT_EQ(seen.owner, nullptr);
    EXPECT_EQ(seen.text, L"Graphics output could not be initialized. Please update the graphics driver and "
                         L"start the app again.");
    EXPECT_EQ(CountLogged(LOG_ERROR, L"Renderer konnte nicht initialisiert werden \u2014 App wird beendet"), 1);
    EXPECT_EQ(FindWindowW(MAIN_WINDOW_CLASS, nullptr), nullptr);
    EXPECT_EQ(mainWindow, nullptr);
    EXPECT_FALSE(ReadFileBytes(folder.File(L"settings.ini")).empty());  // the shutdown saved
}

TEST_F(StartupTest, CancelledWizardEndsWithZeroBeforeAnyWindow)
{
    Settings.didCompleteOnboarding = false;
    SettingsSave();
    static int runs;
    runs = 0;
    // The first run "finishes" without setting the flag, so the wizard comes again.
    const int exitCode = Run({[] { return ++runs == 1; }, nullptr});
    EXPECT_EQ(exitCode, 0);
    EXPECT_EQ(runs, 2);
    WNDCLASSEXW info = {};
    info.cbSize = sizeof(info);
    EXPECT_FALSE(GetClassInfoExW(GetModuleHandleW(nullptr), MAIN_WINDOW_CLASS, &info));
    EXPECT_FALSE(Settings.didCompleteOnboarding);
}

TEST_F(StartupTest, TakenWindowClassEndsWithOne)
{
    WNDCLASSEXW taken = {};
    taken.cbSize = sizeof(taken);
    taken.lpfnWndProc = DefWindowProcW;
    taken.hInstance = GetModuleHandleW(nullptr);
    taken.lpszClassName = MAIN_WINDOW_CLASS;
    ASSERT_TRUE(RegisterClassExW(&taken));
    EXPECT_EQ(Run({}), 1);
    EXPECT_EQ(CountLogged(LOG_ERROR, L"Hauptfenster-Klasse konnte nicht registriert werden (Fehler 1410)"), 1);
}

TEST_F(StartupTest, UnreachableRecordingFolderIsOfferedAndNoKeepsIt)
{
    const wchar_t* gone = L"Q:\\removed drive\\MI-RU Aufnahmen";
    wcscpy(Settings.recordingFolder, gone);
    SettingsSave();
    BoxSeen seen;
    std::thread user([&] {
        AnswerBoxNow(L"Recording folder not found", IDNO, &seen);
        HWND window = nullptr;
        for (int i = 0; i < 1500 && !(window = FindWindowW(MAIN_WINDOW_CLASS, nullptr)); i++) Sleep(20);
        PostMessageW(window, WM_CLOSE, 0, 0);
    });
    const int exitCode = Run({});
    user.join();
    EXPECT_EQ(exitCode, 0);
    ASSERT_TRUE(seen.found);
    EXPECT_NE(seen.owner, nullptr);
    EXPECT_NE(seen.text.find(L"Choose a new folder now?"), std::wstring::npos);
    EXPECT_EQ(CountLogged(LOG_WARN, L"Aufnahmeordner nicht erreichbar (externe Platte entfernt?)"), 1);
    EXPECT_STREQ(Settings.recordingFolder, gone);
    EXPECT_STREQ(UiState.freeSpaceText, L"");
}

TEST(AppResources, ManifestVersionIconAndFontAreInTheExecutable)
{
    const std::wstring path = AppPath();
    HMODULE exe = LoadLibraryExW(path.c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
    ASSERT_NE(exe, nullptr);
    auto bytes = [&](LPCWSTR name, LPCWSTR type) {
        HRSRC found = FindResourceW(exe, name, type);
        if (!found) return std::string();
        const char* data = static_cast<const char*>(LockResource(LoadResource(exe, found)));
        return std::string(data, SizeofResource(exe, found));
    };

    const std::string manifest = bytes(MAKEINTRESOURCEW(1), RT_MANIFEST);
    for (const char* entry :
         {"name=\"MIRU.MIRU.Windows\"", "version=\"1.0.0.1\"", "Microsoft.Windows.Common-Controls",
          "version=\"6.0.0.0\"", "6595b64144ccf1df", "level=\"asInvoker\"", "uiAccess=\"false\"",
          ">true/pm<", ">PerMonitorV2, PerMonitor<", "{8e0f7a12-bfb3-4fe8-b9a5-48fd50a15a9a}"})
        EXPECT_NE(manifest.find(entry), std::string::npos) << entry;

    // Icon group 101: seven 32-bit images; a width byte of 0 means 256.
    const std::string group = bytes(MAKEINTRESOURCEW(101), RT_GROUP_ICON);
    ASSERT_GE(group.size(), 6u);
    const int count = static_cast<unsigned char>(group[4]);
    ASSERT_EQ(count, 7);
    ASSERT_EQ(group.size(), 6u + 14u * count);
    std::vector<int> sizes;
    for (int i = 0; i < count; i++) {
        const int width = static_cast<unsigned char>(group[6 + 14 * i]);
        sizes.push_back(width == 0 ? 256 : width);
    }
    EXPECT_EQ(sizes, (std::vector<int>{16, 20, 24, 32, 48, 64, 256}));

    const std::string font = bytes(MAKEINTRESOURCEW(201), RT_RCDATA);
    ASSERT_GT(font.size(), 12u);
    EXPECT_EQ(font.substr(0, 4), std::string("\0\1\0\0", 4));  // TrueType outlines
    FreeLibrary(exe);

    DWORD handle = 0;
    std::vector<char> version(GetFileVersionInfoSizeW(path.c_str(), &handle));
    ASSERT_FALSE(version.empty());
    ASSERT_TRUE(GetFileVersionInfoW(path.c_str(), 0, static_cast<DWORD>(version.size()), version.data()));
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueW(version.data(), L"\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0x00010001u);
    EXPECT_EQ(fixed->dwFileVersionLS, 0x00000002u);
    auto text = [&](const wchar_t* key) {
        wchar_t* value = nullptr;
        std::wstring query = std::wstring(L"\\StringFileInfo\\040904B0\\") + key;
        if (!VerQueryValueW(version.data(), query.c_str(), reinterpret_cast<void**>(&value), &length)) return std::wstring();
        return std::wstring(value);
    };
    EXPECT_EQ(text(L"ProductVersion"), L"1.1");
    EXPECT_EQ(text(L"FileDescription"), L"MI-RU");
    EXPECT_EQ(text(L"InternalName"), L"MI-RU");
    EXPECT_EQ(text(L"ProductName"), L"MI-RU");
    EXPECT_EQ(text(L"OriginalFilename"), L"MI-RU.exe");
}

}  // namespace
