// Rules of the settings and diagnostics windows that need no window.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "diag/diag_rows.h"
#include "settings/praxis_text.h"
#include "settings/settings_texts.h"

namespace {

std::wstring ToIni(const wchar_t* text, size_t capacity = 300)
{
    std::vector<wchar_t> out(capacity);
    PraxisTextToIni(text, out.data(), capacity);
    return out.data();
}

}  // namespace

// The profile reader trims blanks and drops one pair of quotes: exactly those texts are quoted.
TEST(PraxisText, QuotedOnlyWhereTheReaderWouldChangeItAndControlsAreStripped)
{
    EXPECT_EQ(ToIni(L"Praxis Dr. M\u00fcller"), L"Praxis Dr. M\u00fcller");
    EXPECT_EQ(ToIni(L""), L"");
    EXPECT_EQ(ToIni(L" Praxis"), L"\" Praxis\"");
    EXPECT_EQ(ToIni(L"Praxis\u3000"), L"\"Praxis\u3000\"");
    EXPECT_EQ(ToIni(L"\"Praxis\""), L"\"\"Praxis\"\"");
    EXPECT_EQ(ToIni(L"'P'"), L"\"'P'\"");
    EXPECT_EQ(ToIni(L"Dr. \"M\" Praxis"), L"Dr. \"M\" Praxis");
    EXPECT_EQ(ToIni(L" abcdef", 6), L"\" ab\"");  // cut inside the quotes
    EXPECT_EQ(ToIni(L"abcdef", 4), L"abc");

    wchar_t text[] = L"\tZeile\r\neins\x85 zwei\x7F";
    EXPECT_TRUE(PraxisTextStrip(text));
    EXPECT_EQ(std::wstring(text), L"Zeileeins zwei");
    EXPECT_FALSE(PraxisTextStrip(text));
}

TEST(SettingsHelp, NamesTheMacroSizeKeysTheShortcutsUse)
{
    for (bool german : {true, false}) {
        wchar_t help[HELP_TEXT_CAPACITY];
        SettingsHelpText(german, help, HELP_TEXT_CAPACITY);
        const std::wstring text = help;
        EXPECT_NE(text.find(L"1\u20139 (10\u201390 %)"), std::wstring::npos);
        EXPECT_NE(text.find(german ? L"0 (Vollbild)" : L"0 (full view)"), std::wstring::npos);
        wchar_t cut[40];
        SettingsHelpText(german, cut, 40);
        EXPECT_EQ(std::wstring(cut), text.substr(0, 39));
    }
}

// Newest first and the level filter are seen in the diagnostics window's test; here what it
// cannot easily reach: a full ring whose size stays the same, and the time column.
TEST(DiagRows, ChangeDetectionAndTimeColumn)
{
    std::vector<LogEntry> entries(5);
    for (int i = 0; i < 5; i++) {
        entries[i].level = LOG_INFO;
        entries[i].time.second = static_cast<uint16_t>(i);
    }
    int32_t rows[5];
    EXPECT_EQ(DiagBuildRows(std::span<const LogEntry>(), LOG_WARN, rows), 0);
    DiagNewest newest{};
    EXPECT_TRUE(DiagSnapshotUnchanged({}, 0, newest));
    EXPECT_FALSE(DiagSnapshotUnchanged(entries, -1, newest));
    DiagRememberNewest(entries, &newest);
    EXPECT_TRUE(DiagSnapshotUnchanged(entries, 5, newest));
    entries.erase(entries.begin());
    entries.push_back(entries.back());
    entries.back().time.milliseconds = 1;
    EXPECT_FALSE(DiagSnapshotUnchanged(entries, 5, newest));

    wchar_t time[16];
    LogTime t{2026, 12, 0, 6, 9, 5, 7, 42};
    DiagFormatTime(t, time, 16);
    EXPECT_EQ(std::wstring(time), L"09:05:07.042");
}
