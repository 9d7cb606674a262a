#include "app/ui_state.h"

#include <cstring>
#include <cwchar>

UiStateRecord UiState;

void UiStateReset()
{
    memset(&UiState, 0, sizeof(UiState));
    UiState.cockpitVisible = true;
    UiState.pipSize = 0.3f;
    UiState.framesRecorded = UI_FRAMES_NOT_RECORDING;
    UiState.dpiScale = 1.0f;
}

void CopyTextCut(wchar_t* dest, int32_t capacity, const wchar_t* text)
{
    if (!dest || capacity < 1) return;
    size_t length = 0;
    if (text) {
        const size_t limit = static_cast<size_t>(capacity) - 1;
        while (length < limit && text[length] != L'\0') length++;
        wmemcpy(dest, text, length);
    }
    dest[length] = L'\0';
}

void UiStateSetStatusDetail(const wchar_t* text)
{
    CopyTextCut(UiState.statusDetail, UI_STATUS_DETAIL_CAPACITY, text);
}
