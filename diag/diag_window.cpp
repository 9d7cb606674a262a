#include "diag/diag_window.h"

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <utility>

#include "base/app_messages.h"
#include "app/texts.h"
#include "base/tool_window.h"
#include "diag/diag_rows.h"
#include "diag/log.h"
#include "res/miru_version.h"
#include "settings/settings_store.h"

namespace {

constexpr const wchar_t* kClassName = L"MIRU_DIAG";
constexpr int kClientWidth = 560;
constexpr int kClientHeight = 640;
constexpr int kMinimumSize = 420;
constexpr int kTimeColumn = 92;

enum : int {
    DID_FILTER_ALL = 100,  // 101 INFO ... 104 FEHLER
    DID_FILTER_LAST = 104,
    DID_PRIVACY = 110,
    DID_COPY = 120,
    DID_CLEAR = 121,
    DID_LIST = 130,
    DID_SYSTEM = 140,
    DID_HINT = 141,
    DID_COUNT = 142,
    DID_COPIED = 143,
};

enum : UINT_PTR { TIMER_THEME = 1, TIMER_COPIED = 2, TIMER_REFRESH = 3 };

constexpr COLORREF kDarkBackground = 0x202020;
constexpr COLORREF kDarkList = 0x191919;
constexpr COLORREF kDarkText = 0xF2F5F5;
constexpr COLORREF kDarkGrayText = 0xA5A8A8;
constexpr COLORREF kDarkErrorRow = 0x1D1E35;
constexpr COLORREF kLightErrorRow = 0xE7E9FF;

enum { FONT_UI = 0, FONT_SMALL = 1, FONT_MONO = 2, FONT_COUNT = 3 };

// The window's state; UI thread only. Buffers, fonts and brush exist only while it is open.
struct DiagWindowState {
    HWND window;
    LogEntry* snapshot;  // what the rows index, oldest first
    LogEntry* scratch;   // the next snapshot, swapped in only together with a rebuilt row index
    int32_t* rows;
    int32_t visibleCount;
    int32_t filterLevel;
    int32_t lastCount;
    DiagNewest lastNewest;
    bool refreshPending;
    bool dark;
    UINT dpi;
    HFONT fonts[FONT_COUNT];
    HBRUSH background;
};
DiagWindowState state;

HWND Item(int id)
{
    return GetDlgItem(state.window, id);
}

int Scale(int value)
{
    return MulDiv(value, static_cast<int>(state.dpi), USER_DEFAULT_SCREEN_DPI);
}

void Refresh(bool forced)
{
    if (!state.snapshot || !state.scratch || !state.rows) return;
    const uint32_t n = LogSnapshot(state.scratch, LOG_RING_CAPACITY);
    const std::span<const LogEntry> fresh(state.scratch, n);
    if (!forced && DiagSnapshotUnchanged(fresh, state.lastCount, state.lastNewest)) return;
    state.lastCount = static_cast<int32_t>(n);
    DiagRememberNewest(fresh, &state.lastNewest);
    // The rows and the snapshot they index change together.
    std::swap(state.snapshot, state.scratch);
    state.visibleCount = DiagBuildRows({state.snapshot, n}, state.filterLevel, state.rows);
    HWND list = Item(DID_LIST);
    SendMessageW(list, LVM_SETITEMCOUNT, state.visibleCount, LVSICF_NOSCROLL);
    InvalidateRect(list, nullptr, FALSE);
    wchar_t line[96];
    swprintf(line, 96, PickText(L"Protokoll (%d) \u2014 neueste zuerst", L"Log (%d) \u2014 newest first"),
             state.visibleCount);
    SetWindowTextW(Item(DID_COUNT), line);
}

void DeleteFonts()
{
    for (HFONT& font : state.fonts) {
        if (font) DeleteObject(font);
        font = nullptr;
    }
}

HFONT MakeFont(const wchar_t* face, int points)
{
    return CreateFontW(-MulDiv(points, static_cast<int>(state.dpi), 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, face);
}

int FontOf(int id)
{
    switch (id) {
    case DID_SYSTEM:
    case DID_LIST: return FONT_MONO;
    case DID_HINT:
    case DID_COUNT: return FONT_SMALL;
    default: return FONT_UI;
    }
}

constexpr int kAllIds[] = {DID_SYSTEM, DID_PRIVACY, DID_HINT, 100, 101, 102, 103, 104,
                           DID_COUNT,  DID_LIST,    DID_COPY, DID_CLEAR, DID_COPIED};

void ApplyFonts()
{
    HFONT made[FONT_COUNT] = {MakeFont(L"Segoe UI", 9), MakeFont(L"Segoe UI", 8), MakeFont(L"Consolas", 9)};
    for (int id : kAllIds) SendMessageW(Item(id), WM_SETFONT, reinterpret_cast<WPARAM>(made[FontOf(id)]), TRUE);
    DeleteFonts();  // no control uses the old ones any more
    std::copy(made, made + FONT_COUNT, state.fonts);
}

void Layout()
{
    if (!state.window) return;
    RECT client;
    GetClientRect(state.window, &client);
    const int m = Scale(12);
    const int w = std::max(static_cast<int>(client.right) - 2 * m, Scale(120));
    MoveWindow(Item(DID_SYSTEM), m, Scale(10), w, Scale(30), TRUE);
    MoveWindow(Item(DID_PRIVACY), m, Scale(44), std::min(Scale(300), w), Scale(26), TRUE);
    MoveWindow(Item(DID_HINT), m, Scale(74), w, Scale(28), TRUE);
    const int b = std::min((w - Scale(4 * 2)) / 5, Scale(72));
    for (int i = 0; i < 5; i++) MoveWindow(Item(DID_FILTER_ALL + i), m + i * (b + Scale(2)), Scale(108), b, Scale(24), TRUE);
    MoveWindow(Item(DID_COUNT), m, Scale(138), w, Scale(16), TRUE);
    const int bottom = client.bottom - m - Scale(26);
    HWND list = Item(DID_LIST);
    MoveWindow(list, m, Scale(158), w, std::max(bottom - Scale(8) - Scale(158), Scale(40)), TRUE);
    MoveWindow(Item(DID_COPY), m, bottom, Scale(90), Scale(26), TRUE);
    MoveWindow(Item(DID_CLEAR), m + Scale(98), bottom, Scale(120), Scale(26), TRUE);
    MoveWindow(Item(DID_COPIED), m + Scale(226), bottom + Scale(5), Scale(110), Scale(18), TRUE);
    // The time column is wide enough for its text even where the monospaced face is wider
    // than the one it was sized for.
    const int timeText = static_cast<int>(SendMessageW(list, LVM_GETSTRINGWIDTHW, 0,
                                                       reinterpret_cast<LPARAM>(L"00:00:00.000")));
    const int timeColumn = std::max(Scale(kTimeColumn), timeText + Scale(14));
    SendMessageW(list, LVM_SETCOLUMNWIDTH, 0, timeColumn);
    const int scrollBar = GetSystemMetricsForDpi(SM_CXVSCROLL, state.dpi);
    SendMessageW(list, LVM_SETCOLUMNWIDTH, 1, std::max(w - timeColumn - scrollBar - Scale(6), Scale(80)));
}

using SetWindowThemeCall = HRESULT(WINAPI*)(HWND, LPCWSTR, LPCWSTR);

SetWindowThemeCall ThemeCall()
{
    // Loaded once and kept for the process.
    static HMODULE uxtheme = LoadLibraryW(L"uxtheme.dll");
    return uxtheme ? reinterpret_cast<SetWindowThemeCall>(
                         reinterpret_cast<void (*)()>(GetProcAddress(uxtheme, "SetWindowTheme")))
                   : nullptr;
}

void ApplyDarkTitleBar()
{
    using SetAttribute = HRESULT(WINAPI*)(HWND, DWORD, LPCVOID, DWORD);
    HMODULE dwm = LoadLibraryW(L"dwmapi.dll");
    if (!dwm) return;  // an older system: the title bar stays as it is
    const auto call = reinterpret_cast<SetAttribute>(
        reinterpret_cast<void (*)()>(GetProcAddress(dwm, "DwmSetWindowAttribute")));
    if (call) {
        const BOOL dark = state.dark;
        if (FAILED(call(state.window, 20, &dark, sizeof(dark)))) call(state.window, 19, &dark, sizeof(dark));
    }
    FreeLibrary(dwm);
}

void ApplyTheme()
{
    HBRUSH brush = state.dark ? CreateSolidBrush(kDarkBackground) : GetSysColorBrush(COLOR_BTNFACE);
    if (state.background && state.background != GetSysColorBrush(COLOR_BTNFACE)) DeleteObject(state.background);
    state.background = brush;
    HWND list = Item(DID_LIST);
    const COLORREF listBack = state.dark ? kDarkList : RGB(255, 255, 255);
    SendMessageW(list, LVM_SETBKCOLOR, 0, listBack);
    SendMessageW(list, LVM_SETTEXTBKCOLOR, 0, listBack);
    SendMessageW(list, LVM_SETTEXTCOLOR, 0, state.dark ? kDarkText : GetSysColor(COLOR_WINDOWTEXT));
    ApplyDarkTitleBar();
    if (const SetWindowThemeCall setTheme = ThemeCall()) {
        const wchar_t* theme = state.dark ? L"DarkMode_Explorer" : L"Explorer";
        for (int id : {int{DID_LIST}, int{DID_PRIVACY}, int{DID_COPY}, int{DID_CLEAR}, 100, 101, 102, 103, 104})
            setTheme(Item(id), theme, nullptr);
    }
    RedrawWindow(state.window, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN);
}

// The clipboard block is made and filled before the clipboard is emptied, so a failure leaves
// what the user had copied.
bool PutOnClipboard(const wchar_t* text)
{
    const size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
    HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, bytes);
    if (!block) return false;
    void* memory = GlobalLock(block);
    if (!memory) {
        GlobalFree(block);
        return false;
    }
    memcpy(memory, text, bytes);
    GlobalUnlock(block);
    if (!OpenClipboard(state.window)) {
        GlobalFree(block);
        return false;
    }
    const bool placed = EmptyClipboard() && SetClipboardData(CF_UNICODETEXT, block);
    CloseClipboard();
    if (!placed) GlobalFree(block);  // the clipboard took it only on success
    return placed;
}

void CopyLog()
{
    wchar_t* text = LogExportText();
    if (!text) {
        LogWrite(LOG_ERROR, L"Protokoll-Export fehlgeschlagen (kein Speicher)");
        return;
    }
    const bool copied = PutOnClipboard(text);
    free(text);
    if (!copied) {
        LogWrite(LOG_WARN, L"Kopieren in die Zwischenablage fehlgeschlagen");
        return;
    }
    ShowWindow(Item(DID_COPIED), SW_SHOWNA);
    SetTimer(state.window, TIMER_COPIED, 1400, nullptr);
}

void OpenPrivacySettings()
{
    const auto result = static_cast<int>(reinterpret_cast<INT_PTR>(
        ShellExecuteW(state.window, L"open", L"ms-settings:privacy-webcam", nullptr, nullptr, SW_SHOWNORMAL)));
    if (result <= 32)
        LogWrite(LOG_WARN, L"Datenschutz-Einstellungen konnten nicht ge\u00f6ffnet werden (Code %d)", result);
}

void HandleCommand(int id)
{
    if (id >= DID_FILTER_ALL && id <= DID_FILTER_LAST) {
        state.filterLevel = id - 101;
        Refresh(true);
    } else if (id == DID_COPY) {
        CopyLog();
    } else if (id == DID_CLEAR) {
        LogClear();
        Refresh(true);
    } else if (id == DID_PRIVACY) {
        OpenPrivacySettings();
    } else if (id == IDCANCEL) {
        DestroyWindow(state.window);  // Esc
    }
}

LRESULT HandleListNotify(NMHDR* header)
{
    switch (header->code) {
    case LVN_GETDISPINFOW: {
        LVITEMW& item = reinterpret_cast<NMLVDISPINFOW*>(header)->item;
        if (!(item.mask & LVIF_TEXT) || item.iItem < 0 || item.iItem >= state.visibleCount || !item.pszText ||
            item.cchTextMax < 1)
            return 0;
        const LogEntry& entry = state.snapshot[state.rows[item.iItem]];
        if (item.iSubItem == 0) DiagFormatTime(entry.time, item.pszText, static_cast<size_t>(item.cchTextMax));
        else lstrcpynW(item.pszText, entry.text, item.cchTextMax);
        return 0;
    }
    case NM_CUSTOMDRAW: {
        auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(header);
        if (draw->nmcd.dwDrawStage == CDDS_PREPAINT) return CDRF_NOTIFYITEMDRAW;
        if (draw->nmcd.dwDrawStage != CDDS_ITEMPREPAINT) return 0;
        draw->clrText = state.dark ? kDarkText : GetSysColor(COLOR_WINDOWTEXT);
        draw->clrTextBk = state.dark ? kDarkList : RGB(255, 255, 255);
        const auto row = static_cast<int32_t>(draw->nmcd.dwItemSpec);
        if (row >= 0 && row < state.visibleCount && state.snapshot[state.rows[row]].level == LOG_ERROR)
            draw->clrTextBk = state.dark ? kDarkErrorRow : kLightErrorRow;
        return CDRF_NEWFONT;
    }
    case LVN_GETEMPTYMARKUP: {
        auto* markup = reinterpret_cast<NMLVEMPTYMARKUP*>(header);
        markup->dwFlags = EMF_CENTERED;
        lstrcpynW(markup->szMarkup, PickText(L"Keine Eintr\u00e4ge.", L"No entries."), L_MAX_URL_LENGTH);
        return TRUE;
    }
    default: return 0;
    }
}

bool CreateControls(HWND window)
{
    struct Spec {
        int id;
        const wchar_t* className;
        DWORD style;
        DWORD exStyle;
        const wchar_t* german;
        const wchar_t* english;
    };
    const DWORD visible = WS_CHILD | WS_VISIBLE;
    const Spec specs[] = {
        {DID_SYSTEM, WC_STATICW, visible | SS_NOPREFIX, 0, L"", L""},
        {DID_PRIVACY, WC_BUTTONW, visible | WS_TABSTOP | BS_PUSHBUTTON, 0,
         L"Windows-Einstellungen \u2192 Datenschutz \u00f6ffnen", L"Open Windows Settings \u2192 Privacy"},
        {DID_HINT, WC_STATICW, visible | SS_NOPREFIX, 0,
         L"Dort lassen sich Kamera- und Mikrofon-Berechtigungen f\u00fcr MI-RU pr\u00fcfen, falls das Bild schwarz "
         L"bleibt.",
         L"There you can check the camera and microphone permissions for MI-RU if the picture stays black."},
        {100, WC_BUTTONW, visible | WS_GROUP | WS_TABSTOP | BS_AUTORADIOBUTTON | BS_PUSHLIKE, 0, L"Alle", L"All"},
        {101, WC_BUTTONW, visible | BS_AUTORADIOBUTTON | BS_PUSHLIKE, 0, L"INFO", L"INFO"},
        {102, WC_BUTTONW, visible | BS_AUTORADIOBUTTON | BS_PUSHLIKE, 0, L"EVENT", L"EVENT"},
        {103, WC_BUTTONW, visible | BS_AUTORADIOBUTTON | BS_PUSHLIKE, 0, L"WARN", L"WARN"},
        {104, WC_BUTTONW, visible | BS_AUTORADIOBUTTON | BS_PUSHLIKE, 0, L"FEHLER", L"FEHLER"},
        {DID_COUNT, WC_STATICW, visible | WS_GROUP | SS_NOPREFIX, 0, L"", L""},
        {DID_LIST, WC_LISTVIEWW,
         visible | WS_TABSTOP | WS_BORDER | LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS | LVS_OWNERDATA |
             LVS_NOCOLUMNHEADER,
         0, L"", L""},
        {DID_COPY, WC_BUTTONW, visible | WS_TABSTOP | BS_PUSHBUTTON, 0, L"Kopieren", L"Copy"},
        {DID_CLEAR, WC_BUTTONW, visible | WS_TABSTOP | BS_PUSHBUTTON, 0, L"Protokoll leeren", L"Clear log"},
        {DID_COPIED, WC_STATICW, WS_CHILD | SS_NOPREFIX, 0, L"Kopiert", L"Copied"},
    };
    for (const Spec& spec : specs) {
        HWND control = CreateWindowExW(spec.exStyle, spec.className, PickText(spec.german, spec.english), spec.style,
                                       0, 0, 0, 0, window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(spec.id)),
                                       GetModuleHandleW(nullptr), nullptr);
        if (!control) return false;
    }
    wchar_t system[256];
    SystemVersionText(system);
    SetWindowTextW(Item(DID_SYSTEM), system[0] ? system : L"MI-RU App v" MIRU_VERSION_TEXT);
    return true;
}

void FreeBuffers()
{
    free(state.snapshot);
    free(state.scratch);
    free(state.rows);
    state.snapshot = state.scratch = nullptr;
    state.rows = nullptr;
}

bool HandleCreate(HWND window)
{
    state = DiagWindowState{};
    state.window = window;
    state.dpi = GetDpiForWindow(window);
    if (state.dpi == 0) state.dpi = USER_DEFAULT_SCREEN_DPI;
    state.dark = IsDarkAppearance();
    state.snapshot = static_cast<LogEntry*>(malloc(LOG_RING_CAPACITY * sizeof(LogEntry)));
    state.scratch = static_cast<LogEntry*>(malloc(LOG_RING_CAPACITY * sizeof(LogEntry)));
    state.rows = static_cast<int32_t*>(malloc(LOG_RING_CAPACITY * sizeof(int32_t)));
    if (!state.snapshot || !state.scratch || !state.rows) {
        LogWrite(LOG_ERROR, L"Diagnose-Fenster: Speicher-Allokation fehlgeschlagen");
        return false;
    }
    state.filterLevel = DIAG_FILTER_ALL;
    state.lastCount = -1;
    if (!CreateControls(window)) {
        LogWrite(LOG_ERROR, L"Diagnose-Fenster: Steuerelemente konnten nicht erstellt werden");
        return false;
    }
    HWND list = Item(DID_LIST);
    SendMessageW(list, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT | LVS_EX_DOUBLEBUFFER);
    LVCOLUMNW column = {};
    column.mask = LVCF_WIDTH;
    column.cx = Scale(kTimeColumn);
    SendMessageW(list, LVM_INSERTCOLUMNW, 0, reinterpret_cast<LPARAM>(&column));
    column.cx = Scale(380);
    SendMessageW(list, LVM_INSERTCOLUMNW, 1, reinterpret_cast<LPARAM>(&column));
    SendMessageW(Item(DID_FILTER_ALL), BM_SETCHECK, BST_CHECKED, 0);
    ApplyFonts();
    ApplyTheme();
    Layout();
    Refresh(true);
    SetTimer(window, TIMER_THEME, 2000, nullptr);
    return true;
}

void HandleDestroy()
{
    for (UINT_PTR id : {TIMER_THEME, TIMER_COPIED, TIMER_REFRESH}) KillTimer(state.window, id);
    FreeBuffers();
    DeleteFonts();
    if (state.background && state.background != GetSysColorBrush(COLOR_BTNFACE)) DeleteObject(state.background);
    state.background = nullptr;
    state.visibleCount = 0;
    state.window = nullptr;
}

void HandleTimer(WPARAM id)
{
    if (id == TIMER_THEME) {
        const bool dark = IsDarkAppearance();
        if (dark != state.dark) {
            state.dark = dark;
            ApplyTheme();
        }
        Refresh(false);
    } else if (id == TIMER_COPIED) {
        KillTimer(state.window, TIMER_COPIED);
        ShowWindow(Item(DID_COPIED), SW_HIDE);
    } else if (id == TIMER_REFRESH) {
        KillTimer(state.window, TIMER_REFRESH);
        state.refreshPending = false;
        Refresh(false);
    }
}

LRESULT CALLBACK DiagWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_CREATE:
        if (HandleCreate(window)) return 0;
        FreeBuffers();
        return -1;
    case WM_APP_LOG_CHANGED:
        if (!state.refreshPending) {
            state.refreshPending = true;
            SetTimer(window, TIMER_REFRESH, 150, nullptr);
        }
        return 0;
    case WM_COMMAND:
        HandleCommand(LOWORD(wParam));
        return 0;
    case WM_NOTIFY: {
        auto* header = reinterpret_cast<NMHDR*>(lParam);
        if (header->idFrom == DID_LIST) return HandleListNotify(header);
        return 0;
    }
    case WM_TIMER:
        HandleTimer(wParam);
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE) Refresh(false);
        break;
    case WM_CTLCOLORSTATIC: {
        HDC dc = reinterpret_cast<HDC>(wParam);
        const int id = GetDlgCtrlID(reinterpret_cast<HWND>(lParam));
        const bool gray = id == DID_SYSTEM || id == DID_HINT || id == DID_COUNT;
        SetBkColor(dc, state.dark ? kDarkBackground : GetSysColor(COLOR_BTNFACE));
        SetTextColor(dc, gray ? (state.dark ? kDarkGrayText : GetSysColor(COLOR_GRAYTEXT))
                              : (state.dark ? kDarkText : GetSysColor(COLOR_WINDOWTEXT)));
        return reinterpret_cast<LRESULT>(state.background ? state.background : GetSysColorBrush(COLOR_BTNFACE));
    }
    case WM_ERASEBKGND:
        if (!state.background) break;
        {
            RECT client;
            GetClientRect(window, &client);
            FillRect(reinterpret_cast<HDC>(wParam), &client, state.background);
        }
        return 1;
    case WM_GETMINMAXINFO: {
        auto* info = reinterpret_cast<MINMAXINFO*>(lParam);
        const UINT dpi = state.dpi ? state.dpi : USER_DEFAULT_SCREEN_DPI;
        info->ptMinTrackSize.x = MulDiv(kMinimumSize, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI);
        info->ptMinTrackSize.y = MulDiv(kMinimumSize, static_cast<int>(dpi), USER_DEFAULT_SCREEN_DPI);
        return 0;
    }
    case WM_DPICHANGED:
        state.dpi = ToolWindowFollowDpi(window, wParam, lParam);
        ApplyFonts();
        Layout();
        return 0;
    case WM_SIZE:
        Layout();
        return 0;
    default:
        break;
    }
    return ToolWindowDefault(window, message, wParam, lParam, HandleDestroy);
}

// Paints its own background (WM_ERASEBKGND).
ToolWindowClass windowClass = {kClassName, DiagWindowProc, nullptr, false};

}  // namespace

void OpenDiagnostics(HWND owner)
{
    if (state.window) {
        ToolWindowRaise(state.window);
        Refresh(true);
        return;
    }
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_LISTVIEW_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    if (!ToolWindowRegister(windowClass, owner)) {
        LogWrite(LOG_ERROR, L"Diagnose-Fenster: Fensterklasse konnte nicht registriert werden");
        return;
    }
    if (!ToolWindowCreate(windowClass, owner, PickText(L"Diagnose", L"Diagnostics"), WS_OVERLAPPEDWINDOW,
                          kClientWidth, kClientHeight))
        LogWrite(LOG_ERROR, L"Diagnose-Fenster konnte nicht erstellt werden");
}
