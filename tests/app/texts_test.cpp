#include <gtest/gtest.h>

#include "app/texts.h"

TEST(Texts, LanguageRuleEveryStatusLabelAndTheErrorClass)
{
    for (uint16_t german : {0x0407, 0x0C07, 0x0807, 0x1407}) EXPECT_TRUE(TextsIsGermanLanguageId(german)) << german;
    for (uint16_t other : {0x040C, 0x0409, 0x0413}) EXPECT_FALSE(TextsIsGermanLanguageId(other)) << other;
    struct Status {
        const wchar_t *german, *english;
        bool error;
    };
    const Status statuses[10] = {
        {L"Bereit", L"Ready", false},           {L"Suche Kameras\u2026", L"Searching cameras\u2026", false},
        {L"Live", L"Live", false},              {L"Keine Kameras", L"No cameras", false},
        {L"Kamera-Fehler", L"Camera error", true}, {L"Kamera ohne Bild", L"Camera without image", true},
        {L"Neustart\u2026", L"Restarting\u2026", false}, {L"Kamera getrennt", L"Camera disconnected", true},
        {L"Gestoppt", L"Stopped", false},       {L"Aufnahme-Fehler", L"Recording error", true},
    };
    const wchar_t *de = L"Ja", *en = L"Yes";
    for (const bool german : {true, false}) {
        TextsSetLanguageForTest(german ? 1 : 0);
        EXPECT_TRUE(PickText(de, en) == (german ? de : en) && IsGermanUi() == german);
        for (uint32_t s = 0; s < 12; s++) {
            EXPECT_STREQ(StatusLabel(s), s >= 10 ? L"" : german ? statuses[s].german : statuses[s].english) << s;
            EXPECT_EQ(StatusIsError(s), s < 10 && statuses[s].error) << s;
        }
    }
    TextsSetLanguageForTest(-1);
}
