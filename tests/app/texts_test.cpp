#include <gtest/gtest.h>

#include "app/texts.h"

TEST(Texts, LanguageRuleAndStatusErrorClass)
{
    for (uint16_t german : {0x0407, 0x0C07, 0x0807, 0x1407}) EXPECT_TRUE(TextsIsGermanLanguageId(german)) << german;
    for (uint16_t other : {0x040C, 0x0409, 0x0413}) EXPECT_FALSE(TextsIsGermanLanguageId(other)) << other;
    const wchar_t *de = L"Ja", *en = L"Yes";
    TextsSetLanguageForTest(1);
    EXPECT_TRUE(PickText(de, en) == de && IsGermanUi());
    EXPECT_STREQ(StatusLabel(9), L"Aufnahme-Fehler");
    TextsSetLanguageForTest(0);
    EXPECT_TRUE(PickText(de, en) == en && !IsGermanUi());
    EXPECT_STREQ(StatusLabel(6), L"Restarting\u2026");
    EXPECT_STREQ(StatusLabel(10), L"");
    TextsSetLanguageForTest(-1);
    for (uint32_t s = 0; s < 12; s++) EXPECT_EQ(StatusIsError(s), s == 4 || s == 5 || s == 7 || s == 9) << s;
}
