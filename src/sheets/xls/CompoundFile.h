#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "sheets/xls/ByteSource.h"

namespace sheets::xls {

// One stream of a compound file: its bytes in order, as runs of contiguous bytes in the file.
// Reading never goes outside the runs, which were all checked against the file's size.
class CfbStream {
public:
    struct Extent {
        std::uint64_t streamPos; // where the run starts in the stream
        std::uint64_t filePos;   // where it starts in the file
        std::uint32_t length;
    };

    CfbStream() = default;
    CfbStream(const ByteSource* source, std::vector<Extent> extents, std::uint64_t size)
        : source_(source), extents_(std::move(extents)), size_(size)
    {}

    std::uint64_t size() const { return size_; }
    const std::string& path() const { return source_->path(); }
    // Copies up to n bytes from pos on; returns how many (fewer only at the end of the stream).
    std::size_t read(std::uint64_t pos, std::uint8_t* dst, std::size_t n) const;
    // Where the byte at pos (< size()) lies in the file.
    std::uint64_t filePosition(std::uint64_t pos) const;

private:
    const ByteSource* source_ = nullptr;
    std::vector<Extent> extents_;
    std::uint64_t size_ = 0;
};

// A read-only [MS-CFB] compound file ("OLE2 structured storage"). The constructor reads and
// checks the header, the sector allocation table and the directory; every later read stays
// within what those checks allowed. Damage of any kind throws sheets::Error with a message that
// says what is wrong and where.
class CompoundFile {
public:
    enum class EntryType : unsigned char { Empty = 0, Storage = 1, Stream = 2, Root = 5, Other };

    struct Entry {
        std::u16string name;
        EntryType type = EntryType::Empty;
        std::uint32_t left = 0, right = 0, child = 0;
        std::uint32_t start = 0;
        std::uint64_t size = 0;
    };

    explicit CompoundFile(std::unique_ptr<ByteSource> source);
    ~CompoundFile();
    CompoundFile(const CompoundFile&) = delete;
    CompoundFile& operator=(const CompoundFile&) = delete;

    // The directory entry named so (letter case ignored, as the format compares names) that
    // sits directly under the root storage, or nullptr.
    const Entry* rootChild(std::string_view asciiName) const;
    // The names of the root storage's children, for messages and tests.
    std::vector<std::string> rootChildNames() const;

    // The bytes of a stream entry. Throws sheets::Error when its sector chain is broken.
    CfbStream openStream(const Entry& entry) const;

    const ByteSource& source() const { return *source_; }

private:
    [[noreturn]] void damaged(const std::string& what) const;
    [[noreturn]] void notCompound() const;
    void readHeader();
    void readFat();
    void readDirectory();
    void readMiniFat();
    std::vector<std::uint32_t> walkChain(std::uint32_t start, std::uint64_t maxSectors,
                                         const std::string& what) const;
    std::vector<std::uint32_t> rootChildIndexes() const;

    std::unique_ptr<ByteSource> source_;
    std::uint64_t fileSize_ = 0;
    unsigned sectorShift_ = 9;
    std::uint32_t sectorSize_ = 512;
    std::uint64_t sectorCount_ = 0; // sectors that start inside the file
    std::uint32_t firstDirSector_ = 0;
    std::uint32_t firstMiniFatSector_ = 0;
    std::uint32_t miniFatSectors_ = 0;
    std::uint32_t firstDifatSector_ = 0;
    std::uint32_t difatSectors_ = 0;
    std::uint32_t fatSectors_ = 0;
    bool version4_ = false;
    std::vector<std::uint32_t> headerDifat_;
    std::vector<std::uint32_t> fat_;
    std::vector<std::uint32_t> miniFat_;
    std::vector<Entry> entries_;
    mutable std::vector<bool> visited_; // scratch for loop checks
};

} // namespace sheets::xls
