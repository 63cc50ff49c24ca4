#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>

namespace sheets::xls {

// Random access to the bytes of a workbook file, or of a buffer in tests and fuzzing. The
// container reads through this so that it never holds more of the file than it needs.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    // The file's path as messages show it.
    virtual const std::string& path() const = 0;
    // Reads exactly n bytes at offset; the caller keeps offset + n within size(). Throws
    // sheets::Error when the file cannot be read (it shrank, an I/O error).
    virtual void read(std::uint64_t offset, std::uint8_t* dst, std::size_t n) const = 0;
};

// Opens a file read-only. Throws sheets::Error naming what went wrong.
std::unique_ptr<ByteSource> openFileSource(const std::string& path);

// A view of caller-owned bytes, which must outlive the source; displayPath names it in
// messages.
std::unique_ptr<ByteSource> memorySource(std::span<const std::uint8_t> bytes,
                                         std::string displayPath);

} // namespace sheets::xls
