#include "settings/ini_values.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace {
std::wstring Format(double value, size_t capacity = 64)
{
    wchar_t text[64] = L"?";
    IniFormatDouble(value, text, capacity);
    return text;
}
}  // namespace

// Rejected texts include a non-ASCII letter that folds to "s", a full-width digit and a
// character whose low 16 bits are an ASCII digit (wchar_t is 4 bytes natively, 2 on Windows).
TEST(IniValues, ParsersAcceptExactlyTheirForms)
{
    struct Flag { const wchar_t* text; bool expected; };
    for (const Flag& c : {Flag{L"1", true}, {L"TRUE", true}, {L"tRuE", true}, {L"0", false}, {L"False", false}}) {
        bool value = !c.expected;
        EXPECT_TRUE(IniParseBool(c.text, &value) && value == c.expected) << c.text;
    }
    for (const wchar_t* bad : {L"yes", L"", L"10", L"true1", L"fal\u017Fe", L"\uFF11", L"\U00010031"}) {
        bool value = true;
        EXPECT_FALSE(IniParseBool(bad, &value) || !value) << bad;
    }

    struct Real { const wchar_t* text; double expected; };
    for (const Real& c : {Real{L"0,9", 0.9}, {L" \t-1.5", -1.5}, {L"+.5", 0.5}, {L"-,5", -0.5}, {L"7.", 7.0},
                          {L"1e5", 1.0}, {L"3.14xyz", 3.14}, {L"1.150000", 1.15}, {L"0.0000001", 1e-7}}) {
        double value = -99.0;
        EXPECT_TRUE(IniParseDouble(c.text, &value)) << c.text;
        EXPECT_NEAR(value, c.expected, 1e-12) << c.text;
    }
    for (const wchar_t* bad : {L"", L"abc", L".", L"-", L"+,x", L"\n1", L"- 1", L"\uFF11", L"\U00010031"}) {
        double value = 1.15;
        EXPECT_FALSE(IniParseDouble(bad, &value) || value != 1.15) << bad;
    }

    constexpr int32_t max = std::numeric_limits<int32_t>::max(), min = std::numeric_limits<int32_t>::min();
    struct Whole { const wchar_t* text; int32_t expected; };
    for (const Whole& c : {Whole{L"2x", 2}, {L"-1", -1}, {L" \t7", 7}, {L"99999999999", max},
                           {L"-2147483648", min}, {L"-99999999999999999999", min}}) {
        int32_t value = 42;
        EXPECT_TRUE(IniParseInt(c.text, &value) && value == c.expected) << c.text;
    }
    for (const wchar_t* bad : {L"", L"x2", L"+", L"- 1", L"\U00010032"}) {
        int32_t value = 42;
        EXPECT_FALSE(IniParseInt(bad, &value) || value != 42) << bad;
    }
}

TEST(IniValues, DoubleWrittenWithSixDecimalsAndCapped)
{
    const double inf = std::numeric_limits<double>::infinity();
    struct Case { double value; const wchar_t* text; };
    for (const Case& c : {Case{0.85, L"0.850000"}, {1.15, L"1.150000"}, {-0.0, L"0.000000"}, {-0.25, L"-0.250000"},
                          {1.9999996, L"2.000000"},  // rounding carries into the integer part
                          {5e9, L"4000000000.000000"}, {-inf, L"-4000000000.000000"}, {std::nan(""), L"0.000000"}}) {
        EXPECT_EQ(Format(c.value), c.text) << c.value;
    }
    EXPECT_EQ(Format(0.85, 4), L"0.8");  // cut, but always terminated
}
