#include <gtest/gtest.h>

#include <string>

#include "sheets/NumberFormat.h"

namespace {

struct GeneralCase {
    double value;
    const char* expected;
};

// General keeps every digit up to 15 significant ones: identifiers and measurements survive.
TEST(General, ShowsUpTo15SignificantDigits)
{
    const GeneralCase cases[] = {
        {0, "0"},
        {-0.0, "0"},
        {1, "1"},
        {-1, "-1"},
        {2.5, "2.5"},
        {-2.5, "-2.5"},
        {1.0 / 3, "0.333333333333333"},
        {2.0 / 3, "0.666666666666667"},
        {123456789012, "123456789012"},
        {123456789012345, "123456789012345"},
        {999999999999999, "999999999999999"},
        {1e15, "1E+15"},
        {1e16, "1E+16"},
        {12345678901234567890.0, "1.23456789012346E+19"},
        {-12345678901234567890.0, "-1.23456789012346E+19"},
        {0.1 + 0.2, "0.3"},
        {0.0001, "0.0001"},
        {0.00012345, "0.00012345"},
        {0.00001, "1E-05"},
        {0.000012, "1.2E-05"},
        {-0.00001, "-1E-05"},
        {1e-100, "1E-100"},
        {1.7976931348623157e308, "1.79769313486232E+308"},
        {1234.5, "1234.5"},
        {100, "100"},
        {1e14, "100000000000000"},
        {0.1, "0.1"},
        {45000.5, "45000.5"},
        // Rounding to 15 digits can carry into a new leading digit.
        {9.9999999999999999e14, "1E+15"},
        {0.99999999999999999, "1"},
        {0.000099999999999999999, "0.0001"},
    };
    for (const auto& c : cases) {
        std::string out;
        sheets::NumberFormat::general().formatNumber(c.value, sheets::DateSystem::D1900, out);
        EXPECT_EQ(out, c.expected) << "value " << c.value;
    }
}

} // namespace
