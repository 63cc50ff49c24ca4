// Feeds arbitrary bytes to the BIFF record reader as a bare workbook stream (no container):
// the globals, the shared strings, every sheet. Any outcome is fine but a crash, a hang, a
// sanitizer report or an exception other than sheets::Error.
#include <cstddef>
#include <cstdint>
#include <span>

#include "sheets/BookReader.h"
#include "sheets/Error.h"
#include "sheets/xls/ByteSource.h"
#include "sheets/xls/XlsBook.h"

namespace {

class NullSink : public sheets::SheetSink {
public:
    void row(std::uint32_t, std::span<const sheets::Cell> cells) override
    {
        for (const sheets::Cell& c : cells) {
            // Touch what a writer touches.
            std::string out;
            if (c.type == sheets::CellType::Text) {
                c.format->formatText(c.text, out);
            } else if (c.type == sheets::CellType::Number) {
                c.format->formatNumber(c.number, sheets::DateSystem::D1900, out);
            }
        }
    }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    sheets::OpenOptions options;
    try {
        auto book = sheets::xls::openBiffStream(
            sheets::xls::memorySource(std::span(data, size), "fuzz.xls"), options);
        for (std::size_t i = 0; i < book->sheets().size() && i < 64; ++i) {
            NullSink sink;
            try {
                book->readSheet(i, sink);
            } catch (const sheets::Error&) {
            }
        }
    } catch (const sheets::Error&) {
    }
    return 0;
}
