#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diag/log.h"
#include "record/folder_rules.h"
#ifdef _WIN32
#include "tests/support/test_folder.h"
#endif

namespace {

class FolderRules : public ::testing::Test {
protected:
    void SetUp() override { LogResetForTest(); }
    // The newest log entry as "LEVEL text", or "" when the log is empty.
    static std::wstring LastLog()
    {
        LogEntry entry{};
        return LogSnapshot(&entry, 1) ? std::wstring(LogLevelLabel(entry.level)) + L" " + entry.text : L"";
    }
#ifdef _WIN32
    TestSettingsFolder folder;  // keeps the log file out of the user's folder
#endif
};

TEST_F(FolderRules, SuggestionPrefersVideosThenProfileThenNothing)
{
    constexpr int32_t failed = static_cast<int32_t>(0x80070002u);
    wchar_t out[32];
    EXPECT_TRUE(ComposeSuggestedFolder({0, L"C:\\V"}, {0, nullptr}, out, 32));
    EXPECT_STREQ(out, L"C:\\V\\MI-RU Aufnahmen");
    // A failed lookup and one without a path both fall back; a path is data, never a format.
    EXPECT_TRUE(ComposeSuggestedFolder({failed, nullptr}, {0, L"C:\\%ls"}, out, 32));
    EXPECT_STREQ(out, L"C:\\%ls\\MI-RU Aufnahmen");
    EXPECT_TRUE(ComposeSuggestedFolder({0, L""}, {0, L"D:\\p"}, out, 32));
    EXPECT_STREQ(out, L"D:\\p\\MI-RU Aufnahmen");
    EXPECT_FALSE(ComposeSuggestedFolder({0, L"C:\\V"}, {0, nullptr}, out, 20));  // needs 21
    EXPECT_STREQ(out, L"");
    EXPECT_EQ(LastLog(), L"");

    EXPECT_FALSE(ComposeSuggestedFolder({failed, nullptr}, {failed, nullptr}, out, 32));
    EXPECT_STREQ(out, L"");
    EXPECT_EQ(LastLog(), L"WARN Vorschlags-Ordner nicht ermittelbar (0x80070002)");
}

TEST_F(FolderRules, PickerStartsInTheSuggestionsParent)
{
    wchar_t out[32];
    EXPECT_TRUE(PickerStartFolder(L"C:\\U\\Videos\\MI-RU Aufnahmen", out, 32));
    EXPECT_STREQ(out, L"C:\\U\\Videos");
    for (const wchar_t* unusable : {L"", L"\\MI-RU Aufnahmen", L"Aufnahmen"}) {
        EXPECT_FALSE(PickerStartFolder(unusable, out, 32)) << unusable;
        EXPECT_STREQ(out, L"");
    }
}

TEST_F(FolderRules, ChosenPathMustBeShorterThanTheBuffer)
{
    const std::wstring fits = L"C:\\" + std::wstring(256, L'a');  // 259 units
    std::vector<wchar_t> out(260, L'\0');
    EXPECT_TRUE(AdoptPickedFolder(fits.c_str(), out.data(), 260));
    EXPECT_EQ(std::wstring(out.data()), fits);
    EXPECT_EQ(LastLog(), L"EVENT Aufnahmeordner gesetzt: " + fits);
    out[0] = L'\0';
    EXPECT_FALSE(AdoptPickedFolder((fits + L"b").c_str(), out.data(), 260));
    EXPECT_STREQ(out.data(), L"");
    EXPECT_EQ(LastLog(), L"FEHLER Ordnerauswahl: Pfad zu lang (260 Zeichen)");
}

}  // namespace
