#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>

struct zip;
struct zip_file;

namespace sheets::xlsx {

class ZipPackage;

// The inflated bytes of one part, chunk by chunk. Optionally inflates on a thread of its own
// while the caller parses the previous chunk: on a big sheet inflating is a third of the work,
// and a second core takes it off the parser's path.
class PartStream {
public:
    virtual ~PartStream() = default;
    // The next chunk; empty at the end of the part. Throws sheets::Error when the part is damaged
    // (bad compressed data, CRC error, more or fewer bytes than the entry declares).
    virtual std::span<const char> next() = 0;
};

// A zip archive opened for reading the parts of an Office package. Guards against archives
// that would inflate to far more than their size allows (zip bombs): such an archive is
// refused as damaged before anything is inflated, and no entry may inflate past the size its
// directory declares.
class ZipPackage {
public:
    // Deflate cannot pack more than 1032 bytes into one, so an entry claiming more is lying.
    static constexpr std::uint64_t kDeflateLimit = 1032;
    // Workbooks inflate to 5 to 15 times their size (measured on files from several writers,
    // extreme ones being sheets of identical cells). 200 leaves a wide margin for those while a
    // zip bomb, which needs ratios in the hundreds or thousands to do harm, is refused.
    static constexpr std::uint64_t kPackageRatio = 200;
    // Small files may carry a long repeated text; up to this much is always allowed.
    static constexpr std::uint64_t kSlack = 32U << 20;

    // Files up to this size are read whole and unzipped from memory: a few system calls instead
    // of a seek and a read for every part, which is most of the cost of a small workbook.
    static constexpr std::uint64_t kReadWhole = 16U << 20;

    // Throws sheets::Error.
    static std::unique_ptr<ZipPackage> openFile(const std::string& path);
    // Reads the archive from memory (the buffer must outlive the package). Throws sheets::Error.
    static std::unique_ptr<ZipPackage> openMemory(const void* data, std::size_t size,
                                                  const std::string& displayPath);

    ~ZipPackage();
    ZipPackage(const ZipPackage&) = delete;
    ZipPackage& operator=(const ZipPackage&) = delete;

    const std::string& displayPath() const { return path_; }

    // Part names are compared as OPC says: without a leading "/", letter case ignored.
    bool contains(std::string_view part) const;
    // The entry's own spelling of a part name, for messages; the name itself when absent.
    std::string entryName(std::string_view part) const;
    std::uint64_t size(std::string_view part) const;

    // The whole part, for the small ones (relationships, workbook, styles). An absent part gives
    // an empty string when optional, else an error.
    std::string read(std::string_view part, bool optional = false);
    // A stream over the part; background inflates on a second thread.
    std::unique_ptr<PartStream> stream(std::string_view part, bool background);

    [[noreturn]] void damaged(std::string_view part, std::string_view detail) const;

private:
    ZipPackage(zip* archive, std::string path, std::uint64_t fileSize);
    static std::unique_ptr<ZipPackage> openBytes(std::string bytes, const std::string& path);
    void attach(zip* archive);
    void checkSizes();
    std::int64_t locate(std::string_view part) const;

    zip* zip_ = nullptr;
    std::string path_;
    std::uint64_t fileSize_ = 0;
    std::string bytes_; // the whole file, when it was read into memory
    struct Entry {
        std::uint64_t index;
        std::string name; // as the archive spells it
    };
    // Lower-case part name -> entry. Messages take names from here, never from libzip, which
    // may be busy inflating on another thread.
    std::unordered_map<std::string, Entry> index_;
};

} // namespace sheets::xlsx
