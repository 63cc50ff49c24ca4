// The engine end to end on real workbooks: what each sheet gives as text, what the workbook
// says about itself, how saves behave and what a user reads when something is wrong.
// The expected texts were worked out by hand from the cells each fixture's script writes.

#include <gtest/gtest.h>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "SheetText.h"
#include "sheets/Workbook.h"

namespace {

using namespace testing_sheets;
using sheets::SheetKind;
using sheets::Visibility;
using sheets::Workbook;

struct TextCase {
    const char* file;
    std::size_t sheet; // 0-based
    std::string expected;
};

void PrintTo(const TextCase& c, std::ostream* os)
{
    *os << c.file;
}

class FixtureText : public ::testing::TestWithParam<TextCase> {};

TEST_P(FixtureText, SheetReadsAsShown)
{
    const auto& c = GetParam();
    EXPECT_EQ(sheetText(fixture(c.file), c.sheet), c.expected);
}

const std::string kLongX(32767, 'x');

INSTANTIATE_TEST_SUITE_P(
    Writers, FixtureText,
    ::testing::Values(
        // xlsxwriter: every cell type and format family; empty first row and column; a merge;
        // formatted cells beyond the values (column J) that do not widen the text.
        TextCase{"types.xlsx", 0,
                 "\t\t\t\t\t\t\t\n"
                 "\tGeneral\t2.5\t0.333333333333333\t123456789012\t1E+16\t-0.5\t0\n"
                 "\tFormats\t1,234.50\t12.5%\t3/14/2024\t2024-03-14 10:30:05\t1.23E+04\t1 1/2\n"
                 "\tMore\t42\t($1,234)\t30:00\t\t\t\n"
                 "\tText\t\"tab\there\"\t\"say \"\"hi\"\"\"\t\"two\nlines\"\t  spaced  \t"
                 "Z\xC3\xBCrich \xE6\x9D\xB1\xE4\xBA\xAC \xF0\x9F\x98\x80\t\n"
                 "\tLogic\tTRUE\tFALSE\t\t\t\t\n"
                 "\tFormulas\t42\tab\t#DIV/0!\t#N/A\tTRUE\t\n"
                 "\trich bold text\t" +
                     kLongX +
                     "\t\t\t\t\t\n"
                     "\tmerged\t\t\t\t\t\t\n"
                     "\t\t\tafter merge\t\t\t\t\n"},
        // xlsxwriter with the 1904 date system: day 0 is 1 January 1904.
        TextCase{"dates1904.xlsx", 0, "3/14/2024\t1/1/1904\t1/2/1904\t43903\n"},
        // openpyxl: a formula without a cached value shows nothing; its merge.
        TextCase{"openpyxl.xlsx", 0, "2\t\tafter\n\t\t\nwide\t\t3.25\n"},
        TextCase{"openpyxl.xlsx", 1, "never shown\n"},
        // LibreOffice keeps the text of cells under a merge; only the top-left one shows.
        TextCase{"libreoffice.xlsx", 0,
                 "merged\t\t3\n\"line one\nline two\"\t2024-03-14\t12.5%\n1\t0.1\t\n"},
        TextCase{"libreoffice.xlsx", 1, "\tsecond\n"}, TextCase{"libreoffice.xlsx", 2, "hidden\n"},
        TextCase{"macros.xlsm", 0, "macro book\n"}),
    [](const auto& info) {
        std::string name = info.param.file;
        name = name.substr(0, name.find('.')) + "_" + std::to_string(info.param.sheet);
        return name;
    });

INSTANTIATE_TEST_SUITE_P(
    Packages, FixtureText,
    ::testing::Values(
        // "x:" prefixes, no dimension, rows and cells without references, rich and inline
        // strings without their phonetic runs, _xHHHH_ escapes, t="d" dates (1900-02-28 is 59),
        // a formula string's cached value.
        TextCase{"prefixed.xlsx", 0,
                 "plain\tbold and plain\t\t\n"
                 "\xE6\x9D\xB1\xE4\xBA\xAC\t\t\"line1\r\nline2\"\t\n"
                 "\t\t\t\n"
                 "\t\t\t\n"
                 "\tinline\t\"tab\there\"\t\n"
                 "3/14/2024\t2024-03-14 10:30\t59\tkeep _x0041_ literal\n"
                 "  padded  \t\xF0\x9F\x98\x80\tTRUE\t#N/A\n"},
        // Whitespace at the ends of a <t> goes unless xml:space="preserve" says otherwise;
        // a run of nothing but a space stays; escaped spaces are not whitespace to XML.
        TextCase{"spaces.xlsx", 0,
                 "trimmed\t  kept  \thello world\t inherited \t escaped \tinline\n"},
        // Shared and array formulas show their cached values; one without a value shows
        // nothing.
        TextCase{"formulas.xlsx", 0, "1\t2\t10\t\t\n2\t4\t20\t\t\n3\t6\t\t\t#DIV/0!\n"},
        // A part declared in windows-1252.
        TextCase{"codepage.xlsx", 0,
                 "caf\xC3\xA9 20\xE2\x82\xAC \xE2\x80\x93 \xE2\x80\x9Cquoted\xE2\x80\x9D\n"},
        // Strict namespaces, parts found through the relationships only, 1904 dates.
        TextCase{"strict.xlsx", 0, "1/1/1904\t1/2/1904\t3/14/2024\t1.5\nstrict text\t\t\t\n"},
        TextCase{"strict.xlsx", 1, "two\n"}, TextCase{"strict.xlsx", 2, "\t\t\n\t\tthree\n"},
        // Rows and cells out of order, a cell twice: sorted, the later one wins.
        TextCase{"disorder.xlsx", 0, "a2\tb\tc\nx\t\t\nz\t\t\n"},
        // Values under merges are hidden even when they are the rightmost ones; the dimension
        // claimed too little.
        TextCase{"merges.xlsx", 0, "top\t\n1\t2\n\t3\n"},
        // An external entity is never fetched.
        TextCase{"external.xlsx", 0, "beforeafter\n"},
        // A chart sheet has no cells: the text of an empty sheet.
        TextCase{"sheets.xlsx", 2, "\n"}, TextCase{"sheets.xlsx", 1, "secret\n"}),
    [](const auto& info) {
        std::string name = info.param.file;
        name = name.substr(0, name.find('.')) + "_" + std::to_string(info.param.sheet);
        return name;
    });

TEST(WorkbookInfo, SheetsKindsVisibilityActiveDatesMacros)
{
    auto book = Workbook::open(fixture("sheets.xlsx"));
    ASSERT_EQ(book->sheetCount(), 4U);
    const auto& s = book->sheets();
    EXPECT_EQ(s[0].name, "First");
    EXPECT_EQ(s[1].visibility, Visibility::Hidden);
    EXPECT_EQ(s[2].kind, SheetKind::Chart);
    EXPECT_EQ(s[3].kind, SheetKind::Worksheet);
    EXPECT_EQ(book->activeSheet(), 3U);
    EXPECT_EQ(book->dateSystem(), sheets::DateSystem::D1900);
    EXPECT_FALSE(book->hasMacros());
    EXPECT_EQ(book->visibleWorksheets(), (std::vector<std::size_t>{0, 3}));

    auto openpyxl = Workbook::open(fixture("openpyxl.xlsx"));
    EXPECT_EQ(openpyxl->sheets()[1].visibility, Visibility::VeryHidden);
    EXPECT_EQ(openpyxl->visibleWorksheets(), (std::vector<std::size_t>{0, 2}));

    auto strict = Workbook::open(fixture("strict.xlsx"));
    EXPECT_EQ(strict->activeSheet(), 2U);
    EXPECT_EQ(strict->dateSystem(), sheets::DateSystem::D1904);

    EXPECT_TRUE(Workbook::open(fixture("macros.xlsm"))->hasMacros());
}

// The samples that nobody on the team wrote, against the text LibreOffice saved for them.
TEST(SharedSamples, MatchTheirExpectedText)
{
    const std::string root = SHARED_SAMPLES;
    struct stat info {};
    if (::stat(root.c_str(), &info) != 0) {
        GTEST_SKIP() << "no shared samples at " << root;
    }
    for (const std::string name : {"readxl-clippy-xlsx.xlsx", "readxl-geometry-xlsx.xlsx"}) {
        auto book = Workbook::open(root + "/" + name);
        const std::string expected = root + "/expected/" + name + "/";
        EXPECT_EQ(std::to_string(book->activeSheet() + 1) + "\n", readFile(expected + "active.txt"))
            << name;
        for (std::size_t i = 0; i < book->sheetCount(); ++i) {
            EXPECT_EQ(sheetText(*book, {i}), readFile(expected + std::to_string(i + 1) + ".txt"))
                << name << " sheet " << i + 1;
        }
    }
}

// A scratch folder per test for the saves.
class Saving : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tabulix-xlsx-test-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir_ = pattern;
    }
    void TearDown() override { std::system(("rm -rf '" + dir_ + "'").c_str()); }

    std::string path(const std::string& name) const { return dir_ + "/" + name; }

    std::vector<std::string> files() const
    {
        std::vector<std::string> out;
        if (DIR* d = ::opendir(dir_.c_str())) {
            while (const dirent* e = ::readdir(d)) {
                const std::string name = e->d_name;
                if (name != "." && name != "..") {
                    out.push_back(name);
                }
            }
            ::closedir(d);
        }
        return out;
    }

    std::string dir_;
};

TEST_F(Saving, WholeWorkbookWritesVisibleWorksheetsWithFormFeedLines)
{
    auto book = Workbook::open(fixture("sheets.xlsx"));
    book->saveAsText(path("all.txt"));
    // First, then Last; Hidden and the chart sheet are left out.
    EXPECT_EQ(readFile(path("all.txt")), "a\t1\n\f\nz\t\n\t\n\tend\n");

    auto openpyxl = Workbook::open(fixture("openpyxl.xlsx"));
    openpyxl->saveAsText(path("openpyxl.txt"));
    EXPECT_EQ(readFile(path("openpyxl.txt")), "2\t\tafter\n\t\t\nwide\t\t3.25\n\f\n\t\n\tb2\n");
    EXPECT_EQ(files().size(), 2U); // no temporary file left beside them
}

TEST_F(Saving, OneSheetByIndexReplacesAnOldTarget)
{
    std::ofstream(path("out.txt")) << "old text that is longer than the new one\n";
    auto book = Workbook::open(fixture("sheets.xlsx"));
    book->saveSheetAsText(1, path("out.txt"));
    EXPECT_EQ(readFile(path("out.txt")), "secret\n");
    EXPECT_EQ(files(), std::vector<std::string>{"out.txt"});
}

TEST_F(Saving, LongestTargetNameStillSaves)
{
    // The temporary name beside the target must not outgrow what the file system allows.
    const std::string name = std::string(250, 'n') + ".txt";
    Workbook::open(fixture("sheets.xlsx"))->saveSheetAsText(1, path(name));
    EXPECT_EQ(readFile(path(name)), "secret\n");
    EXPECT_EQ(files(), std::vector<std::string>{name});
}

TEST_F(Saving, SheetOutOfRangeNamesTheNumberAndTheCount)
{
    auto book = Workbook::open(fixture("sheets.xlsx"));
    EXPECT_EQ(errorOf([&] { book->saveSheetAsText(4, path("out.txt")); }),
              "Sheet 5 does not exist: the workbook has 4 sheets");
    EXPECT_EQ(book->noSuchSheet(0).what(),
              std::string("Sheet 0 does not exist: the workbook has 4 sheets"));
    EXPECT_EQ(Workbook::open(fixture("macros.xlsm"))->noSuchSheet(2).what(),
              std::string("Sheet 2 does not exist: the workbook has 1 sheet"));
    EXPECT_TRUE(files().empty());
}

TEST_F(Saving, DamagedSheetLeavesNoFileBehind)
{
    struct Case {
        const char* file;
        std::string message;
    };
    const Case cases[] = {
        {"badxml.xlsx", "xl/worksheets/sheet1.xml, line 4: mismatched tag"},
        {"badstring.xlsx", "xl/worksheets/sheet1.xml, line 2: a cell refers to shared string "
                           "\"5\", but the workbook has only 1"},
        {"lying.xlsx", "xl/worksheets/sheet1.xml: inflates to more than the 1000 bytes its zip "
                       "entry declares"},
    };
    for (const auto& c : cases) {
        auto book = Workbook::open(fixture(c.file));
        EXPECT_EQ(errorOf([&] { book->saveAsText(path("out.txt")); }),
                  "The workbook \"" + fixture(c.file) + "\" is damaged: " + c.message);
        EXPECT_TRUE(files().empty()) << c.file;
    }
}

TEST_F(Saving, NeverOverwritesTheWorkbookItReads)
{
    const std::string copy = path("book.xlsx");
    std::system(("cp '" + fixture("sheets.xlsx") + "' '" + copy + "'").c_str());
    const std::string before = readFile(copy);
    auto book = Workbook::open(copy);
    EXPECT_EQ(errorOf([&] { book->saveAsText(copy); }),
              "Cannot write \"" + copy + "\": it is the workbook being converted");
    EXPECT_EQ(readFile(copy), before);
    EXPECT_EQ(files(), std::vector<std::string>{"book.xlsx"});
}

TEST_F(Saving, MissingTargetFolderIsReported)
{
    auto book = Workbook::open(fixture("sheets.xlsx"));
    const std::string target = path("no/such/folder/out.txt");
    EXPECT_EQ(errorOf([&] { book->saveAsText(target); }),
              "Cannot write \"" + target + "\": no such file or directory");
}

TEST(Charset, OtherCharsetsGetAQuestionMarkForWhatTheyCannotHold)
{
    auto book = Workbook::open(fixture("types.xlsx"));
    const std::string latin1 = sheetText(*book, {0}, sheets::TextOptions{"ISO-8859-1"});
    EXPECT_NE(latin1.find("\tZ\xFCrich ?? ?\t"), std::string::npos);
    const std::string utf8 = sheetText(*book, {0}, sheets::TextOptions{"utf8"});
    EXPECT_NE(utf8.find("\tZ\xC3\xBCrich \xE6\x9D\xB1\xE4\xBA\xAC \xF0\x9F\x98\x80\t"),
              std::string::npos);
    EXPECT_EQ(errorOf([&] { sheetText(*book, {0}, sheets::TextOptions{"NO-SUCH-CHARSET"}); }),
              "Cannot write \"test output\": the character set \"NO-SUCH-CHARSET\" is not "
              "supported");
}

struct OpenErrorCase {
    const char* name;
    std::string file; // a fixture name, or an absolute path
    std::string reason;
};

void PrintTo(const OpenErrorCase& c, std::ostream* os)
{
    *os << c.name;
}

class OpenErrors : public ::testing::TestWithParam<OpenErrorCase> {};

TEST_P(OpenErrors, SayWhatTheFileIs)
{
    const auto& c = GetParam();
    const std::string path = c.file[0] == '/' ? c.file : fixture(c.file);
    std::string expected = c.reason;
    const std::size_t at = expected.find("%s");
    if (at != std::string::npos) {
        expected.replace(at, 2, path);
    }
    EXPECT_EQ(errorOf([&] { Workbook::open(path); }), expected);
}

INSTANTIATE_TEST_SUITE_P(
    Files, OpenErrors,
    ::testing::Values(
        OpenErrorCase{"Missing", "/no/such/book.xlsx", "Cannot open \"%s\": no such file"},
        OpenErrorCase{"Folder", "/tmp", "Cannot open \"%s\": it is a folder"},
        OpenErrorCase{"Empty", "empty.xlsx", "Cannot open \"%s\": the file is empty"},
        OpenErrorCase{"Csv", "table.csv", "Cannot open \"%s\": it is a text file, not a workbook"},
        OpenErrorCase{"Html", "page.xls", "Cannot open \"%s\": it is an HTML page, not a workbook"},
        OpenErrorCase{"Zip", "archive.zip",
                      "Cannot open \"%s\": it is a zip archive, not a workbook"},
        OpenErrorCase{"Word", "document.docx",
                      "Cannot open \"%s\": it is a Word document, not a workbook"},
        OpenErrorCase{"Ods", "spreadsheet.ods",
                      "Cannot open \"%s\": it is an OpenDocument spreadsheet (.ods), which this "
                      "converter does not read"},
        OpenErrorCase{"Xlsb", "binary.xlsb",
                      "Cannot open \"%s\": Excel binary workbooks (.xlsb) are not supported yet"},
        OpenErrorCase{"Truncated", "truncated.xlsx",
                      "The workbook \"%s\" is damaged: the zip archive is truncated (its "
                      "directory at the end is missing)"},
        OpenErrorCase{"ZipBomb", "bomb.xlsx",
                      "The workbook \"%s\" is damaged: its zip entries would inflate to far "
                      "more than a file of 66931 bytes can hold (refused as a possible zip "
                      "bomb)"},
        OpenErrorCase{"BillionLaughs", "laughs.xlsx",
                      "The workbook \"%s\" is damaged: xl/workbook.xml, line 2: limit on input "
                      "amplification factor (from DTD and entities) breached"},
        // An encrypted package is a compound file; the xls reader knows it.
        OpenErrorCase{"EncryptedPackage", XLS_FIXTURES "/encrypted-ooxml.xlsx",
                      "The workbook \"%s\" is protected by a password"}),
    [](const auto& info) { return std::string(info.param.name); });

} // namespace
