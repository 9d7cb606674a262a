// The settings and diagnostics windows under Wine, opened by the real main window and driven by
// the messages a user's clicks produce.
#include <gtest/gtest.h>
#include <windows.h>

#include <commctrl.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "base/app_messages.h"
#include "app/main_window.h"
#include "app/texts.h"
#include "diag/log.h"
#include "record/recorder_calls.h"
#include "settings/settings_store.h"
#include "standins/virtual_devices.h"
#include "tests/diag/log_probe.h"
#include "tests/support/ui_wait.h"

namespace {

class SecondaryWindowTest : public testing::Test {
protected:
    void SetUp() override
    {
        TextsSetLanguageForTest(0);
        VirtualDevicesInstall();
        VirtualDevicesSetNotify(false);
        ASSERT_TRUE(MainWindowRegisterClass(GetModuleHandleW(nullptr)));
        main = MainWindowCreate(GetModuleHandleW(nullptr));
        ASSERT_NE(main, nullptr);
        ShowWindow(main, SW_SHOW);
        PumpMessages();
    }
    void TearDown() override
    {
        if (IsWindow(main)) DestroyWindow(main);  // the owned windows go with it
        PumpMessages();
        EXPECT_TRUE(OwnWindows(L"MIRU_SETTINGS").empty());
        EXPECT_TRUE(OwnWindows(L"MIRU_DIAG").empty());
        UnregisterClassW(MAIN_WINDOW_CLASS, GetModuleHandleW(nullptr));
        VirtualDevicesUninstall();
    }

    // Ctrl+comma in the main window.
    HWND OpenSettingsByKey() { return PressKey(main, VK_OEM_COMMA, true), settings = OwnWindow(L"MIRU_SETTINGS"); }
    void CloseSettings() { SendMessageW(settings, WM_CLOSE, 0, 0), PumpMessages(); }
    HWND Item(int id) const { return GetDlgItem(settings, id); }
    void SelectTab(int tab) const { SendMessageW(Item(100), TCM_SETCURFOCUS, tab, 0); }
    void Click(int id) const { SendMessageW(Item(id), BM_CLICK, 0, 0); }
    bool IsChecked(int id) const { return SendMessageW(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
    void Choose(int id, int item) const { Select(settings, id, item); }
    LRESULT Chosen(int id) const { return SendMessageW(Item(id), CB_GETCURSEL, 0, 0); }
    std::wstring Stored(const wchar_t* key) const
    {
        wchar_t value[600] = {};
        return GetPrivateProfileStringW(L"MIRU", key, L"<none>", value, 600, folder.File(L"settings.ini").c_str()), value;
    }
    // What a restart of the program would see.
    static void Reload() { SettingsResetDefaults(), SettingsLoad(); }

    LogSandbox folder;
    HWND main = nullptr;
    HWND settings = nullptr;
};

TEST_F(SecondaryWindowTest, EveryChoiceIsSavedAtOnceAndComesBackAtTheNextOpen)
{
    VirtualDeviceAdd(VirtualCamera(L"cam-a", L"Camera A", SceneKind::Wide));
    VirtualDeviceAdd(VirtualCamera(L"cam-b", L"Camera B", SceneKind::Macro));
    VirtualDeviceAdd(VirtualMicrophone(L"mic-1", L"Headset Mic", SceneKind::Tone));
    ASSERT_NE(OpenSettingsByKey(), nullptr);
    EXPECT_EQ(TextOf(settings), L"Settings");
    // The practice text as typed (the quoting for the file is checked with the settings store).
    SetFocus(Item(116));
    SetWindowTextW(Item(116), L"Zeile\r\nZahn\u00e4rzte\t\"am Markt\" ");  // EN_CHANGE, as typing sends it
    EXPECT_EQ(TextOf(Item(116)), L"ZeileZahn\u00e4rzte\"am Markt\" ");
    Reload();
    EXPECT_EQ(std::wstring(Settings.praxisText), L"ZeileZahn\u00e4rzte\"am Markt\" ");

    // Each check box and radio button saves its key at once; the developer boxes need their
    // section open.
    SelectTab(2);
    Click(136);
    struct Choice { int tab, id; const wchar_t *key, *stored; };
    for (const Choice& c : {Choice{0, 115, L"watermarkOn", L"0"}, {2, 134, L"stabilizeMacro", L"1"},
                            {2, 140, L"devShowFPS", L"1"}, {2, 141, L"devStabSliders", L"1"}, {2, 142, L"devStabFrame", L"1"},
                            {2, 143, L"devStabDiag", L"1"}, {0, 112, L"appearanceMode", L"2"}, {1, 121, L"resolutionHigh", L"1"}}) {
        SelectTab(c.tab);
        Click(c.id);
        EXPECT_EQ(Stored(c.key), c.stored) << c.key;
    }
    EXPECT_FALSE(IsWindowEnabled(Item(116)));  // the watermark is off: its text cannot be edited
    SelectTab(2);
    ASSERT_EQ(SendMessageW(Item(130), CB_GETCOUNT, 0, 0), 2);
    Choose(130, 1);
    Choose(131, 1);
    EXPECT_EQ(Stored(L"wideDeviceID") + L"|" + Stored(L"macroDeviceID"), L"cam-b|cam-b");
    EXPECT_EQ(TextOf(Item(201)), L"Wide and Macro are the same camera.");
    Choose(130, 0);
    EXPECT_EQ(TextOf(Item(201)), L"");
    SelectTab(3);
    ASSERT_EQ(SendMessageW(Item(180), CB_GETCOUNT, 0, 0), 2);
    Choose(180, 1);
    EXPECT_EQ(Stored(L"micDeviceID"), L"mic-1");
    CloseSettings();

    Reload();
    ASSERT_NE(OpenSettingsByKey(), nullptr);
    EXPECT_FALSE(IsChecked(115));
    EXPECT_TRUE(IsChecked(134) && IsChecked(140) && IsChecked(141) && IsChecked(142) && IsChecked(143));
    EXPECT_TRUE(IsChecked(112) && !IsChecked(110) && IsChecked(121) && !IsChecked(120));
    EXPECT_TRUE(Chosen(130) == 0 && Chosen(131) == 1 && Chosen(180) == 1);

    // Swapping exchanges the two identifiers in the file.
    SelectTab(2);
    Click(132);
    EXPECT_EQ(Stored(L"wideDeviceID") + L"|" + Stored(L"macroDeviceID"), L"cam-b|cam-a");
    EXPECT_EQ(Chosen(130), 1);
}

// A folder chosen while a recording runs is saved at once; the window says that it is for the
// next recording, until that one has ended.
TEST_F(SecondaryWindowTest, AFolderChosenDuringARecordingIsForTheNextOne)
{
    static bool recording = true;
    RecorderCalls recorder = RecorderInUse();
    recorder.isActive = [] { return recording; };
    RecorderSetForTest(&recorder);
    const std::wstring next = std::wstring(folder.Path()) + L"\\next";
    CreateDirectoryW(next.c_str(), nullptr);
    ASSERT_NE(OpenSettingsByKey(), nullptr);
    SelectTab(1);
    EXPECT_EQ(TextOf(Item(202)), L"");
    std::thread pick = PickFolder(next);
    Click(126);  // returns once the picker is answered
    pick.join();
    EXPECT_EQ(Stored(L"recordingFolder"), next);
    EXPECT_TRUE(IsWindowVisible(Item(202)));
    EXPECT_EQ(TextOf(Item(202)), L"Applies from the next recording \u2014 the running one is saved in the previous folder.");
    recording = false;
    SendMessageW(settings, WM_ACTIVATE, WA_ACTIVE, 0);
    EXPECT_EQ(TextOf(Item(202)), L"");
    RecorderSetForTest(nullptr);
}

TEST_F(SecondaryWindowTest, SlidersSaveAtTheEndOfADragAndResetRestoresTheDefaults)
{
    ASSERT_NE(OpenSettingsByKey(), nullptr);
    SelectTab(2);
    EXPECT_FALSE(IsWindowVisible(Item(150)));
    Click(136);
    EXPECT_TRUE(IsWindowVisible(Item(150)) && IsWindowVisible(Item(170)));
    EXPECT_EQ(TextOf(Item(136)), L"\u25be Developer options");

    const int maxima[4] = {80, 57, 35, 30}, defaults[4] = {5, 30, 15, 0};
    auto track = [&](int row, UINT message) { return SendMessageW(Item(150 + row), message, 0, 0); };
    for (int row = 0; row < 4; row++)
        EXPECT_TRUE(track(row, TBM_GETRANGEMIN) == 0 && track(row, TBM_GETRANGEMAX) == maxima[row] &&
                    track(row, TBM_GETPOS) == defaults[row]) << row;
    // The thumb moved to `position` and the slider's notification `code`.
    auto drag = [&](int row, int position, int code) {
        SendMessageW(Item(150 + row), TBM_SETPOS, TRUE, position);
        SendMessageW(settings, WM_HSCROLL, MAKEWPARAM(code, position), reinterpret_cast<LPARAM>(Item(150 + row)));
    };
    drag(1, 57, TB_THUMBTRACK);
    EXPECT_DOUBLE_EQ(Settings.stabSmoothing, 0.985);  // live during the drag
    EXPECT_EQ(TextOf(Item(211)), L"0.985");
    EXPECT_EQ(Stored(L"stabSmoothing"), L"<none>");  // not yet saved
    drag(1, 57, TB_ENDTRACK);
    EXPECT_EQ(Stored(L"stabSmoothing"), L"0.985000");
    drag(0, 80, TB_ENDTRACK);
    EXPECT_TRUE(Stored(L"stabGain") == L"8.000000" && TextOf(Item(210)) == L"8.0");

    Click(170);
    const wchar_t* texts[4] = {L"0.5", L"0.850", L"1.15", L"0.00"};
    for (int row = 0; row < 4; row++) EXPECT_TRUE(track(row, TBM_GETPOS) == defaults[row] && TextOf(Item(210 + row)) == texts[row]);
    EXPECT_EQ(Stored(L"stabGain"), L"0.500000");
    EXPECT_EQ(Stored(L"stabSmoothing"), L"0.850000");

    // The section closes at every opening.
    CloseSettings();
    ASSERT_NE(OpenSettingsByKey(), nullptr);
    SelectTab(2);
    EXPECT_FALSE(IsWindowVisible(Item(150)));
    EXPECT_EQ(TextOf(Item(136)), L"\u25b8 Developer options");
}

TEST_F(SecondaryWindowTest, OpeningTwiceRaisesTheOneWindowAndRunSetupAgainSaysSoOnlyWhenSaved)
{
    Settings.didCompleteOnboarding = true;
    ASSERT_NE(OpenSettingsByKey(), nullptr);
    SelectTab(1);
    ASSERT_EQ(OpenSettingsByKey(), settings);
    EXPECT_EQ(OwnWindows(L"MIRU_SETTINGS").size(), 1u);
    EXPECT_EQ(TextOf(Item(200)), L"\u2014 not set \u2014");
    EXPECT_FALSE(IsWindowEnabled(Item(127)));

    SelectTab(2);
    BoxSeen seen;
    std::thread answer = AnswerBox(&seen);
    Click(135);  // returns when the box was answered
    answer.join();
    EXPECT_EQ(seen.caption, L"Setup");
    EXPECT_EQ(seen.text, L"Setup will run the next time MI-RU starts.");
    EXPECT_EQ(Stored(L"didCompleteOnboarding"), L"0");
    EXPECT_EQ(LastLog(), L"EVENT Einrichtung zur\u00fcckgesetzt \u2014 startet beim n\u00e4chsten Start");

    // A settings folder that cannot be written: the user hears of the failure, not of success.
    Settings.didCompleteOnboarding = true;
    SettingsSetFolderOverride(L"C:\\miru-no-such-folder\\deeper");
    std::thread failure = AnswerBox(&seen);
    Click(135);
    failure.join();
    SettingsSetFolderOverride(folder.Path());
    EXPECT_EQ(seen.text, L"The settings could not be saved. The diagnostics log has the details.");
    EXPECT_TRUE(Settings.didCompleteOnboarding);

    // Esc closes the window as it closes a dialog (the message loop hands keys to the dialog manager).
    MSG escape = {Item(135), WM_KEYDOWN, VK_ESCAPE, 0x00010001, 0, {}};
    EXPECT_TRUE(IsDialogMessageW(settings, &escape));
    EXPECT_FALSE(IsWindow(settings));
}

// ---- Diagnostics ----

std::wstring ListText(HWND list, int row, int column)
{
    wchar_t text[600] = {};
    LVITEMW item{};
    item.iSubItem = column, item.pszText = text, item.cchTextMax = 600;
    SendMessageW(list, LVM_GETITEMTEXTW, row, reinterpret_cast<LPARAM>(&item));
    return text;
}

std::vector<std::wstring> ListRows(HWND list)
{
    std::vector<std::wstring> rows;
    const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int i = 0; i < count; i++) rows.push_back(ListText(list, i, 1));
    return rows;
}

std::wstring ClipboardText()
{
    if (!OpenClipboard(nullptr)) return L"<closed>";
    HANDLE data = GetClipboardData(CF_UNICODETEXT);
    const auto* chars = data ? static_cast<const wchar_t*>(GlobalLock(data)) : nullptr;
    const std::wstring text = chars ? chars : L"";
    if (chars) GlobalUnlock(data);
    CloseClipboard();
    return text;
}

class DiagnosticsWindowTest : public SecondaryWindowTest {
protected:
    HWND OpenDiagnosticsFromSettings()
    {
        if (OpenSettingsByKey()) SelectTab(4), Click(192);
        return diagnostics = OwnWindow(L"MIRU_DIAG");
    }
    HWND DiagItem(int id) const { return GetDlgItem(diagnostics, id); }
    HWND diagnostics = nullptr;
};

TEST_F(DiagnosticsWindowTest, ShowsNewestFirstFiltersCopiesAndClears)
{
    const std::pair<uint32_t, const wchar_t*> written[] = {
        {LOG_INFO, L"eins"}, {LOG_WARN, L"zwei"}, {LOG_ERROR, L"drei"}, {LOG_EVENT, L"vier"}, {LOG_WARN, L"f\u00fcnf"}};
    for (const auto& [level, text] : written) LogWrite(level, L"%ls", text);
    ASSERT_NE(OpenDiagnosticsFromSettings(), nullptr);
    EXPECT_EQ(GetWindow(diagnostics, GW_OWNER), settings);
    HWND list = DiagItem(130);
    EXPECT_EQ(ListRows(list), (std::vector<std::wstring>{L"f\u00fcnf", L"vier", L"drei", L"zwei", L"eins"}));
    EXPECT_EQ(TextOf(DiagItem(142)), L"Log (5) \u2014 newest first");
    wchar_t system[256];
    SystemVersionText(system);
    EXPECT_EQ(TextOf(DiagItem(140)), system);

    const std::vector<std::wstring> byLevel[4] = {
        {L"eins"}, {L"vier"}, {L"f\u00fcnf", L"zwei"}, {L"drei"}};
    for (int level = 0; level < 4; level++) {
        SendMessageW(DiagItem(101 + level), BM_CLICK, 0, 0);
        EXPECT_EQ(ListRows(list), byLevel[level]);
        EXPECT_EQ(TextOf(DiagItem(142)), L"Log (" + std::to_wstring(byLevel[level].size()) + L") \u2014 newest first");
    }

    // A new entry arrives through the main window and shows without a click; the filter stays.
    SendMessageW(DiagItem(103), BM_CLICK, 0, 0);
    LogWrite(LOG_WARN, L"sechs");
    EXPECT_TRUE(WaitUntil([&] { return ListRows(list).size() == 3; }));
    EXPECT_EQ(ListText(list, 0, 1), L"sechs");
    EXPECT_EQ(ListText(list, 0, 0).size(), 12u);  // hh:mm:ss.mmm

    // Copy takes the export of every entry, whatever the filter (its creation time aside).
    SendMessageW(DiagItem(120), BM_CLICK, 0, 0);
    wchar_t* exported = LogExportText();
    ASSERT_NE(exported, nullptr);
    auto withoutTime = [](std::wstring text) { return text.erase(text.find(L"Erstellt: ") + 10, 19); };
    EXPECT_EQ(withoutTime(ClipboardText()), withoutTime(exported));
    free(exported);
    EXPECT_TRUE(IsWindowVisible(DiagItem(143)));

    SendMessageW(DiagItem(100), BM_CLICK, 0, 0);
    SendMessageW(DiagItem(121), BM_CLICK, 0, 0);
    EXPECT_EQ(ListRows(list), std::vector<std::wstring>{L"Protokoll geleert"});
    EXPECT_EQ(LastLog(), L"EVENT Protokoll geleert");
    EXPECT_EQ(TextOf(DiagItem(142)), L"Log (1) \u2014 newest first");
    const std::string file = ReadFileBytes(folder.File(L"miru-diagnose.log"));
    EXPECT_TRUE(CountText(file, "Protokoll geleert") == 1 && file.find("eins") == std::string::npos) << file;
}

}  // namespace
