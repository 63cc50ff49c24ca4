// The small readers of the xlsx parts: cell references, ISO dates (t="d"), numbers, the
// _xHHHH_ escapes and the relationship targets.

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "sheets/xlsx/Package.h"
#include "sheets/xlsx/Values.h"
#include "sheets/xlsx/Xml.h"

namespace {

using sheets::DateSystem;
using sheets::xlsx::CellRef;
using sheets::xlsx::RefStatus;

TEST(CellReference, ReadsColumnsAndRowsToTheLastCell)
{
    struct Case {
        const char* text;
        RefStatus status;
        std::uint32_t col;
        std::optional<std::uint32_t> row;
    };
    const Case cases[] = {
        {"A1", RefStatus::Ok, 0, 0},
        {"b12", RefStatus::Ok, 1, 11},
        {"Z9", RefStatus::Ok, 25, 8},
        {"AA10", RefStatus::Ok, 26, 9},
        {"XFD1048576", RefStatus::Ok, 16383, 1048575},
        {"C", RefStatus::Ok, 2, std::nullopt},
        {"XFE1", RefStatus::OutOfRange, 0, 0},
        {"A1048577", RefStatus::OutOfRange, 0, 0},
        {"AAAAA1", RefStatus::OutOfRange, 0, 0},
        {"A123456789", RefStatus::OutOfRange, 0, 0},
        {"A0", RefStatus::Malformed, 0, 0},
        {"1A", RefStatus::Malformed, 0, 0},
        {"$A$1", RefStatus::Malformed, 0, 0},
        {"", RefStatus::Malformed, 0, 0},
        {"A1:B2", RefStatus::Malformed, 0, 0},
    };
    for (const auto& c : cases) {
        for (const bool view : {false, true}) {
            CellRef ref;
            const RefStatus status = view
                                         ? sheets::xlsx::parseCellRef(std::string_view(c.text), ref)
                                         : sheets::xlsx::parseCellRef(c.text, ref);
            EXPECT_EQ(status, c.status) << c.text;
            if (c.status == RefStatus::Ok) {
                EXPECT_EQ(ref.col, c.col) << c.text;
                EXPECT_EQ(ref.row, c.row) << c.text;
            }
        }
    }
}

TEST(CellReference, RangesInEitherOrder)
{
    const auto r = sheets::xlsx::parseRange("C5:A1");
    ASSERT_TRUE(r);
    EXPECT_EQ(r->firstRow, 0U);
    EXPECT_EQ(r->firstCol, 0U);
    EXPECT_EQ(r->lastRow, 4U);
    EXPECT_EQ(r->lastCol, 2U);
    const auto single = sheets::xlsx::parseRange("B2");
    ASSERT_TRUE(single);
    EXPECT_EQ(single->lastCol, 1U);
    EXPECT_FALSE(sheets::xlsx::parseRange("A:C"));
    EXPECT_FALSE(sheets::xlsx::parseRange("A1:"));
    EXPECT_FALSE(sheets::xlsx::parseRange("nonsense"));
}

TEST(IsoDate, SerialsOfBothDateSystems)
{
    struct Case {
        const char* text;
        DateSystem dates;
        std::optional<double> serial;
    };
    const Case cases[] = {
        {"1900-01-01", DateSystem::D1900, 1},
        {"1900-02-28", DateSystem::D1900, 59},
        // 60 is the 29 February 1900 that never was: the next real day is 61.
        {"1900-03-01", DateSystem::D1900, 61},
        {"2024-03-14", DateSystem::D1900, 45365},
        {"2024-03-14T12:00:00", DateSystem::D1900, 45365.5},
        {"2024-03-14T06:00:00.5Z", DateSystem::D1900, 45365 + (6 * 3600 + 0.5) / 86400},
        {"2024-03-14T06:00:00+02:00", DateSystem::D1900, 45365.25},
        {"9999-12-31", DateSystem::D1900, 2958465},
        {"1904-01-01", DateSystem::D1904, 0},
        {"2024-03-14", DateSystem::D1904, 45365 - 1462},
        {"18:00:00", DateSystem::D1900, 0.75},
        {"1899-12-31", DateSystem::D1900, 0},
        {"1899-12-30", DateSystem::D1900, std::nullopt},
        {"1903-12-31", DateSystem::D1904, std::nullopt},
        {"2023-02-29", DateSystem::D1900, std::nullopt},
        {"2024-13-01", DateSystem::D1900, std::nullopt},
        {"2024-03-14X", DateSystem::D1900, std::nullopt},
        {"14/03/2024", DateSystem::D1900, std::nullopt},
        {"25:00:00", DateSystem::D1900, std::nullopt},
        {"", DateSystem::D1900, std::nullopt},
    };
    for (const auto& c : cases) {
        const auto serial = sheets::xlsx::isoDateToSerial(c.text, c.dates);
        ASSERT_EQ(serial.has_value(), c.serial.has_value()) << c.text;
        if (serial) {
            EXPECT_DOUBLE_EQ(*serial, *c.serial) << c.text;
        }
    }
}

TEST(CellNumber, AcceptsWhatCellsHoldAndNothingElse)
{
    EXPECT_EQ(sheets::xlsx::parseNumber("12"), 12.0);
    EXPECT_EQ(sheets::xlsx::parseNumber("-1.5E-3"), -1.5e-3);
    EXPECT_EQ(sheets::xlsx::parseNumber(" 7 "), 7.0);
    EXPECT_EQ(sheets::xlsx::parseNumber("+3"), 3.0);
    EXPECT_EQ(sheets::xlsx::parseNumber("0.1000000000000000055511151231257827"), 0.1);
    for (const char* bad : {"", " ", "abc", "1,5", "inf", "nan", "1e999", "0x10", "1 2"}) {
        EXPECT_FALSE(sheets::xlsx::parseNumber(bad)) << bad;
    }
}

TEST(EscapedText, UndoesTheUnderscoreNotation)
{
    struct Case {
        const char* text;
        const char* expected;
    };
    const Case cases[] = {
        {"plain", "plain"},
        {"a_x000D__x000A_b", "a\r\nb"},
        {"tab_x0009_", "tab\t"},
        {"_x005F_x0041_", "_x0041_"},           // an escaped underscore keeps the rest literal
        {"_x00e9_", "\xC3\xA9"},                // lower-case hex too
        {"_xD83D__xDE00_", "\xF0\x9F\x98\x80"}, // a surrogate pair
        {"_xD83D_", "\xEF\xBF\xBD"},            // half a pair: the replacement character
        {"_x12_ and _xZZZZ_ and _x0041", "_x12_ and _xZZZZ_ and _x0041"},
    };
    for (const auto& c : cases) {
        std::string out;
        sheets::xlsx::appendUnescaped(c.text, out);
        EXPECT_EQ(out, c.expected) << c.text;
    }
}

TEST(PartNames, TargetsResolveAgainstTheirSource)
{
    using sheets::xlsx::resolveTarget;
    EXPECT_EQ(resolveTarget("xl/workbook.xml", "worksheets/sheet1.xml"),
              "xl/worksheets/sheet1.xml");
    EXPECT_EQ(resolveTarget("xl/workbook.xml", "/xl/worksheets/sheet1.xml"),
              "xl/worksheets/sheet1.xml");
    EXPECT_EQ(resolveTarget("xl/workbook.xml", "../docProps/app.xml"), "docProps/app.xml");
    EXPECT_EQ(resolveTarget("xl/workbook.xml", "./a/../b/my%20sheet.xml"), "xl/b/my sheet.xml");
    EXPECT_EQ(resolveTarget("", "xl/workbook.xml"), "xl/workbook.xml");
    EXPECT_EQ(resolveTarget("xl/workbook.xml", "../../../etc/passwd"), "etc/passwd");
    EXPECT_EQ(sheets::xlsx::relsPartOf("xl/workbook.xml"), "xl/_rels/workbook.xml.rels");
    EXPECT_EQ(sheets::xlsx::relsPartOf(""), "_rels/.rels");
    EXPECT_EQ(sheets::xlsx::relType("http://purl.oclc.org/ooxml/officeDocument/relationships/"
                                    "worksheet"),
              "worksheet");
}

} // namespace
