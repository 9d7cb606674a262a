#pragma once
// The user interface's shared state block: read by the renderer and the cockpit every frame,
// written only on the UI thread (main window, cockpit input). Read without locks.
#include <cstdint>

constexpr int32_t UI_FREE_SPACE_CAPACITY = 64;
constexpr int32_t UI_STATUS_DETAIL_CAPACITY = 96;
constexpr int32_t UI_NOTICE_CAPACITY = 64;
constexpr uint32_t UI_FRAMES_NOT_RECORDING = 0xFFFFFFFFu;

struct UiStateRecord {
    float pipSize;          // Macro picture width as a fraction of the video width, 0 ... 1
    bool cockpitVisible;
    bool micMuted;          // no sound for the next recording
    bool recording;
    uint32_t recordSeconds;
    float photoFlash;       // flash intensity after a photo
    wchar_t freeSpaceText[UI_FREE_SPACE_CAPACITY];
    wchar_t statusDetail[UI_STATUS_DETAIL_CAPACITY];  // second status line
    uint32_t status;        // status number (app/texts.h)
    bool live;              // camera frames arrive: photos and recordings are allowed
    uint32_t framesWide;
    uint32_t framesMacro;
    uint32_t framesRecorded;  // UI_FRAMES_NOT_RECORDING while no recording runs
    float dpiScale;           // window DPI / 96
    bool sliderDrag;          // a cockpit slider is being dragged
    wchar_t notice[UI_NOTICE_CAPACITY];  // a short notice over the picture (a refused photo), or empty
};
static_assert(sizeof(bool) == 1, "shared records keep booleans in single bytes");

extern UiStateRecord UiState;

// All bytes zero, then the start values (cockpit shown, Macro size 0.3, scale 1).
void UiStateReset();

// The second status line: at most 95 characters of `text`; null clears it.
void UiStateSetStatusDetail(const wchar_t* text);
