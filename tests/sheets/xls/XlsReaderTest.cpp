// The .xls reader against fixtures: what each cell record becomes, the sheet list, order,
// strings across CONTINUE records, BIFF5 code pages, and what a file that is no workbook says.
#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "XlsTestSupport.h"
#include "sheets/BookReader.h"
#include "sheets/Error.h"

namespace {

using sheets::CellType;
using xlstest::fixture;

struct Expected {
    std::uint32_t row, col;
    CellType type;
    double number;     // Number, Boolean
    const char* text;  // Text, Error: the cell's own text
    const char* shown; // nullptr: not checked
};

std::string repeat(const std::string& s, int n)
{
    std::string out;
    for (int i = 0; i < n; ++i) {
        out += s;
    }
    return out;
}

TEST(XlsCells, EveryCellRecordBecomesItsValue)
{
    auto book = sheets::openXls(fixture("cells.xls"), {});
    const xlstest::CollectSink sink = xlstest::readSheet(*book, 0);
    static const std::string omegas = repeat("Ω", 5000);
    const std::vector<Expected> expected = {
        // RK: integer, integer / 100, top of a double, a double / 100, a negative integer
        {0, 0, CellType::Number, 1, "", "1"},
        {0, 1, CellType::Number, 12.34, "", "12.34"},
        {0, 2, CellType::Number, -3.5, "", "-3.5"},
        {0, 3, CellType::Number, 0.0025, "", "0.0025"},
        {0, 4, CellType::Number, -7, "", "-7"},
        // NUMBER, with formats from FORMAT records and built-in ids
        {1, 0, CellType::Number, 0.1, "", "0.1"},
        {1, 1, CellType::Number, 123456789012345678.0, "", nullptr},
        {1, 2, CellType::Number, -1e-300, "", nullptr},
        {1, 3, CellType::Number, 45000.5, "", "3/15/2023"},
        {1, 4, CellType::Number, 1.5, "", "1.5000"},
        {1, 5, CellType::Number, 0.5, "", "50.00%"},
        // MULRK
        {2, 1, CellType::Number, 10, "", "10"},
        {2, 2, CellType::Number, 20, "", "20"},
        {2, 3, CellType::Number, 30.5, "", "30.5"},
        // MULBLANK and BLANK: formatted cells without a value
        {3, 0, CellType::Empty, 0, "", ""},
        {3, 1, CellType::Empty, 0, "", ""},
        {3, 2, CellType::Empty, 0, "", ""},
        {3, 5, CellType::Empty, 0, "", ""},
        // LABELSST (one with a text format), LABEL, RSTRING
        {4, 0, CellType::Text, 0, "shared", "shared"},
        {4, 1, CellType::Text, 0, "shared with format", "custom shared with format"},
        {4, 2, CellType::Text, 0, "label", "label"},
        {4, 3, CellType::Text, 0, "Grüße Ω", "Grüße Ω"},
        {4, 4, CellType::Text, 0, "rich", "rich"},
        // BOOLERR: booleans and all the error values
        {5, 0, CellType::Boolean, 1, "", "TRUE"},
        {5, 1, CellType::Boolean, 0, "", "FALSE"},
        {6, 0, CellType::Error, 0, "#NULL!", nullptr},
        {6, 1, CellType::Error, 0, "#DIV/0!", nullptr},
        {6, 2, CellType::Error, 0, "#VALUE!", nullptr},
        {6, 3, CellType::Error, 0, "#REF!", nullptr},
        {6, 4, CellType::Error, 0, "#NAME?", nullptr},
        {6, 5, CellType::Error, 0, "#NUM!", nullptr},
        {6, 6, CellType::Error, 0, "#N/A", nullptr},
        {6, 7, CellType::Error, 0, "#GETTING_DATA", nullptr},
        // FORMULA: number, string (in the STRING record after it, once across a CONTINUE),
        // boolean, error, empty string, and a string result whose STRING never came
        {7, 0, CellType::Number, 84, "", "84"},
        {7, 1, CellType::Text, 0, "formula text", nullptr},
        {7, 2, CellType::Boolean, 1, "", nullptr},
        {7, 3, CellType::Error, 0, "#DIV/0!", nullptr},
        {7, 4, CellType::Text, 0, "", nullptr},
        {7, 5, CellType::Text, 0, omegas.c_str(), nullptr},
        {7, 6, CellType::Text, 0, "", nullptr},
        {7, 7, CellType::Number, 7, "", nullptr},
        {8, 0, CellType::Number, 2.5, "", "1900-01-02 12:00"},
        // An XF index the workbook does not have: General
        {8, 1, CellType::Number, 1, "", "1"},
        // After an embedded chart, whose NUMBER record is not a cell of the sheet
        {9, 0, CellType::Text, 0, "after chart", nullptr},
    };
    for (const Expected& e : expected) {
        SCOPED_TRACE("row " + std::to_string(e.row) + " col " + std::to_string(e.col));
        const xlstest::SeenCell* cell = sink.at(e.row, e.col);
        ASSERT_NE(cell, nullptr);
        EXPECT_EQ(cell->type, e.type);
        if (e.type == CellType::Number || e.type == CellType::Boolean) {
            EXPECT_EQ(cell->number, e.number);
        }
        if (e.type == CellType::Text || e.type == CellType::Error) {
            EXPECT_EQ(cell->text, e.text);
        }
        if (e.shown != nullptr) {
            EXPECT_EQ(cell->shown, e.shown);
        }
    }
    EXPECT_EQ(sink.grid.size(), expected.size());
    EXPECT_TRUE(sink.at(1, 3)->isDate);
    EXPECT_FALSE(sink.outOfOrder);
    ASSERT_EQ(sink.merges.size(), 1u);
    EXPECT_EQ(sink.merges[0].firstRow, 4u);
    EXPECT_EQ(sink.merges[0].firstCol, 0u);
    EXPECT_EQ(sink.merges[0].lastRow, 4u);
    EXPECT_EQ(sink.merges[0].lastCol, 1u);
    ASSERT_EQ(sink.dimensions.size(), 1u);
    EXPECT_EQ(sink.dimensions[0].lastRow, 9u);
    EXPECT_EQ(sink.dimensions[0].lastCol, 7u);
}

TEST(XlsCells, ReadingASheetAgainGivesTheSameCells)
{
    auto book = sheets::openXls(fixture("cells.xls"), {});
    const auto first = xlstest::readSheet(*book, 0);
    xlstest::readSheet(*book, 1);
    const auto again = xlstest::readSheet(*book, 0);
    ASSERT_EQ(first.grid.size(), again.grid.size());
    for (const auto& [at, cell] : first.grid) {
        EXPECT_EQ(again.grid.at(at).shown, cell.shown);
    }
}

TEST(XlsSheets, ListsNamesVisibilityKindsAndTheActiveSheet)
{
    auto book = sheets::openXls(fixture("cells.xls"), {});
    struct Want {
        const char* name;
        sheets::Visibility visibility;
        sheets::SheetKind kind;
    };
    const Want want[] = {
        {"Cells", sheets::Visibility::Visible, sheets::SheetKind::Worksheet},
        {"Hidden", sheets::Visibility::Hidden, sheets::SheetKind::Worksheet},
        {"VeryHidden", sheets::Visibility::VeryHidden, sheets::SheetKind::Worksheet},
        {"Chart", sheets::Visibility::Visible, sheets::SheetKind::Chart},
        {"Dialog", sheets::Visibility::Visible, sheets::SheetKind::Dialog},
        {"Macro", sheets::Visibility::Visible, sheets::SheetKind::Macro},
        {"Empty", sheets::Visibility::Visible, sheets::SheetKind::Worksheet},
    };
    const auto& list = book->sheets();
    ASSERT_EQ(list.size(), std::size(want));
    for (std::size_t i = 0; i < list.size(); ++i) {
        EXPECT_EQ(list[i].name, want[i].name);
        EXPECT_EQ(list[i].visibility, want[i].visibility) << want[i].name;
        EXPECT_EQ(list[i].kind, want[i].kind) << want[i].name;
    }
    EXPECT_EQ(book->activeSheet(), 1u);
    EXPECT_EQ(book->dateSystem(), sheets::DateSystem::D1900);
    EXPECT_FALSE(book->hasMacros());

    // A chart sheet (whose data cache holds a NUMBER record) and an empty sheet read as
    // empty; a macro sheet keeps its cells.
    EXPECT_TRUE(xlstest::readSheet(*book, 3).grid.empty());
    EXPECT_TRUE(xlstest::readSheet(*book, 6).grid.empty());
    EXPECT_EQ(xlstest::readSheet(*book, 5).grid.size(), 1u);
}

TEST(XlsSheets, MacroStorageMeansAMacroProject)
{
    EXPECT_TRUE(sheets::openXls(fixture("vba.xls"), {})->hasMacros());
    EXPECT_FALSE(sheets::openXls(fixture("plain.xls"), {})->hasMacros());
}

TEST(XlsSheets, SheetNumberOutOfRangeIsRefused)
{
    auto book = sheets::openXls(fixture("plain.xls"), {});
    xlstest::CollectSink sink;
    EXPECT_EQ(xlstest::errorOf([&] { book->readSheet(1, sink); }),
              "Sheet 2 does not exist: the workbook has 1 sheet");
}

TEST(XlsOrder, CellsWrittenOutOfOrderReachTheSinkSorted)
{
    auto book = sheets::openXls(fixture("order.xls"), {});
    // Written column by column, one cell twice: the later record wins.
    const auto byColumn = xlstest::readSheet(*book, 0);
    EXPECT_FALSE(byColumn.outOfOrder);
    EXPECT_EQ(byColumn.rowOrder, (std::vector<std::uint32_t>{0, 1, 2}));
    const char* want[3][3] = {{"0", "1", "a"}, {"10.5", "11", "b"}, {"20", "21", "c"}};
    for (std::uint32_t r = 0; r < 3; ++r) {
        for (std::uint32_t c = 0; c < 3; ++c) {
            ASSERT_NE(byColumn.at(r, c), nullptr);
            EXPECT_EQ(byColumn.at(r, c)->shown, want[r][c]) << r << "," << c;
        }
    }
    EXPECT_EQ(byColumn.grid.size(), 9u);

    // Rows in order, columns not.
    const auto inRow = xlstest::readSheet(*book, 1);
    EXPECT_FALSE(inRow.outOfOrder);
    EXPECT_EQ(inRow.at(0, 1)->shown, "1.5");
    EXPECT_EQ(inRow.at(0, 2)->shown, "2");
    EXPECT_EQ(inRow.at(0, 3)->shown, "3");
    EXPECT_EQ(inRow.at(1, 0)->shown, "y");
    EXPECT_EQ(inRow.at(1, 1)->shown, "x");
    EXPECT_EQ(inRow.grid.size(), 5u);
}

TEST(XlsStrings, SharedStringsSurviveEveryKindOfContinueSplit)
{
    // Split after every 48 bytes: characters change width after the boundary (both ways),
    // formatting runs and a phonetic block cross it, surrogate pairs sit next to it.
    auto book = sheets::openXls(fixture("sst-split.xls"), {});
    const auto sink = xlstest::readSheet(*book, 0);
    const std::vector<std::string> want = {
        "plain",
        repeat("x", 40) + repeat("Ω", 30),
        repeat("Ω", 25) + repeat("y", 40),
        "runs and phonetic cross",
        repeat("a😀b", 15),
        "",
        "last",
    };
    for (std::uint32_t i = 0; i < want.size(); ++i) {
        ASSERT_NE(sink.at(i, 0), nullptr) << i;
        EXPECT_EQ(sink.at(i, 0)->text, want[i]) << i;
    }
}

TEST(XlsStrings, LibreOfficeSharedStringTableWithContinueRecords)
{
    auto book = sheets::openXls(fixture("pairs/strings.xls"), {});
    const auto sink = xlstest::readSheet(*book, 0);
    for (std::uint32_t i = 0; i < 1500; ++i) {
        ASSERT_NE(sink.at(i, 0), nullptr) << i;
        ASSERT_EQ(sink.at(i, 0)->text, "string number " + std::to_string(i));
        if (i % 100 == 0) {
            EXPECT_EQ(sink.at(i, 1)->text,
                      "long " + std::to_string(i) + " " + repeat("abcdefghij", 120));
            EXPECT_EQ(sink.at(i, 2)->text,
                      "Ωμέγα " + std::to_string(i) + " " + repeat("αβγδε", 300));
        }
    }
}

TEST(XlsBiff5, ByteStringsAreReadInTheWorkbooksCodePage)
{
    struct Case {
        const char* file;
        const char* sheet;
        std::vector<std::string> texts;
    };
    const Case cases[] = {
        {"biff5-cp1251.xls", "Лист1", {"Привет", "мир"}},
        {"biff5-cp932.xls", "シート", {"日本語", "ｶﾀｶﾅ"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        auto book = sheets::openXls(fixture(c.file), {});
        ASSERT_EQ(book->sheets().size(), 1u);
        EXPECT_EQ(book->sheets()[0].name, c.sheet);
        const auto sink = xlstest::readSheet(*book, 0);
        for (std::uint32_t i = 0; i < c.texts.size(); ++i) {
            ASSERT_NE(sink.at(i, 0), nullptr);
            EXPECT_EQ(sink.at(i, 0)->text, c.texts[i]);
        }
        // A FORMAT record in BIFF5's byte-string form.
        EXPECT_EQ(sink.at(static_cast<std::uint32_t>(c.texts.size()), 0)->shown, "1.3");
    }
}

TEST(XlsBiff5, GnumericFilesReadLikeTheirXlsxSource)
{
    // gnumeric's Excel 95 file (a "Book" stream in code page 1252: what the code page cannot
    // hold is "?" in the file), and its dual file with both streams, where the BIFF8
    // "Workbook" one is read.
    struct Case {
        const char* file;
        const char* greek;
    };
    for (const Case& c : {Case{"types-biff5.xls", "?????"}, Case{"types-dual.xls", "Ωμέγα"}}) {
        SCOPED_TRACE(c.file);
        auto book = sheets::openXls(fixture(c.file), {});
        ASSERT_EQ(book->sheets().size(), 3u);
        EXPECT_EQ(book->sheets()[1].visibility, sheets::Visibility::Hidden);
        EXPECT_EQ(book->activeSheet(), 2u);
        const auto sink = xlstest::readSheet(*book, 0);
        EXPECT_EQ(sink.at(1, 0)->text, "café");
        EXPECT_EQ(sink.at(1, 1)->text, c.greek);
        EXPECT_EQ(sink.at(0, 2)->shown, "12.34");
        EXPECT_EQ(sink.at(2, 0)->shown, "TRUE");
        EXPECT_EQ(sink.at(2, 2)->text, "#DIV/0!");
        EXPECT_EQ(sink.at(4, 0)->shown, "2024-03-14");
        EXPECT_EQ(sink.at(4, 1)->shown, "12.50%");
        EXPECT_EQ(sink.at(8, 0)->text, "quote \" and\ttab");
    }
}

TEST(XlsDates, The1904DateSystemIsReported)
{
    EXPECT_EQ(sheets::openXls(fixture("pairs/date1904.xls"), {})->dateSystem(),
              sheets::DateSystem::D1904);
}

TEST(XlsMessages, FilesThatAreNoWorkbookSaySo)
{
    struct Case {
        std::string path;
        std::string message;
    };
    const std::string missing = fixture("no-such-file.xls");
    const std::string word = fixture("word.doc");
    const std::string text = fixture("../XlsReaderTest.cpp");
    const std::string ooxml = fixture("encrypted-ooxml.xlsx");
    const Case cases[] = {
        {missing, "Cannot open \"" + missing + "\": no such file"},
        {word, "Cannot open \"" + word + "\": it is a Word document, not a workbook"},
        {text, "Cannot open \"" + text + "\": it is not a compound file, so not an .xls workbook"},
        {ooxml, "The workbook \"" + ooxml + "\" is protected by a password"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(xlstest::errorOf([&] { sheets::openXls(c.path, {}); }), c.message);
    }
}

TEST(XlsMessages, OpenBookSendsCompoundFilesHereWhateverTheirName)
{
    // An encrypted .xlsx is a compound file: openBook must hand it to this reader.
    const std::string ooxml = fixture("encrypted-ooxml.xlsx");
    EXPECT_EQ(xlstest::errorOf([&] { sheets::openBook(ooxml, {}); }),
              "The workbook \"" + ooxml + "\" is protected by a password");

    // A legacy workbook under an .xlsx name is read by what it is.
    const std::string renamed = testing::TempDir() + "/legacy-workbook.xlsx";
    {
        const auto bytes = xlstest::readBytes(fixture("plain.xls"));
        std::FILE* f = std::fopen(renamed.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    auto book = sheets::openBook(renamed, {});
    ASSERT_EQ(book->sheets().size(), 1u);
    EXPECT_EQ(xlstest::readSheet(*book, 0).at(0, 0)->text, "decrypted");
    std::remove(renamed.c_str());
}

TEST(XlsMessages, AnXlsNameHoldingSomethingElseIsReadByWhatItIs)
{
    // A zip workbook saved under an .xls name reads as the workbook it is; an HTML table
    // saved so fails naming what it is.
    const std::string zipped = testing::TempDir() + "/zip-workbook.xls";
    {
        const auto bytes = xlstest::readBytes(fixture("pairs/types.xlsx"));
        std::FILE* f = std::fopen(zipped.c_str(), "wb");
        ASSERT_NE(f, nullptr);
        std::fwrite(bytes.data(), 1, bytes.size(), f);
        std::fclose(f);
    }
    auto book = sheets::openBook(zipped, {});
    EXPECT_EQ(book->sheets().size(), 3u);
    std::remove(zipped.c_str());

    const std::string page = testing_sheets::fixture("page.xls");
    EXPECT_EQ(xlstest::errorOf([&] { sheets::openBook(page, {}); }),
              "Cannot open \"" + page + "\": it is an HTML page, not a workbook");
}

} // namespace
