// Codes no spreadsheet would write, and values no cell should hold: never a crash, always
// some text.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <thread>
#include <vector>

#include "sheets/NumberFormat.h"

namespace {

using sheets::DateSystem;
using sheets::NumberFormat;

std::string render(const std::string& code, double value)
{
    std::string out;
    NumberFormat::compile(code)->formatNumber(value, DateSystem::D1900, out);
    return out;
}

TEST(Robustness, MalformedCodesRenderSomething)
{
    struct Case {
        const char* code;
        double value;
        const char* expected;
    };
    const Case cases[] = {
        {"[", 5, "5"}, // unclosed bracket: nothing readable, General
        {"[>", 5, "5"},
        {"[>x]0.0", 5, "5.0"}, // a condition that is no number is ignored
        {"0[", 5, "5"},
        {"\\", 5, ""}, // a dangling escape: nothing to show
        {"_", 5, " "},
        {"*", 5, ""},
        {"\"", 5, ""},
        {"0/", 5, "5/"},
        {"/0", 5, "/5"},
        {"E+", -5, "-E+"},
        {"0.0.0", 1.25, "1.2.5"},               // a second point is text; the digits go on
        {"#,##0.00E+00", 1234, "1,234.00E+00"}, // four integer places: steps of 4
        {"[$]0", 5, "5"},
        {"[$-]0", 5, "5"},
        {"[$-ZZZZ]0", 5, "5"},
        {"[]0", 5, "5"},
        {"yyyy.0000", 0.5, "1900.0000"}, // at most three digits of a second
        {"mmmmmmm", 45296, "January"},
        {"ddddddd", 45296, "Friday"},
        {"[hhhhhhhhhh]", 1, "0000000024"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(render(c.code, c.value), c.expected) << "code " << c.code;
    }
}

// Inputs the fuzz target (tests/fuzz) found crashing, kept with what they render now.
TEST(Robustness, FuzzFindings)
{
    // A fixed denominator so long that numerator times denominator overflowed 64 bits.
    const std::string code =
        "/7?/999919999999999;999999=90000000795448989179707391?\?`\x02\xf3:;m:";
    EXPECT_EQ(render(code, 45296.70707), "/745293083333434400000/999919999999999");
    EXPECT_EQ(render("?/999919999999999", 0.5), "499960000000000/999919999999999");
}

TEST(Robustness, ExtremeValuesAndCodes)
{
    const double inf = std::numeric_limits<double>::infinity();
    const double nan = std::numeric_limits<double>::quiet_NaN();
    EXPECT_EQ(render("0.00", inf), "#NUM!");
    EXPECT_EQ(render("0.00", -inf), "#NUM!");
    EXPECT_EQ(render("General", nan), "#NUM!");
    std::string out;
    NumberFormat::general().formatNumber(nan, DateSystem::D1900, out);
    EXPECT_EQ(out, "#NUM!");

    // Every digit of the largest double, and no more than the format asks for.
    const double big = std::numeric_limits<double>::max();
    const std::string wide = render("#,##0.00", big);
    EXPECT_EQ(wide.substr(0, 22), "179,769,313,486,232,00");
    EXPECT_EQ(wide.size(), 309u + 102u + 3u);
    EXPECT_EQ(render("0%%%%%%%%%%", 1e300).size(), 321u + 10u);
    EXPECT_EQ(render("0.00", std::numeric_limits<double>::denorm_min()), "0.00");
    EXPECT_EQ(render("0.00E+00", std::numeric_limits<double>::denorm_min()), "5.00E-324");
    EXPECT_EQ(render("# ?/?", big).size(), 309u + 4u);
    EXPECT_EQ(render("?/?", 1e200).size(), 201u + 2u);

    // Huge codes: many placeholders and sections.
    EXPECT_EQ(render(std::string(5000, '0'), 1), std::string(4999, '0') + "1");
    EXPECT_EQ(render("0." + std::string(5000, '0'), 1), "1." + std::string(5000, '0'));
    EXPECT_EQ(render("0." + std::string(40, '#'), 0.1), "0.1");
    EXPECT_EQ(render(std::string(200, ';'), 1), "");
}

// A compiled format is shared by every thread converting a workbook that uses it.
TEST(Concurrency, OneFormatManyThreads)
{
    const auto formats = std::vector{NumberFormat::compile("#,##0.00;[Red](#,##0.00)"),
                                     NumberFormat::compile("m/d/yyyy h:mm:ss.000"),
                                     NumberFormat::compile("# ?\?/??")};
    const std::vector<std::string> expected = {"(1,234.57)", "1/5/2024 16:48:00.000",
                                               "-1234 55/97"};
    const double values[] = {-1234.567, 45296.7, -1234.567};
    std::vector<std::thread> threads;
    threads.reserve(4);
    std::vector<int> failures(4, 0);
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&, t] {
            std::string out;
            for (int i = 0; i < 2000; ++i) {
                const std::size_t k = static_cast<std::size_t>(i % 3);
                out.clear();
                formats[k]->formatNumber(values[k], DateSystem::D1900, out);
                failures[static_cast<std::size_t>(t)] += out != expected[k] ? 1 : 0;
            }
        });
    }
    for (auto& th : threads) {
        th.join();
    }
    for (int f : failures) {
        EXPECT_EQ(f, 0);
    }
}

} // namespace
