#pragma once

#include <cstdint>

#include "sheets/NumberFormat.h"

// Serial day numbers of both date systems to calendar dates, the spreadsheet's way.
namespace sheets::numfmt {

struct DateParts {
    int year = 1900;
    int month = 1;   // 1-12
    int day = 0;     // 0 only for the 1900 system's serial 0 ("1/0/1900")
    int weekday = 0; // 0 = Sunday
};

// The last serial day a date format can show: 9999-12-31 in the 1900 system.
inline constexpr std::int64_t kLastSerial1900 = 2958465;
// 1904 serial + 1462 = 1900 serial of the same day.
inline constexpr std::int64_t kOffset1904 = 1462;

// day >= 0 and within range (see kLastSerial1900).
DateParts dateFromSerial(std::int64_t day, DateSystem system);

} // namespace sheets::numfmt
