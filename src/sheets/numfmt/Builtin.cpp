#include <array>
#include <string_view>

#include "sheets/NumberFormat.h"

namespace sheets {

namespace {

// The en-US codes of the built-in ids 0-49 that a file may reference without storing them.
// An empty entry has no code of its own (ids reserved for other locales).
constexpr std::array<std::string_view, 50> kBuiltin = {
    "General",                                                      // 0
    "0",                                                            // 1
    "0.00",                                                         // 2
    "#,##0",                                                        // 3
    "#,##0.00",                                                     // 4
    "\"$\"#,##0_);\\(\"$\"#,##0\\)",                                // 5
    "\"$\"#,##0_);[Red]\\(\"$\"#,##0\\)",                           // 6
    "\"$\"#,##0.00_);\\(\"$\"#,##0.00\\)",                          // 7
    "\"$\"#,##0.00_);[Red]\\(\"$\"#,##0.00\\)",                     // 8
    "0%",                                                           // 9
    "0.00%",                                                        // 10
    "0.00E+00",                                                     // 11
    "# ?/?",                                                        // 12
    "# ?\?/??",                                                     // 13 (no trigraph)
    "m/d/yyyy",                                                     // 14: the system short date
    "d-mmm-yy",                                                     // 15
    "d-mmm",                                                        // 16
    "mmm-yy",                                                       // 17
    "h:mm AM/PM",                                                   // 18
    "h:mm:ss AM/PM",                                                // 19
    "h:mm",                                                         // 20
    "h:mm:ss",                                                      // 21
    "m/d/yyyy h:mm",                                                // 22
    "",                                                             // 23
    "",                                                             // 24
    "",                                                             // 25
    "",                                                             // 26
    "m/d/yyyy",                                                     // 27-36: East Asian dates
    "m/d/yyyy",                                                     // 28
    "m/d/yyyy",                                                     // 29
    "m/d/yyyy",                                                     // 30
    "m/d/yyyy",                                                     // 31
    "m/d/yyyy",                                                     // 32
    "m/d/yyyy",                                                     // 33
    "m/d/yyyy",                                                     // 34
    "m/d/yyyy",                                                     // 35
    "m/d/yyyy",                                                     // 36
    "#,##0_);(#,##0)",                                              // 37
    "#,##0_);[Red](#,##0)",                                         // 38
    "#,##0.00_);(#,##0.00)",                                        // 39
    "#,##0.00_);[Red](#,##0.00)",                                   // 40
    "_(* #,##0_);_(* \\(#,##0\\);_(* \"-\"_);_(@_)",                // 41
    "_(\"$\"* #,##0_);_(\"$\"* \\(#,##0\\);_(\"$\"* \"-\"_);_(@_)", // 42
    "_(* #,##0.00_);_(* \\(#,##0.00\\);_(* \"-\"??_);_(@_)",        // 43
    "_(\"$\"* #,##0.00_);_(\"$\"* \\(#,##0.00\\);_(\"$\"* \"-\"??_);_(@_)", // 44
    "mm:ss",                                                                // 45
    "[h]:mm:ss",                                                            // 46
    "mm:ss.0",                                                              // 47
    "##0.0E+0",                                                             // 48
    "@",                                                                    // 49
};

// The East Asian and Thai ids 50-81 shown through their en-US stand-ins; 0 means General.
constexpr std::array<unsigned char, 32> kStandIn = {
    14, 14, 14, 14, 14, 14, 14, 14, 14, // 50-58: dates
    1,  2,  3,  4,                      // 59-62: numbers
    0,  0,  0,  0,                      // 63-66: Thai currency, no stand-in
    9,  10, 12, 13,                     // 67-70: percent, fractions
    14, 14, 15, 16, 17,                 // 71-75: dates
    20, 21, 22,                         // 76-78: times
    45, 46, 47,                         // 79-81: elapsed times
};

} // namespace

std::string_view NumberFormat::builtinCode(int id)
{
    if (id >= 50 && id <= 81) {
        id = kStandIn[static_cast<std::size_t>(id - 50)];
    }
    if (id < 0 || id >= static_cast<int>(kBuiltin.size()) ||
        kBuiltin[static_cast<std::size_t>(id)].empty()) {
        return kBuiltin[0];
    }
    return kBuiltin[static_cast<std::size_t>(id)];
}

} // namespace sheets
