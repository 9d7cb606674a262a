#pragma once
// The wizard's state, shared by its window (onboarding.cpp) and its drawing
// (onboarding_draw.cpp). UI thread only; cleared at every run.
#include <windows.h>
#include <d2d1.h>

#include <cstdint>

#include "capture/device_list.h"
#include "settings/settings_record.h"

struct CapturePreview;

enum : int {
    ID_BACK = 100,
    ID_PRIMARY = 101,
    ID_CHOOSE_FOLDER = 102,
    ID_USE_SUGGESTION = 103,
    ID_WIDE_LIST = 110,
    ID_MACRO_LIST = 111,
    ID_MICROPHONE_LIST = 112,
};

enum : UINT_PTR {
    TIMER_PREVIEW_REPAINT = 1,  // 33 ms on the camera page
    TIMER_DEVICE_REFRESH = 2,   // 1 s on the camera and microphone pages
};

// One live preview box: the device it shows, its reader and the bitmap of its newest frame.
struct OnboardingPreviewSlot {
    wchar_t shownId[CAPTURE_ID_CAPACITY];
    CapturePreview* preview;
    uint64_t failedAtMs;  // when opening shownId failed (GetTickCount64), 0 when it did not
    ID2D1Bitmap* bitmap;  // made by the wizard's render target
    int32_t bitmapWidth;
    int32_t bitmapHeight;
};

struct OnboardingState {
    int32_t page;
    bool completed;  // finished on the last page: the result of the run
    bool quitLoop;   // the window is gone
    HWND window;
    UINT dpi;
    bool dark;
    HWND back, primary, chooseFolder, useSuggestion, wideList, macroList, microphoneList;
    HFONT controlFont, folderFont;
    HBRUSH darkListBrush;

    // The current device lists, and what the drop-down lists hold: a list that is dropped down
    // is not refilled, so a selection is resolved against what the user saw.
    CaptureDevice cameras[CAPTURE_LIST_CAPACITY];
    int32_t cameraCount;
    CaptureDevice shownCameras[CAPTURE_LIST_CAPACITY];
    int32_t shownCameraCount;
    CaptureDevice microphones[CAPTURE_LIST_CAPACITY];
    int32_t microphoneCount;
    CaptureDevice shownMicrophones[CAPTURE_LIST_CAPACITY];
    int32_t shownMicrophoneCount;

    OnboardingPreviewSlot slots[2];  // Wide, Macro
    wchar_t suggestion[SETTINGS_FOLDER_CAPACITY];  // "<Videos>\MI-RU Aufnahmen", or empty
};
extern OnboardingState Wizard;

// Window pixels per DIP.
inline float WizardScale()
{
    return static_cast<float>(Wizard.dpi ? Wizard.dpi : USER_DEFAULT_SCREEN_DPI) / USER_DEFAULT_SCREEN_DPI;
}

// ---- Drawing (onboarding_draw.cpp) ----

// WM_PAINT: the current page with Direct2D, or the plain background when that cannot be made.
void OnboardingPaint();
// WM_DPICHANGED: the text formats are made again at the next paint.
void OnboardingDrawDpiChanged();
// The still parts of the page changed (page, choice, size): drawn again at the next paint.
void OnboardingDrawInvalidate();
// Drops the render target, brushes, formats and preview bitmaps (WM_DESTROY).
void OnboardingDrawRelease();
// Drops the bitmap of a preview slot (when its preview closes).
void OnboardingDrawDropSlotBitmap(OnboardingPreviewSlot& slot);
// Clears the once-per-run failure notes.
void OnboardingDrawResetRun();
