#include "sheets/Workbook.h"

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "sheets/Messages.h"
#include "sheets/TextOutput.h"
#include "sheets/TextWriter.h"

namespace sheets {

namespace {

// A name in the target's folder that nobody else uses: ".<name>.<pid>-<n>.part".
std::string temporaryName(const std::string& target, unsigned attempt)
{
    static std::atomic<unsigned> counter{0};
    const std::size_t slash = target.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string() : target.substr(0, slash + 1);
    // A long target name must not make the temporary one too long for the file system.
    const std::string name =
        (slash == std::string::npos ? target : target.substr(slash + 1)).substr(0, 64);
    const auto tick = static_cast<unsigned long long>(
        std::chrono::steady_clock::now().time_since_epoch().count());
    return folder + "." + name + "." + std::to_string(::getpid()) + "-" +
           std::to_string(counter.fetch_add(1) + attempt) + "-" + std::to_string(tick % 100000) +
           ".part";
}

} // namespace

Workbook::Workbook(std::string path, std::unique_ptr<BookReader> reader)
    : path_(std::move(path)), reader_(std::move(reader))
{}

std::unique_ptr<Workbook> Workbook::open(const std::string& path, const OpenOptions& options)
{
    auto reader = openBook(path, options);
    return std::unique_ptr<Workbook>(new Workbook(path, std::move(reader)));
}

std::vector<std::size_t> Workbook::visibleWorksheets() const
{
    std::vector<std::size_t> out;
    const auto& all = sheets();
    for (std::size_t i = 0; i < all.size(); ++i) {
        if (all[i].visibility == Visibility::Visible && all[i].kind == SheetKind::Worksheet) {
            out.push_back(i);
        }
    }
    return out;
}

Error Workbook::noSuchSheet(std::int64_t number) const
{
    return Error(msg::noSuchSheet(number, sheetCount()));
}

void Workbook::saveSheetAsText(std::size_t index, const std::string& target,
                               const TextOptions& options)
{
    if (index >= sheetCount()) {
        throw noSuchSheet(static_cast<std::int64_t>(index) + 1);
    }
    const std::size_t one[] = {index};
    saveTo(target, one, options);
}

void Workbook::saveAsText(const std::string& target, const TextOptions& options)
{
    const auto visible = visibleWorksheets();
    saveTo(target, visible, options);
}

void Workbook::writeText(std::span<const std::size_t> indices, int fd,
                         const std::string& displayName, const TextOptions& options)
{
    for (const std::size_t index : indices) {
        if (index >= sheetCount()) {
            throw noSuchSheet(static_cast<std::int64_t>(index) + 1);
        }
    }
    TextOutput out(fd, displayName, options.charset);
    if (indices.empty()) {
        out.buffer() += '\n'; // nothing to write is written as an empty sheet
    }
    for (std::size_t i = 0; i < indices.size(); ++i) {
        if (i > 0) {
            out.buffer() += "\f\n";
        }
        writeSheetText(*reader_, indices[i], out);
    }
    out.flush();
}

void Workbook::saveTo(const std::string& target, std::span<const std::size_t> indices,
                      const TextOptions& options)
{
    if (target.empty()) {
        throw Error(msg::cannotWrite(target, "no file name was given"));
    }
    // The workbook is only ever read: a target that is the workbook itself is refused before
    // anything could replace it.
    struct stat source {};
    struct stat existing {};
    if (::stat(path_.c_str(), &source) == 0 && ::stat(target.c_str(), &existing) == 0 &&
        source.st_dev == existing.st_dev && source.st_ino == existing.st_ino) {
        throw Error(msg::cannotWrite(target, "it is the workbook being converted"));
    }

    std::string temporary;
    int fd = -1;
    for (unsigned attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temporary = temporaryName(target, attempt);
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd < 0 && errno != EEXIST) {
            throw Error(msg::cannotWrite(target, msg::systemReason(errno)));
        }
    }
    if (fd < 0) {
        throw Error(msg::cannotWrite(target, msg::systemReason(EEXIST)));
    }
    try {
        writeText(indices, fd, target, options);
        if (::close(fd) != 0) {
            fd = -1;
            throw Error(msg::cannotWrite(target, msg::systemReason(errno)));
        }
        fd = -1;
        if (::rename(temporary.c_str(), target.c_str()) != 0) {
            throw Error(msg::cannotWrite(target, msg::systemReason(errno)));
        }
    } catch (...) {
        if (fd >= 0) {
            ::close(fd);
        }
        ::unlink(temporary.c_str());
        throw;
    }
}

} // namespace sheets
