// The worksheet scanner against expat. Event by event: on what writers produce it must tell
// the handler exactly what expat tells it, wherever the bytes are cut; on everything else it
// must give up, never accept what expat refuses. Then through the reader: a sheet reads the
// same with the scanner as with expat alone, whether the scanner finishes or hands over.

#include <gtest/gtest.h>

#include <dirent.h>

#include <random>
#include <span>
#include <string>
#include <vector>

#include "SheetReadings.h"
#include "StoredZip.h"
#include "XmlEvents.h"

namespace {

using namespace testing_sheets;
using sheets::xlsx::SheetParser;

struct XmlCase {
    const char* name;
    std::string xml;
};

void PrintTo(const XmlCase& c, std::ostream* os)
{
    *os << c.name;
}

std::string caseName(const ::testing::TestParamInfo<XmlCase>& info)
{
    return info.param.name;
}

const std::string kDeclaration =
    "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n";

// ---------------------------------------------------------------------------------------------
// What writers write: the same events as expat, cut anywhere.

class ScannerAgrees : public ::testing::TestWithParam<XmlCase> {};

TEST_P(ScannerAgrees, WithExpatWhereverTheBytesAreCut)
{
    const std::string& xml = GetParam().xml;
    const ExpatResult expat = expatEvents(xml);
    ASSERT_TRUE(expat.ok) << expat.events;
    EXPECT_EQ(scannerEvents(xml), expat.events);
    EXPECT_EQ(scannerEvents(xml, everyNth(xml.size(), 1)), expat.events) << "one byte at a time";
    for (std::size_t cut = 1; cut < xml.size(); ++cut) {
        ASSERT_EQ(scannerEvents(xml, {cut}), expat.events) << "cut at " << cut;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Writers, ScannerAgrees,
    ::testing::Values(
        XmlCase{
            "Excel",
            kDeclaration +
                "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\" "
                "xmlns:r=\"http://schemas.openxmlformats.org/officeDocument/2006/relationships\" "
                "xmlns:mc=\"http://schemas.openxmlformats.org/markup-compatibility/2006\" "
                "mc:Ignorable=\"x14ac\"><dimension ref=\"A1:C2\"/><sheetViews><sheetView "
                "tabSelected=\"1\" workbookViewId=\"0\"/></sheetViews><sheetData><row r=\"1\" "
                "spans=\"1:3\" x14ac:dyDescent=\"0.25\"><c r=\"A1\" s=\"1\" t=\"s\"><v>0</v>"
                "</c><c r=\"B1\"><f>SUM(A2:C2)</f><v>3.5</v></c><c r=\"C1\" s=\"2\"/></row>"
                "</sheetData><mergeCells count=\"1\"><mergeCell ref=\"A1:B1\"/></mergeCells>"
                "<pageMargins left=\"0.7\" right=\"0.7\"/></worksheet>"},
        XmlCase{"StrictWithPrefixes",
                "<x:worksheet xmlns:x=\"http://purl.oclc.org/ooxml/spreadsheetml/main\">"
                "<x:sheetData><x:row r=\"1\"><x:c r=\"A1\" t=\"inlineStr\"><x:is><x:t>hi</x:t>"
                "</x:is></x:c></x:row></x:sheetData></x:worksheet>"},
        XmlCase{"AttributesAnyOrderEitherQuoteWhitespaceEverywhere",
                "<worksheet\n><sheetData><row\r\n r = '1' ><c t='b'\tr=\"A1\"\r\n s = \"0\">"
                "<v>1</v\n></c ></row></sheetData ></worksheet >  \n"},
        XmlCase{"EntitiesAndCharacterReferences",
                "<c r=\"A&#49;\" t=\"&quot;s&apos;&lt;&gt;&amp;\"><v>&lt;&gt;&amp;&quot;&apos;"
                "&#65;&#x42;&#x6a;&#x1F600;&#9;&#13;&#10;&#0065;&#xFFFD;</v></c>"},
        XmlCase{"LineEndsNormalised",
                "<c a=\"1\r\n2\r3\n4\t5&#13;&#10;&#9;6\r\"><v>a\r\nb\rc\n\r\n\r\rd\r</v></c>"},
        XmlCase{"NonAsciiTextAndByteOrderMark",
                "\xEF\xBB\xBF<c v=\"Z\xC3\xBCrich\"><t>\xC3\xA9\xE6\x9D\xB1\xE4\xBA\xAC"
                "\xF0\x9F\x98\x80\xEF\xBF\xBD\xEE\x80\x80\x7F</t></c>"},
        XmlCase{"InlineRichString",
                "<c r=\"A1\" t=\"inlineStr\"><is><r><rPr><b/><sz val=\"11\"/></rPr><t "
                "xml:space=\"preserve\"> a </t></r><r><t>b</t></r><rPh sb=\"0\" eb=\"1\"><t>x"
                "</t></rPh></is></c>"},
        XmlCase{"ExtensionsWithNamespaces",
                "<worksheet><extLst><ext uri=\"{78C0D931-6437-407d-A8EE-F0AAD7539E65}\" "
                "xmlns:x14=\"http://schemas.microsoft.com/office/spreadsheetml/2009/9/main\">"
                "<x14:conditionalFormattings><x14:conditionalFormatting xmlns:xm=\"m\"><xm:f>"
                "Sheet1!A1&gt;2</xm:f></x14:conditionalFormatting></x14:conditionalFormattings>"
                "</ext></extLst></worksheet>"},
        XmlCase{"SelfClosingEverywhere",
                "<worksheet><sheetData><row r=\"1\"/><row r=\"2\"><c "
                "r=\"A2\" s=\"3\"/></row></sheetData><a:b:c/></worksheet>"},
        XmlCase{"EmptyRoot", "<worksheet/>"},
        XmlCase{"DeclarationSingleQuotesLowerCase",
                "<?xml version='1.0' encoding='utf-8'?>\n\n<w standalone=\"no\"></w>"},
        XmlCase{"DeclarationWithoutEncoding", "<?xml version=\"1.0\"  standalone='no' ?><w/>"},
        XmlCase{"WhitespaceAroundTheRoot", "\xEF\xBB\xBF \r\n\t<w>x</w>\r\n \t"},
        XmlCase{"BracketsAndGreaterThanInText",
                "<c><f>IF(A1>2,\"]\",\"]]\")</f><v>a]]b]>c ]] > d]</v><v>]</v><v>]]</v></c>"},
        XmlCase{"EmptyValuesAndText", "<c a=\"\" b=''><v></v><t/></c>"},
        XmlCase{"QuotesInsideValues", "<c a=\"it's\" b='say \"hi\"' c=\"&gt;>\"/>"},
        XmlCase{"LongText", "<c><is><t>" + std::string(3000, 'x') + "&amp;" +
                                std::string(2000, ']') + "\xC3\xA9</t></is></c>"}),
    caseName);

// ---------------------------------------------------------------------------------------------
// What the scanner leaves to expat: valid XML it does not handle, and malformed XML.

// Gives up on the whole document and on every byte of it fed one at a time.
void expectGivesUp(const std::string& xml)
{
    EXPECT_EQ(scannerEvents(xml), std::nullopt);
    EXPECT_EQ(scannerEvents(xml, everyNth(xml.size(), 1)), std::nullopt) << "one byte at a time";
}

class ScannerLeavesToExpat : public ::testing::TestWithParam<XmlCase> {};

TEST_P(ScannerLeavesToExpat, ValidXmlItDoesNotHandle)
{
    const std::string& xml = GetParam().xml;
    const ExpatResult expat = expatEvents(xml);
    EXPECT_TRUE(expat.ok) << expat.events;
    expectGivesUp(xml);
}

INSTANTIATE_TEST_SUITE_P(
    Rare, ScannerLeavesToExpat,
    ::testing::Values(
        XmlCase{"CommentBeforeTheRoot", "<!-- made by hand --><w/>"},
        XmlCase{"CommentInside", "<w><c><!-- note --><v>1</v></c></w>"},
        XmlCase{"CommentAfterTheRoot", "<w/><!-- end -->"},
        XmlCase{"ProcessingInstruction", kDeclaration + "<?mso-application progid=\"x\"?><w/>"},
        XmlCase{"CData", "<w><v><![CDATA[1<2]]></v></w>"}, XmlCase{"Doctype", "<!DOCTYPE w><w/>"},
        XmlCase{"OtherEncoding", "<?xml version=\"1.0\" encoding=\"windows-1252\"?><w>\xE9</w>"},
        XmlCase{"Latin1", "<?xml version=\"1.0\" encoding=\"ISO-8859-1\"?><w/>"},
        XmlCase{"Utf16", std::string("\xFF\xFE<\0w\0/\0>\0", 10)},
        XmlCase{"Version11", "<?xml version=\"1.1\"?><w/>"},
        XmlCase{"NonAsciiName", "<w\xC3\xB6rk/>"},
        XmlCase{"NonAsciiAttributeName", "<w \xC3\xA9t\xC3\xA9=\"1\"/>"},
        XmlCase{"LongCharacterReference", "<w>&#x00000000000000041;</w>"}),
    caseName);

class ScannerRefuses : public ::testing::TestWithParam<XmlCase> {};

TEST_P(ScannerRefuses, MalformedXmlThatExpatRefuses)
{
    const std::string& xml = GetParam().xml;
    const ExpatResult expat = expatEvents(xml);
    EXPECT_FALSE(expat.ok) << "expat accepts it";
    expectGivesUp(xml);
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, ScannerRefuses,
    ::testing::Values(
        XmlCase{"MismatchedTag", "<w><c></w>"}, XmlCase{"MismatchedPrefix", "<x:c></y:c>"},
        XmlCase{"Unclosed", "<w><c>"}, XmlCase{"NoRoot", ""}, XmlCase{"OnlyWhitespace", " \n"},
        XmlCase{"OnlyDeclaration", kDeclaration},
        XmlCase{"DuplicateAttribute", "<c r=\"A1\" s=\"1\" r=\"A2\"/>"},
        XmlCase{"BareAmpersand", "<v>a & b</v>"}, XmlCase{"BareLessThan", "<v>a < b</v>"},
        XmlCase{"AmpersandWithoutSemicolon", "<v>&amp</v>"},
        XmlCase{"UndefinedEntity", "<v>&nbsp;</v>"}, XmlCase{"NulReference", "<v>&#0;</v>"},
        XmlCase{"ControlReference", "<v>&#x1;</v>"},
        XmlCase{"SurrogateReference", "<v>&#xD800;</v>"},
        XmlCase{"ReferencePastUnicode", "<v>&#x110000;</v>"},
        XmlCase{"ReferenceToFFFE", "<v>&#xFFFE;</v>"}, XmlCase{"UpperCaseX", "<v>&#X41;</v>"},
        XmlCase{"EmptyReference", "<v>&#;</v>"}, XmlCase{"EmptyHexReference", "<v>&#x;</v>"},
        XmlCase{"LetterInDecimalReference", "<v>&#12a;</v>"}, XmlCase{"CutUtf8", "<v>\xC3</v>"},
        XmlCase{"Overlong", "<v>\xC0\x80</v>"},
        XmlCase{"OverlongThreeBytes", "<v>\xE0\x80\xAF</v>"},
        XmlCase{"Surrogate", "<v>\xED\xA0\x80</v>"},
        XmlCase{"PastUnicode", "<v>\xF4\x90\x80\x80</v>"},
        XmlCase{"NonCharacterFFFE", "<v>\xEF\xBF\xBE</v>"},
        XmlCase{"LoneContinuationByte", "<v>\x80</v>"}, XmlCase{"ByteFF", "<v>\xFF</v>"},
        XmlCase{"InvalidUtf8InAttribute", "<c r=\"\xC3(\"/>"},
        XmlCase{"ControlCharacter", "<v>\x01</v>"},
        XmlCase{"NulCharacter", std::string("<v>\0</v>", 8)},
        XmlCase{"ControlInAttribute", "<c r=\"\x1F\"/>"}, XmlCase{"CDataEndInText", "<v>a]]>b</v>"},
        XmlCase{"TwoRoots", "<w/><w/>"}, XmlCase{"TextAfterTheRoot", "<w/>x"},
        XmlCase{"TextBeforeTheRoot", "x<w/>"}, XmlCase{"ReferenceOutsideTheRoot", "<w/>&amp;"},
        XmlCase{"EndTagWithoutStart", "</w>"},
        XmlCase{"NoSpaceBetweenAttributes", "<c r=\"A1\"s=\"1\"/>"},
        XmlCase{"UnquotedValue", "<c r=A1/>"}, XmlCase{"UnclosedValue", "<c r=\"A1/>"},
        XmlCase{"LessThanInValue", "<c r=\"<\"/>"}, XmlCase{"AttributeWithoutValue", "<c r/>"},
        XmlCase{"SpaceAfterSlash", "<w><c/ ></w>"}, XmlCase{"SpaceInEndTag", "<w></ w>"},
        XmlCase{"SpaceBeforeName", "< w/>"}, XmlCase{"EmptyEndTag", "<w></>"},
        XmlCase{"DeclarationOutOfOrder",
                "<?xml version=\"1.0\" standalone=\"yes\" encoding=\"UTF-8\"?><w/>"},
        XmlCase{"DeclarationNotAtStart", " <?xml version=\"1.0\"?><w/>"},
        XmlCase{"DeclarationWithoutSpace", "<?xml version=\"1.0\"encoding=\"UTF-8\"?><w/>"},
        XmlCase{"DeclarationWithoutVersion", "<?xml encoding=\"UTF-8\"?><w/>"},
        XmlCase{"StandaloneMaybe", "<?xml version=\"1.0\" standalone=\"maybe\"?><w/>"}),
    caseName);

TEST(XmlScanner, CDataEndCutBetweenItsCharacters)
{
    // "]]>" split over chunks, with the brackets in one chunk or two.
    const std::string xml = "<v>ab]]>c</v>";
    for (std::size_t cut = 1; cut < xml.size(); ++cut) {
        EXPECT_EQ(scannerEvents(xml, {cut}), std::nullopt) << "cut at " << cut;
        EXPECT_EQ(scannerEvents(xml, {cut, cut + 1}), std::nullopt) << "cuts at " << cut;
    }
}

TEST(XmlScanner, HandlerFailureHandsOverToExpat)
{
    const std::string xml = "<w><row r=\"1\"/><row r=\"0\"/></w>";
    EventRecorder recorder;
    recorder.failAt(3);
    sheets::xlsx::XmlScanner scanner(recorder);
    EXPECT_FALSE(scanner.feed(std::span<const char>(xml.data(), xml.size())));
    EXPECT_FALSE(scanner.finish());
    // Nothing after the failing element reached the handler.
    EXPECT_EQ(recorder.events().find("\x01"
                                     "Erow\x01"
                                     "Srow\x02r\x03"
                                     "0\x01"
                                     "E"),
              std::string::npos);
}

TEST(XmlScanner, LongTagsAcrossChunksAndTheLimitOnWhatItHoldsOver)
{
    const std::string value(100000, 'v');
    const std::string xml = "<w><c r=\"" + value + "\" s=\"1\">x</c></w>";
    const ExpatResult expat = expatEvents(xml);
    ASSERT_TRUE(expat.ok);
    EXPECT_EQ(scannerEvents(xml, everyNth(xml.size(), 1000)), expat.events);

    // A tag longer than the scanner holds over is expat's, when it is cut.
    const std::string huge =
        "<w><c r=\"" + std::string(2 * sheets::xlsx::XmlScanner::kMaxCarry, 'v') + "\"/></w>";
    ASSERT_TRUE(expatEvents(huge).ok);
    EXPECT_FALSE(scannerEvents(huge, everyNth(huge.size(), 65536)).has_value());
}

// Worksheet XML, mutated at random: every mutant the scanner reads, expat reads the same way.
TEST(XmlScanner, MutatedSheetsEitherAgreeWithExpatOrAreHandedOver)
{
    const std::string sheet =
        kDeclaration +
        "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/main\">"
        "<dimension ref=\"A1:C3\"/><sheetData><row r=\"1\" spans=\"1:3\"><c r=\"A1\" t=\"s\">"
        "<v>0</v></c><c r=\"B1\" s=\"1\"><f>A1&amp;\"x\"</f><v>2.5</v></c></row><row r=\"2\">"
        "<c r=\"A2\" t=\"inlineStr\"><is><r><t xml:space='preserve'> a&#x20AC;\r\n</t></r>"
        "</is></c><c r=\"C2\" t=\"b\"><v>1</v></c></row><row r=\"3\"><c r=\"B3\" t=\"e\"><v>"
        "#N/A</v></c></row></sheetData><mergeCells count=\"1\"><mergeCell ref=\"A3:B3\"/>"
        "</mergeCells></worksheet>";
    const std::vector<std::string> pieces = {"<",
                                             ">",
                                             "/",
                                             "&",
                                             ";",
                                             "\"",
                                             "'",
                                             "=",
                                             " ",
                                             "\r",
                                             "\n",
                                             "]]>",
                                             "]",
                                             "&amp;",
                                             "&#",
                                             "&#x41;",
                                             "<!--",
                                             "<?",
                                             "\xC3",
                                             "\xA9",
                                             "\xC3\xA9",
                                             "\xED\xA0\x80",
                                             "\xEF\xBF\xBE",
                                             std::string(1, '\0'),
                                             "\x01",
                                             "<v>",
                                             "</v>",
                                             "<c>",
                                             "</c>",
                                             "x:",
                                             ":",
                                             "r=\"A1\"",
                                             "a"};
    std::mt19937 random(20240611);
    int agreed = 0;
    int handedOver = 0;
    for (int round = 0; round < 3000; ++round) {
        std::string xml = sheet;
        const int edits = 1 + static_cast<int>(random() % 3);
        for (int e = 0; e < edits; ++e) {
            const std::size_t at = random() % (xml.size() + 1);
            switch (random() % 3) {
            case 0:
                xml.insert(at, pieces[random() % pieces.size()]);
                break;
            case 1:
                xml.erase(at, 1 + random() % 4);
                break;
            default:
                if (at < xml.size()) {
                    xml[at] = static_cast<char>(random() % 256);
                }
                break;
            }
        }
        std::vector<std::size_t> cuts;
        for (std::size_t at = random() % 40; at < xml.size(); at += 1 + random() % 40) {
            cuts.push_back(at);
        }
        const ExpatResult expat = expatEvents(xml);
        for (const auto& split : {std::vector<std::size_t>{}, cuts}) {
            const auto scanned = scannerEvents(xml, split);
            if (scanned) {
                ASSERT_TRUE(expat.ok)
                    << "the scanner accepts what expat refuses (" << expat.events << "):\n"
                    << xml;
                ASSERT_EQ(*scanned, expat.events) << xml;
                ++agreed;
            } else {
                ++handedOver;
            }
        }
    }
    // Both outcomes were met, so the test says something about each.
    EXPECT_GT(agreed, 100);
    EXPECT_GT(handedOver, 100);
}

// ---------------------------------------------------------------------------------------------
// Through the reader: the scanner, with expat taking over, against expat alone.

std::vector<std::string> workbooksIn(const std::string& folder)
{
    std::vector<std::string> out;
    if (DIR* dir = ::opendir(folder.c_str())) {
        while (const dirent* entry = ::readdir(dir)) {
            const std::string name = entry->d_name;
            if (name.ends_with(".xlsx") || name.ends_with(".xlsm")) {
                out.push_back(folder);
                out.back() += '/';
                out.back() += name;
            }
        }
        ::closedir(dir);
    }
    return out;
}

TEST(ScannerInTheReader, EveryWorkbookReadsAsWithExpatAlone)
{
    auto books = workbooksIn(XLSX_FIXTURES);
    const auto samples = workbooksIn(SHARED_SAMPLES);
    books.insert(books.end(), samples.begin(), samples.end());
    ASSERT_GT(books.size(), 10U);
    for (const auto& path : books) {
        expectSameReadings(readFile(path), path);
    }
}

TEST(ScannerInTheReader, SheetItHandsOverReadsFromTheStart)
{
    // A comment after the first rows: the scanner has sent them on when it gives up.
    const std::string sheet = "<worksheet><sheetData><row r=\"1\"><c><v>1</v></c></row>"
                              "<row r=\"2\"><c r=\"B2\"><v>2</v></c></row><!-- then -->"
                              "<row r=\"3\"><c><v>3</v></c></row></sheetData></worksheet>";
    const std::string book = oneSheetPackage(sheet);
    expectSameReadings(book, "comment");
    const auto scanned = readAll(book, SheetParser::Scanner);
    ASSERT_EQ(scanned.size(), 1U);
    EXPECT_EQ(scanned[0].restarts, 1);
    EXPECT_EQ(scanned[0].text, "1\t\n\t2\n3\t\n");
}

TEST(ScannerInTheReader, DamagedSheetIsReportedByExpatWithItsLine)
{
    const std::string where = "The workbook \"book.xlsx\" is damaged: xl/worksheets/sheet1.xml, ";
    struct Damage {
        std::string sheet;
        std::string message;
    };
    const std::vector<Damage> cases = {
        {"<worksheet><sheetData>\n<row r=\"1\"><c><v>1</v></c></row>\n<row r=\"2\"><c><v>2"
         "</v></row>\n</sheetData></worksheet>",
         where + "line 3: mismatched tag"},
        {"<worksheet><sheetData>\n<row r=\"1\"><c><v>1 & 2</v></c></row></sheetData>"
         "</worksheet>",
         where + "line 2: not well-formed (invalid token)"},
        {"<worksheet><sheetData>\n<row r=\"1\"><c><v>1</v></c></row>", where + "line 2: no "
                                                                               "element found"},
        // The reader's own complaint, which the scanner leaves to expat for the line.
        {"<worksheet><sheetData><row r=\"1\"/>\n\n<row r=\"0\"/></sheetData></worksheet>",
         where + "line 3: row number \"0\" is not valid"},
        {"<worksheet><sheetData><row r=\"1\"><c t=\"s\">\n<v>7</v></c></row></sheetData>"
         "</worksheet>",
         where + "line 2: a cell refers to shared string \"7\", but the workbook has only 1"},
    };
    for (const auto& c : cases) {
        const std::string book = oneSheetPackage(c.sheet, "<sst><si><t>a</t></si></sst>");
        expectSameReadings(book, c.sheet);
        const auto scanned = readAll(book, SheetParser::Scanner);
        ASSERT_EQ(scanned.size(), 1U);
        EXPECT_EQ(scanned[0].text, c.message);
    }
}

TEST(ScannerInTheReader, RowsOutOfOrderAreSortedAsWithExpat)
{
    const std::string sheet = "<worksheet><sheetData><row r=\"3\"><c><v>3</v></c></row>"
                              "<row r=\"1\"><c r=\"B1\"><v>1</v></c></row><row><c><v>2</v></c>"
                              "</row></sheetData></worksheet>";
    const std::string book = oneSheetPackage(sheet);
    expectSameReadings(book, "disorder");
    EXPECT_EQ(readAll(book, SheetParser::Scanner)[0].text, "\t1\n2\t\n3\t\n");
}

} // namespace
