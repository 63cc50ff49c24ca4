#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "sheets/BookReader.h"
#include "sheets/NumberFormat.h"

// Reading the values that cells and ranges spell as text in the sheet parts.
namespace sheets::xlsx {

inline constexpr std::uint32_t kMaxRow = 1048575; // 0-based: row 1,048,576
inline constexpr std::uint32_t kMaxCol = 16383;   // 0-based: column XFD

struct CellRef {
    std::uint32_t col = 0;
    std::optional<std::uint32_t> row; // absent in a bare column ("B")
};

enum class RefStatus : unsigned char { Ok, Malformed, OutOfRange };

// "B12" -> column 1, row 11 (0-based). Letters in either case; "$" is not allowed here.
RefStatus parseCellRef(std::string_view text, CellRef& out);
// The same for a NUL-terminated attribute value, without measuring it first.
RefStatus parseCellRef(const char* text, CellRef& out);

// "A1:C3" or "B2" -> an inclusive range, corners in either order; nullopt when malformed or
// beyond the sheet's last cell.
std::optional<CellRange> parseRange(std::string_view text);

// A number as a cell's <v> holds it ("12", "-1.5E-3", " 7 "); nullopt for anything else,
// including infinities and NaN, which no cell can hold.
std::optional<double> parseNumber(std::string_view text);

// An ISO 8601 date, date-time or time (t="d" cells: "2024-03-14", "2024-03-14T10:30:00.5Z",
// "10:30:00") as the serial number of the workbook's date system, with the 1900 system's
// phantom 29 February 1900 taken into account. nullopt when it is not such a value or lies
// outside what the date system can show.
std::optional<double> isoDateToSerial(std::string_view text, DateSystem dates);

} // namespace sheets::xlsx
