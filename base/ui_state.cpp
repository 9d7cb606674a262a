#include "base/ui_state.h"

#include "base/text_copy.h"

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

void UiStateSetStatusDetail(const wchar_t* text)
{
    CopyTextCut(UiState.statusDetail, UI_STATUS_DETAIL_CAPACITY, text);
}
