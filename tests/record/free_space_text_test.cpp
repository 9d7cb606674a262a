#include <gtest/gtest.h>

#include <cstdint>
#include <cwchar>

#include "app/texts.h"
#include "record/free_space_text.h"

namespace {

// Normal size: 104,857,600 bytes per minute; high size: 178,257,920. English is checked once:
// its words come from the same text table.
constexpr struct { int64_t bytes; bool high; const wchar_t* text; } kCases[] = {
    {2000000000, false, L"\u2248 19 Min \u00b7 2.0 GB frei"},
    {-5, false, L"\u2248 0 Min \u00b7 0.0 GB frei"},
    {94371840000, false, L"\u2248 15 Std \u00b7 94.4 GB frei"},  // 900 min
    {94371840000, true, L"\u2248 8 Std 49 Min \u00b7 94.4 GB frei"},
    {9437184000, false, L"\u2248 1 Std 30 Min \u00b7 9.4 GB frei"},  // 90 min
    {9384755200, false, L"\u2248 90 Min \u00b7 9.4 GB frei"},        // 89.5 min
    {66060288000, false, L"\u2248 11 Std \u00b7 66.1 GB frei"},      // 10.5 h
    {INT64_MAX, false, L"\u2248 1466015504 Std \u00b7 9223372037 GB frei"},
    {100000000000, false, L"\u2248 16 Std \u00b7 100 GB frei"},
};

TEST(FreeSpaceText, TimeAndSize)
{
    wchar_t out[64];
    TextsSetLanguageForTest(1);
    for (const auto& c : kCases) {
        FormatFreeSpaceText(c.bytes, c.high, out, 64);
        EXPECT_STREQ(out, c.text) << c.bytes;
    }
    TextsSetLanguageForTest(0);
    FormatFreeSpaceText(50000000000, false, out, 64);
    EXPECT_STREQ(out, L"\u2248 7 hrs 56 min \u00b7 50.0 GB free");
    TextsSetLanguageForTest(-1);
}

TEST(FreeSpaceText, ShortBuffersAreCutAndTerminated)
{
    TextsSetLanguageForTest(1);
    wchar_t out[16];
    wmemset(out, L'#', 16);
    FormatFreeSpaceText(2000000000, false, out, 10);
    EXPECT_STREQ(out, L"\u2248 19 Min ");
    EXPECT_EQ(out[10], L'#');
    out[0] = L'#';
    FormatFreeSpaceText(2000000000, false, out, 0);
    FormatFreeSpaceText(2000000000, false, nullptr, 16);
    EXPECT_EQ(out[0], L'#');
    FormatFreeSpaceText(2000000000, false, out, 1);
    EXPECT_STREQ(out, L"");
    TextsSetLanguageForTest(-1);
}

}  // namespace
