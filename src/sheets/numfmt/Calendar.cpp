#include "sheets/numfmt/Calendar.h"

namespace sheets::numfmt {

namespace {

// Proleptic Gregorian date of a count of days since 1970-01-01 (the well-known era-based
// conversion: 400-year eras of 146097 days).
DateParts civilFromDays(std::int64_t z)
{
    z += 719468;
    const std::int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const std::int64_t doe = z - era * 146097;
    const std::int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const std::int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const std::int64_t mp = (5 * doy + 2) / 153;
    DateParts p;
    p.day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    p.month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    p.year = static_cast<int>(yoe + era * 400 + (p.month <= 2 ? 1 : 0));
    return p;
}

constexpr std::int64_t kDays1899_12_30 = -25569; // relative to 1970-01-01
constexpr std::int64_t kDays1904_01_01 = -24107;

} // namespace

DateParts dateFromSerial(std::int64_t day, DateSystem system)
{
    if (system == DateSystem::D1904) {
        DateParts p = civilFromDays(kDays1904_01_01 + day);
        p.weekday = static_cast<int>((day + kOffset1904 + 6) % 7);
        return p;
    }
    DateParts p;
    if (day == 0) {
        p = DateParts{1900, 1, 0, 0};
    } else if (day < 60) {
        p = civilFromDays(kDays1899_12_30 + day + 1);
    } else if (day == 60) {
        // The 29 February 1900 that never was, kept by the spreadsheet for Lotus 1-2-3.
        p = DateParts{1900, 2, 29, 0};
    } else {
        p = civilFromDays(kDays1899_12_30 + day);
    }
    // Weekdays follow the serial, so those before March 1900 are off by one just as the
    // spreadsheet shows them (serial 1 is a "Sunday").
    p.weekday = static_cast<int>((day + 6) % 7);
    return p;
}

} // namespace sheets::numfmt
