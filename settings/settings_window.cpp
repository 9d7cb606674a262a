#include "settings/settings_window.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cmath>
#include <cwchar>

#include "base/app_messages.h"
#include "base/text_copy.h"
#include "app/texts.h"
#include "base/tool_window.h"
#include "capture/device_list.h"
#include "diag/diag_window.h"
#include "diag/log.h"
#include "frames/stabilizer.h"
#include "record/recorder_calls.h"
#include "record/recording_folder.h"
#include "settings/praxis_text.h"
#include "settings/settings_controls.h"
#include "settings/settings_store.h"
#include "settings/settings_texts.h"
#include "settings/stab_sliders.h"

namespace {

constexpr const wchar_t* kClassName = L"MIRU_SETTINGS";
constexpr DWORD kStyle = WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
constexpr int kClientWidth = 560;
constexpr int kClientHeight = 520;
constexpr COLORREF kRed = 0x3A45FF;
constexpr COLORREF kAmber = 0x3F93C4;


HWND Item(int id)
{
    return GetDlgItem(SettingsWindow.window, id);
}

bool Checked(int id)
{
    return SendMessageW(Item(id), BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void SetChecked(int id, bool on)
{
    SendMessageW(Item(id), BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

// A camera or microphone choice takes effect through the main window, which owns the cameras.
void RequestCameraRestart()
{
    if (HWND window = AppWindow()) PostMessageW(window, WM_APP_RESTART_CAMERAS, 0, 0);
}

void UpdateSameCameraWarning()
{
    const bool same = Settings.wideDeviceID[0] && wcscmp(Settings.wideDeviceID, Settings.macroDeviceID) == 0;
    SetWindowTextW(Item(SID_SAME_CAMERA),
                   same ? PickText(L"Wide und Macro sind dieselbe Kamera.", L"Wide and Macro are the same camera.")
                        : L"");
}

void UpdateFolderLine()
{
    const bool set = Settings.recordingFolder[0] != 0;
    SetWindowTextW(Item(SID_FOLDER_LINE),
                   set ? Settings.recordingFolder : PickText(L"\u2014 nicht gesetzt \u2014", L"\u2014 not set \u2014"));
    EnableWindow(Item(SID_OPEN_FOLDER), set);
}

// A recording keeps the folder it started with: a change made meanwhile is for the next one.
// The note stays while that recording runs.
void UpdateFolderNote(bool changed)
{
    const bool running = RecorderInUse().isActive();
    if (changed && running)
        SetWindowTextW(Item(SID_FOLDER_NOTE),
                       PickText(L"Gilt ab der n\u00e4chsten Aufnahme \u2014 die laufende wird im bisherigen Ordner "
                                L"gespeichert.",
                                L"Applies from the next recording \u2014 the running one is saved in the previous "
                                L"folder."));
    else if (!running)
        SetWindowTextW(Item(SID_FOLDER_NOTE), L"");
}

void UpdateSlider(int32_t row)
{
    const StabSliderRow& slider = STAB_SLIDERS[row];
    const double value = *StabSliderField(Settings, row);
    SendMessageW(Item(SID_SLIDER + row), TBM_SETPOS, TRUE, StabSliderPosition(slider, value));
    wchar_t text[32];
    StabSliderFormat(slider, value, text, 32);
    SetWindowTextW(Item(SID_SLIDER_VALUE + row), text);
}

void FillCameraCombo(int id, const wchar_t* selectedId)
{
    HWND combo = Item(id);
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    int selected = -1;
    for (int32_t i = 0; i < SettingsWindow.cameraCount; i++) {
        const CaptureDevice& device = SettingsWindow.cameras[i];
        const LRESULT item = SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(device.displayName));
        if (item < 0) continue;
        SendMessageW(combo, CB_SETITEMDATA, item, i);
        if (selectedId[0] && wcscmp(device.id, selectedId) == 0) selected = static_cast<int>(item);
    }
    SendMessageW(combo, CB_SETCURSEL, selected, 0);
}

void RefreshDevices()
{
    SettingsWindowState& s = SettingsWindow;
    s.cameraCount = std::max(CaptureListCameras(s.cameras, CAPTURE_LIST_CAPACITY), 0);
    s.microphoneCount = std::max(CaptureListMicrophones(s.microphones, CAPTURE_LIST_CAPACITY), 0);
    FillCameraCombo(SID_WIDE, Settings.wideDeviceID);
    FillCameraCombo(SID_MACRO, Settings.macroDeviceID);

    HWND combo = Item(SID_MICROPHONE);
    SendMessageW(combo, CB_RESETCONTENT, 0, 0);
    const LRESULT none = SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(PickText(L"Kein Ton", L"No audio")));
    SendMessageW(combo, CB_SETITEMDATA, none, static_cast<LPARAM>(-1));
    int selected = Settings.micDeviceID[0] ? -1 : static_cast<int>(none);
    for (int32_t i = 0; i < s.microphoneCount; i++) {
        const LRESULT item =
            SendMessageW(combo, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(s.microphones[i].displayName));
        if (item < 0) continue;
        SendMessageW(combo, CB_SETITEMDATA, item, i);
        if (Settings.micDeviceID[0] && wcscmp(s.microphones[i].id, Settings.micDeviceID) == 0)
            selected = static_cast<int>(item);
    }
    SendMessageW(combo, CB_SETCURSEL, selected, 0);
    UpdateSameCameraWarning();
}

void CopyValuesIntoControls()
{
    SettingsWindowState& s = SettingsWindow;
    s.updating = true;
    const int32_t mode = Settings.appearanceMode;
    const int appearance = SID_APPEARANCE_AUTO + (mode >= 0 && mode <= 2 ? mode : 0);
    for (int id = SID_APPEARANCE_AUTO; id <= SID_APPEARANCE_DARK; id++) SetChecked(id, id == appearance);
    SetChecked(SID_WATERMARK, Settings.watermarkOn);
    HWND praxis = Item(SID_PRAXIS);
    if (GetFocus() != praxis) SetWindowTextW(praxis, Settings.praxisText);
    EnableWindow(praxis, Settings.watermarkOn);
    SetChecked(SID_RES_FULL_HD, !Settings.resolutionHigh);
    SetChecked(SID_RES_HIGH, Settings.resolutionHigh);
    UpdateFolderLine();
    UpdateFolderNote(false);
    SetChecked(SID_STABILIZE, Settings.stabilizeMacro);
    const bool developer[4] = {Settings.devShowFPS, Settings.devStabSliders, Settings.devStabFrame,
                               Settings.devStabDiag};
    for (int i = 0; i < 4; i++) SetChecked(SID_DEV_FPS + i, developer[i]);
    for (int32_t row = 0; row < STAB_SLIDER_COUNT; row++) UpdateSlider(row);
    UpdateSameCameraWarning();
    s.updating = false;
}

// Saves the record; a failure is logged by the store and shown here.
bool SaveOrTell()
{
    if (SettingsSave()) return true;
    MessageBoxW(SettingsWindow.window,
                PickText(L"Die Einstellungen konnten nicht gespeichert werden. Details stehen im Diagnose-Protokoll.",
                         L"The settings could not be saved. The diagnostics log has the details."),
                PickText(L"Einstellungen", L"Settings"), MB_OK | MB_ICONERROR);
    return false;
}

void PraxisTextChanged(bool focusRequired)
{
    HWND edit = Item(SID_PRAXIS);
    if (SettingsWindow.updating || (focusRequired && GetFocus() != edit)) return;
    wchar_t text[SETTINGS_PRAXIS_CAPACITY];
    GetWindowTextW(edit, text, SETTINGS_PRAXIS_CAPACITY);
    if (PraxisTextStrip(text)) {
        // Pasted line breaks and tabs cannot be stored: the edit shows what is kept.
        SettingsWindow.updating = true;
        SetWindowTextW(edit, text);
        SendMessageW(edit, EM_SETSEL, SETTINGS_PRAXIS_CAPACITY, SETTINGS_PRAXIS_CAPACITY);
        SettingsWindow.updating = false;
    }
    if (wcscmp(text, Settings.praxisText) == 0) return;
    CopyTextCut(Settings.praxisText, SETTINGS_PRAXIS_CAPACITY, text);
    SettingsSave();
}

void CameraChosen(int id)
{
    HWND combo = Item(id);
    const LRESULT item = SendMessageW(combo, CB_GETCURSEL, 0, 0);
    if (item < 0) return;
    const LRESULT index = SendMessageW(combo, CB_GETITEMDATA, item, 0);
    if (index < 0 || index >= SettingsWindow.cameraCount) return;
    wchar_t* field = id == SID_WIDE ? Settings.wideDeviceID : Settings.macroDeviceID;
    const wchar_t* chosen = SettingsWindow.cameras[index].id;
    if (wcscmp(chosen, field) == 0) return;
    {
        DeviceIdsWriteLock hold;  // the camera thread may be copying the ids for a start
        CopyTextCut(field, SETTINGS_DEVICE_ID_CAPACITY, chosen);
    }
    SettingsSave();
    RequestCameraRestart();
    UpdateSameCameraWarning();
}

void MicrophoneChosen()
{
    HWND combo = Item(SID_MICROPHONE);
    const LRESULT item = SendMessageW(combo, CB_GETCURSEL, 0, 0);
    if (item < 0) return;
    const LRESULT index = SendMessageW(combo, CB_GETITEMDATA, item, 0);
    const wchar_t* chosen =
        index >= 0 && index < SettingsWindow.microphoneCount ? SettingsWindow.microphones[index].id : L"";
    if (wcscmp(chosen, Settings.micDeviceID) == 0) return;
    {
        DeviceIdsWriteLock hold;
        CopyTextCut(Settings.micDeviceID, SETTINGS_DEVICE_ID_CAPACITY, chosen);
    }
    SettingsSave();
    RequestCameraRestart();
}

void SwapCameras()
{
    CameraExchangeIds();
    RequestCameraRestart();
    RefreshDevices();
}

void RunSetupAgain()
{
    Settings.didCompleteOnboarding = false;
    if (!SaveOrTell()) {
        // The user was told it failed: the next start must not run the setup after all.
        Settings.didCompleteOnboarding = true;
        return;
    }
    LogWrite(LOG_EVENT, L"Einrichtung zur\u00fcckgesetzt \u2014 startet beim n\u00e4chsten Start");
    MessageBoxW(SettingsWindow.window,
                PickText(L"Die Einrichtung startet beim n\u00e4chsten Start von MI-RU.",
                         L"Setup will run the next time MI-RU starts."),
                PickText(L"Einrichtung", L"Setup"), MB_OK | MB_ICONINFORMATION);
}

void ToggleDeveloperSection()
{
    SettingsWindowState& s = SettingsWindow;
    s.developerOpen = !s.developerOpen;
    SetWindowTextW(Item(SID_DEVELOPER), s.developerOpen
                                            ? PickText(L"\u25be Entwickler-Optionen", L"\u25be Developer options")
                                            : PickText(L"\u25b8 Entwickler-Optionen", L"\u25b8 Developer options"));
    SettingsShowSelectedTab();
}

void ResetStabilisation()
{
    for (int32_t row = 0; row < STAB_SLIDER_COUNT; row++) {
        *StabSliderField(Settings, row) = STAB_SLIDERS[row].defaultValue;
        UpdateSlider(row);
    }
    SettingsSave();
}

void HandleCommand(int id, int code)
{
    if (SettingsWindow.updating) return;
    if (id == SID_PRAXIS) {
        if (code == EN_CHANGE) PraxisTextChanged(true);
        if (code == EN_KILLFOCUS) PraxisTextChanged(false);
        return;
    }
    if (id == SID_WIDE || id == SID_MACRO) {
        if (code == CBN_SELCHANGE) CameraChosen(id);
        return;
    }
    if (id == SID_MICROPHONE) {
        if (code == CBN_SELCHANGE) MicrophoneChosen();
        return;
    }
    if (code != BN_CLICKED) return;
    switch (id) {
    case IDCANCEL: DestroyWindow(SettingsWindow.window); return;  // Esc
    case SID_APPEARANCE_AUTO:
    case SID_APPEARANCE_AUTO + 1:
    case SID_APPEARANCE_DARK:
        if (Settings.appearanceMode != id - SID_APPEARANCE_AUTO) {
            Settings.appearanceMode = id - SID_APPEARANCE_AUTO;
            SettingsSave();
            if (HWND window = AppWindow()) InvalidateRect(window, nullptr, FALSE);
        }
        return;
    case SID_WATERMARK:
        Settings.watermarkOn = Checked(SID_WATERMARK);
        EnableWindow(Item(SID_PRAXIS), Settings.watermarkOn);
        SettingsSave();
        return;
    case SID_RES_FULL_HD:
    case SID_RES_HIGH:
        if (Settings.resolutionHigh != (id == SID_RES_HIGH)) {
            Settings.resolutionHigh = id == SID_RES_HIGH;
            SettingsSave();
        }
        return;
    case SID_PICK_FOLDER: {
        wchar_t folder[SETTINGS_FOLDER_CAPACITY];
        if (PickRecordingFolder(SettingsWindow.window, folder, SETTINGS_FOLDER_CAPACITY)) {
            const bool changed = wcscmp(folder, Settings.recordingFolder) != 0;
            CopyTextCut(Settings.recordingFolder, SETTINGS_FOLDER_CAPACITY, folder);
            SettingsSave();
            UpdateFolderLine();
            UpdateFolderNote(changed);
        }
        return;
    }
    case SID_OPEN_FOLDER:
        if (Settings.recordingFolder[0]) OpenFolderInExplorer(Settings.recordingFolder);
        return;
    case SID_SWAP: SwapCameras(); return;
    case SID_STABILIZE:
        Settings.stabilizeMacro = Checked(SID_STABILIZE);
        SettingsSave();
        StabSetEnabled(Settings.stabilizeMacro);
        return;
    case SID_RUN_SETUP: RunSetupAgain(); return;
    case SID_DEVELOPER: ToggleDeveloperSection(); return;
    case SID_DEV_FPS:
    case SID_DEV_FPS + 1:
    case SID_DEV_FPS + 2:
    case SID_DEV_DIAG: {
        bool* fields[4] = {&Settings.devShowFPS, &Settings.devStabSliders, &Settings.devStabFrame,
                           &Settings.devStabDiag};
        *fields[id - SID_DEV_FPS] = Checked(id);
        SettingsSave();
        return;
    }
    case SID_RESET_STAB: ResetStabilisation(); return;
    case SID_DIAGNOSTICS: OpenDiagnostics(SettingsWindow.window); return;
    default: return;
    }
}

void HandleSlider(HWND slider, int code)
{
    const int row = GetDlgCtrlID(slider) - SID_SLIDER;
    if (row < 0 || row >= STAB_SLIDER_COUNT || SettingsWindow.updating) return;
    const StabSliderRow& definition = STAB_SLIDERS[row];
    const auto position = static_cast<int32_t>(SendMessageW(slider, TBM_GETPOS, 0, 0));
    const double value = StabSliderValue(definition, position);
    *StabSliderField(Settings, row) = value;  // the stabiliser reads it from the next frame
    wchar_t text[32];
    StabSliderFormat(definition, value, text, 32);
    SetWindowTextW(Item(SID_SLIDER_VALUE + row), text);
    if (code == TB_ENDTRACK) SettingsSave();
}

void OpenLink(const NMLINK* link)
{
    const auto result = reinterpret_cast<INT_PTR>(
        ShellExecuteW(SettingsWindow.window, L"open", link->item.szUrl, nullptr, nullptr, SW_SHOWNORMAL));
    if (result <= 32) LogWrite(LOG_WARN, L"Link konnte nicht ge\u00f6ffnet werden: %ls", link->item.szUrl);
}

void DrawLogo(const DRAWITEMSTRUCT* item)
{
    HDC dc = item->hDC;
    const RECT& r = item->rcItem;
    FillRect(dc, &r, GetSysColorBrush(COLOR_WINDOW));
    const double s = (r.bottom - r.top) / 160.0;
    auto at = [&](double value, LONG offset) { return static_cast<int>(std::lround(value * s)) + offset; };
    HPEN pen = CreatePen(PS_SOLID, std::max(static_cast<int>(std::lround(10 * s)), 1), GetSysColor(COLOR_WINDOWTEXT));
    HBRUSH dot = CreateSolidBrush(kAmber);
    if (pen && dot) {
        HGDIOBJ oldPen = SelectObject(dc, pen);
        HGDIOBJ oldBrush = SelectObject(dc, GetStockObject(HOLLOW_BRUSH));
        Ellipse(dc, at(15, r.left), at(30, r.top), at(115, r.left), at(130, r.top));
        Ellipse(dc, at(93, r.left), at(48, r.top), at(157, r.left), at(112, r.top));
        SelectObject(dc, GetStockObject(NULL_PEN));
        SelectObject(dc, dot);
        Ellipse(dc, at(51, r.left), at(66, r.top), at(79, r.left), at(94, r.top));
        SelectObject(dc, oldBrush);
        SelectObject(dc, oldPen);
    }
    if (pen) DeleteObject(pen);
    if (dot) DeleteObject(dot);
}

LRESULT StaticColours(HDC dc, HWND control)
{
    SetBkColor(dc, GetSysColor(COLOR_WINDOW));
    COLORREF text = GetSysColor(COLOR_WINDOWTEXT);
    switch (SettingsColourClass(control)) {
    case COLOUR_GRAY: text = GetSysColor(COLOR_GRAYTEXT); break;
    case COLOUR_RED: text = kRed; break;
    case COLOUR_AMBER: text = kAmber; break;
    default: break;
    }
    SetTextColor(dc, text);
    return reinterpret_cast<LRESULT>(GetSysColorBrush(COLOR_WINDOW));
}

bool HandleCreate(HWND window)
{
    SettingsWindowState& s = SettingsWindow;
    s = SettingsWindowState{};
    s.window = window;
    s.dpi = GetDpiForWindow(window);
    if (s.dpi == 0) s.dpi = USER_DEFAULT_SCREEN_DPI;
    if (!SettingsCreateControls(window)) return false;
    SettingsApplyFonts();
    SettingsLayout();
    wchar_t help[HELP_TEXT_CAPACITY];
    SettingsHelpText(IsGermanUi(), help, HELP_TEXT_CAPACITY);
    SetWindowTextW(Item(SID_HELP), help);
    RefreshDevices();
    CopyValuesIntoControls();
    SendMessageW(s.tab, TCM_SETCURSEL, 0, 0);
    SettingsShowSelectedTab();
    return true;
}

void HandleDestroy()
{
    SettingsWindowState& s = SettingsWindow;
    SettingsDeleteFonts();
    s.controlCount = 0;
    s.tab = nullptr;
    s.window = nullptr;
}

LRESULT CALLBACK SettingsWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        return HandleCreate(window) ? 0 : -1;
    case WM_COMMAND:
        HandleCommand(LOWORD(wParam), HIWORD(wParam));
        return 0;
    case WM_NOTIFY: {
        const auto* header = reinterpret_cast<const NMHDR*>(lParam);
        if (header->idFrom == SID_TAB && header->code == TCN_SELCHANGE) {
            SettingsShowSelectedTab();
            const LRESULT selected = SendMessageW(SettingsWindow.tab, TCM_GETCURSEL, 0, 0);
            if (selected == 2 || selected == 3) RefreshDevices();
        } else if (header->idFrom == SID_LINKS && (header->code == NM_CLICK || header->code == NM_RETURN)) {
            OpenLink(reinterpret_cast<const NMLINK*>(lParam));
        }
        return 0;
    }
    case WM_HSCROLL:
        if (lParam) HandleSlider(reinterpret_cast<HWND>(lParam), LOWORD(wParam));
        return 0;
    case WM_DRAWITEM:
        if (wParam == SID_LOGO) {
            DrawLogo(reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
            return TRUE;
        }
        break;
    case WM_CTLCOLORSTATIC:
        return StaticColours(reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam));
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE && SettingsWindow.tab) {
            RefreshDevices();
            CopyValuesIntoControls();
        }
        break;
    case WM_DPICHANGED:
        SettingsWindow.dpi = ToolWindowFollowDpi(window, wParam, lParam);
        SettingsApplyFonts();
        SettingsLayout();
        return 0;
    case WM_APP_DEVICES_CHANGED:
        if (SettingsWindow.tab) RefreshDevices();
        return 0;
    default:
        break;
    }
    return ToolWindowDefault(window, message, wParam, lParam, HandleDestroy);
}

ToolWindowClass windowClass = {kClassName, SettingsWindowProc, reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1), false};

}  // namespace

void OpenSettings(HWND owner)
{
    if (!owner) owner = AppWindow();
    if (HWND existing = SettingsWindow.window) {
        ToolWindowRaise(existing);
        RefreshDevices();
        CopyValuesIntoControls();
        return;
    }
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_BAR_CLASSES | ICC_TAB_CLASSES | ICC_STANDARD_CLASSES |
                                                           ICC_LINK_CLASS};
    InitCommonControlsEx(&controls);
    if (!ToolWindowRegister(windowClass, owner)) {
        LogWrite(LOG_ERROR, L"Einstellungen: Fensterklasse konnte nicht registriert werden");
        return;
    }
    if (!ToolWindowCreate(windowClass, owner, PickText(L"Einstellungen", L"Settings"), kStyle, kClientWidth,
                          kClientHeight))
        LogWrite(LOG_ERROR, L"Einstellungen-Fenster konnte nicht erstellt werden");
}
