// Feeds arbitrary bytes to the compound-file container and then to the workbook reader behind
// it: header, allocation tables, DIFAT, directory tree, mini stream, then every sheet.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>

#include "sheets/BookReader.h"
#include "sheets/Error.h"
#include "sheets/xls/ByteSource.h"
#include "sheets/xls/CompoundFile.h"
#include "sheets/xls/XlsBook.h"

namespace {

class NullSink : public sheets::SheetSink {
public:
    void row(std::uint32_t, std::span<const sheets::Cell>) override {}
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    try {
        auto file = std::make_unique<sheets::xls::CompoundFile>(
            sheets::xls::memorySource(std::span(data, size), "fuzz.xls"));
        for (const char* name : {"Workbook", "Book", "EncryptedPackage", "\005SummaryInformation"}) {
            if (const auto* entry = file->rootChild(name)) {
                try {
                    const auto stream = file->openStream(*entry);
                    std::uint8_t buf[512];
                    for (std::uint64_t pos = 0; pos < stream.size(); pos += sizeof buf) {
                        stream.read(pos, buf, sizeof buf);
                    }
                } catch (const sheets::Error&) {
                }
            }
        }
        auto book = sheets::xls::openCompound(std::move(file), {});
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
