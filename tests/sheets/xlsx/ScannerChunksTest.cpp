// A sheet big enough to be inflated on a second thread, in chunks: the scanner meets tags,
// text, references and characters cut at the chunks' ends, and must read it as expat does.
// Runs again under ThreadSanitizer (label "threads").

#include <gtest/gtest.h>

#include <iterator>
#include <random>
#include <string>

#include "SheetReadings.h"
#include "StoredZip.h"

namespace {

using namespace testing_sheets;
using sheets::xlsx::SheetParser;

TEST(ScannerInTheReader, BigSheetCutIntoChunks)
{
    std::string sheet = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\r\n"
                        "<worksheet><dimension ref=\"A1:E40000\"/><sheetData>";
    std::mt19937 random(7);
    const char* texts[] = {"plain", "a&amp;b", "\xC3\xA9t\xC3\xA9", "line\r\nend", "&#x1F600;",
                           "]]",    "x > y"};
    for (int r = 1; r <= 40000; ++r) {
        sheet += "<row r=\"" + std::to_string(r) + "\">";
        for (int c = 0; c < 5; ++c) {
            const std::string ref = std::string(1, static_cast<char>('A' + c)) + std::to_string(r);
            switch (random() % 4) {
            case 0:
                sheet += "<c r=\"" + ref + "\"><v>" + std::to_string(random() % 100000) + "." +
                         std::to_string(random() % 100) + "</v></c>";
                break;
            case 1:
                sheet += "<c r='" + ref + "' t=\"inlineStr\"><is><t>" +
                         texts[random() % std::size(texts)] + "</t></is></c>";
                break;
            case 2:
                sheet += "<c r=\"" + ref + "\" t=\"str\"><f>A1&amp;\"x\"</f><v>" +
                         texts[random() % std::size(texts)] + "</v></c>";
                break;
            default:
                sheet += "<c r=\"" + ref + "\" t=\"b\"><v>1</v></c>\r\n";
                break;
            }
        }
        sheet += "</row>";
    }
    sheet += "</sheetData><mergeCells><mergeCell ref=\"B2:C3\"/></mergeCells></worksheet>";
    ASSERT_GT(sheet.size(), std::size_t{3} << 20);
    const std::string book = oneSheetPackage(sheet);
    const auto scanned = readAll(book, SheetParser::Scanner);
    const auto expat = readAll(book, SheetParser::Expat);
    ASSERT_EQ(scanned.size(), 1U);
    EXPECT_EQ(scanned[0].restarts, 0); // the scanner read it all
    EXPECT_EQ(scanned[0].cells, expat[0].cells);
    EXPECT_EQ(scanned[0].text, expat[0].text);
}

} // namespace
