#include "sheets/xlsx/ZipPackage.h"

#include <zip.h>

#include <algorithm>
#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "sheets/Error.h"
#include "sheets/Messages.h"

namespace sheets::xlsx {

namespace {

std::string lowerPartName(std::string_view name)
{
    std::string out;
    out.reserve(name.size());
    for (char c : name) {
        if (c == '\\') {
            c = '/';
        } else if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
        out += c;
    }
    std::size_t skip = 0;
    while (skip < out.size() && out[skip] == '/') {
        ++skip;
    }
    return out.substr(skip);
}

std::string zipErrorText(int code)
{
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    std::string text = zip_error_strerror(&error);
    zip_error_fini(&error);
    return text;
}

// Why libzip refused to open an archive, in words for the user.
[[noreturn]] void refuseArchive(const std::string& path, zip_error_t* error)
{
    const int code = zip_error_code_zip(error);
    const int sys = zip_error_code_system(error);
    const bool system = zip_error_system_type(error) == ZIP_ET_SYS && sys != 0;
    const std::string text = msg::lowerFirst(zip_error_strerror(error));
    zip_error_fini(error);
    switch (code) {
    case ZIP_ER_OPEN:
    case ZIP_ER_READ:
    case ZIP_ER_SEEK:
        if (system) {
            throw Error(msg::cannotOpen(path, msg::systemReason(sys)));
        }
        break;
    case ZIP_ER_MEMORY:
        throw Error(msg::cannotOpen(path, "out of memory"));
    case ZIP_ER_NOZIP:
        // The caller saw a zip signature, so the directory at the end is what is missing.
        throw Error(msg::damaged(path, "",
                                 "the zip archive is truncated (its directory at the end is "
                                 "missing)"));
    case ZIP_ER_MULTIDISK:
        throw Error(msg::damaged(path, "", "the zip archive is split over several disks"));
    default:
        break;
    }
    throw Error(msg::damaged(path, "", "the zip archive cannot be read (" + text + ")"));
}

// Reads one entry, never past the size its directory declares.
class EntryReader {
public:
    EntryReader(const ZipPackage& package, zip_t* archive, std::uint64_t index, std::string part,
                std::uint64_t declared)
        : package_(package), part_(std::move(part)), declared_(declared)
    {
        file_ = zip_fopen_index(archive, index, 0);
        if (file_ == nullptr) {
            const int code = zip_error_code_zip(zip_get_error(archive));
            if (code == ZIP_ER_NOPASSWD || code == ZIP_ER_ENCRNOTSUPP ||
                code == ZIP_ER_WRONGPASSWD) {
                package_.damaged(part_, "the zip entry is encrypted, which workbook parts never "
                                        "are");
            }
            package_.damaged(part_, "cannot be read (" + msg::lowerFirst(zipErrorText(code)) + ")");
        }
    }
    ~EntryReader()
    {
        if (file_ != nullptr) {
            zip_fclose(file_);
        }
    }
    EntryReader(const EntryReader&) = delete;
    EntryReader& operator=(const EntryReader&) = delete;

    // Fills up to size bytes; 0 at the end. Returns a message instead of throwing so that a
    // background thread can hand it over.
    std::size_t read(char* data, std::size_t size, std::string& failure)
    {
        const zip_int64_t n = zip_fread(file_, data, size);
        if (n < 0) {
            failure = "cannot be inflated (" +
                      msg::lowerFirst(zip_error_strerror(zip_file_get_error(file_))) + ")";
            return 0;
        }
        total_ += static_cast<std::uint64_t>(n);
        if (total_ > declared_) {
            failure = "inflates to more than the " + std::to_string(declared_) +
                      " bytes its zip entry declares";
            return 0;
        }
        if (n == 0 && total_ != declared_) {
            failure = "inflates to " + std::to_string(total_) +
                      " bytes where its zip entry "
                      "declares " +
                      std::to_string(declared_);
        }
        return static_cast<std::size_t>(n);
    }

    const std::string& part() const { return part_; }

private:
    const ZipPackage& package_;
    std::string part_;
    std::uint64_t declared_;
    std::uint64_t total_ = 0;
    zip_file_t* file_ = nullptr;
};

constexpr std::size_t kChunk = std::size_t{256} * 1024;

class DirectStream : public PartStream {
public:
    DirectStream(const ZipPackage& package, std::unique_ptr<EntryReader> reader,
                 std::uint64_t declared)
        : package_(package), reader_(std::move(reader)),
          // Small parts get a small buffer; one byte more than declared finds an entry that
          // inflates past its size.
          size_(static_cast<std::size_t>(std::clamp<std::uint64_t>(declared + 1, 4096, kChunk))),
          buffer_(new char[size_])
    {}

    std::span<const char> next() override
    {
        std::string failure;
        const std::size_t n = reader_->read(buffer_.get(), size_, failure);
        if (!failure.empty()) {
            package_.damaged(reader_->part(), failure);
        }
        return {buffer_.get(), n};
    }

private:
    const ZipPackage& package_;
    std::unique_ptr<EntryReader> reader_;
    std::size_t size_;
    std::unique_ptr<char[]> buffer_;
};

// Inflates into a ring of chunks on its own thread; the consumer holds one chunk at a time
// and hands it back on its next call.
class BackgroundStream : public PartStream {
public:
    BackgroundStream(const ZipPackage& package, std::unique_ptr<EntryReader> reader)
        : package_(package), reader_(std::move(reader))
    {
        for (auto& slot : slots_) {
            slot.data.reset(new char[kChunk]);
        }
        thread_ = std::thread([this] { produce(); });
    }

    ~BackgroundStream() override
    {
        {
            std::lock_guard lock(mutex_);
            cancelled_ = true;
        }
        changed_.notify_all();
        thread_.join();
    }

    BackgroundStream(const BackgroundStream&) = delete;
    BackgroundStream& operator=(const BackgroundStream&) = delete;

    std::span<const char> next() override
    {
        if (finished_) {
            return {};
        }
        std::unique_lock lock(mutex_);
        if (holding_) {
            holding_ = false;
            ++consumed_;
            changed_.notify_all();
        }
        changed_.wait(lock, [this] { return produced_ > consumed_; });
        const Slot& slot = slots_[consumed_ % kSlots];
        if (!slot.failure.empty()) {
            const std::string failure = slot.failure;
            lock.unlock();
            package_.damaged(reader_->part(), failure);
        }
        holding_ = true;
        finished_ = slot.size == 0;
        return {slot.data.get(), slot.size};
    }

private:
    static constexpr std::size_t kSlots = 4;

    struct Slot {
        std::unique_ptr<char[]> data;
        std::size_t size = 0;
        std::string failure;
    };

    void produce()
    {
        for (;;) {
            Slot* slot = nullptr;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock,
                              [this] { return cancelled_ || produced_ - consumed_ < kSlots; });
                if (cancelled_) {
                    return;
                }
                slot = &slots_[produced_ % kSlots];
            }
            // The slot is ours alone until produced_ moves past it.
            std::string failure;
            const std::size_t n = reader_->read(slot->data.get(), kChunk, failure);
            slot->size = n;
            slot->failure = std::move(failure);
            const bool last = n == 0 || !slot->failure.empty();
            {
                std::lock_guard lock(mutex_);
                ++produced_;
            }
            changed_.notify_all();
            if (last) {
                return;
            }
        }
    }

    const ZipPackage& package_;
    std::unique_ptr<EntryReader> reader_;
    Slot slots_[kSlots];
    std::mutex mutex_;
    std::condition_variable changed_;
    std::size_t produced_ = 0; // guarded by mutex_
    std::size_t consumed_ = 0; // guarded by mutex_
    bool holding_ = false;     // the consumer holds slots_[consumed_ % kSlots]
    bool cancelled_ = false;
    bool finished_ = false; // the consumer has seen the end; touched by it alone
    std::thread thread_;
};

} // namespace

ZipPackage::ZipPackage(zip* archive, std::string path, std::uint64_t fileSize)
    : path_(std::move(path)), fileSize_(fileSize)
{
    if (archive != nullptr) {
        attach(archive);
    }
}

void ZipPackage::attach(zip* archive)
{
    zip_ = archive;
    const zip_int64_t count = zip_get_num_entries(zip_, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* name = zip_get_name(zip_, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_GUESS);
        if (name != nullptr) {
            index_.emplace(lowerPartName(name), Entry{static_cast<std::uint64_t>(i), name});
        }
    }
}

ZipPackage::~ZipPackage()
{
    if (zip_ != nullptr) {
        zip_discard(zip_);
    }
}

std::unique_ptr<ZipPackage> ZipPackage::openFile(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || ::fstat(fd, &info) != 0) {
        const int error = errno;
        if (fd >= 0) {
            ::close(fd);
        }
        throw Error(msg::cannotOpen(path, msg::systemReason(error)));
    }
    const auto fileSize = static_cast<std::uint64_t>(info.st_size);
    if (fileSize <= kReadWhole) {
        std::string bytes(static_cast<std::size_t>(fileSize), '\0');
        std::size_t done = 0;
        while (done < bytes.size()) {
            const ssize_t n = ::read(fd, bytes.data() + done, bytes.size() - done);
            if (n < 0 && errno == EINTR) {
                continue;
            }
            if (n <= 0) {
                const int error = n < 0 ? errno : 0;
                ::close(fd);
                throw Error(error != 0 ? msg::cannotOpen(path, msg::systemReason(error))
                                       : msg::cannotOpen(path, "the file became shorter while "
                                                               "it was read"));
            }
            done += static_cast<std::size_t>(n);
        }
        ::close(fd);
        return openBytes(std::move(bytes), path);
    }
    ::close(fd);

    int code = 0;
    errno = 0;
    zip_t* archive = zip_open(path.c_str(), ZIP_RDONLY, &code);
    if (archive == nullptr) {
        const int sys = errno;
        if ((code == ZIP_ER_OPEN || code == ZIP_ER_READ) && sys != 0) {
            throw Error(msg::cannotOpen(path, msg::systemReason(sys)));
        }
        zip_error_t error;
        zip_error_init_with_code(&error, code);
        refuseArchive(path, &error);
    }
    std::unique_ptr<ZipPackage> package(new ZipPackage(archive, path, fileSize));
    package->checkSizes();
    return package;
}

std::unique_ptr<ZipPackage> ZipPackage::openBytes(std::string bytes, const std::string& path)
{
    // The package keeps the bytes; moving a std::string keeps its heap block where it is, but
    // a short one lives inside the object, so the bytes move in before libzip sees them.
    std::unique_ptr<ZipPackage> package(new ZipPackage(nullptr, path, bytes.size()));
    package->bytes_ = std::move(bytes);
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source =
        zip_source_buffer_create(package->bytes_.data(), package->bytes_.size(), 0, &error);
    if (source == nullptr) {
        refuseArchive(path, &error);
    }
    zip_t* archive = zip_open_from_source(source, ZIP_RDONLY, &error);
    if (archive == nullptr) {
        zip_source_free(source);
        refuseArchive(path, &error);
    }
    package->attach(archive);
    package->checkSizes();
    return package;
}

std::unique_ptr<ZipPackage> ZipPackage::openMemory(const void* data, std::size_t size,
                                                   const std::string& displayPath)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(data, size, 0, &error);
    if (source == nullptr) {
        refuseArchive(displayPath, &error);
    }
    zip_t* archive = zip_open_from_source(source, ZIP_RDONLY, &error);
    if (archive == nullptr) {
        zip_source_free(source);
        refuseArchive(displayPath, &error);
    }
    std::unique_ptr<ZipPackage> package(new ZipPackage(archive, displayPath, size));
    package->checkSizes();
    return package;
}

void ZipPackage::checkSizes()
{
    // Every entry counts, used or not: overlapping entries that share one compressed stream
    // are how the worst zip bombs get their size.
    const std::uint64_t limit = fileSize_ * kPackageRatio + kSlack;
    std::uint64_t total = 0;
    const zip_int64_t count = zip_get_num_entries(zip_, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t info;
        if (zip_stat_index(zip_, static_cast<zip_uint64_t>(i), 0, &info) != 0 ||
            (info.valid & ZIP_STAT_SIZE) == 0) {
            continue;
        }
        total = info.size > limit ? limit + 1 : total + info.size;
        if (total > limit) {
            throw Error(msg::damaged(path_, "",
                                     "its zip entries would inflate to far more than a file of " +
                                         std::to_string(fileSize_) +
                                         " bytes can hold (refused as a possible zip bomb)"));
        }
    }
}

std::int64_t ZipPackage::locate(std::string_view part) const
{
    const auto found = index_.find(lowerPartName(part));
    return found == index_.end() ? -1 : static_cast<std::int64_t>(found->second.index);
}

bool ZipPackage::contains(std::string_view part) const
{
    return locate(part) >= 0;
}

std::string ZipPackage::entryName(std::string_view part) const
{
    const auto found = index_.find(lowerPartName(part));
    if (found != index_.end()) {
        return found->second.name;
    }
    std::string out(part);
    if (!out.empty() && out[0] == '/') {
        out.erase(0, 1);
    }
    return out;
}

std::uint64_t ZipPackage::size(std::string_view part) const
{
    const std::int64_t index = locate(part);
    zip_stat_t info;
    if (index < 0 || zip_stat_index(zip_, static_cast<zip_uint64_t>(index), 0, &info) != 0 ||
        (info.valid & ZIP_STAT_SIZE) == 0) {
        return 0;
    }
    return info.size;
}

void ZipPackage::damaged(std::string_view part, std::string_view detail) const
{
    throw Error(msg::damaged(path_, part.empty() ? std::string() : entryName(part), detail));
}

std::unique_ptr<PartStream> ZipPackage::stream(std::string_view part, bool background)
{
    const std::int64_t index = locate(part);
    if (index < 0) {
        damaged("", "the part " + entryName(part) + " is missing");
    }
    zip_stat_t info;
    if (zip_stat_index(zip_, static_cast<zip_uint64_t>(index), 0, &info) != 0) {
        damaged(part, "its zip entry cannot be read");
    }
    const std::uint64_t declared = (info.valid & ZIP_STAT_SIZE) != 0 ? info.size : 0;
    if ((info.valid & ZIP_STAT_COMP_SIZE) != 0 && (info.valid & ZIP_STAT_COMP_METHOD) != 0 &&
        info.comp_method != ZIP_CM_STORE && declared > info.comp_size * kDeflateLimit + 4096) {
        damaged(part, "its zip entry claims " + std::to_string(declared) + " bytes from " +
                          std::to_string(info.comp_size) +
                          " compressed ones, more than deflate can give (refused as a "
                          "possible zip bomb)");
    }
    auto reader = std::make_unique<EntryReader>(*this, zip_, static_cast<std::uint64_t>(index),
                                                std::string(part), declared);
    if (background) {
        return std::make_unique<BackgroundStream>(*this, std::move(reader));
    }
    return std::make_unique<DirectStream>(*this, std::move(reader), declared);
}

std::string ZipPackage::read(std::string_view part, bool optional)
{
    if (optional && !contains(part)) {
        return {};
    }
    std::string out;
    out.reserve(static_cast<std::size_t>(std::min<std::uint64_t>(size(part), 64U << 20)));
    auto source = stream(part, false);
    for (auto chunk = source->next(); !chunk.empty(); chunk = source->next()) {
        out.append(chunk.data(), chunk.size());
    }
    return out;
}

} // namespace sheets::xlsx
