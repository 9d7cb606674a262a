#include "app/ui_state.h"

#include <gtest/gtest.h>

#include <cstring>
#include <cwchar>
#include <string>

TEST(UiState, ResetGivesTheStartValuesAndZeroElsewhere)
{
    memset(&UiState, 0xAB, sizeof(UiState));
    UiStateReset();
    EXPECT_FLOAT_EQ(UiState.pipSize, 0.3f);
    EXPECT_TRUE(UiState.cockpitVisible);
    EXPECT_EQ(UiState.framesRecorded, 0xFFFFFFFFu);
    EXPECT_FLOAT_EQ(UiState.dpiScale, 1.0f);
    EXPECT_FALSE(UiState.micMuted);
    EXPECT_FALSE(UiState.recording);
    EXPECT_FALSE(UiState.live);
    EXPECT_FALSE(UiState.sliderDrag);
    EXPECT_EQ(UiState.recordSeconds, 0u);
    EXPECT_EQ(UiState.status, 0u);
    EXPECT_EQ(UiState.framesWide + UiState.framesMacro, 0u);
    EXPECT_FLOAT_EQ(UiState.photoFlash, 0.0f);
    EXPECT_STREQ(UiState.freeSpaceText, L"");
    EXPECT_STREQ(UiState.statusDetail, L"");
}

TEST(UiState, StatusDetailIsCutAt95Characters)
{
    UiStateReset();
    const std::wstring longText(120, L'x');
    UiStateSetStatusDetail(longText.c_str());
    EXPECT_EQ(wcslen(UiState.statusDetail), 95u);

    const std::wstring exact(95, L'y');
    UiStateSetStatusDetail(exact.c_str());
    EXPECT_EQ(std::wstring(UiState.statusDetail), exact);

    UiStateSetStatusDetail(L"Speicher knapp");
    EXPECT_STREQ(UiState.statusDetail, L"Speicher knapp");
    UiStateSetStatusDetail(nullptr);
    EXPECT_STREQ(UiState.statusDetail, L"");
}

TEST(UiState, CopyTextCutAlwaysTerminates)
{
    wchar_t buffer[4] = {L'a', L'b', L'c', L'd'};
    CopyTextCut(buffer, 1, L"xyz");
    EXPECT_EQ(buffer[0], L'\0');
    EXPECT_EQ(buffer[1], L'b');  // nothing written past the capacity
    CopyTextCut(buffer, 4, L"wxyz");
    EXPECT_STREQ(buffer, L"wxy");
    CopyTextCut(nullptr, 4, L"ignored");  // no destination: nothing happens
}
