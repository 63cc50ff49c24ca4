#include "sheets/xls/ByteSource.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sheets/Error.h"
#include "sheets/Messages.h"

namespace sheets::xls {

namespace {

class FileSource final : public ByteSource {
public:
    FileSource(int fd, std::uint64_t size, std::string path)
        : fd_(fd), size_(size), path_(std::move(path))
    {}
    ~FileSource() override { ::close(fd_); }
    FileSource(const FileSource&) = delete;
    FileSource& operator=(const FileSource&) = delete;

    std::uint64_t size() const override { return size_; }
    const std::string& path() const override { return path_; }

    void read(std::uint64_t offset, std::uint8_t* dst, std::size_t n) const override
    {
        while (n > 0) {
            const ssize_t got = ::pread(fd_, dst, n, static_cast<off_t>(offset));
            if (got < 0 && errno == EINTR) {
                continue;
            }
            if (got < 0) {
                throw Error(msg::cannotOpen(path_, msg::systemReason(errno)));
            }
            if (got == 0) {
                // Someone truncated the file while we were reading it.
                throw Error(msg::cannotOpen(path_, "the file became shorter while it was read"));
            }
            dst += got;
            offset += static_cast<std::uint64_t>(got);
            n -= static_cast<std::size_t>(got);
        }
    }

private:
    int fd_;
    std::uint64_t size_;
    std::string path_;
};

class MemorySource final : public ByteSource {
public:
    MemorySource(std::span<const std::uint8_t> bytes, std::string path)
        : bytes_(bytes), path_(std::move(path))
    {}
    std::uint64_t size() const override { return bytes_.size(); }
    const std::string& path() const override { return path_; }
    void read(std::uint64_t offset, std::uint8_t* dst, std::size_t n) const override
    {
        if (offset > bytes_.size() || n > bytes_.size() - offset) {
            throw Error(msg::cannotOpen(path_, "a read past the end of the data"));
        }
        if (n > 0) {
            std::memcpy(dst, bytes_.data() + offset, n);
        }
    }

private:
    std::span<const std::uint8_t> bytes_;
    std::string path_;
};

} // namespace

std::unique_ptr<ByteSource> openFileSource(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        throw Error(msg::cannotOpen(path, msg::openFailure(errno)));
    }
    struct stat st {};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        throw Error(msg::cannotOpen(path, "it is not a regular file"));
    }
    return std::make_unique<FileSource>(fd, static_cast<std::uint64_t>(st.st_size), path);
}

std::unique_ptr<ByteSource> memorySource(std::span<const std::uint8_t> bytes,
                                         std::string displayPath)
{
    return std::make_unique<MemorySource>(bytes, std::move(displayPath));
}

} // namespace sheets::xls
