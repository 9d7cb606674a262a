#include "settings/onboarding_rules.h"

#include <algorithm>
#include <cwchar>

#include "base/text_copy.h"
#include "capture/device_rules.h"

namespace {

bool Empty(const wchar_t* text)
{
    return !text || text[0] == L'\0';
}

bool SameText(const wchar_t* a, const wchar_t* b)
{
    return std::wcscmp(a ? a : L"", b ? b : L"") == 0;
}

// Vertical positions below the content top, in DIP: title and text come first.
constexpr float FOLDER_BUTTON_TOP = 124.0f;
constexpr float FOLDER_BUTTON_HEIGHT = 30.0f;
constexpr float LIST_LABEL_TOP = 112.0f;
constexpr float LIST_BELOW_LABEL = 26.0f;
constexpr float LIST_HEIGHT = 26.0f;
constexpr float PREVIEW_GAP = 14.0f;
constexpr float PREVIEW_WIDTH = 280.0f;
constexpr float PREVIEW_HEIGHT = 158.0f;
constexpr float COLUMN_STEP = 304.0f;
constexpr float WARNING_GAP = 14.0f;
constexpr float WARNING_HEIGHT = 22.0f;
constexpr float MICROPHONE_LIST_WIDTH = 420.0f;

constexpr float CONTENT_INSET = 36.0f;
constexpr float FOOTER_HEIGHT = 60.0f;
constexpr float BUTTON_HEIGHT = 28.0f;
constexpr float BUTTON_MARGIN_RIGHT = 28.0f;
constexpr float BUTTON_GAP = 8.0f;
constexpr float BUTTON_TEXT_PADDING = 28.0f;
constexpr float PRIMARY_MIN_WIDTH = 90.0f;
constexpr float BACK_MIN_WIDTH = 80.0f;
constexpr float FOLDER_MIN_WIDTH = 170.0f;

}  // namespace

bool OnboardingPageValid(int32_t page, const OnboardingChoices& choices, std::span<const CaptureDevice> cameras)
{
    if (page == PAGE_FOLDER) return !Empty(choices.recordingFolder);
    if (page != PAGE_CAMERAS) return true;
    if (Empty(choices.wideId) || Empty(choices.macroId) || SameText(choices.wideId, choices.macroId)) return false;
    return DeviceFind(cameras, choices.wideId) >= 0 && DeviceFind(cameras, choices.macroId) >= 0;
}

void OnboardingDefaultCameras(std::span<const CaptureDevice> cameras, wchar_t* wideId, wchar_t* macroId)
{
    if (DeviceFind(cameras, wideId) < 0) CopyTextCut(wideId, CAPTURE_ID_CAPACITY, cameras.empty() ? L"" : cameras[0].id);
    if (DeviceFind(cameras, macroId) >= 0 && !SameText(macroId, wideId)) return;
    macroId[0] = L'\0';
    for (const CaptureDevice& camera : cameras) {
        if (SameText(camera.id, wideId)) continue;
        CopyTextCut(macroId, CAPTURE_ID_CAPACITY, camera.id);
        return;
    }
}

OnboardingControls OnboardingControlsFor(int32_t page, int32_t cameraCount, bool folderChosen, bool suggestionKnown)
{
    OnboardingControls controls{};
    controls.back = page >= PAGE_CONNECT && page <= PAGE_DONE;
    controls.folderButton = page == PAGE_FOLDER;
    controls.suggestionButton = page == PAGE_FOLDER && !folderChosen && suggestionKnown;
    controls.cameraLists = page == PAGE_CAMERAS && cameraCount >= 2;
    controls.microphoneList = page == PAGE_MICROPHONE;
    controls.primary = page == PAGE_WELCOME ? PrimaryLabel::LetsGo
                       : page == PAGE_DONE  ? PrimaryLabel::Finish
                                            : PrimaryLabel::Continue;
    return controls;
}

bool DeviceListsSame(std::span<const CaptureDevice> a, std::span<const CaptureDevice> b)
{
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (!SameText(a[i].id, b[i].id)) return false;
    return true;
}

int32_t OnboardingMicrophoneEntry(std::span<const CaptureDevice> microphones, const wchar_t* id)
{
    return DeviceFind(microphones, id) + 1;
}

PreviewWanted OnboardingWantedPreviews(int32_t page, int32_t cameraCount, const wchar_t* wideId, const wchar_t* macroId)
{
    PreviewWanted wanted{{L"", L""}};
    if (page != PAGE_CAMERAS || cameraCount < 2) return wanted;
    wanted.id[0] = wideId ? wideId : L"";
    const bool sameAsWide = !Empty(wideId) && SameText(macroId, wideId);
    wanted.id[1] = sameAsWide || !macroId ? L"" : macroId;
    return wanted;
}

bool OnboardingPreviewMustClose(bool forced, const wchar_t* shownId, const wchar_t* wantedId)
{
    return forced || !SameText(shownId, wantedId);
}

bool OnboardingPreviewRetryDue(bool forced, uint64_t failedAtMs, uint64_t nowMs)
{
    return forced || failedAtMs == 0 || nowMs - failedAtMs >= ONBOARDING_PREVIEW_RETRY_MS;
}

const wchar_t* OnboardingFolderLeaf(const wchar_t* folder)
{
    if (!folder) return L"";
    const wchar_t* last = std::wcsrchr(folder, L'\\');
    if (!last || last[1] == L'\0') return folder;
    return last + 1;
}

float OnboardingSpinnerOpacity(int32_t k)
{
    return (static_cast<float>(k) * 0.8f / 7.0f + 0.2f) * 0.55f;
}

OnboardingLayout OnboardingLayoutFor(float clientWidth, float clientHeight, float scale, const OnboardingTextWidths& widths)
{
    const float s = scale > 0.0f ? scale : 1.0f;
    OnboardingLayout layout{};
    layout.scale = s;
    layout.footer = {0.0f, clientHeight - FOOTER_HEIGHT * s, clientWidth, clientHeight};
    layout.content = {CONTENT_INSET * s, CONTENT_INSET * s, clientWidth - CONTENT_INSET * s, layout.footer.top};

    auto buttonWidth = [s](float minimum, float text) { return std::max(minimum * s, text + BUTTON_TEXT_PADDING * s); };
    const float buttonTop = layout.footer.top + (FOOTER_HEIGHT - BUTTON_HEIGHT) * 0.5f * s;
    const float buttonBottom = buttonTop + BUTTON_HEIGHT * s;
    const float primaryRight = clientWidth - BUTTON_MARGIN_RIGHT * s;
    layout.primary = {primaryRight - buttonWidth(PRIMARY_MIN_WIDTH, widths.primary), buttonTop, primaryRight, buttonBottom};
    const float backRight = layout.primary.left - BUTTON_GAP * s;
    layout.back = {backRight - buttonWidth(BACK_MIN_WIDTH, widths.back), buttonTop, backRight, buttonBottom};

    const float left = layout.content.left;
    const float top = layout.content.top;
    const float folderTop = top + FOLDER_BUTTON_TOP * s;
    const float folderBottom = folderTop + FOLDER_BUTTON_HEIGHT * s;
    layout.folderButton = {left, folderTop, left + buttonWidth(FOLDER_MIN_WIDTH, widths.folder), folderBottom};
    const float suggestionLeft = layout.folderButton.right + BUTTON_GAP * s;
    layout.suggestionButton = {suggestionLeft, folderTop, suggestionLeft + buttonWidth(FOLDER_MIN_WIDTH, widths.suggestion),
                               folderBottom};

    for (int i = 0; i < 2; ++i) {
        const float x = left + static_cast<float>(i) * COLUMN_STEP * s;
        const float labelTop = top + LIST_LABEL_TOP * s;
        layout.cameraLabel[i] = {x, labelTop, x + PREVIEW_WIDTH * s, labelTop + LIST_BELOW_LABEL * s};
        const float listTop = labelTop + LIST_BELOW_LABEL * s;
        layout.cameraList[i] = {x, listTop, x + PREVIEW_WIDTH * s, listTop + LIST_HEIGHT * s};
        const float boxTop = layout.cameraList[i].bottom + PREVIEW_GAP * s;
        layout.previewBox[i] = {x, boxTop, x + PREVIEW_WIDTH * s, boxTop + PREVIEW_HEIGHT * s};
    }
    const float warningTop = layout.previewBox[0].bottom + WARNING_GAP * s;
    layout.warning = {left, warningTop, layout.content.right, warningTop + WARNING_HEIGHT * s};
    const float micTop = top + LIST_LABEL_TOP * s;
    layout.microphoneList = {left, micTop, left + MICROPHONE_LIST_WIDTH * s, micTop + LIST_HEIGHT * s};

    layout.dotRadius = 3.5f * s;
    layout.dotStep = 13.0f * s;
    layout.firstDotX = 28.0f * s;
    layout.dotY = (layout.footer.top + layout.footer.bottom) * 0.5f;
    return layout;
}

float OnboardingCameraDropHeight(float scale)
{
    return 220.0f * scale;
}

float OnboardingMicrophoneDropHeight(float scale)
{
    return 260.0f * scale;
}
