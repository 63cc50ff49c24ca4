#include "Floor.h"

#include <expat.h>
#include <zip.h>

#include <chrono>
#include <memory>
#include <stdexcept>
#include <vector>

namespace bench {

namespace {

struct Archive {
    zip_t* zip = nullptr;
    explicit Archive(const std::string& path)
    {
        int error = 0;
        zip = zip_open(path.c_str(), ZIP_RDONLY, &error);
        if (zip == nullptr) {
            throw std::runtime_error(path + ": not a zip archive");
        }
    }
    ~Archive() { zip_discard(zip); }
    Archive(const Archive&) = delete;
    Archive& operator=(const Archive&) = delete;
};

} // namespace

std::string largestSheetPart(const std::string& path)
{
    Archive archive(path);
    std::string best;
    zip_uint64_t bestSize = 0;
    const zip_int64_t count = zip_get_num_entries(archive.zip, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        zip_stat_t info;
        if (zip_stat_index(archive.zip, static_cast<zip_uint64_t>(i), 0, &info) != 0) {
            continue;
        }
        const std::string name = info.name;
        if (name.find("worksheets/") != std::string::npos &&
            (best.empty() || info.size > bestSize)) {
            best = name;
            bestSize = info.size;
        }
    }
    if (best.empty()) {
        throw std::runtime_error(path + ": no worksheet part");
    }
    return best;
}

FloorResult runFloor(const std::string& path, const std::string& part)
{
    const auto start = std::chrono::steady_clock::now();
    Archive archive(path);
    zip_file_t* file = zip_fopen(archive.zip, part.c_str(), 0);
    if (file == nullptr) {
        throw std::runtime_error(path + ": no part " + part);
    }
    XML_Parser parser = XML_ParserCreate(nullptr);
    std::vector<char> buffer(std::size_t{256} * 1024);
    FloorResult result;
    bool ok = true;
    for (;;) {
        const zip_int64_t n = zip_fread(file, buffer.data(), buffer.size());
        if (n < 0) {
            ok = false;
            break;
        }
        result.bytes += static_cast<std::uint64_t>(n);
        if (XML_Parse(parser, buffer.data(), static_cast<int>(n), n == 0 ? 1 : 0) !=
            XML_STATUS_OK) {
            ok = false;
            break;
        }
        if (n == 0) {
            break;
        }
    }
    XML_ParserFree(parser);
    zip_fclose(file);
    if (!ok) {
        throw std::runtime_error(path + ": " + part + " cannot be read");
    }
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return result;
}

} // namespace bench
