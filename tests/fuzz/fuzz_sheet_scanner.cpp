// The worksheet scanner against expat. The first byte of an input says where to cut the part
// into chunks, and how to read the rest: below 0x80 the rest is the worksheet part as it
// stands; from 0x80 on it steers a maker of worksheet XML, which writes mostly well-formed
// parts (elements, attributes, text, references, line ends, multi-byte characters) with a
// stray byte now and then: raw bytes alone seldom get past the first error, and the scanner
// must be compared with expat where it reads a part through.
//
// - Event by event: whenever the scanner reads the part to its end, whole or in chunks, expat
//   must accept it too and tell the handler exactly the same.
// - Through the reader: the sheet in a one-sheet workbook must give the same cells, and the
//   same text or the same message, with the scanner (expat taking over where it gives up) as
//   with expat alone.
// A difference aborts with both sides on standard error.
#include <signal.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <memory>
#include <string>
#include <string_view>

#include "RecordingSink.h"
#include "StoredZip.h"
#include "XmlEvents.h"
#include "sheets/BookReader.h"
#include "sheets/Error.h"
#include "sheets/TextOutput.h"
#include "sheets/TextWriter.h"
#include "sheets/xlsx/XlsxReader.h"

namespace {

using sheets::xlsx::SheetParser;

[[noreturn]] void differ(const char* what, const std::string& scanner, const std::string& expat)
{
    std::fprintf(stderr, "%s differ\n--- scanner:\n%s\n--- expat:\n%s\n", what, scanner.c_str(),
                 expat.c_str());
    std::abort();
}

// A tiny sheet can ask for a huge text (a value in A1 and one in XFD1048576): past the
// file-size limit a write fails like a full disk, the same way for both parsers. One output,
// emptied for each reading: its buffer is large, and the sanitizer clears every new one.
sheets::TextOutput& textOutput(int& fd)
{
    static int file = -1;
    static std::unique_ptr<sheets::TextOutput> out;
    if (!out) {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit limit {
            1U << 20, 1U << 20
        };
        ::setrlimit(RLIMIT_FSIZE, &limit);
        file = ::memfd_create("fuzz-scanner-text", 0);
        out = std::make_unique<sheets::TextOutput>(file, "fuzz.txt", "UTF-8");
    }
    out->rewind(0);
    ::ftruncate(file, 0);
    ::lseek(file, 0, SEEK_SET);
    fd = file;
    return *out;
}

std::string fileText(int fd)
{
    std::string out;
    ::lseek(fd, 0, SEEK_SET);
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0) {
            return out;
        }
        out.append(buffer, static_cast<std::size_t>(n));
    }
}

struct Reading {
    std::string cells;
    std::string text;
};

Reading readWith(const std::string& package, SheetParser parser)
{
    Reading out;
    try {
        auto book =
            sheets::xlsx::openMemory(package.data(), package.size(), "fuzz.xlsx", {}, parser);
        try {
            testing_sheets::RecordingSink sink;
            book->readSheet(0, sink);
            out.cells = sink.log();
        } catch (const sheets::Error& error) {
            out.cells = std::string("error: ") + error.what();
        }
        try {
            int fd = -1;
            sheets::TextOutput& text = textOutput(fd);
            sheets::writeSheetText(*book, 0, text);
            text.flush();
            out.text = fileText(fd);
        } catch (const sheets::Error& error) {
            out.text = std::string("error: ") + error.what();
        }
    } catch (const sheets::Error& error) {
        out.cells = out.text = std::string("open error: ") + error.what();
    }
    return out;
}

// Writes worksheet XML as the input bytes choose; once they run out, every choice is the
// first, which closes what is open.
class SheetMaker {
public:
    explicit SheetMaker(std::string_view bytes) : in_(bytes) {}

    std::string make()
    {
        if (pick(8) == 0) {
            out_ += "\xEF\xBB\xBF";
        }
        static const char* const declarations[] = {
            "", "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n",
            "<?xml version='1.0'?>", "<?xml version=\"1.0\" encoding=\"utf-8\" ?>\n"};
        out_ += declarations[pick(std::size(declarations))];
        static const char* const prefixes[] = {"", "x:", "main:"};
        prefix_ = prefixes[pick(std::size(prefixes))];
        element(0);
        space();
        return out_;
    }

private:
    std::size_t pick(std::size_t n)
    {
        if (at_ >= in_.size()) {
            return 0;
        }
        return static_cast<unsigned char>(in_[at_++]) % n;
    }

    // Now and then a byte of the input as it stands, wherever it lands.
    void stray()
    {
        if (pick(24) == 23 && at_ < in_.size()) {
            out_ += in_[at_++];
        }
    }

    void space()
    {
        static const char* const spaces[] = {"", " ", "\n", "\r\n", "\t", "  "};
        out_ += spaces[pick(std::size(spaces))];
    }

    void element(int depth)
    {
        static const char* const names[] = {
            "c",      "v",   "row",       "f",         "is",         "t",
            "r",      "rPh", "sheetData", "dimension", "mergeCells", "mergeCell",
            "extLst", "ext", "x14:id",    "sheetPr",   "cols",       "col"};
        const std::string name =
            depth == 0 ? prefix_ + "worksheet"
                       : (pick(6) == 0 ? std::string() : prefix_) + names[pick(std::size(names))];
        out_ += '<' + name;
        for (std::size_t n = pick(4); n > 0; --n) {
            attribute();
        }
        space();
        stray();
        if (depth >= 6 || pick(4) == 1) {
            out_ += "/>";
            return;
        }
        out_ += '>';
        for (std::size_t n = pick(5); n > 0; --n) {
            if (pick(3) == 0) {
                text();
            } else {
                element(depth + 1);
            }
            stray();
        }
        out_ += "</" + name;
        space();
        out_ += '>';
    }

    void attribute()
    {
        static const char* const names[] = {"r",         "s",   "t",  "ref",   "spans",
                                            "xml:space", "x:r", "ht", "count", "uri"};
        static const char* const values[] = {
            "A1",         "B2",       "C3:D4", "1",        "0",       "s",        "str",
            "inlineStr",  "b",        "e",     "d",        "n",       "preserve", "2",
            "XFD1048576", "A1048577", "3.0",   " 4 ",      "a&amp;b", "&#x41;1",  "&quot;",
            "&apos;",     "\t",       "\r\n",  "\xC3\xA9", ">",       "]]>"};
        out_ += pick(8) == 0 ? "\n" : " ";
        out_ += names[pick(std::size(names))];
        space();
        out_ += '=';
        space();
        const char quote = pick(3) == 0 ? '\'' : '"';
        out_ += quote;
        for (std::size_t n = pick(3); n > 0; --n) {
            out_ += values[pick(std::size(values))];
        }
        if (pick(6) == 0) {
            out_ += quote == '"' ? '\'' : '"';
        }
        out_ += quote;
    }

    void text()
    {
        static const char* const pieces[] = {"1",
                                             "-2.5E-3",
                                             "42",
                                             " 7 ",
                                             "&amp;",
                                             "&lt;",
                                             "&gt;",
                                             "&quot;",
                                             "&apos;",
                                             "&#65;",
                                             "&#x20AC;",
                                             "&#x1F600;",
                                             "&#9;",
                                             "&#13;",
                                             "\r\n",
                                             "\r",
                                             "\n",
                                             "]]",
                                             "]",
                                             ">",
                                             "\xC3\xA9",
                                             "\xE6\x9D\xB1",
                                             "\xF0\x9F\x98\x80",
                                             "TRUE",
                                             "#N/A",
                                             "_x000D_",
                                             "2024-03-14",
                                             " "};
        for (std::size_t n = 1 + pick(4); n > 0; --n) {
            out_ += pieces[pick(std::size(pieces))];
        }
    }

    std::string_view in_;
    std::size_t at_ = 0;
    std::string out_;
    std::string prefix_;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    if (size == 0 || size > (1U << 16)) {
        return 0;
    }
    const std::size_t step = 1 + (data[0] & 0x7F) % 97;
    const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
    const std::string made = data[0] >= 0x80 ? SheetMaker(rest).make() : std::string();
    const std::string_view xml = data[0] >= 0x80 ? std::string_view(made) : rest;

    const auto expat = testing_sheets::expatEvents(xml);
    for (const auto& cuts :
         {std::vector<std::size_t>{}, testing_sheets::everyNth(xml.size(), step)}) {
        const auto scanned = testing_sheets::scannerEvents(xml, cuts);
        if (scanned && !expat.ok) {
            differ("acceptance", *scanned, expat.events);
        }
        if (scanned && *scanned != expat.events) {
            differ("events", *scanned, expat.events);
        }
    }

    const std::string package = testing_sheets::oneSheetPackage(
        std::string(xml), "<sst><si><t>one</t></si><si><r><t>t</t></r><r><t>wo</t></r></si></sst>",
        "<styleSheet><numFmts><numFmt numFmtId=\"164\" formatCode=\"0.00%\"/></numFmts><cellXfs>"
        "<xf numFmtId=\"0\"/><xf numFmtId=\"164\"/><xf numFmtId=\"14\"/></cellXfs></styleSheet>");
    const Reading scanned = readWith(package, SheetParser::Scanner);
    const Reading reference = readWith(package, SheetParser::Expat);
    if (scanned.cells != reference.cells) {
        differ("cells", scanned.cells, reference.cells);
    }
    if (scanned.text != reference.text) {
        differ("texts", scanned.text, reference.text);
    }
    return 0;
}
