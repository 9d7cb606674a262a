#include "base/text_copy.h"

#include <gtest/gtest.h>

TEST(UiState, CopyTextCutAlwaysTerminates)
{
    wchar_t buffer[4] = {L'a', L'b', L'c', L'd'};
    CopyTextCut(buffer, 1, L"xyz");
    EXPECT_EQ(buffer[0], L'\0');
    EXPECT_EQ(buffer[1], L'b');  // nothing written past the capacity
    CopyTextCut(buffer, 4, L"wxyz");
    EXPECT_STREQ(buffer, L"wxy");
    CopyTextCut(buffer, 4, nullptr);
    EXPECT_STREQ(buffer, L"");
    CopyTextCut(nullptr, 4, L"ignored");  // no destination: nothing happens
}
