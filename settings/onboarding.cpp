#include "settings/onboarding.h"

#include <windows.h>
#include <commctrl.h>
#include <dbt.h>
#include <shlobj.h>

#include <algorithm>
#include <cstring>
#include <cwchar>
#include <span>

#include "base/text_copy.h"
#include "capture/device_rules.h"
#include "capture/preview.h"
#include "diag/log.h"
#include "record/recording_folder.h"
#include "res/resource_ids.h"
#include "settings/onboarding_rules.h"
#include "settings/onboarding_state.h"
#include "settings/onboarding_texts.h"
#include "settings/settings_store.h"

OnboardingState Wizard;

namespace {

constexpr const wchar_t* WIZARD_CLASS = L"MIRU_ONBOARD";
constexpr UINT PREVIEW_REPAINT_MS = 33;
constexpr UINT DEVICE_REFRESH_MS = 1000;
constexpr COLORREF DARK_LIST_TEXT = RGB(245, 245, 242);
constexpr COLORREF DARK_LIST_BACKGROUND = RGB(0x2B, 0x2B, 0x2B);

bool classRegistered = false;

std::span<const CaptureDevice> Cameras()
{
    return {Wizard.cameras, static_cast<size_t>(Wizard.cameraCount)};
}

OnboardingChoices Choices()
{
    return {Settings.recordingFolder, Settings.wideDeviceID, Settings.macroDeviceID};
}

bool PageValid()
{
    return OnboardingPageValid(Wizard.page, Choices(), Cameras());
}

// ---- Controls ----

HWND MakeControl(HWND parent, const wchar_t* className, int id, DWORD style)
{
    return CreateWindowExW(0, className, L"", WS_CHILD | WS_TABSTOP | style, 0, 0, 0, 0, parent,
                           reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
}

// uxtheme and dwmapi are looked up at run time: the wizard works without them.
void ApplyTheme(HWND control, const wchar_t* themeName)
{
    using SetThemeFn = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);
    static HMODULE uxtheme = LoadLibraryW(L"uxtheme.dll");
    if (!uxtheme) return;
    auto setTheme = reinterpret_cast<SetThemeFn>(reinterpret_cast<void (*)()>(GetProcAddress(uxtheme, "SetWindowTheme")));
    if (setTheme) setTheme(control, themeName, nullptr);  // an unknown theme keeps the default look
}

void RequestDarkTitleBar(HWND window)
{
    using SetAttributeFn = HRESULT(WINAPI*)(HWND, DWORD, LPCVOID, DWORD);
    static HMODULE dwmapi = LoadLibraryW(L"dwmapi.dll");
    if (!dwmapi) return;
    auto setAttribute =
        reinterpret_cast<SetAttributeFn>(reinterpret_cast<void (*)()>(GetProcAddress(dwmapi, "DwmSetWindowAttribute")));
    if (!setAttribute) return;
    const BOOL on = TRUE;
    // 20 is the immersive dark mode attribute; builds before 20H1 know it as 19.
    if (FAILED(setAttribute(window, 20, &on, sizeof(on)))) setAttribute(window, 19, &on, sizeof(on));
}

HFONT MakeControlFont(int points)
{
    return CreateFontW(-MulDiv(points, static_cast<int>(Wizard.dpi), 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY, DEFAULT_PITCH,
                       L"Segoe UI");
}

void ApplyFonts()
{
    HFONT oldControl = Wizard.controlFont;
    HFONT oldFolder = Wizard.folderFont;
    Wizard.controlFont = MakeControlFont(9);
    Wizard.folderFont = MakeControlFont(10);
    for (HWND control : {Wizard.back, Wizard.primary, Wizard.useSuggestion, Wizard.wideList, Wizard.macroList,
                         Wizard.microphoneList})
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(Wizard.controlFont), TRUE);
    SendMessageW(Wizard.chooseFolder, WM_SETFONT, reinterpret_cast<WPARAM>(Wizard.folderFont), TRUE);
    if (oldControl) DeleteObject(oldControl);
    if (oldFolder) DeleteObject(oldFolder);
}

bool CreateControls(HWND window)
{
    Wizard.back = MakeControl(window, L"BUTTON", ID_BACK, BS_PUSHBUTTON);
    Wizard.primary = MakeControl(window, L"BUTTON", ID_PRIMARY, BS_DEFPUSHBUTTON);
    Wizard.chooseFolder = MakeControl(window, L"BUTTON", ID_CHOOSE_FOLDER, BS_PUSHBUTTON);
    Wizard.useSuggestion = MakeControl(window, L"BUTTON", ID_USE_SUGGESTION, BS_PUSHBUTTON);
    const DWORD listStyle = CBS_DROPDOWNLIST | WS_VSCROLL;
    Wizard.wideList = MakeControl(window, WC_COMBOBOXW, ID_WIDE_LIST, listStyle);
    Wizard.macroList = MakeControl(window, WC_COMBOBOXW, ID_MACRO_LIST, listStyle);
    Wizard.microphoneList = MakeControl(window, WC_COMBOBOXW, ID_MICROPHONE_LIST, listStyle);
    const HWND all[] = {Wizard.back, Wizard.primary, Wizard.chooseFolder, Wizard.useSuggestion,
                        Wizard.wideList, Wizard.macroList, Wizard.microphoneList};
    for (HWND control : all)
        if (!control) return false;

    SetWindowTextW(Wizard.back, Pick(OnboardingTexts.back));
    SetWindowTextW(Wizard.chooseFolder, Pick(OnboardingTexts.chooseFolder));
    SetWindowTextW(Wizard.useSuggestion, Pick(OnboardingTexts.useSuggestion));
    ApplyFonts();
    if (Wizard.dark) {
        RequestDarkTitleBar(window);
        Wizard.darkListBrush = CreateSolidBrush(DARK_LIST_BACKGROUND);
    }
    for (HWND control : all) {
        const bool list = control == Wizard.wideList || control == Wizard.macroList || control == Wizard.microphoneList;
        ApplyTheme(control, list ? (Wizard.dark ? L"DarkMode_CFD" : L"CFD")
                                 : (Wizard.dark ? L"DarkMode_Explorer" : L"Explorer"));
    }
    return true;
}

float TextWidth(HWND control, HFONT font)
{
    wchar_t text[128];
    const int length = GetWindowTextW(control, text, 128);
    HDC dc = GetDC(control);
    if (!dc) return 0.0f;
    HGDIOBJ old = SelectObject(dc, font);
    SIZE size{};
    GetTextExtentPoint32W(dc, text, length, &size);
    SelectObject(dc, old);
    ReleaseDC(control, dc);
    return static_cast<float>(size.cx);
}

void Place(HWND control, const OnboardingBox& box, float height = 0.0f)
{
    const int left = static_cast<int>(box.left + 0.5f);
    const int top = static_cast<int>(box.top + 0.5f);
    const int width = static_cast<int>(box.right - box.left + 0.5f);
    const int boxHeight = static_cast<int>((height > 0.0f ? height : box.bottom - box.top) + 0.5f);
    SetWindowPos(control, nullptr, left, top, width, boxHeight, SWP_NOZORDER | SWP_NOACTIVATE);
}

void LayOut()
{
    RECT client;
    GetClientRect(Wizard.window, &client);
    const OnboardingTextWidths widths = {TextWidth(Wizard.primary, Wizard.controlFont),
                                         TextWidth(Wizard.back, Wizard.controlFont),
                                         TextWidth(Wizard.chooseFolder, Wizard.folderFont),
                                         TextWidth(Wizard.useSuggestion, Wizard.controlFont)};
    const float scale = WizardScale();
    const OnboardingLayout layout = OnboardingLayoutFor(static_cast<float>(client.right), static_cast<float>(client.bottom),
                                                        scale, widths);
    Place(Wizard.primary, layout.primary);
    Place(Wizard.back, layout.back);
    Place(Wizard.chooseFolder, layout.folderButton);
    Place(Wizard.useSuggestion, layout.suggestionButton);
    Place(Wizard.wideList, layout.cameraList[0], OnboardingCameraDropHeight(scale));
    Place(Wizard.macroList, layout.cameraList[1], OnboardingCameraDropHeight(scale));
    Place(Wizard.microphoneList, layout.microphoneList, OnboardingMicrophoneDropHeight(scale));
}

void Show(HWND control, bool visible)
{
    ShowWindow(control, visible ? SW_SHOWNA : SW_HIDE);
}

void UpdateControls()
{
    const OnboardingControls controls = OnboardingControlsFor(Wizard.page, Wizard.cameraCount,
                                                              Settings.recordingFolder[0] != L'\0',
                                                              Wizard.suggestion[0] != L'\0');
    Show(Wizard.back, controls.back);
    Show(Wizard.chooseFolder, controls.folderButton);
    Show(Wizard.useSuggestion, controls.suggestionButton);
    Show(Wizard.wideList, controls.cameraLists);
    Show(Wizard.macroList, controls.cameraLists);
    Show(Wizard.microphoneList, controls.microphoneList);
    const TextPair& label = controls.primary == PrimaryLabel::LetsGo   ? OnboardingTexts.letsGo
                            : controls.primary == PrimaryLabel::Finish ? OnboardingTexts.finish
                                                                       : OnboardingTexts.next;
    SetWindowTextW(Wizard.primary, Pick(label));
    Show(Wizard.primary, true);
    EnableWindow(Wizard.primary, PageValid());
}

void Repaint()
{
    OnboardingDrawInvalidate();
    InvalidateRect(Wizard.window, nullptr, FALSE);
}

bool Dropped(HWND list)
{
    return SendMessageW(list, CB_GETDROPPEDSTATE, 0, 0) != 0;
}

// ---- Device lists and previews ----

void FillList(HWND list, std::span<const CaptureDevice> devices, const wchar_t* firstEntry, int32_t selected)
{
    SendMessageW(list, CB_RESETCONTENT, 0, 0);
    if (firstEntry) SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(firstEntry));
    for (const CaptureDevice& device : devices)
        SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(device.displayName));
    SendMessageW(list, CB_SETCURSEL, static_cast<WPARAM>(selected), 0);
}

// Both camera lists show the current cameras, each with its role's device selected.
void FillCameraLists()
{
    memcpy(Wizard.shownCameras, Wizard.cameras, sizeof(CaptureDevice) * static_cast<size_t>(Wizard.cameraCount));
    Wizard.shownCameraCount = Wizard.cameraCount;
    FillList(Wizard.wideList, Cameras(), nullptr, DeviceFind(Cameras(), Settings.wideDeviceID));
    FillList(Wizard.macroList, Cameras(), nullptr, DeviceFind(Cameras(), Settings.macroDeviceID));
}

// The microphone list shows the current microphones. A chosen microphone that is not listed
// shows as "No sound", and that is what is kept.
void FillMicrophoneList()
{
    memcpy(Wizard.shownMicrophones, Wizard.microphones,
           sizeof(CaptureDevice) * static_cast<size_t>(Wizard.microphoneCount));
    Wizard.shownMicrophoneCount = Wizard.microphoneCount;
    const std::span<const CaptureDevice> microphones(Wizard.microphones, static_cast<size_t>(Wizard.microphoneCount));
    const int32_t entry = OnboardingMicrophoneEntry(microphones, Settings.micDeviceID);
    if (entry == 0) Settings.micDeviceID[0] = L'\0';
    FillList(Wizard.microphoneList, microphones, Pick(OnboardingTexts.noSound), entry);
}

void ClosePreview(OnboardingPreviewSlot& slot)
{
    PreviewClose(slot.preview);
    slot.preview = nullptr;
    slot.shownId[0] = L'\0';
    slot.failedAtMs = 0;
    OnboardingDrawDropSlotBitmap(slot);
}

// Every slot whose device changes closes before any slot opens, so a device that moves from
// one role to the other is never open twice. A slot whose open failed tries its device again
// when the device list changed or a few seconds later.
void UpdatePreviews(bool forced)
{
    const uint64_t now = GetTickCount64();
    const PreviewWanted wanted =
        OnboardingWantedPreviews(Wizard.page, Wizard.cameraCount, Settings.wideDeviceID, Settings.macroDeviceID);
    for (int i = 0; i < 2; ++i) {
        OnboardingPreviewSlot& slot = Wizard.slots[i];
        if (slot.preview && OnboardingPreviewMustClose(forced, slot.shownId, wanted.id[i])) ClosePreview(slot);
    }
    for (int i = 0; i < 2; ++i) {
        OnboardingPreviewSlot& slot = Wizard.slots[i];
        if (slot.preview) continue;
        const bool sameDevice = wcscmp(slot.shownId, wanted.id[i]) == 0;
        if (sameDevice && !OnboardingPreviewRetryDue(forced, slot.failedAtMs, now)) continue;
        CopyTextCut(slot.shownId, CAPTURE_ID_CAPACITY, wanted.id[i]);
        slot.failedAtMs = 0;
        if (slot.shownId[0] == L'\0') continue;
        slot.preview = PreviewOpen(slot.shownId);
        if (!slot.preview) slot.failedAtMs = now ? now : 1;
    }
}

void ClosePreviews()
{
    for (OnboardingPreviewSlot& slot : Wizard.slots) ClosePreview(slot);
}

void ListCameras()
{
    Wizard.cameraCount = CaptureListCameras(Wizard.cameras, CAPTURE_LIST_CAPACITY);
}

void ListMicrophones()
{
    Wizard.microphoneCount = CaptureListMicrophones(Wizard.microphones, CAPTURE_LIST_CAPACITY);
}

// When a list closes: lists that missed a device change while one was dropped down are filled
// again, the roles proposed for the current devices first, so what the lists select is what
// is kept.
void SyncCameraLists()
{
    const std::span<const CaptureDevice> shown(Wizard.shownCameras, static_cast<size_t>(Wizard.shownCameraCount));
    if (DeviceListsSame(shown, Cameras())) return;
    OnboardingDefaultCameras(Cameras(), Settings.wideDeviceID, Settings.macroDeviceID);
    FillCameraLists();
    UpdateControls();
    UpdatePreviews(true);
    Repaint();
}

void SyncMicrophoneList()
{
    const std::span<const CaptureDevice> shown(Wizard.shownMicrophones,
                                               static_cast<size_t>(Wizard.shownMicrophoneCount));
    const std::span<const CaptureDevice> current(Wizard.microphones, static_cast<size_t>(Wizard.microphoneCount));
    if (DeviceListsSame(shown, current)) return;
    FillMicrophoneList();
    Repaint();
}

void RefreshDevices()
{
    CaptureDevice fresh[CAPTURE_LIST_CAPACITY];
    if (Wizard.page == PAGE_CAMERAS) {
        const int32_t count = CaptureListCameras(fresh, CAPTURE_LIST_CAPACITY);
        if (DeviceListsSame({fresh, static_cast<size_t>(count)}, Cameras())) {
            UpdatePreviews(false);  // a preview that could not be opened, when its retry is due
            return;
        }
        memcpy(Wizard.cameras, fresh, sizeof(CaptureDevice) * static_cast<size_t>(count));
        Wizard.cameraCount = count;
        OnboardingDefaultCameras(Cameras(), Settings.wideDeviceID, Settings.macroDeviceID);
        if (!Dropped(Wizard.wideList) && !Dropped(Wizard.macroList)) FillCameraLists();
        UpdateControls();
        LayOut();
        UpdatePreviews(true);
        Repaint();
    } else if (Wizard.page == PAGE_MICROPHONE) {
        const int32_t count = CaptureListMicrophones(fresh, CAPTURE_LIST_CAPACITY);
        const std::span<const CaptureDevice> current(Wizard.microphones, static_cast<size_t>(Wizard.microphoneCount));
        if (DeviceListsSame({fresh, static_cast<size_t>(count)}, current)) return;
        memcpy(Wizard.microphones, fresh, sizeof(CaptureDevice) * static_cast<size_t>(count));
        Wizard.microphoneCount = count;
        if (!Dropped(Wizard.microphoneList)) SyncMicrophoneList();
    }
}

// ---- Pages ----

void ShowPage(int32_t page)
{
    ClosePreviews();
    KillTimer(Wizard.window, TIMER_PREVIEW_REPAINT);
    KillTimer(Wizard.window, TIMER_DEVICE_REFRESH);
    Wizard.page = page;
    if (page == PAGE_CAMERAS) {
        ListCameras();
        OnboardingDefaultCameras(Cameras(), Settings.wideDeviceID, Settings.macroDeviceID);
        FillCameraLists();
        UpdatePreviews(true);
        SetTimer(Wizard.window, TIMER_PREVIEW_REPAINT, PREVIEW_REPAINT_MS, nullptr);
        SetTimer(Wizard.window, TIMER_DEVICE_REFRESH, DEVICE_REFRESH_MS, nullptr);
    } else if (page == PAGE_MICROPHONE) {
        ListMicrophones();
        FillMicrophoneList();
        SetTimer(Wizard.window, TIMER_DEVICE_REFRESH, DEVICE_REFRESH_MS, nullptr);
    } else if (page == PAGE_DONE) {
        ListCameras();
        ListMicrophones();
    }
    UpdateControls();
    LayOut();
    Repaint();
    SetFocus(Wizard.primary);
}

void Next()
{
    if (!PageValid()) return;
    if (Wizard.page < PAGE_DONE) {
        ShowPage(Wizard.page + 1);
        return;
    }
    // The wizard ends only with its choices on disk; otherwise it would come again at the next
    // start although the user saw it finish.
    Settings.didCompleteOnboarding = true;
    if (!SettingsSave()) {
        Settings.didCompleteOnboarding = false;
        MessageBoxW(Wizard.window, Pick(OnboardingTexts.saveFailed), Pick(OnboardingTexts.windowTitle),
                    MB_OK | MB_ICONERROR);
        return;
    }
    Wizard.completed = true;
    LogWrite(LOG_EVENT, L"Einrichtung abgeschlossen");
    DestroyWindow(Wizard.window);
}

void AdoptFolder(const wchar_t* folder)
{
    CopyTextCut(Settings.recordingFolder, SETTINGS_FOLDER_CAPACITY, folder);
    LogWrite(LOG_EVENT, L"Aufnahmeordner gew\u00e4hlt: %ls", Settings.recordingFolder);
    UpdateControls();
    Repaint();
}

void ChooseFolder()
{
    wchar_t chosen[SETTINGS_FOLDER_CAPACITY];
    if (PickRecordingFolder(Wizard.window, chosen, SETTINGS_FOLDER_CAPACITY)) AdoptFolder(chosen);
}

// The suggested folder becomes the recording folder only once it exists, so the first
// recording has somewhere to go.
void UseSuggestion()
{
    if (Wizard.suggestion[0] == L'\0') return;
    bool created = CreateDirectoryW(Wizard.suggestion, nullptr) != FALSE;
    DWORD error = created ? ERROR_SUCCESS : GetLastError();
    if (error == ERROR_PATH_NOT_FOUND) {  // no Videos folder yet: make the whole path
        error = static_cast<DWORD>(SHCreateDirectoryExW(nullptr, Wizard.suggestion, nullptr));
        created = error == ERROR_SUCCESS;
    }
    if (created) {
        LogWrite(LOG_EVENT, L"Aufnahmeordner angelegt: %ls", Wizard.suggestion);
    } else if (!FolderExists(Wizard.suggestion)) {
        LogWrite(LOG_ERROR, L"Aufnahmeordner konnte nicht angelegt werden: %ls (Fehler %lu)", Wizard.suggestion,
                 static_cast<unsigned long>(error));
        return;
    }
    AdoptFolder(Wizard.suggestion);
}

void SelectionChanged(int id)
{
    HWND list = GetDlgItem(Wizard.window, id);
    const LRESULT index = SendMessageW(list, CB_GETCURSEL, 0, 0);
    if (id == ID_MICROPHONE_LIST) {
        if (index >= 1 && index <= Wizard.shownMicrophoneCount)
            CopyTextCut(Settings.micDeviceID, SETTINGS_DEVICE_ID_CAPACITY, Wizard.shownMicrophones[index - 1].id);
        else
            Settings.micDeviceID[0] = L'\0';
        return;
    }
    if (index < 0 || index >= Wizard.shownCameraCount) return;
    wchar_t* role = id == ID_WIDE_LIST ? Settings.wideDeviceID : Settings.macroDeviceID;
    CopyTextCut(role, SETTINGS_DEVICE_ID_CAPACITY, Wizard.shownCameras[index].id);
    UpdatePreviews(false);
    EnableWindow(Wizard.primary, PageValid());
    Repaint();
}

void HandleCommand(WPARAM wParam)
{
    const int id = LOWORD(wParam);
    const int code = HIWORD(wParam);
    switch (id) {
    case ID_PRIMARY:
    case IDOK: Next(); return;
    case ID_BACK:
        if (Wizard.page >= 1) ShowPage(Wizard.page - 1);
        return;
    case IDCANCEL: DestroyWindow(Wizard.window); return;
    case ID_CHOOSE_FOLDER: ChooseFolder(); return;
    case ID_USE_SUGGESTION: UseSuggestion(); return;
    case ID_WIDE_LIST:
    case ID_MACRO_LIST:
    case ID_MICROPHONE_LIST:
        // A choice is taken when it is confirmed, before the list closes and may be refilled.
        if (code == CBN_SELCHANGE || code == CBN_SELENDOK) SelectionChanged(id);
        if (code == CBN_CLOSEUP) {
            if (id == ID_MICROPHONE_LIST) SyncMicrophoneList();
            else SyncCameraLists();
        }
        return;
    default: return;
    }
}

void DestroyResources()
{
    KillTimer(Wizard.window, TIMER_PREVIEW_REPAINT);
    KillTimer(Wizard.window, TIMER_DEVICE_REFRESH);
    ClosePreviews();
    OnboardingDrawRelease();
    if (Wizard.controlFont) DeleteObject(Wizard.controlFont);
    if (Wizard.folderFont) DeleteObject(Wizard.folderFont);
    if (Wizard.darkListBrush) DeleteObject(Wizard.darkListBrush);
    Wizard.controlFont = Wizard.folderFont = nullptr;
    Wizard.darkListBrush = nullptr;
}

SIZE FrameSizeForClient(UINT dpi)
{
    RECT rect = {0, 0, MulDiv(static_cast<int>(ONBOARDING_CLIENT_WIDTH_DIP), static_cast<int>(dpi), 96),
                 MulDiv(static_cast<int>(ONBOARDING_CLIENT_HEIGHT_DIP), static_cast<int>(dpi), 96)};
    AdjustWindowRectExForDpi(&rect, WS_OVERLAPPEDWINDOW, FALSE, 0, dpi);
    return {rect.right - rect.left, rect.bottom - rect.top};
}

LRESULT CALLBACK WizardProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        Wizard.window = window;
        if (!CreateControls(window)) {
            LogWrite(LOG_ERROR, L"Einrichtung: Steuerelemente konnten nicht erstellt werden");
            return -1;
        }
        ShowPage(PAGE_WELCOME);
        return 0;
    case WM_PAINT: OnboardingPaint(); return 0;
    case WM_ERASEBKGND: return 1;
    case WM_SIZE:
        if (Wizard.primary) LayOut();
        Repaint();
        return 0;
    case WM_DPICHANGED: {
        Wizard.dpi = HIWORD(wParam) ? HIWORD(wParam) : USER_DEFAULT_SCREEN_DPI;
        ApplyFonts();
        OnboardingDrawDpiChanged();
        const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
        SetWindowPos(window, nullptr, suggested->left, suggested->top, suggested->right - suggested->left,
                     suggested->bottom - suggested->top, SWP_NOZORDER | SWP_NOACTIVATE);
        LayOut();
        Repaint();
        return 0;
    }
    case WM_GETMINMAXINFO: {
        const SIZE minimum = FrameSizeForClient(Wizard.dpi ? Wizard.dpi : USER_DEFAULT_SCREEN_DPI);
        reinterpret_cast<MINMAXINFO*>(lParam)->ptMinTrackSize = {minimum.cx, minimum.cy};
        return 0;
    }
    case WM_COMMAND: HandleCommand(wParam); return 0;
    case WM_TIMER:
        if (wParam == TIMER_PREVIEW_REPAINT) InvalidateRect(window, nullptr, FALSE);  // the previews move; the page stays
        else if (wParam == TIMER_DEVICE_REFRESH) RefreshDevices();
        return 0;
    case WM_DEVICECHANGE:
        if (wParam == DBT_DEVNODES_CHANGED && (Wizard.page == PAGE_CAMERAS || Wizard.page == PAGE_MICROPHONE))
            RefreshDevices();
        return TRUE;
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
        if (!Wizard.dark || !Wizard.darkListBrush) break;
        SetTextColor(reinterpret_cast<HDC>(wParam), DARK_LIST_TEXT);
        SetBkColor(reinterpret_cast<HDC>(wParam), DARK_LIST_BACKGROUND);
        return reinterpret_cast<LRESULT>(Wizard.darkListBrush);
    case WM_CLOSE: DestroyWindow(window); return 0;
    case WM_DESTROY:
        DestroyResources();
        Wizard.quitLoop = true;
        // A window destroyed while a sent message is handled leaves the loop waiting in
        // GetMessage: a posted message wakes it.
        PostThreadMessageW(GetCurrentThreadId(), WM_NULL, 0, 0);
        return 0;
    case WM_NCDESTROY: Wizard.window = nullptr; break;
    default: break;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool RegisterWizardClass()
{
    if (classRegistered) return true;
    HINSTANCE instance = GetModuleHandleW(nullptr);
    WNDCLASSEXW windowClass = {};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.style = CS_HREDRAW | CS_VREDRAW;
    windowClass.lpfnWndProc = WizardProc;
    windowClass.hInstance = instance;
    windowClass.hIcon = LoadIconW(instance, MAKEINTRESOURCEW(IDI_MIRU));
    if (!windowClass.hIcon) windowClass.hIcon = LoadIconW(nullptr, IDI_APPLICATION);
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.lpszClassName = WIZARD_CLASS;
    classRegistered = RegisterClassExW(&windowClass) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    return classRegistered;
}

HWND CreateWizardWindow()
{
    const SIZE size = FrameSizeForClient(Wizard.dpi);
    RECT work = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
    SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0);  // the screen when it fails
    const int x = work.left + std::max(0L, (work.right - work.left - size.cx) / 2);
    const int y = work.top + std::max(0L, (work.bottom - work.top - size.cy) / 2);
    return CreateWindowExW(0, WIZARD_CLASS, Pick(OnboardingTexts.windowTitle), WS_OVERLAPPEDWINDOW | WS_CLIPCHILDREN, x,
                           y, size.cx, size.cy, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
}

bool ListIsOpen()
{
    HWND focus = GetFocus();
    for (HWND list : {Wizard.wideList, Wizard.macroList, Wizard.microphoneList})
        if (focus && focus == list && IsWindowVisible(list) && Dropped(list)) return true;
    return false;
}

// Esc cancels and Enter presses the primary button (once per press: auto-repeat is ignored);
// both are consumed here so that dialog navigation does not act on them a second time.
bool HandleWizardKey(const MSG& message)
{
    if (message.message != WM_KEYDOWN) return false;
    if (message.hwnd != Wizard.window && !IsChild(Wizard.window, message.hwnd)) return false;
    if (message.wParam == VK_ESCAPE) {
        DestroyWindow(Wizard.window);
        return true;
    }
    if (message.wParam != VK_RETURN) return false;
    const bool repeated = (message.lParam & (1L << 30)) != 0;
    if (!repeated && IsWindowEnabled(Wizard.primary)) Next();
    return true;
}

void RunLoop()
{
    MSG message;
    while (!Wizard.quitLoop) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0) {
            PostQuitMessage(static_cast<int>(message.wParam));  // the caller's loop ends too
            return;
        }
        if (got < 0) return;
        if (!ListIsOpen()) {
            if (HandleWizardKey(message)) continue;
            if (Wizard.window && IsDialogMessageW(Wizard.window, &message)) continue;
        }
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
}

}  // namespace

bool OnboardingRun()
{
    if (Wizard.window && IsWindow(Wizard.window)) {
        LogWrite(LOG_WARN, L"Einrichtung l\u00e4uft bereits");
        SetForegroundWindow(Wizard.window);
        return false;
    }
    memset(static_cast<void*>(&Wizard), 0, sizeof(Wizard));
    OnboardingDrawResetRun();
    const UINT systemDpi = GetDpiForSystem();
    Wizard.dpi = systemDpi ? systemDpi : USER_DEFAULT_SCREEN_DPI;
    Wizard.dark = IsDarkAppearance();
    SuggestRecordingFolder(Wizard.suggestion, SETTINGS_FOLDER_CAPACITY);

    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    if (!RegisterWizardClass()) {
        LogWrite(LOG_ERROR, L"Einrichtung: Fensterklasse konnte nicht registriert werden");
        return false;
    }
    HWND window = CreateWizardWindow();
    if (!window) {
        DestroyResources();
        LogWrite(LOG_ERROR, L"Einrichtungs-Fenster konnte nicht erstellt werden");
        return false;
    }
    LogWrite(LOG_EVENT, L"Einrichtung gestartet");
    ShowWindow(window, SW_SHOW);
    SetForegroundWindow(window);
    SetFocus(Wizard.primary);

    RunLoop();
    if (Wizard.window) DestroyWindow(Wizard.window);
    if (!Wizard.completed) LogWrite(LOG_INFO, L"Einrichtung abgebrochen");
    return Wizard.completed;
}
