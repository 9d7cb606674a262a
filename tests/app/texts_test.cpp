#include <gtest/gtest.h>

#include <string>

#include "app/texts.h"

// The labels as the status table names them, in order, and the statuses it calls errors.
TEST(Texts, LanguageRuleStatusLabelsAndTheErrorClass)
{
    for (uint16_t german : {0x0407, 0x0C07, 0x0807, 0x1407}) EXPECT_TRUE(TextsIsGermanLanguageId(german)) << german;
    for (uint16_t other : {0x040C, 0x0409, 0x0413}) EXPECT_FALSE(TextsIsGermanLanguageId(other)) << other;
    const wchar_t *de = L"Ja", *en = L"Yes";
    for (const bool german : {true, false}) {
        TextsSetLanguageForTest(german ? 1 : 0);
        EXPECT_TRUE(PickText(de, en) == (german ? de : en) && IsGermanUi() == german);
        std::wstring labels;
        for (uint32_t s = 0; s < 12; s++) labels += std::wstring(StatusLabel(s)) + L"|";
        EXPECT_EQ(labels, german ? L"Bereit|Suche Kameras\u2026|Live|Keine Kameras|Kamera-Fehler|Kamera ohne Bild|"
                                   L"Neustart\u2026|Kamera getrennt|Gestoppt|Aufnahme-Fehler|||"
                                 : L"Ready|Searching cameras\u2026|Live|No cameras|Camera error|Camera without image|"
                                   L"Restarting\u2026|Camera disconnected|Stopped|Recording error|||");
    }
    std::wstring errors;
    for (uint32_t s = 0; s < 12; s++)
        if (StatusIsError(s)) errors += std::to_wstring(s) + L" ";
    EXPECT_EQ(errors, L"4 5 7 9 ");
    TextsSetLanguageForTest(-1);
}
