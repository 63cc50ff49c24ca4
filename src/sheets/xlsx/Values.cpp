#include "sheets/xlsx/Values.h"

#include <charconv>
#include <cmath>

namespace sheets::xlsx {

RefStatus parseCellRef(const char* text, CellRef& out)
{
    const char* p = text;
    std::uint64_t col = 0;
    for (;; ++p) {
        char c = *p;
        if (c >= 'a' && c <= 'z') {
            c = static_cast<char>(c - 'a' + 'A');
        }
        if (c < 'A' || c > 'Z') {
            break;
        }
        if (p - text >= 4) {
            return RefStatus::OutOfRange;
        }
        col = col * 26 + static_cast<std::uint64_t>(c - 'A' + 1);
    }
    if (p == text) {
        return RefStatus::Malformed;
    }
    const char* digits = p;
    std::uint64_t row = 0;
    for (; *p != '\0'; ++p) {
        if (*p < '0' || *p > '9') {
            return RefStatus::Malformed;
        }
        if (p - digits >= 8) {
            return RefStatus::OutOfRange;
        }
        row = row * 10 + static_cast<std::uint64_t>(*p - '0');
    }
    if (col - 1 > kMaxCol) {
        return RefStatus::OutOfRange;
    }
    out.col = static_cast<std::uint32_t>(col - 1);
    if (p == digits) {
        out.row.reset();
        return RefStatus::Ok;
    }
    if (row == 0) {
        return RefStatus::Malformed;
    }
    if (row - 1 > kMaxRow) {
        return RefStatus::OutOfRange;
    }
    out.row = static_cast<std::uint32_t>(row - 1);
    return RefStatus::Ok;
}

RefStatus parseCellRef(std::string_view text, CellRef& out)
{
    char buffer[16];
    if (text.size() >= sizeof buffer) {
        return text.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz"
                                      "0123456789") == std::string_view::npos
                   ? RefStatus::OutOfRange
                   : RefStatus::Malformed;
    }
    if (text.find('\0') != std::string_view::npos) {
        return RefStatus::Malformed;
    }
    text.copy(buffer, text.size());
    buffer[text.size()] = '\0';
    return parseCellRef(static_cast<const char*>(buffer), out);
}

std::optional<CellRange> parseRange(std::string_view text)
{
    const std::size_t colon = text.find(':');
    CellRef a;
    CellRef b;
    if (parseCellRef(text.substr(0, colon), a) != RefStatus::Ok || !a.row) {
        return std::nullopt;
    }
    if (colon == std::string_view::npos) {
        b = a;
    } else if (parseCellRef(text.substr(colon + 1), b) != RefStatus::Ok || !b.row) {
        return std::nullopt;
    }
    CellRange range;
    range.firstRow = std::min(*a.row, *b.row);
    range.lastRow = std::max(*a.row, *b.row);
    range.firstCol = std::min(a.col, b.col);
    range.lastCol = std::max(a.col, b.col);
    return range;
}

std::optional<double> parseNumber(std::string_view text)
{
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t' || text.front() == '\n' ||
                             text.front() == '\r')) {
        text.remove_prefix(1);
    }
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\n' ||
                             text.back() == '\r')) {
        text.remove_suffix(1);
    }
    if (!text.empty() && text.front() == '+') {
        text.remove_prefix(1);
    }
    if (text.empty()) {
        return std::nullopt;
    }
    double value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || !std::isfinite(value)) {
        return std::nullopt;
    }
    return value;
}

namespace {

// Days from 1970-01-01 to a proleptic Gregorian date (Howard Hinnant's days_from_civil).
std::int64_t daysFromCivil(std::int64_t y, unsigned m, unsigned d)
{
    y -= m <= 2 ? 1 : 0;
    const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
    const auto yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + static_cast<std::int64_t>(doe) - 719468;
}

bool isLeap(int y)
{
    return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

// Reads exactly n digits at text[pos].
bool digitsAt(std::string_view text, std::size_t pos, std::size_t n, int& out)
{
    if (pos + n > text.size()) {
        return false;
    }
    out = 0;
    for (std::size_t i = pos; i < pos + n; ++i) {
        if (text[i] < '0' || text[i] > '9') {
            return false;
        }
        out = out * 10 + (text[i] - '0');
    }
    return true;
}

// "hh:mm[:ss[.fff]]" followed by an optional zone, which a serial cannot hold and is dropped.
std::optional<double> timeOfDay(std::string_view text)
{
    int h = 0;
    int m = 0;
    int s = 0;
    if (!digitsAt(text, 0, 2, h) || text.size() < 5 || text[2] != ':' || !digitsAt(text, 3, 2, m)) {
        return std::nullopt;
    }
    std::size_t pos = 5;
    double fraction = 0;
    if (pos < text.size() && text[pos] == ':') {
        if (!digitsAt(text, pos + 1, 2, s)) {
            return std::nullopt;
        }
        pos += 3;
        if (pos < text.size() && (text[pos] == '.' || text[pos] == ',')) {
            double scale = 0.1;
            ++pos;
            const std::size_t start = pos;
            for (; pos < text.size() && text[pos] >= '0' && text[pos] <= '9'; ++pos) {
                fraction += (text[pos] - '0') * scale;
                scale /= 10;
            }
            if (pos == start) {
                return std::nullopt;
            }
        }
    }
    const std::string_view zone = text.substr(pos);
    const bool zoneOk = zone.empty() || zone == "Z" ||
                        ((zone[0] == '+' || zone[0] == '-') &&
                         (zone.size() == 3 || zone.size() == 5 || zone.size() == 6));
    if (!zoneOk || h > 24 || m > 59 || s > 60 || (h == 24 && (m != 0 || s != 0))) {
        return std::nullopt;
    }
    return (h * 3600.0 + m * 60.0 + s + fraction) / 86400.0;
}

} // namespace

std::optional<double> isoDateToSerial(std::string_view text, DateSystem dates)
{
    if (text.size() >= 3 && text[2] == ':') {
        return timeOfDay(text); // a bare time is a fraction of day 0
    }
    int y = 0;
    int m = 0;
    int d = 0;
    if (!digitsAt(text, 0, 4, y) || text.size() < 10 || text[4] != '-' ||
        !digitsAt(text, 5, 2, m) || text[7] != '-' || !digitsAt(text, 8, 2, d)) {
        return std::nullopt;
    }
    static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (m < 1 || m > 12 || d < 1 || d > kDays[m - 1] + (m == 2 && isLeap(y) ? 1 : 0)) {
        return std::nullopt;
    }
    double time = 0;
    if (text.size() > 10) {
        if (text[10] != 'T' && text[10] != ' ') {
            return std::nullopt;
        }
        const auto t = timeOfDay(text.substr(11));
        if (!t) {
            return std::nullopt;
        }
        time = *t;
    }
    const std::int64_t day = daysFromCivil(y, static_cast<unsigned>(m), static_cast<unsigned>(d));
    double serial = 0;
    if (dates == DateSystem::D1904) {
        serial = static_cast<double>(day - daysFromCivil(1904, 1, 1));
    } else {
        // Serial 1 is 1900-01-01 and serial 60 the 29 February 1900 that never was, so from
        // March 1900 on the count runs one ahead of the calendar.
        serial = static_cast<double>(day - daysFromCivil(1899, 12, 31));
        if (day >= daysFromCivil(1900, 3, 1)) {
            serial += 1;
        }
    }
    if (serial < 0 || serial > 2958465) {
        return std::nullopt;
    }
    return serial + time;
}

} // namespace sheets::xlsx
