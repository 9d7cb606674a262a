#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "record/folder_rules.h"
#include "tests/diag/log_probe.h"

namespace {

class FolderRules : public ::testing::Test {
protected:
    LogSandbox log;
};

TEST_F(FolderRules, SuggestionPrefersVideosThenProfileThenNothing)
{
    constexpr int32_t failed = static_cast<int32_t>(0x80070002u);
    struct Case { KnownFolderResult videos, profile; int32_t capacity; const wchar_t* expected; };
    // A failed lookup and one without a path both fall back; a path is data, never a format.
    for (const Case& c : {Case{{0, L"C:\\V"}, {0, nullptr}, 32, L"C:\\V\\MI-RU Aufnahmen"},
                          {{failed, nullptr}, {0, L"C:\\%ls"}, 32, L"C:\\%ls\\MI-RU Aufnahmen"},
                          {{0, L""}, {0, L"D:\\p"}, 32, L"D:\\p\\MI-RU Aufnahmen"},
                          {{0, L"C:\\V"}, {0, nullptr}, 20, L""}}) {  // needs 21
        wchar_t out[32] = L"stale";
        EXPECT_EQ(ComposeSuggestedFolder(c.videos, c.profile, out, c.capacity), c.expected[0] != 0) << c.expected;
        EXPECT_STREQ(out, c.expected);
    }
    EXPECT_EQ(LastLog(), L"");

    wchar_t out[32] = L"stale";
    EXPECT_FALSE(ComposeSuggestedFolder({failed, nullptr}, {failed, nullptr}, out, 32));
    EXPECT_STREQ(out, L"");
    EXPECT_EQ(LastLog(), L"WARN Vorschlags-Ordner nicht ermittelbar (0x80070002)");
}

TEST_F(FolderRules, ChosenPathMustBeShorterThanTheBuffer)
{
    const std::wstring fits = L"C:\\" + std::wstring(256, L'a');  // 259 units
    std::vector<wchar_t> chosen(260, L'\0');
    EXPECT_TRUE(AdoptPickedFolder(fits.c_str(), chosen.data(), 260));
    EXPECT_EQ(std::wstring(chosen.data()), fits);
    EXPECT_EQ(LastLog(), L"EVENT Aufnahmeordner gesetzt: " + fits);
    chosen[0] = L'\0';
    EXPECT_FALSE(AdoptPickedFolder((fits + L"b").c_str(), chosen.data(), 260));
    EXPECT_STREQ(chosen.data(), L"");
    EXPECT_EQ(LastLog(), L"FEHLER Ordnerauswahl: Pfad zu lang (260 Zeichen)");
}

TEST(FreeSpaceQuery, AUncNameGetsTheTrailingBackslashGetDiskFreeSpaceExRequires)
{
    const std::pair<std::wstring, std::wstring> cases[] = {
        {L"\\\\server\\share", L"\\\\server\\share\\"},
        {L"\\\\server\\share\\Aufnahmen", L"\\\\server\\share\\Aufnahmen\\"},
        {L"\\\\server\\share\\", L"\\\\server\\share\\"},
        {L"\\\\?\\UNC\\server\\share", L"\\\\?\\UNC\\server\\share\\"},
        {L"C:\\x", L"C:\\x"},
        {L"\\\\?\\C:\\x", L"\\\\?\\C:\\x"},
        {L"", L""},
    };
    for (const auto& [folder, query] : cases) EXPECT_EQ(FreeSpaceQueryPath(folder), query) << folder;
}

}  // namespace
