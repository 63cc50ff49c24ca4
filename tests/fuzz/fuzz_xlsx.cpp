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

#include "StoredZip.h"
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
    return testing_sheets::storedZip({
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
