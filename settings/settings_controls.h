#pragma once
// The settings window's controls: what each tab holds, where it sits, its font and its text
// colour; the window's fonts and layout. UI thread only; used by settings_window.cpp.
#include <windows.h>
#include <cstdint>

#include "capture/device_list.h"

enum : int {
    SID_TAB = 100,
    SID_APPEARANCE_AUTO = 110,  // 111 light, 112 dark
    SID_APPEARANCE_DARK = 112,
    SID_WATERMARK = 115,
    SID_PRAXIS = 116,
    SID_RES_FULL_HD = 120,
    SID_RES_HIGH = 121,
    SID_PICK_FOLDER = 126,
    SID_OPEN_FOLDER = 127,
    SID_WIDE = 130,
    SID_MACRO = 131,
    SID_SWAP = 132,
    SID_STABILIZE = 134,
    SID_RUN_SETUP = 135,
    SID_DEVELOPER = 136,
    SID_DEV_FPS = 140,  // 141 sliders, 142 frame, 143 diagnostics
    SID_DEV_DIAG = 143,
    SID_SLIDER = 150,  // 150..153
    SID_RESET_STAB = 170,
    SID_MICROPHONE = 180,
    SID_LINKS = 190,
    SID_HELP = 191,
    SID_DIAGNOSTICS = 192,
    SID_LOGO = 195,
    // Controls the window updates but the user does not act on.
    SID_FOLDER_LINE = 200,
    SID_SAME_CAMERA = 201,
    SID_FOLDER_NOTE = 202,
    SID_SLIDER_VALUE = 210,  // 210..213
};

enum : int8_t { COLOUR_GRAY = 2, COLOUR_RED = 3, COLOUR_AMBER = 4 };

constexpr int32_t SETTINGS_TAB_COUNT = 5;
constexpr int32_t SETTINGS_CONTROL_CAPACITY = 96;
constexpr int32_t SETTINGS_FONT_COUNT = 5;

// A place in 96-dpi units relative to the tab content's origin; x and width may add a
// multiple of the content width cw: x = xCw * cw + x.
struct ControlPlace {
    int16_t xCw, x, y, widthCw, width, height;
};

struct SettingsControlRecord {
    HWND handle;
    int8_t tab;
    int8_t font;
    int8_t colour;
    bool developer;
    bool groupBox;
    ControlPlace place;
};

struct SettingsWindowState {
    HWND window;
    HWND tab;
    SettingsControlRecord controls[SETTINGS_CONTROL_CAPACITY];
    int32_t controlCount;
    int32_t creationFailures;
    bool developerOpen;
    bool updating;
    UINT dpi;
    HFONT fonts[SETTINGS_FONT_COUNT];
    CaptureDevice cameras[CAPTURE_LIST_CAPACITY];
    int32_t cameraCount;
    CaptureDevice microphones[CAPTURE_LIST_CAPACITY];
    int32_t microphoneCount;
};
extern SettingsWindowState SettingsWindow;

// The tab control and every control, hidden; false (logged) when any could not be made.
bool SettingsCreateControls(HWND window);
// Makes the five fonts for SettingsWindow.dpi, assigns them and deletes the previous ones.
void SettingsApplyFonts();
void SettingsDeleteFonts();
// Places every control for the current tab control size and DPI.
void SettingsLayout();
// Shows the controls of the selected tab (developer controls only while that section is open).
void SettingsShowSelectedTab();
// The text colour class of a registered control (0 when it is not registered).
int8_t SettingsColourClass(HWND control);
