// The same content saved as .xlsx and as .xls must give the same text: each .xls here was made
// from its .xlsx by LibreOffice (make_fixtures.py), and the shared samples come in pairs saved
// by the application itself, with the text LibreOffice writes for them.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <vector>

#include "XlsTestSupport.h"
#include "sheets/Workbook.h"

namespace {

using testing_sheets::readFile;
using testing_sheets::sheetText;
using xlstest::fixture;

struct Pair {
    std::string xlsx;
    std::string xls;
    // 1-based sheets whose text, or whose kind or visibility, LibreOffice's conversion
    // changed: nothing the reader can know.
    std::set<std::size_t> skip = {};
    std::set<std::size_t> kindOrVisibilityChanged = {};
};

std::vector<Pair> pairs()
{
    const std::string theirs = testing_sheets::fixture("");
    const std::string ours = fixture("pairs/");
    return {
        {ours + "types.xlsx", ours + "types.xls"},
        {ours + "strings.xlsx", ours + "strings.xls"},
        {ours + "date1904.xlsx", ours + "date1904.xls"},
        {theirs + "dates1904.xlsx", ours + "xlsx-dates1904.xls"},
        {theirs + "disorder.xlsx", ours + "xlsx-disorder.xls"},
        {theirs + "libreoffice.xlsx", ours + "xlsx-libreoffice.xls"},
        {theirs + "macros.xlsm", ours + "xlsx-macros.xls"},
        {theirs + "merges.xlsx", ours + "xlsx-merges.xls"},
        // Sheet 1 has formulas without a cached value: LibreOffice calculates them when it
        // converts, the engine does not. LibreOffice also saves a very hidden sheet as hidden.
        {theirs + "openpyxl.xlsx", ours + "xlsx-openpyxl.xls", {1}, {2}},
        // LibreOffice has no chart sheets: it saves one as a worksheet holding the chart.
        {theirs + "sheets.xlsx", ours + "xlsx-sheets.xls", {3}, {3}},
        // Sheet 1 holds a formula with a text result, which LibreOffice saves in .xls with
        // a cached number 0.
        {theirs + "types.xlsx", ours + "xlsx-types.xls", {1}},
    };
}

TEST(XlsPairs, XlsAndXlsxOfTheSameContentWriteTheSameText)
{
    for (const Pair& p : pairs()) {
        SCOPED_TRACE(p.xls);
        auto xlsx = sheets::Workbook::open(p.xlsx);
        auto xls = sheets::Workbook::open(p.xls);
        ASSERT_EQ(xls->sheetCount(), xlsx->sheetCount());
        for (std::size_t i = 0; i < xls->sheetCount(); ++i) {
            EXPECT_EQ(xls->sheets()[i].name, xlsx->sheets()[i].name);
            if (p.kindOrVisibilityChanged.count(i + 1) == 0) {
                EXPECT_EQ(xls->sheets()[i].visibility, xlsx->sheets()[i].visibility);
                EXPECT_EQ(xls->sheets()[i].kind, xlsx->sheets()[i].kind);
            }
            if (p.skip.count(i + 1) == 0) {
                EXPECT_EQ(sheetText(*xls, {i}), sheetText(*xlsx, {i}))
                    << "sheet " << i + 1;
            }
        }
        EXPECT_EQ(xls->activeSheet(), xlsx->activeSheet());
        EXPECT_EQ(xls->dateSystem(), xlsx->dateSystem());
        if (p.skip.empty()) {
            EXPECT_EQ(sheetText(*xls, xls->visibleWorksheets()),
                      sheetText(*xlsx, xlsx->visibleWorksheets()));
        }
    }
}

TEST(XlsPairs, SharedSamplesWriteTheirExpectedText)
{
    const std::string samples = SHARED_SAMPLES;
    for (const char* stem : {"readxl-clippy", "readxl-geometry"}) {
        SCOPED_TRACE(stem);
        const std::string xlsName = std::string(stem) + "-xls.xls";
        const std::string xlsxName = std::string(stem) + "-xlsx.xlsx";
        auto xls = sheets::Workbook::open(samples + "/" + xlsName);
        auto xlsx = sheets::Workbook::open(samples + "/" + xlsxName);
        const std::string expected = samples + "/expected/" + xlsName + "/";
        EXPECT_EQ(std::to_string(xls->activeSheet() + 1) + "\n",
                  readFile(expected + "active.txt"));
        ASSERT_EQ(xls->sheetCount(), xlsx->sheetCount());
        for (std::size_t i = 0; i < xls->sheetCount(); ++i) {
            const std::string text = sheetText(*xls, {i});
            EXPECT_EQ(text, readFile(expected + std::to_string(i + 1) + ".txt"));
            EXPECT_EQ(text, sheetText(*xlsx, {i}));
        }
    }
}

} // namespace
