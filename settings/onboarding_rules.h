#pragma once
// The decisions of the first-run wizard, free of Windows calls: which page may be left, which
// cameras are proposed, what the controls show, which previews must close or open, how the
// summary names the folder, and where everything sits in the window.
#include <cstdint>
#include <span>

#include "capture/device_list.h"

enum : int32_t {
    PAGE_WELCOME = 0,
    PAGE_CONNECT = 1,
    PAGE_MOUNTING = 2,
    PAGE_CABLE = 3,
    PAGE_FOLDER = 4,
    PAGE_CAMERAS = 5,
    PAGE_MICROPHONE = 6,
    PAGE_USAGE = 7,
    PAGE_DONE = 8,
    ONBOARDING_PAGE_COUNT = 9,
};

// The choices a page is judged by (the settings fields the wizard writes).
struct OnboardingChoices {
    const wchar_t* recordingFolder;
    const wchar_t* wideId;
    const wchar_t* macroId;
};

// Whether the primary button may leave `page`: the folder page needs a folder; the camera page
// two different listed cameras.
bool OnboardingPageValid(int32_t page, const OnboardingChoices& choices, std::span<const CaptureDevice> cameras);

// Proposes cameras for the roles: a Wide id that is not listed becomes the first camera (empty
// without cameras); a Macro id is kept when listed and not the Wide one, else the first other
// camera, else empty. Both buffers hold CAPTURE_ID_CAPACITY units.
void OnboardingDefaultCameras(std::span<const CaptureDevice> cameras, wchar_t* wideId, wchar_t* macroId);

enum class PrimaryLabel : uint8_t { LetsGo, Continue, Finish };

// Which controls a page shows.
struct OnboardingControls {
    bool back;
    bool folderButton;
    bool suggestionButton;  // "use the suggestion", while no folder is chosen
    bool cameraLists;       // only with two cameras or more
    bool microphoneList;
    PrimaryLabel primary;
};
OnboardingControls OnboardingControlsFor(int32_t page, int32_t cameraCount, bool folderChosen, bool suggestionKnown);

// Same count and the same ids in the same order.
bool DeviceListsSame(std::span<const CaptureDevice> a, std::span<const CaptureDevice> b);

// Entry of the microphone list for `id`: 0 is "No sound", k + 1 the microphone k. An id that is
// not listed shows (and therefore means) "No sound".
int32_t OnboardingMicrophoneEntry(std::span<const CaptureDevice> microphones, const wchar_t* id);

// The ids the two preview slots (Wide, Macro) should show: only on the camera page with two
// cameras or more; the Macro slot stays empty when it names the Wide camera, so one device is
// never opened twice.
struct PreviewWanted {
    const wchar_t* id[2];
};
PreviewWanted OnboardingWantedPreviews(int32_t page, int32_t cameraCount, const wchar_t* wideId, const wchar_t* macroId);

// Whether an open preview must close before any slot opens: forced, or it shows another id.
bool OnboardingPreviewMustClose(bool forced, const wchar_t* shownId, const wchar_t* wantedId);

// A camera whose preview could not be opened (at `failedAtMs`; 0: it did not fail) is tried
// again when the device list changed (forced) or after ONBOARDING_PREVIEW_RETRY_MS, not at every
// device refresh: each try opens the device on the UI thread.
constexpr uint64_t ONBOARDING_PREVIEW_RETRY_MS = 5000;
bool OnboardingPreviewRetryDue(bool forced, uint64_t failedAtMs, uint64_t nowMs);

// The summary's folder name: the last component, or the whole path when it has no backslash or
// ends with one. Points into `folder`.
const wchar_t* OnboardingFolderLeaf(const wchar_t* folder);

// Opacity of spoke k (0 ... 7) of the waiting spinner, counted from the brightest backwards.
float OnboardingSpinnerOpacity(int32_t k);

// ---- Layout (physical pixels; scale = DPI / 96) ----

struct OnboardingBox {
    float left, top, right, bottom;
};

constexpr float ONBOARDING_CLIENT_WIDTH_DIP = 720.0f;
constexpr float ONBOARDING_CLIENT_HEIGHT_DIP = 600.0f;

// Widths of the button texts in the controls' font (pixels), which decide the button widths.
struct OnboardingTextWidths {
    float primary, back, folder, suggestion;
};

struct OnboardingLayout {
    OnboardingBox content;  // inset 36 DIP left, top and right, ending above the footer
    OnboardingBox footer;   // bottom band of 60 DIP
    OnboardingBox primary, back, folderButton, suggestionButton;
    OnboardingBox cameraList[2];  // Wide, Macro
    OnboardingBox cameraLabel[2];
    OnboardingBox previewBox[2];
    OnboardingBox warning;  // below the preview boxes
    OnboardingBox microphoneList;
    float firstDotX, dotY, dotStep, dotRadius;
    float scale;
};
OnboardingLayout OnboardingLayoutFor(float clientWidth, float clientHeight, float scale, const OnboardingTextWidths& widths);

// Drop-down heights of the lists (their full height including the list part), in pixels.
float OnboardingCameraDropHeight(float scale);
float OnboardingMicrophoneDropHeight(float scale);
