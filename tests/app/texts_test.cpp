#include <gtest/gtest.h>

#include "app/texts.h"

namespace {

struct LanguageReset {
    ~LanguageReset() { TextsSetLanguageForTest(-1); }
};

TEST(Texts, GermanForEveryGermanVariantEnglishOtherwise)
{
    EXPECT_TRUE(TextsIsGermanLanguageId(0x0407));   // Germany
    EXPECT_TRUE(TextsIsGermanLanguageId(0x0C07));   // Austria
    EXPECT_TRUE(TextsIsGermanLanguageId(0x0807));   // Switzerland
    EXPECT_TRUE(TextsIsGermanLanguageId(0x1407));   // Liechtenstein
    EXPECT_FALSE(TextsIsGermanLanguageId(0x040C));  // French
    EXPECT_FALSE(TextsIsGermanLanguageId(0x0409));  // English
    EXPECT_FALSE(TextsIsGermanLanguageId(0x0413));  // Dutch
}

TEST(Texts, PickTextFollowsTheCachedLanguage)
{
    LanguageReset reset;
    const wchar_t* de = L"Ja";
    const wchar_t* en = L"Yes";
    TextsSetLanguageForTest(1);
    EXPECT_EQ(PickText(de, en), de);
    EXPECT_TRUE(IsGermanUi());
    TextsSetLanguageForTest(0);
    EXPECT_EQ(PickText(de, en), en);
    EXPECT_FALSE(IsGermanUi());
}

TEST(Texts, StatusLabelsAndErrorClass)
{
    LanguageReset reset;
    TextsSetLanguageForTest(1);
    EXPECT_STREQ(StatusLabel(1), L"Suche Kameras\u2026");
    EXPECT_STREQ(StatusLabel(2), L"Live");
    EXPECT_STREQ(StatusLabel(9), L"Aufnahme-Fehler");
    TextsSetLanguageForTest(0);
    EXPECT_STREQ(StatusLabel(2), L"Live");
    EXPECT_STREQ(StatusLabel(6), L"Restarting\u2026");
    EXPECT_STREQ(StatusLabel(10), L"");
    EXPECT_STREQ(StatusLabel(0xFFFFFFFFu), L"");

    for (uint32_t s = 0; s < 12; s++) {
        bool expected = s == 4 || s == 5 || s == 7 || s == 9;
        EXPECT_EQ(StatusIsError(s), expected) << "status " << s;
    }
}

}  // namespace
