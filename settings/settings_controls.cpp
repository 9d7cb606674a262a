#include "settings/settings_controls.h"

#include <commctrl.h>

#include <algorithm>

#include "app/texts.h"
#include "diag/log.h"
#include "res/miru_version.h"
#include "settings/settings_texts.h"
#include "settings/stab_sliders.h"

SettingsWindowState SettingsWindow;

namespace {

enum class Kind : uint8_t { Group, Radio, RadioNext, Check, Edit, Static, Button, Combo, Slider, Link, HelpEdit };

struct ControlSpec {
    int8_t tab;
    int16_t id;  // 0: no identifier (-1 as the control id)
    Kind kind;
    DWORD style;  // added to the kind's style
    const wchar_t* german;
    const wchar_t* english;  // null: same as german
    int8_t font;
    int8_t colour;
    bool developer;
    ControlPlace place;
};

constexpr ControlPlace At(int x, int y, int width, int height)
{
    return {0, static_cast<int16_t>(x), static_cast<int16_t>(y), 0, static_cast<int16_t>(width),
            static_cast<int16_t>(height)};
}
// Width cw + widthFromCw.
constexpr ControlPlace AtWide(int x, int y, int widthFromCw, int height)
{
    return {0, static_cast<int16_t>(x), static_cast<int16_t>(y), 1, static_cast<int16_t>(widthFromCw),
            static_cast<int16_t>(height)};
}
// x = cw + xFromCw.
constexpr ControlPlace AtRight(int xFromCw, int y, int width, int height)
{
    return {1, static_cast<int16_t>(xFromCw), static_cast<int16_t>(y), 0, static_cast<int16_t>(width),
            static_cast<int16_t>(height)};
}

constexpr DWORD NOPREFIX = SS_NOPREFIX;

// The "&" of the tab and the group texts would be taken as a mnemonic prefix: "&&" shows it.
constexpr ControlSpec kSpecs[] = {
    // General
    {0, 0, Kind::Group, 0, L"Darstellung", L"Appearance", 0, 0, false, AtWide(0, 4, 0, 90)},
    {0, 110, Kind::Radio, 0, L"Automatisch", L"Automatic", 0, 0, false, At(14, 24, 220, 18)},
    {0, 111, Kind::RadioNext, 0, L"Hell", L"Light", 0, 0, false, At(14, 45, 220, 18)},
    {0, 112, Kind::RadioNext, 0, L"Dunkel", L"Dark", 0, 0, false, At(14, 66, 220, 18)},
    {0, 0, Kind::Static, NOPREFIX, L"Sprache: MI-RU folgt der Systemsprache (Deutsch/Englisch).",
     L"Language: MI-RU follows the system language (German/English).", 1, COLOUR_GRAY, false, AtWide(2, 100, -4, 30)},
    {0, 0, Kind::Group, 0, L"Wasserzeichen", L"Watermark", 0, 0, false, AtWide(0, 134, 0, 78)},
    {0, 115, Kind::Check, 0, L"Praxis-Wasserzeichen einblenden", L"Show practice watermark", 0, 0, false,
     AtWide(14, 154, -28, 18)},
    {0, 116, Kind::Edit, 0, L"", nullptr, 0, 0, false, AtWide(14, 176, -28, 22)},
    {0, 0, Kind::Group, 0, L"Tastenk\u00fcrzel", L"Keyboard shortcuts", 0, 0, false, AtWide(0, 218, 0, 248)},
    // Recording
    {1, 0, Kind::Group, 0, L"Aufl\u00f6sung", L"Resolution", 0, 0, false, AtWide(0, 4, 0, 72)},
    {1, 120, Kind::Radio, 0, L"Full HD (1920 \u00d7 1080)", nullptr, 0, 0, false, At(14, 24, 280, 18)},
    {1, 121, Kind::RadioNext, 0, L"2560 \u00d7 1440", nullptr, 0, 0, false, At(14, 46, 280, 18)},
    {1, 0, Kind::Group, 0, L"Aufnahmeordner", L"Recording folder", 0, 0, false, AtWide(0, 84, 0, 98)},
    {1, SID_FOLDER_LINE, Kind::Static, NOPREFIX | SS_PATHELLIPSIS, L"", nullptr, 2, COLOUR_GRAY, false,
     AtWide(14, 104, -28, 18)},
    {1, 126, Kind::Button, 0, L"Ordner \u00e4ndern\u2026", L"Change folder\u2026", 0, 0, false, At(14, 130, 150, 26)},
    {1, 127, Kind::Button, 0, L"Im Explorer \u00f6ffnen", L"Open in Explorer", 0, 0, false, At(172, 130, 170, 26)},
    {1, SID_FOLDER_NOTE, Kind::Static, NOPREFIX, L"", nullptr, 1, COLOUR_AMBER, false, AtWide(14, 160, -28, 16)},
    // Cameras
    {2, 0, Kind::Group, 0, L"Zuordnung", L"Assignment", 0, 0, false, AtWide(0, 2, 0, 126)},
    {2, 0, Kind::Static, 0, L"Wide (\u00dcbersicht)", L"Wide (overview)", 0, 1, false, At(14, 22, 150, 16)},
    {2, 130, Kind::Combo, 0, L"", nullptr, 0, 0, false, AtWide(170, 18, -184, 200)},
    {2, 0, Kind::Static, 0, L"Macro (Nahaufnahme)", L"Macro (close-up)", 0, 1, false, At(14, 47, 150, 16)},
    {2, 131, Kind::Combo, 0, L"", nullptr, 0, 0, false, AtWide(170, 43, -184, 200)},
    {2, 132, Kind::Button, 0, L"Wide \u2194 Macro tauschen", L"Swap Wide \u2194 Macro", 0, 0, false,
     At(170, 69, 190, 23)},
    {2, SID_SAME_CAMERA, Kind::Static, NOPREFIX, L"", nullptr, 1, COLOUR_RED, false, AtWide(14, 97, -28, 16)},
    {2, 0, Kind::Group, 0, L"Bild", L"Image", 0, 0, false, AtWide(0, 132, 0, 64)},
    {2, 134, Kind::Check, 0, L"Bildstabilisierung (Makro)", L"Image stabilization (Macro)", 0, 0, false,
     AtWide(14, 150, -28, 17)},
    {2, 0, Kind::Static, 0, L"Reduziert das Zittern der Makro-Kamera (leichter Bildausschnitt).",
     L"Reduces the Macro camera's shake (slight crop).", 1, COLOUR_GRAY, false, AtWide(14, 169, -28, 20)},
    {2, 135, Kind::Button, 0, L"Einrichtung erneut durchf\u00fchren", L"Run setup again", 0, 0, false,
     At(2, 202, 230, 23)},
    {2, 0, Kind::Static, 0, L"Startet die Ersteinrichtung (Ordner, Kameras, Mikrofon) erneut.",
     L"Runs the initial setup (folder, cameras, microphone) again.", 1, COLOUR_GRAY, false, AtWide(4, 228, -8, 14)},
    {2, 136, Kind::Button, BS_LEFT, L"\u25b8 Entwickler-Optionen", L"\u25b8 Developer options", 0, 0, false,
     At(2, 248, 220, 21)},
    {2, 0, Kind::Static, 0, L"Diagnose-Anzeigen und Feinjustierung der Bildstabilisierung.",
     L"Diagnostic overlays and fine-tuning of the image stabilization.", 1, COLOUR_GRAY, false,
     AtWide(4, 272, -8, 14)},
    {2, 140, Kind::Check, 0, L"Kamera-FPS anzeigen", L"Show camera FPS", 0, 0, true, At(4, 290, 250, 17)},
    {2, 141, Kind::Check, 0, L"Stabilisierungs-Regler einblenden", L"Show stabilization sliders", 0, 0, true,
     AtWide(262, 290, -266, 17)},
    {2, 142, Kind::Check, 0, L"Stabilisierungs-Rahmen zeigen", L"Show stabilization frame", 0, 0, true,
     At(4, 309, 250, 17)},
    {2, 143, Kind::Check, 0, L"Stabilisierungs-Diagnose loggen", L"Log stabilization diagnostics", 0, 0, true,
     AtWide(262, 309, -266, 17)},
    {2, 170, Kind::Button, 0, L"Stabilisierung auf Standard zur\u00fccksetzen", L"Reset stabilization to defaults", 0,
     0, true, At(4, 430, 280, 22)},
    // Audio
    {3, 0, Kind::Group, 0, L"Mikrofon", L"Microphone", 0, 0, false, AtWide(0, 4, 0, 104)},
    {3, 180, Kind::Combo, 0, L"", nullptr, 0, 0, false, AtWide(14, 24, -28, 200)},
    {3, 0, Kind::Static, 0,
     L"Ohne Ton wird nur Bild aufgenommen. Ein angeschlossenes USB-Mikrofon erscheint hier zur Auswahl.",
     L"Without audio, only video is recorded. A connected USB microphone appears here for selection.", 1,
     COLOUR_GRAY, false, AtWide(14, 56, -28, 40)},
    // Help & info
    {4, 195, Kind::Static, SS_OWNERDRAW, L"", nullptr, 0, 0, false, At(2, 4, 44, 34)},
    {4, 0, Kind::Static, NOPREFIX, L"MI-RU", nullptr, 3, 1, false, At(52, 4, 170, 24)},
    {4, 0, Kind::Static, NOPREFIX, L"Lupenkamera f\u00fcr Wide und Macro", L"Loupe camera for Wide and Macro", 4,
     COLOUR_GRAY, false, At(52, 28, 240, 15)},
    {4, 0, Kind::Static, SS_RIGHT, L"Version " MIRU_VERSION_TEXT, nullptr, 1, COLOUR_GRAY, false,
     AtRight(-130, 6, 130, 15)},
    {4, 0, Kind::Static, NOPREFIX, L"Native Windows-App f\u00fcr die MI-RU USB-Doppel-Kameras (Wide + Macro).",
     L"Native Windows app for the MI-RU USB dual cameras (Wide + Macro).", 0, COLOUR_GRAY, false,
     AtWide(2, 50, -4, 16)},
    {4, 190, Kind::Link, 0,
     L"<a href=\"https://www.mi-ru.example\">www.mi-ru.example</a>      "
     L"<a href=\"mailto:support@mi-ru.example\">support@mi-ru.example</a>",
     nullptr, 0, 0, false, AtWide(2, 70, -4, 16)},
    {4, 0, Kind::Static, NOPREFIX, L"MI-RU \u00b7 Musterstra\u00dfe 1 \u00b7 12345 Musterstadt", nullptr, 1,
     COLOUR_GRAY, false, AtWide(2, 90, -4, 14)},
    {4, 0, Kind::Group, 0, L"Hilfe", L"Help", 0, 0, false, AtWide(0, 110, 0, 292)},
    {4, 191, Kind::HelpEdit, 0, L"", nullptr, 0, 5, false, AtWide(12, 128, -24, 264)},
    {4, 192, Kind::Button, 0, L"Diagnose / Fehlerprotokoll \u00f6ffnen\u2026", L"Open diagnostics / error log\u2026", 0,
     0, false, At(2, 410, 260, 24)},
    {4, 0, Kind::Static, NOPREFIX,
     L"Nur im Notfall \u2014 das Fehlerprotokoll hilft dem Support, falls etwas klemmt.",
     L"Only for emergencies \u2014 the error log helps support when something is stuck.", 1, COLOUR_GRAY, false,
     AtWide(2, 438, -4, 28)},
};

struct ClassAndStyle {
    const wchar_t* className;
    DWORD style;
    DWORD exStyle;
};

ClassAndStyle ClassOf(Kind kind)
{
    switch (kind) {
    case Kind::Group: return {WC_BUTTONW, BS_GROUPBOX, 0};
    case Kind::Radio: return {WC_BUTTONW, BS_AUTORADIOBUTTON | WS_TABSTOP, 0};
    case Kind::RadioNext: return {WC_BUTTONW, BS_AUTORADIOBUTTON, 0};
    case Kind::Check: return {WC_BUTTONW, BS_AUTOCHECKBOX | WS_TABSTOP, 0};
    case Kind::Edit: return {WC_EDITW, ES_AUTOHSCROLL | WS_TABSTOP, WS_EX_CLIENTEDGE};
    case Kind::Static: return {WC_STATICW, 0, 0};
    case Kind::Button: return {WC_BUTTONW, BS_PUSHBUTTON | WS_TABSTOP, 0};
    case Kind::Combo: return {WC_COMBOBOXW, CBS_DROPDOWNLIST | WS_VSCROLL | WS_TABSTOP, 0};
    case Kind::Slider: return {TRACKBAR_CLASSW, TBS_NOTICKS | WS_TABSTOP, 0};
    case Kind::Link: return {WC_LINK, WS_TABSTOP, 0};
    case Kind::HelpEdit: return {WC_EDITW, ES_MULTILINE | ES_READONLY | WS_VSCROLL, WS_EX_CLIENTEDGE};
    }
    return {WC_STATICW, 0, 0};
}

// Creates one control hidden and registers it; a failure is counted.
HWND AddControl(HWND window, const ControlSpec& spec)
{
    const ClassAndStyle cls = ClassOf(spec.kind);
    DWORD style = WS_CHILD | WS_CLIPSIBLINGS | cls.style | spec.style;
    if (spec.kind != Kind::RadioNext) style |= WS_GROUP;
    const wchar_t* text = spec.english ? PickText(spec.german, spec.english) : spec.german;
    HWND control = CreateWindowExW(cls.exStyle, cls.className, text, style, 0, 0, 0, 0, window,
                                   reinterpret_cast<HMENU>(static_cast<INT_PTR>(spec.id ? spec.id : -1)),
                                   GetModuleHandleW(nullptr), nullptr);
    if (!control) {
        SettingsWindow.creationFailures++;
        return nullptr;
    }
    SettingsWindowState& s = SettingsWindow;
    // A control beyond the table's capacity still works; it just is not laid out or shown.
    if (s.controlCount < SETTINGS_CONTROL_CAPACITY)
        s.controls[s.controlCount++] = {control, spec.tab, spec.font, spec.colour, spec.developer,
                                        spec.kind == Kind::Group, spec.place};
    return control;
}

void AddShortcutRows(HWND window)
{
    for (int i = 0; i < SHORTCUT_TEXT_COUNT; i++) {
        const ShortcutText& row = SHORTCUT_TEXTS[i];
        const int y = 240 + 22 * i;
        AddControl(window, {0, 0, Kind::Static, NOPREFIX, row.germanDescription, row.englishDescription, 0, 1,
                            false, AtWide(14, y, -176, 16)});
        AddControl(window, {0, 0, Kind::Static, NOPREFIX | SS_RIGHT, row.keyGerman, row.keyEnglish, 2, COLOUR_GRAY,
                            false, AtRight(-166, y, 152, 16)});
    }
}

void AddSliderRows(HWND window)
{
    for (int r = 0; r < STAB_SLIDER_COUNT; r++) {
        const StabSliderRow& row = STAB_SLIDERS[r];
        AddControl(window, {2, 0, Kind::Static, NOPREFIX, row.german, row.english, 0, 1, true,
                            At(4, 332 + 25 * r, 86, 15)});
        HWND slider = AddControl(window, {2, static_cast<int16_t>(SID_SLIDER + r), Kind::Slider, 0, L"", nullptr, 0,
                                          0, true, AtWide(94, 330 + 25 * r, -160, 21)});
        if (slider) {
            SendMessageW(slider, TBM_SETRANGE, FALSE, MAKELPARAM(0, StabSliderSteps(row)));
            SendMessageW(slider, TBM_SETPAGESIZE, 0, StabSliderPage(row));
            SendMessageW(slider, TBM_SETLINESIZE, 0, 1);
        }
        AddControl(window, {2, static_cast<int16_t>(SID_SLIDER_VALUE + r), Kind::Static, NOPREFIX | SS_RIGHT, L"",
                            nullptr, 2, COLOUR_AMBER, true, AtRight(-60, 332 + 25 * r, 60, 15)});
    }
}

bool InsertTabs(HWND tab)
{
    static constexpr const wchar_t* kTabs[SETTINGS_TAB_COUNT][2] = {
        {L"Allgemein", L"General"}, {L"Aufnahme", L"Recording"}, {L"Kameras", L"Cameras"},
        {L"Ton", L"Audio"},         {L"Hilfe && Info", L"Help && info"}};
    for (int i = 0; i < SETTINGS_TAB_COUNT; i++) {
        TCITEMW item = {};
        item.mask = TCIF_TEXT;
        item.pszText = const_cast<wchar_t*>(PickText(kTabs[i][0], kTabs[i][1]));
        if (SendMessageW(tab, TCM_INSERTITEMW, i, reinterpret_cast<LPARAM>(&item)) < 0) return false;
    }
    return true;
}

LOGFONTW MessageFont(UINT dpi)
{
    using SpiForDpi = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
    const auto forDpi = reinterpret_cast<SpiForDpi>(reinterpret_cast<void (*)()>(
        GetProcAddress(GetModuleHandleW(L"user32.dll"), "SystemParametersInfoForDpi")));
    NONCLIENTMETRICSW metrics = {};
    metrics.cbSize = sizeof(metrics);
    if (forDpi) {
        if (forDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, dpi)) return metrics.lfMessageFont;
    } else if (SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0)) {
        LOGFONTW font = metrics.lfMessageFont;
        font.lfHeight = MulDiv(font.lfHeight, static_cast<int>(dpi), static_cast<int>(GetDpiForSystem()));
        return font;
    }
    LOGFONTW font = {};
    font.lfHeight = -MulDiv(9, static_cast<int>(dpi), 72);
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfQuality = CLEARTYPE_QUALITY;
    lstrcpynW(font.lfFaceName, L"Segoe UI", LF_FACESIZE);
    return font;
}

HFONT NamedFont(const wchar_t* face, int points, int weight, UINT dpi)
{
    return CreateFontW(-MulDiv(points, static_cast<int>(dpi), 72), 0, 0, 0, weight, FALSE, FALSE, FALSE,
                       DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, CLEARTYPE_QUALITY,
                       DEFAULT_PITCH | FF_DONTCARE, face);
}

int Scale(int value)
{
    return MulDiv(value, static_cast<int>(SettingsWindow.dpi), USER_DEFAULT_SCREEN_DPI);
}

}  // namespace

bool SettingsCreateControls(HWND window)
{
    SettingsWindowState& s = SettingsWindow;
    s.tab = CreateWindowExW(0, WC_TABCONTROLW, L"", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS | WS_TABSTOP, 0, 0, 0, 0,
                            window, reinterpret_cast<HMENU>(static_cast<INT_PTR>(SID_TAB)),
                            GetModuleHandleW(nullptr), nullptr);
    if (!s.tab || !InsertTabs(s.tab)) {
        LogWrite(LOG_ERROR, L"Einstellungen: Tab-Steuerelement konnte nicht erstellt werden");
        return false;
    }
    for (const ControlSpec& spec : kSpecs) {
        HWND control = AddControl(window, spec);
        if (spec.id == 116 && control) SendMessageW(control, EM_SETLIMITTEXT, 255, 0);
        if (spec.tab == 0 && spec.id == 116) AddShortcutRows(window);  // their group box follows
        if (spec.id == 143) AddSliderRows(window);
    }
    if (s.creationFailures > 0) {
        LogWrite(LOG_ERROR, L"Einstellungen: %d Steuerelemente konnten nicht erstellt werden", s.creationFailures);
        return false;
    }
    // Group boxes drawn after the controls inside them would cover them.
    for (int32_t i = 0; i < s.controlCount; i++)
        if (s.controls[i].groupBox)
            SetWindowPos(s.controls[i].handle, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    SetWindowPos(s.tab, HWND_BOTTOM, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return true;
}

void SettingsDeleteFonts()
{
    for (HFONT& font : SettingsWindow.fonts) {
        if (font) DeleteObject(font);
        font = nullptr;
    }
}

void SettingsApplyFonts()
{
    SettingsWindowState& s = SettingsWindow;
    HFONT made[SETTINGS_FONT_COUNT] = {};
    LOGFONTW message = MessageFont(s.dpi);
    made[0] = CreateFontIndirectW(&message);
    LOGFONTW small = message;
    small.lfHeight = small.lfHeight * 8 / 9;
    made[1] = CreateFontIndirectW(&small);
    made[2] = NamedFont(L"Consolas", 9, FW_NORMAL, s.dpi);
    made[3] = NamedFont(L"Arial Black", 15, FW_HEAVY, s.dpi);
    LOGFONTW italic = message;
    italic.lfItalic = TRUE;
    made[4] = CreateFontIndirectW(&italic);

    SendMessageW(s.tab, WM_SETFONT, reinterpret_cast<WPARAM>(made[0]), TRUE);
    for (int32_t i = 0; i < s.controlCount; i++) {
        HFONT font = made[s.controls[i].font];
        // A font that could not be made leaves the control with the system font.
        SendMessageW(s.controls[i].handle, WM_SETFONT, reinterpret_cast<WPARAM>(font ? font : nullptr), TRUE);
    }
    // The controls no longer use the old fonts.
    SettingsDeleteFonts();
    for (int i = 0; i < SETTINGS_FONT_COUNT; i++) s.fonts[i] = made[i];
}

void SettingsLayout()
{
    SettingsWindowState& s = SettingsWindow;
    if (!s.window || !s.tab) return;
    RECT client;
    GetClientRect(s.window, &client);
    MoveWindow(s.tab, 0, 0, client.right, client.bottom, TRUE);
    RECT display = {0, 0, client.right, client.bottom};
    SendMessageW(s.tab, TCM_ADJUSTRECT, FALSE, reinterpret_cast<LPARAM>(&display));
    const int originX = display.left + Scale(10);
    const int originY = display.top + Scale(6);
    const int cw = std::max(static_cast<int>(MulDiv(display.right - display.left, USER_DEFAULT_SCREEN_DPI,
                                                    static_cast<int>(s.dpi))) - 20,
                            240);
    for (int32_t i = 0; i < s.controlCount; i++) {
        const ControlPlace& p = s.controls[i].place;
        MoveWindow(s.controls[i].handle, originX + Scale(p.xCw * cw + p.x), originY + Scale(p.y),
                   Scale(p.widthCw * cw + p.width), Scale(p.height), TRUE);
    }
}

void SettingsShowSelectedTab()
{
    SettingsWindowState& s = SettingsWindow;
    if (!s.tab) return;
    const int selected = static_cast<int>(SendMessageW(s.tab, TCM_GETCURSEL, 0, 0));
    for (int32_t i = 0; i < s.controlCount; i++) {
        const SettingsControlRecord& c = s.controls[i];
        const bool show = c.tab == selected && (!c.developer || s.developerOpen);
        ShowWindow(c.handle, show ? SW_SHOWNA : SW_HIDE);
    }
}

int8_t SettingsColourClass(HWND control)
{
    for (int32_t i = 0; i < SettingsWindow.controlCount; i++)
        if (SettingsWindow.controls[i].handle == control) return SettingsWindow.controls[i].colour;
    return 0;
}
