// The layout of a sheet's text, fed by a scripted reader: what the writer makes of the rows,
// the merges and the dimension a reader hands it, and how often it has to read the sheet.

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <vector>

#include "SheetText.h"
#include "sheets/BookReader.h"

namespace {

using sheets::Cell;
using sheets::CellRange;
using sheets::CellType;

Cell text(std::uint32_t col, std::string_view value)
{
    Cell c;
    c.col = col;
    c.type = CellType::Text;
    c.text = value;
    c.format = &sheets::NumberFormat::general();
    return c;
}

Cell number(std::uint32_t col, double value)
{
    Cell c;
    c.col = col;
    c.type = CellType::Number;
    c.number = value;
    c.format = &sheets::NumberFormat::general();
    return c;
}

Cell boolean(std::uint32_t col, bool value)
{
    Cell c = number(col, value ? 1 : 0);
    c.type = CellType::Boolean;
    return c;
}

Cell error(std::uint32_t col, std::string_view name)
{
    Cell c = text(col, name);
    c.type = CellType::Error;
    return c;
}

// A formatted cell without a value.
Cell blank(std::uint32_t col)
{
    Cell c;
    c.col = col;
    c.format = &sheets::NumberFormat::general();
    return c;
}

CellRange range(std::uint32_t firstRow, std::uint32_t firstCol, std::uint32_t lastRow,
                std::uint32_t lastCol)
{
    return {firstRow, firstCol, lastRow, lastCol};
}

struct Row {
    std::uint32_t index;
    std::vector<Cell> cells;
};

struct Script {
    std::optional<CellRange> dimension;
    std::vector<CellRange> mergesFirst; // before the rows, as a reader may send them
    std::vector<Row> rows;
    std::vector<CellRange> mergesLast; // after the rows, where xlsx and xls keep them
};

class ScriptedReader : public sheets::BookReader {
public:
    explicit ScriptedReader(Script script) : script_(std::move(script)) {}

    const std::vector<sheets::SheetInfo>& sheets() const override { return infos_; }
    std::size_t activeSheet() const override { return 0; }
    sheets::DateSystem dateSystem() const override { return sheets::DateSystem::D1900; }
    bool hasMacros() const override { return false; }
    void readSheet(std::size_t /*index*/, sheets::SheetSink& sink) override
    {
        ++reads;
        if (script_.dimension) {
            sink.dimension(*script_.dimension);
        }
        for (const auto& m : script_.mergesFirst) {
            sink.merge(m);
        }
        for (const auto& row : script_.rows) {
            sink.row(row.index, row.cells);
        }
        for (const auto& m : script_.mergesLast) {
            sink.merge(m);
        }
    }

    int reads = 0;

private:
    Script script_;
    std::vector<sheets::SheetInfo> infos_{sheets::SheetInfo{"Sheet1"}};
};

struct Written {
    std::string text;
    int reads;
};

Written write(const Script& script)
{
    ScriptedReader reader(script);
    return {testing_sheets::writtenText(reader, 0), reader.reads}; // written, then counted
}

struct LayoutCase {
    const char* name;
    Script script;
    const char* expected;
};

void PrintTo(const LayoutCase& c, std::ostream* os)
{
    *os << c.name;
}

class Layout : public ::testing::TestWithParam<LayoutCase> {};

TEST_P(Layout, WritesTheSheetFromA1PaddedToTheLastValueColumn)
{
    EXPECT_EQ(write(GetParam().script).text, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Layout,
    ::testing::Values(
        LayoutCase{"LeadingRowsAndColumnsKept",
                   {range(0, 0, 2, 2), {}, {{1, {text(1, "b2")}}, {2, {text(2, "c3")}}}, {}},
                   "\t\t\n\tb2\t\n\t\tc3\n"},
        LayoutCase{"EveryRowPaddedToTheWidestRow",
                   {range(0, 0, 1, 3), {}, {{0, {text(0, "a")}}, {1, {number(3, 4)}}}, {}},
                   "a\t\t\t\n\t\t\t4\n"},
        LayoutCase{
            "EmptyRowInsideIsALineOfTabs",
            {range(0, 0, 2, 1), {}, {{0, {text(0, "a"), text(1, "b")}}, {2, {text(1, "c")}}}, {}},
            "a\tb\n\t\n\tc\n"},
        LayoutCase{"OneColumnEmptyRowIsAnEmptyLine",
                   {range(0, 0, 2, 0), {}, {{0, {text(0, "a")}}, {2, {text(0, "c")}}}, {}},
                   "a\n\nc\n"},
        LayoutCase{"FormattedCellsNeitherWidenNorLengthen",
                   {range(0, 0, 5, 6), {}, {{0, {text(0, "a"), blank(6)}}, {5, {blank(0)}}}, {}},
                   "a\n"},
        LayoutCase{"EmptySheetIsOneEmptyLine", {range(0, 0, 0, 0), {}, {}, {}}, "\n"},
        LayoutCase{"OnlyFormattedCellsIsOneEmptyLine",
                   {range(0, 0, 3, 3), {}, {{3, {blank(3)}}}, {}},
                   "\n"},
        LayoutCase{
            "QuotesOnlyTabQuoteCrLf",
            {range(0, 0, 0, 6),
             {},
             {{0,
               {text(0, "a\tb"), text(1, "say \"hi\""), text(2, "cr\rhere"), text(3, "two\nlines"),
                text(4, "comma, kept"), text(5, " spaced "), text(6, "\"")}}},
             {}},
            "\"a\tb\"\t\"say \"\"hi\"\"\"\t\"cr\rhere\"\t\"two\nlines\"\tcomma, kept\t "
            "spaced \t\"\"\"\"\n"},
        LayoutCase{
            "BooleansErrorsNumbers",
            {range(0, 0, 0, 3),
             {},
             {{0, {boolean(0, true), boolean(1, false), error(2, "#DIV/0!"), number(3, 2.5)}}},
             {}},
            "TRUE\tFALSE\t#DIV/0!\t2.5\n"},
        LayoutCase{"MergeKnownFirstShowsOnlyTopLeft",
                   {range(0, 0, 1, 2),
                    {range(0, 0, 1, 1)},
                    {{0, {text(0, "top"), text(1, "gone")}}, {1, {text(0, "gone"), text(2, "c2")}}},
                    {}},
                   "top\t\t\n\t\tc2\n"},
        LayoutCase{
            "MergeLearntLateStillHidesCoveredValues",
            {range(0, 0, 1, 2),
             {},
             {{0, {text(0, "top"), text(1, "gone"), text(2, "gone too")}}, {1, {number(0, 1)}}},
             {range(0, 0, 0, 2)}},
            "top\n1\n"},
        LayoutCase{"DimensionTooNarrow",
                   {range(0, 0, 0, 0), {}, {{0, {text(0, "a")}}, {3, {text(4, "e4")}}}, {}},
                   "a\t\t\t\t\n\t\t\t\t\n\t\t\t\t\n\t\t\t\te4\n"},
        LayoutCase{"DimensionTooWide",
                   {range(0, 0, 9, 9), {}, {{0, {text(0, "a"), text(1, "b")}}}, {}},
                   "a\tb\n"},
        LayoutCase{
            "NoDimension", {std::nullopt, {}, {{1, {text(2, "c2")}}}, {}}, "\t\t\n\t\tc2\n"}),
    [](const auto& info) { return std::string(info.param.name); });

// What the file claims is trusted until the cells prove it wrong: a truthful file is read once,
// a wrong or missing claim costs one more reading, and a late merge that hides the rightmost
// value one more still.
TEST(LayoutPasses, ReadsTheSheetAgainOnlyWhenTheClaimIsWrong)
{
    const Script truthful{range(0, 0, 1, 1), {}, {{0, {text(0, "a"), text(1, "b")}}}, {}};
    EXPECT_EQ(write(truthful).reads, 1);

    Script missing = truthful;
    missing.dimension.reset();
    EXPECT_EQ(write(missing).reads, 2);

    Script wide = truthful;
    wide.dimension = range(0, 0, 1, 5);
    EXPECT_EQ(write(wide).reads, 2);

    Script whole = truthful;
    whole.dimension = range(0, 0, 1, 16383); // a writer that claims whole rows
    EXPECT_EQ(write(whole).text, "a\tb\n");
    EXPECT_EQ(write(whole).reads, 2);

    const Script hiding{
        range(0, 0, 0, 2), {}, {{0, {text(0, "a"), text(2, "covered")}}}, {range(0, 1, 0, 2)}};
    const Written w = write(hiding);
    EXPECT_EQ(w.text, "a\n");
    EXPECT_EQ(w.reads, 3);
}

// A reader that finds its rows out of order starts over; nothing of the first attempt stays.
class RestartingReader : public ScriptedReader {
public:
    using ScriptedReader::ScriptedReader;
    void readSheet(std::size_t index, sheets::SheetSink& sink) override
    {
        sink.dimension(range(0, 0, 0, 2));
        const std::vector<Cell> stale{text(0, "stale"), text(2, "stale")};
        sink.row(0, stale);
        sink.merge(range(0, 0, 0, 2));
        sink.restart();
        ScriptedReader::readSheet(index, sink);
    }
};

TEST(LayoutPasses, RestartForgetsEverythingSentBefore)
{
    RestartingReader reader(Script{range(0, 0, 1, 1), {}, {{0, {text(0, "a"), text(1, "b")}}}, {}});
    EXPECT_EQ(testing_sheets::writtenText(reader, 0), "a\tb\n");
}

} // namespace
