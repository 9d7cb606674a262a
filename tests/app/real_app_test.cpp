// The first start of the real MI-RU.exe with the virtual headset: the setup wizard comes before
// the main window, leads into it with the choices saved, and a cancel ends the program with
// nothing saved.
#include <gtest/gtest.h>
#include <windows.h>

#include <functional>
#include <string>

#include "record/recording_folder.h"
#include "settings/onboarding_rules.h"
#include "settings/onboarding_state.h"
#include "tests/support/test_folder.h"

namespace {

constexpr wchar_t WIDE_LINK[] =
    L"\\\\?\\usb#vid_0c45&pid_636b&mi_00#7&1a2b3c4d&0&0000#{e5323777-f976-4f5b-9b55-b94699c46e44}\\global";
constexpr wchar_t MACRO_LINK[] =
    L"\\\\?\\usb#vid_0c45&pid_636b&mi_00#7&2c4e6f81&0&0000#{e5323777-f976-4f5b-9b55-b94699c46e44}\\global";
constexpr wchar_t MIC_ENDPOINT[] = L"{0.0.1.00000000}.{8d2f6a3e-5b1c-4e7a-9f0d-3c6b2a1e4f57}";

bool WaitUntil(const std::function<bool()>& condition, int seconds = 30)
{
    for (int i = 0; i < seconds * 50 && !condition(); i++) Sleep(20);
    return condition();
}

// The user's roaming and Videos folders point into the test folder while this lives, and the
// app started from here gets the virtual headset.
struct FirstStart {
    static constexpr wchar_t key[] = L"Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\User Shell Folders";
    TestSettingsFolder folder;
    std::wstring roaming = std::wstring(folder.Path()) + L"\\roaming";
    std::wstring videos = std::wstring(folder.Path()) + L"\\videos";
    wchar_t oldRoaming[MAX_PATH] = {};
    wchar_t oldVideos[2][MAX_PATH] = {};
    HANDLE process = nullptr;

    FirstStart()
    {
        CreateDirectoryW(roaming.c_str(), nullptr);
        CreateDirectoryW(videos.c_str(), nullptr);
        Redirect(L"AppData", roaming.c_str(), oldRoaming, L"%USERPROFILE%\\AppData\\Roaming");
        // Wine's user folders are links into the Unix home: the suggested folder must not land there.
        Redirect(L"My Video", videos.c_str(), oldVideos[0], L"%USERPROFILE%\\Videos");
        Redirect(L"My Videos", videos.c_str(), oldVideos[1], L"%USERPROFILE%\\Videos");
        SetEnvironmentVariableW(L"MIRU_VIRTUAL_DEVICES", L"default");
    }
    ~FirstStart()
    {
        SetEnvironmentVariableW(L"MIRU_VIRTUAL_DEVICES", nullptr);
        Set(L"AppData", oldRoaming);
        Set(L"My Video", oldVideos[0]);
        Set(L"My Videos", oldVideos[1]);
        if (process) {
            TerminateProcess(process, 99);  // only after a failed check left it running
            CloseHandle(process);
        }
    }
    static void Redirect(const wchar_t* name, const wchar_t* value, wchar_t* old, const wchar_t* fallback)
    {
        DWORD size = MAX_PATH * sizeof(wchar_t);
        if (RegGetValueW(HKEY_CURRENT_USER, key, name, RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, nullptr, old, &size))
            wcscpy(old, fallback);
        Set(name, value);
    }
    static void Set(const wchar_t* name, const wchar_t* value)
    {
        RegSetKeyValueW(HKEY_CURRENT_USER, key, name, REG_EXPAND_SZ, value,
                        static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t)));
    }
    bool Start()
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
        process = info.hProcess;
        return true;
    }
    // The exit code, or STILL_ACTIVE when the app did not end within a minute.
    DWORD WaitForExit()
    {
        DWORD code = STILL_ACTIVE;
        if (WaitForSingleObject(process, 60000) == WAIT_OBJECT_0) GetExitCodeProcess(process, &code);
        if (code != STILL_ACTIVE) {
            CloseHandle(process);
            process = nullptr;
        }
        return code;
    }
    std::wstring File(const wchar_t* name) const { return roaming + L"\\MI-RU\\" + name; }
    std::string Log() const { return ReadFileBytes(File(L"miru-diagnose.log")); }
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

bool PrimaryEnabled(HWND wizard)
{
    return IsWindowEnabled(GetDlgItem(wizard, ID_PRIMARY)) != FALSE;
}

std::wstring PrimaryText(HWND wizard)
{
    wchar_t text[64] = {};
    GetWindowTextW(GetDlgItem(wizard, ID_PRIMARY), text, 64);
    return text;
}

// Average brightness (0 ... 255) of a 40 x 40 square at the centre of a preview box, read
// from the screen.
int PreviewBrightness(HWND wizard, int slot, COLORREF* sample)
{
    RECT client;
    GetClientRect(wizard, &client);
    const UINT dpi = GetDpiForSystem() ? GetDpiForSystem() : 96;
    const OnboardingLayout layout = OnboardingLayoutFor(static_cast<float>(client.right), static_cast<float>(client.bottom),
                                                        static_cast<float>(dpi) / 96.0f, {});
    const OnboardingBox& box = layout.previewBox[slot];
    POINT centre = {static_cast<LONG>((box.left + box.right) / 2), static_cast<LONG>((box.top + box.bottom) / 2)};
    ClientToScreen(wizard, &centre);
    HDC screen = GetDC(nullptr);
    long sum = 0;
    for (int y = -20; y < 20; y += 4)
        for (int x = -20; x < 20; x += 4) {
            const COLORREF colour = GetPixel(screen, centre.x + x, centre.y + y);
            sum += GetRValue(colour) + GetGValue(colour) + GetBValue(colour);
        }
    *sample = GetPixel(screen, centre.x, centre.y);
    ReleaseDC(nullptr, screen);
    return static_cast<int>(sum / (100 * 3));
}

std::wstring SettingsText(const FirstStart& app)
{
    const std::string bytes = ReadFileBytes(app.File(L"settings.ini"));
    if (bytes.size() < 2) return L"";
    return std::wstring(reinterpret_cast<const wchar_t*>(bytes.data() + 2), (bytes.size() - 2) / 2);
}

bool HasLine(const std::wstring& text, const std::wstring& line)
{
    return text.find(L"\r\n" + line + L"\r\n") != std::wstring::npos;
}

size_t CountText(const std::string& haystack, const std::string& needle)
{
    size_t count = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1)) count++;
    return count;
}

// Clicks the primary button until the camera page shows, adopting the suggested folder.
void GoToCameraPage(HWND wizard)
{
    for (int page = 0; page < PAGE_FOLDER; page++) Command(wizard, ID_PRIMARY);
    Command(wizard, ID_USE_SUGGESTION);
    Command(wizard, ID_PRIMARY);
}

}  // namespace

TEST(RealAppWizard, FirstStartSetsUpTheHeadsetAndOpensTheMainWindowLive)
{
    FirstStart app;
    wchar_t suggestion[MAX_PATH] = {};
    SuggestRecordingFolder(suggestion, MAX_PATH);
    ASSERT_EQ(std::wstring(suggestion), app.videos + L"\\MI-RU Aufnahmen");
    ASSERT_TRUE(app.Start());
    HWND wizard = WaitForWindow(L"MIRU_ONBOARD");
    ASSERT_NE(wizard, nullptr);
    EXPECT_EQ(FindWindowW(L"MIRU_MAIN", nullptr), nullptr);
    wchar_t title[64] = {};
    GetWindowTextW(wizard, title, 64);
    EXPECT_STREQ(title, L"MI-RU \u2013 Setup");
    EXPECT_EQ(PrimaryText(wizard), L"Let's go");
    EXPECT_FALSE(Visible(wizard, ID_BACK));

    Command(wizard, ID_PRIMARY);
    EXPECT_TRUE(Visible(wizard, ID_BACK));
    EXPECT_EQ(PrimaryText(wizard), L"Continue");
    for (int page = 1; page < PAGE_FOLDER; page++) Command(wizard, ID_PRIMARY);
    ASSERT_TRUE(Visible(wizard, ID_CHOOSE_FOLDER));
    EXPECT_FALSE(PrimaryEnabled(wizard));
    Command(wizard, ID_PRIMARY);  // refused: no folder yet
    EXPECT_TRUE(Visible(wizard, ID_CHOOSE_FOLDER));
    Command(wizard, ID_USE_SUGGESTION);
    EXPECT_TRUE(PrimaryEnabled(wizard));
    EXPECT_FALSE(Visible(wizard, ID_USE_SUGGESTION));

    Command(wizard, ID_PRIMARY);
    ASSERT_TRUE(Visible(wizard, ID_WIDE_LIST));
    EXPECT_TRUE(PrimaryEnabled(wizard));
    // Both previews show their camera: the Wide landscape and the Macro surface differ. The
    // screen is read, so the wizard stays above the windows of tests running beside this one.
    SetWindowPos(wizard, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    COLORREF wide = 0, macro = 0;
    auto showsPicture = [&](int slot, COLORREF* sample) {
        return PreviewBrightness(wizard, slot, sample) > 40 && *sample != RGB(0xEC, 0xEC, 0xEC);  // not the page
    };
    EXPECT_TRUE(WaitUntil([&] { return showsPicture(0, &wide) && showsPicture(1, &macro) && wide != macro; }))
        << "no preview pictures";
    Select(wizard, ID_MACRO_LIST, 0);  // the Wide camera for both roles
    EXPECT_FALSE(PrimaryEnabled(wizard));
    // The cameras swapped: Wide is the second camera, Macro the first.
    Select(wizard, ID_WIDE_LIST, 1);
    EXPECT_TRUE(PrimaryEnabled(wizard));

    Command(wizard, ID_PRIMARY);
    ASSERT_TRUE(Visible(wizard, ID_MICROPHONE_LIST));
    Select(wizard, ID_MICROPHONE_LIST, 1);
    Command(wizard, ID_PRIMARY);
    Command(wizard, ID_PRIMARY);
    EXPECT_EQ(PrimaryText(wizard), L"Finish setup");
    Command(wizard, ID_PRIMARY);

    HWND main = WaitForWindow(L"MIRU_MAIN");
    ASSERT_NE(main, nullptr);
    EXPECT_EQ(FindWindowW(L"MIRU_ONBOARD", nullptr), nullptr);
    const std::wstring settings = SettingsText(app);
    EXPECT_TRUE(HasLine(settings, L"didCompleteOnboarding=1")) << settings;
    EXPECT_TRUE(HasLine(settings, std::wstring(L"wideDeviceID=") + MACRO_LINK));
    EXPECT_TRUE(HasLine(settings, std::wstring(L"macroDeviceID=") + WIDE_LINK));
    EXPECT_TRUE(HasLine(settings, std::wstring(L"micDeviceID=") + MIC_ENDPOINT));
    const size_t folderAt = settings.find(L"\r\nrecordingFolder=");
    ASSERT_NE(folderAt, std::wstring::npos);
    const std::wstring folder = settings.substr(folderAt + 18, settings.find(L"\r\n", folderAt + 2) - folderAt - 18);
    EXPECT_EQ(folder, suggestion);
    const DWORD attributes = GetFileAttributesW(folder.c_str());
    EXPECT_TRUE(attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY));  // created

    EXPECT_TRUE(WaitUntil([&] { return CountText(app.Log(), "2 Kameras live \xC2\xB7 Mikrofon aktiv") == 1; }));
    const std::string log = app.Log();
    EXPECT_EQ(CountText(log, "Kamera 0 konfiguriert: HD USB Camera #2"), 1u) << log;
    EXPECT_EQ(CountText(log, "Einrichtung abgeschlossen"), 1u);
    EXPECT_EQ(CountText(log, "Aufnahmeordner angelegt: "), 1u) << log;
    PostMessageW(main, WM_CLOSE, 0, 0);
    EXPECT_EQ(app.WaitForExit(), 0u);
}

// Esc (here on the camera page, with both previews running) and the close box both cancel:
// the program ends with 0 before any main window, and no settings file is written.
TEST(RealAppWizard, CancelEndsTheProgramWithNothingSaved)
{
    for (const bool escape : {true, false}) {
        FirstStart app;
        ASSERT_TRUE(app.Start());
        HWND wizard = WaitForWindow(L"MIRU_ONBOARD");
        ASSERT_NE(wizard, nullptr);
        if (escape) {
            GoToCameraPage(wizard);
            EXPECT_TRUE(Visible(wizard, ID_WIDE_LIST));
            PostMessageW(GetDlgItem(wizard, ID_PRIMARY), WM_KEYDOWN, VK_ESCAPE, 1);
        } else {
            PostMessageW(wizard, WM_CLOSE, 0, 0);
        }
        EXPECT_EQ(app.WaitForExit(), 0u);
        EXPECT_EQ(FindWindowW(L"MIRU_MAIN", nullptr), nullptr);
        EXPECT_EQ(GetFileAttributesW(app.File(L"settings.ini").c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(CountText(app.Log(), "INFO  Einrichtung abgebrochen"), 1u) << app.Log();
    }
}
