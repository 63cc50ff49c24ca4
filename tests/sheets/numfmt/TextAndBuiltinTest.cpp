// Text cells under a format, the built-in format ids, and which codes are dates.
#include <gtest/gtest.h>

#include <string>

#include "sheets/NumberFormat.h"

namespace {

using sheets::DateSystem;
using sheets::NumberFormat;

std::string text(const char* code, const char* value)
{
    std::string out;
    NumberFormat::compile(code)->formatText(value, out);
    return out;
}

TEST(TextSection, AppliesTheTextSectionOrShowsTheTextAsIs)
{
    struct Case {
        const char* code;
        const char* value;
        const char* expected;
    };
    const Case cases[] = {
        {"General", "  spaced  ", "  spaced  "},
        {"0.00", "abc", "abc"},
        {"\"foo\";\"bar\";\"baz\"", "text", "text"},
        {"@", "abc", "abc"},
        {"\"Name: \"@", "Ann", "Name: Ann"},
        {"\"bar\" @ \"foo\"", "text", "bar text foo"},
        {"@@", "ab", "abab"},
        {"_(@_)", "text", " text "},
        {"0;-0;0;\"T:\"@", "x", "T:x"},
        {"\"foo\";\"bar\";\"baz\";\"qux\"", "text", "qux"},
        {"0.00;;;", "hidden", ""},
        {";;;", "hidden", ""},
        {"\"foo\";\"bar\";@", "text", "text"},
        {"[Red]@", "red", "red"},
        {"*-@", "fill", "fill"},
        {"@ \"\xE2\x82\xAC\"", "5", "5 \xE2\x82\xAC"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(text(c.code, c.value), c.expected) << "code " << c.code;
    }
}

TEST(BuiltinFormats, IdsMapToTheirEnUsCodes)
{
    struct Case {
        int id;
        const char* code;
    };
    const Case cases[] = {
        {0, "General"},
        {1, "0"},
        {4, "#,##0.00"},
        {5, "\"$\"#,##0_);\\(\"$\"#,##0\\)"},
        {9, "0%"},
        {11, "0.00E+00"},
        {13, "# ?\?/??"},
        {14, "m/d/yyyy"},
        {22, "m/d/yyyy h:mm"},
        {23, "General"}, // reserved ids have no code of their own
        {27, "m/d/yyyy"},
        {36, "m/d/yyyy"},
        {37, "#,##0_);(#,##0)"},
        {44, "_(\"$\"* #,##0.00_);_(\"$\"* \\(#,##0.00\\);_(\"$\"* \"-\"?\?_);_(@_)"},
        {46, "[h]:mm:ss"},
        {48, "##0.0E+0"},
        {49, "@"},
        {50, "m/d/yyyy"},
        {58, "m/d/yyyy"},
        {59, "0"},
        {62, "#,##0.00"},
        {63, "General"},
        {67, "0%"},
        {70, "# ?\?/??"},
        {73, "d-mmm-yy"},
        {76, "h:mm"},
        {78, "m/d/yyyy h:mm"},
        {81, "mm:ss.0"},
        {82, "General"},
        {-1, "General"},
        {164, "General"},
        {1000000, "General"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NumberFormat::builtinCode(c.id), c.code) << "id " << c.id;
    }
}

TEST(BuiltinFormats, RenderAsTheSpreadsheetShowsThem)
{
    struct Case {
        int id;
        double value;
        const char* expected;
    };
    const Case cases[] = {
        {0, 1234.5, "1234.5"},     {2, 1234.567, "1234.57"},  {3, -1234.5, "-1,235"},
        {5, 1234.5, "$1,235 "},    {5, -1234.5, "($1,235)"},  {6, -1234.5, "($1,235)"},
        {7, 1234.5, "$1,234.50 "}, {8, -0.5, "($0.50)"},      {10, 0.12345, "12.35%"},
        {11, 1234.5, "1.23E+03"},  {12, 1.5, "1 1/2"},        {13, 0.75, "  3/4 "},
        {14, 45296, "1/5/2024"},   {15, 45296, "5-Jan-24"},   {16, 45296, "5-Jan"},
        {17, 45296, "Jan-24"},     {18, 0.7, "4:48 PM"},      {19, 0.70707, "4:58:11 PM"},
        {20, 0.7, "16:48"},        {21, 0.70707, "16:58:11"}, {22, 45296.7, "1/5/2024 16:48"},
        {37, -1234, "(1,234)"},    {39, 1234, "1,234.00 "},   {41, 0, " - "},
        {42, -1234, " $(1,234)"},  {43, 0, " -   "},          {44, 1234.5, " $1,234.50 "},
        {45, 0.70707, "58:11"},    {46, 1.70707, "40:58:11"}, {47, 0.70707, "58:10.8"},
        {48, 12345, "12.3E+3"},    {49, 12345, "12345"},      {58, 45296, "1/5/2024"},
        {80, 1.5, "36:00:00"},
    };
    for (const Case& c : cases) {
        std::string out;
        NumberFormat::compile(NumberFormat::builtinCode(c.id))
            ->formatNumber(c.value, DateSystem::D1900, out);
        EXPECT_EQ(out, c.expected) << "id " << c.id;
    }
}

TEST(IsDate, OnlyCodesWithDateOrTimeTokens)
{
    struct Case {
        const char* code;
        bool date;
    };
    const Case cases[] = {
        {"General", false},
        {"", false},
        {"0.00", false},
        {"0.00E+00", false},
        {"#,##0;[Red]-#,##0", false},
        {"@", false},
        {"\"y\"0", false},
        {"\\d0", false},
        {"[Red]0", false},
        {"m/d/yyyy", true},
        {"h:mm", true},
        {"[h]:mm:ss", true},
        {"AM/PM", true},
        {"#;y", true},
        {"[$-F800]dddd, mmmm dd, yyyy", true},
        {"[$-409]mmm\\-yy", true},
        {"yyyy-mm-dd;@", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(NumberFormat::compile(c.code)->isDate(), c.date) << "code " << c.code;
    }
    EXPECT_FALSE(NumberFormat::general().isDate());
}

TEST(General, SharedInstanceMatchesCompiledGeneral)
{
    const auto compiled = NumberFormat::compile("GENERAL");
    for (double v : {0.0, -2.5, 1e16, 1e-5, 123456789012.0}) {
        std::string a, b;
        compiled->formatNumber(v, DateSystem::D1900, a);
        NumberFormat::general().formatNumber(v, DateSystem::D1900, b);
        EXPECT_EQ(a, b);
    }
    EXPECT_EQ(&NumberFormat::general(), &NumberFormat::general());
}

TEST(Output, AppendsToWhatIsThere)
{
    std::string out = "a\t";
    NumberFormat::compile("0.00")->formatNumber(1, DateSystem::D1900, out);
    NumberFormat::compile("@")->formatText("x", out);
    NumberFormat::general().formatNumber(2, DateSystem::D1900, out);
    EXPECT_EQ(out, "a\t1.00x2");
}

} // namespace
