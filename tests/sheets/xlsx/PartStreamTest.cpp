// Inflating on a second thread while the parser works: the bytes must be the same as read
// directly, errors must reach the reader, and a reader that stops early must not hang.
// These run again under ThreadSanitizer (label "threads").

#include <gtest/gtest.h>

#include <unistd.h>
#include <zip.h>

#include <cstdio>
#include <string>
#include <vector>

#include "SheetText.h"
#include "sheets/Error.h"
#include "sheets/Workbook.h"
#include "sheets/xlsx/ZipPackage.h"

namespace {

using sheets::xlsx::ZipPackage;

// A zip of the given parts, in memory.
std::string makeZip(const std::vector<std::pair<std::string, std::string>>& parts)
{
    char name[] = "/tmp/tabulix-zip-XXXXXX";
    const int fd = ::mkstemp(name);
    ::close(fd);
    int error = 0;
    zip_t* z = zip_open(name, ZIP_CREATE | ZIP_TRUNCATE, &error);
    EXPECT_NE(z, nullptr);
    for (const auto& [part, data] : parts) {
        zip_source_t* source = zip_source_buffer(z, data.data(), data.size(), 0);
        EXPECT_GE(zip_file_add(z, part.c_str(), source, ZIP_FL_OVERWRITE), 0);
    }
    EXPECT_EQ(zip_close(z), 0);
    std::string bytes = testing_sheets::readFile(name);
    std::remove(name);
    return bytes;
}

// Text that deflate packs well but not trivially, several chunks long.
std::string bigPart(std::size_t lines)
{
    std::string out;
    for (std::size_t i = 0; i < lines; ++i) {
        out += "<line n=\"" + std::to_string(i) + "\">" + std::to_string(i * 7919 % 104729) +
               "</line>\n";
    }
    return out;
}

std::string readAll(sheets::xlsx::PartStream& stream)
{
    std::string out;
    for (auto chunk = stream.next(); !chunk.empty(); chunk = stream.next()) {
        out.append(chunk.data(), chunk.size());
    }
    EXPECT_TRUE(stream.next().empty()); // and it stays at the end
    return out;
}

TEST(BackgroundInflate, GivesTheSameBytesAsReadingDirectly)
{
    const std::string part = bigPart(60000); // about 2 MB: several chunks
    const std::string zip = makeZip({{"big.xml", part}});
    auto package = ZipPackage::openMemory(zip.data(), zip.size(), "memory.xlsx");
    auto background = package->stream("big.xml", true);
    EXPECT_EQ(readAll(*background), part);
    background.reset();
    auto direct = package->stream("big.xml", false);
    EXPECT_EQ(readAll(*direct), part);
}

TEST(BackgroundInflate, StoppingEarlyEndsTheThread)
{
    const std::string zip = makeZip({{"big.xml", bigPart(60000)}});
    auto package = ZipPackage::openMemory(zip.data(), zip.size(), "memory.xlsx");
    for (int i = 0; i < 20; ++i) {
        auto stream = package->stream("big.xml", true);
        for (int k = 0; k < i % 3; ++k) {
            stream->next();
        }
    } // each stream is dropped with its thread mid-way
}

TEST(BackgroundInflate, DamageReachesTheReader)
{
    std::string zip = makeZip({{"big.xml", bigPart(60000)}});
    for (std::size_t i = zip.size() / 3; i < zip.size() / 3 + 64; ++i) {
        zip[i] = static_cast<char>(zip[i] ^ 0x5A);
    }
    auto package = ZipPackage::openMemory(zip.data(), zip.size(), "memory.xlsx");
    auto stream = package->stream("big.xml", true);
    const std::string message = testing_sheets::errorOf([&] { readAll(*stream); });
    EXPECT_EQ(message.rfind("The workbook \"memory.xlsx\" is damaged: big.xml: ", 0), 0U)
        << message;
}

// A one-sheet workbook around this sheet part, written to a temporary file.
std::string bookFile(const std::string& sheet)
{
    const char* ns = "http://schemas.openxmlformats.org/";
    const std::string rel = std::string(ns) + "officeDocument/2006/relationships/";
    const std::string rels = std::string(ns) + "package/2006/relationships";
    const std::string zip = makeZip({
        {"_rels/.rels", "<Relationships xmlns=\"" + rels + "\"><Relationship Id=\"r\" Type=\"" +
                            rel + "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
        {"xl/workbook.xml", std::string("<workbook xmlns=\"") + ns +
                                "spreadsheetml/2006/main\" xmlns:r=\"" + rel +
                                "\"><sheets><sheet name=\"S\" sheetId=\"1\" r:id=\"w\"/></sheets>"
                                "</workbook>"},
        {"xl/_rels/workbook.xml.rels", "<Relationships xmlns=\"" + rels +
                                           "\"><Relationship Id=\"w\" Type=\"" + rel +
                                           "worksheet\" Target=\"sheet.xml\"/></Relationships>"},
        {"xl/sheet.xml", sheet},
    });
    char name[] = "/tmp/tabulix-big-XXXXXX";
    const int fd = ::mkstemp(name);
    EXPECT_EQ(::write(fd, zip.data(), zip.size()), static_cast<ssize_t>(zip.size()));
    ::close(fd);
    return name;
}

// A sheet big enough to be inflated in the background, end to end.
TEST(BackgroundInflate, LargeSheetEndToEnd)
{
    std::string sheet = "<worksheet xmlns=\"http://schemas.openxmlformats.org/spreadsheetml/2006/"
                        "main\"><dimension ref=\"A1:B40000\"/><sheetData>";
    std::string expected;
    for (int r = 1; r <= 40000; ++r) {
        const std::string n = std::to_string(r);
        sheet += "<row r=\"" + n + "\"><c r=\"A" + n + "\"><v>" + n + "</v></c><c r=\"B" + n +
                 "\" t=\"inlineStr\"><is><t>row " + n + "</t></is></c></row>";
        expected += n + "\trow " + n + "\n";
    }
    sheet += "</sheetData></worksheet>";
    ASSERT_GT(sheet.size(), 1U << 20);
    const std::string name = bookFile(sheet);
    auto book = sheets::Workbook::open(name);
    EXPECT_EQ(testing_sheets::sheetText(*book, {0}), expected);
    std::remove(name.c_str());
}

// Broken XML early in a big sheet: the parser reports it while the inflating thread is still
// busy with the rest of the part.
TEST(BackgroundInflate, BrokenXmlWhileStillInflating)
{
    std::string sheet = "<worksheet>\n<sheetData>\n<row r=\"1\"><c r=\"A1\"><v>1</v></row>\n";
    while (sheet.size() < (4U << 20)) {
        sheet += "<row><c><v>2</v></c></row>\n";
    }
    sheet += "</sheetData></worksheet>";
    const std::string name = bookFile(sheet);
    auto book = sheets::Workbook::open(name);
    EXPECT_EQ(testing_sheets::errorOf([&] { testing_sheets::sheetText(*book, {0}); }),
              "The workbook \"" + name + "\" is damaged: xl/sheet.xml, line 3: mismatched tag");
    std::remove(name.c_str());
}

} // namespace
