// Feeds arbitrary bytes to the xlsx reader, then writes every sheet as text: the zip layer and
// its size limits, the relationships and content types, the workbook, styles and shared
// strings, each sheet part, and the text writer's passes over them.
//
// An input that starts with a zip signature is read as it is. Any other input is split at NUL
// bytes into the parts of a one-sheet package (sheet, shared strings, styles, workbook, its
// relationships), stored uncompressed with defaults for the parts it lacks: mutations then
// reach the XML parsers instead of breaking deflate streams and checksums.
#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "sheets/BookReader.h"
#include "sheets/Error.h"
#include "sheets/TextOutput.h"
#include "sheets/TextWriter.h"
#include "sheets/xlsx/XlsxReader.h"

namespace {

// A tiny sheet can ask for a huge text (a value in A1 and one in XFD1048576): the output is
// capped by the file-size limit, past which a write fails like a full disk.
int outputFile()
{
    static const int fd = [] {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit {
            64U << 20, 64U << 20
        };
        ::setrlimit(RLIMIT_FSIZE, &limit);
        return ::memfd_create("fuzz-xlsx-text", 0);
    }();
    ::ftruncate(fd, 0);
    ::lseek(fd, 0, SEEK_SET);
    return fd;
}

std::uint32_t crc32(std::string_view data)
{
    std::uint32_t crc = 0xFFFFFFFFU;
    for (const char c : data) {
        crc ^= static_cast<unsigned char>(c);
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320U & (0U - (crc & 1U)));
        }
    }
    return ~crc;
}

void put16(std::string& out, std::uint32_t v)
{
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}

void put32(std::string& out, std::uint32_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

// A zip of stored entries.
std::string storedZip(const std::vector<std::pair<std::string, std::string>>& entries)
{
    std::string zip;
    std::string directory;
    for (const auto& [name, data] : entries) {
        const auto offset = static_cast<std::uint32_t>(zip.size());
        const std::uint32_t crc = crc32(data);
        const auto size = static_cast<std::uint32_t>(data.size());
        put32(zip, 0x04034b50);
        put16(zip, 20);
        put16(zip, 0);
        put16(zip, 0); // stored
        put32(zip, 0); // time, date
        put32(zip, crc);
        put32(zip, size);
        put32(zip, size);
        put16(zip, static_cast<std::uint32_t>(name.size()));
        put16(zip, 0);
        zip += name;
        zip += data;
        put32(directory, 0x02014b50);
        put16(directory, 20);
        put16(directory, 20);
        put16(directory, 0);
        put16(directory, 0);
        put32(directory, 0);
        put32(directory, crc);
        put32(directory, size);
        put32(directory, size);
        put16(directory, static_cast<std::uint32_t>(name.size()));
        put32(directory, 0); // extra and comment lengths
        put32(directory, 0); // disk, internal attributes
        put32(directory, 0); // external attributes
        put32(directory, offset);
        directory += name;
    }
    const auto at = static_cast<std::uint32_t>(zip.size());
    zip += directory;
    put32(zip, 0x06054b50);
    put32(zip, 0);
    put16(zip, static_cast<std::uint32_t>(entries.size()));
    put16(zip, static_cast<std::uint32_t>(entries.size()));
    put32(zip, static_cast<std::uint32_t>(directory.size()));
    put32(zip, at);
    put16(zip, 0);
    return zip;
}

constexpr const char* kRel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";

std::string packageOf(std::string_view input)
{
    std::array<std::string, 5> parts = {
        "<worksheet><sheetData><row r=\"1\"><c r=\"A1\"><v>1</v></c></row></sheetData>"
        "</worksheet>",
        "<sst><si><t>a</t></si></sst>",
        "<styleSheet><cellXfs><xf numFmtId=\"0\"/></cellXfs></styleSheet>",
        "<workbook xmlns:r=\"r\"><sheets><sheet name=\"S\" r:id=\"w\"/></sheets></workbook>",
        std::string("<Relationships><Relationship Id=\"w\" Type=\"") + kRel +
            "worksheet\" Target=\"worksheets/sheet1.xml\"/><Relationship Id=\"s\" Type=\"" + kRel +
            "sharedStrings\" Target=\"sharedStrings.xml\"/><Relationship Id=\"y\" Type=\"" + kRel +
            "styles\" Target=\"styles.xml\"/></Relationships>",
    };
    for (std::size_t i = 0; i < parts.size() && !input.empty(); ++i) {
        const std::size_t cut = input.find('\0');
        parts[i] = std::string(input.substr(0, cut));
        input = cut == std::string_view::npos ? std::string_view() : input.substr(cut + 1);
    }
    return storedZip({
        {"_rels/.rels", std::string("<Relationships><Relationship Id=\"r\" Type=\"") + kRel +
                            "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
        {"xl/worksheets/sheet1.xml", parts[0]},
        {"xl/sharedStrings.xml", parts[1]},
        {"xl/styles.xml", parts[2]},
        {"xl/workbook.xml", parts[3]},
        {"xl/_rels/workbook.xml.rels", parts[4]},
    });
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view input(reinterpret_cast<const char*>(data), size);
    std::string package;
    if (input.substr(0, 2) != "PK") {
        package = packageOf(input);
        data = reinterpret_cast<const std::uint8_t*>(package.data());
        size = package.size();
    }
    try {
        auto book = sheets::xlsx::openMemory(data, size, "fuzz.xlsx", {});
        for (std::size_t i = 0; i < book->sheets().size() && i < 16; ++i) {
            try {
                sheets::TextOutput out(outputFile(), "fuzz.txt", "UTF-8");
                sheets::writeSheetText(*book, i, out);
                out.flush();
            } catch (const sheets::Error&) {
            }
        }
    } catch (const sheets::Error&) {
    }
    return 0;
}
