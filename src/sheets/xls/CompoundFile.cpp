#include "sheets/xls/CompoundFile.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "sheets/Error.h"
#include "sheets/Messages.h"

namespace sheets::xls {

namespace {

constexpr std::uint32_t kMaxRegSect = 0xFFFFFFFA;
constexpr std::uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr std::uint32_t kNoStream = 0xFFFFFFFF;
constexpr std::uint32_t kMiniStreamCutoff = 4096;
constexpr std::uint32_t kMiniSectorSize = 64;
constexpr std::size_t kHeaderSize = 512;
constexpr std::size_t kHeaderDifatEntries = 109;
constexpr std::size_t kDirEntrySize = 128;
constexpr std::array<std::uint8_t, 8> kSignature = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};

std::uint16_t le16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

std::uint32_t le32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

std::uint64_t le64(const std::uint8_t* p)
{
    return le32(p) | (static_cast<std::uint64_t>(le32(p + 4)) << 32);
}

std::string utf8Name(const std::u16string& name)
{
    std::string out;
    for (const char16_t c : name) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            // Names never need surrogate pairs in practice; a lone half shows as U+FFFD.
            const char16_t u = (c >= 0xD800 && c <= 0xDFFF) ? char16_t(0xFFFD) : c;
            out += static_cast<char>(0xE0 | (u >> 12));
            out += static_cast<char>(0x80 | ((u >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (u & 0x3F));
        }
    }
    return out;
}

std::string streamLabel(const CompoundFile::Entry& e)
{
    return "stream \"" + utf8Name(e.name) + "\"";
}

bool sameName(const std::u16string& name, std::string_view ascii)
{
    if (name.size() != ascii.size()) {
        return false;
    }
    for (std::size_t i = 0; i < name.size(); ++i) {
        char16_t a = name[i];
        char16_t b = static_cast<unsigned char>(ascii[i]);
        if (a >= u'a' && a <= u'z') {
            a = static_cast<char16_t>(a - 32);
        }
        if (b >= u'a' && b <= u'z') {
            b = static_cast<char16_t>(b - 32);
        }
        if (a != b) {
            return false;
        }
    }
    return true;
}

// Appends a run of bytes to an extent list, merging it with the previous run when the two
// touch in the file (the usual case: writers lay streams out in order).
void addExtent(std::vector<CfbStream::Extent>& extents, std::uint64_t streamPos,
               std::uint64_t filePos, std::uint32_t length)
{
    if (!extents.empty()) {
        CfbStream::Extent& last = extents.back();
        if (last.filePos + last.length == filePos && last.length <= 0x7FFFFFFFu - length) {
            last.length += length;
            return;
        }
    }
    extents.push_back({streamPos, filePos, length});
}

} // namespace

std::size_t CfbStream::read(std::uint64_t pos, std::uint8_t* dst, std::size_t n) const
{
    if (pos >= size_ || n == 0) {
        return 0;
    }
    n = static_cast<std::size_t>(std::min<std::uint64_t>(n, size_ - pos));
    auto it = std::upper_bound(extents_.begin(), extents_.end(), pos,
                               [](std::uint64_t p, const Extent& e) { return p < e.streamPos; });
    // The extents cover [0, size_) without gaps, so the one before upper_bound holds pos.
    --it;
    std::size_t done = 0;
    while (done < n && it != extents_.end()) {
        const std::uint64_t inExtent = pos - it->streamPos;
        const std::size_t take =
            static_cast<std::size_t>(std::min<std::uint64_t>(n - done, it->length - inExtent));
        source_->read(it->filePos + inExtent, dst + done, take);
        done += take;
        pos += take;
        ++it;
    }
    return done;
}

std::uint64_t CfbStream::filePosition(std::uint64_t pos) const
{
    auto it = std::upper_bound(extents_.begin(), extents_.end(), pos,
                               [](std::uint64_t p, const Extent& e) { return p < e.streamPos; });
    --it;
    return it->filePos + (pos - it->streamPos);
}

void CompoundFile::damaged(const std::string& what) const
{
    throw Error(msg::damaged(source_->path(), "", what));
}

CompoundFile::CompoundFile(std::unique_ptr<ByteSource> source) : source_(std::move(source))
{
    fileSize_ = source_->size();
    readHeader();
    readFat();
    readDirectory();
}

CompoundFile::~CompoundFile() = default;

void CompoundFile::notCompound() const
{
    throw Error(
        msg::cannotOpen(source_->path(), "it is not a compound file, so not an .xls workbook"));
}

void CompoundFile::readHeader()
{
    std::array<std::uint8_t, kHeaderSize> h{};
    if (fileSize_ < kHeaderSize) {
        if (fileSize_ >= kSignature.size()) {
            source_->read(0, h.data(), kSignature.size());
            if (std::memcmp(h.data(), kSignature.data(), kSignature.size()) == 0) {
                damaged("the compound file is cut short inside its header");
            }
        }
        notCompound();
    }
    source_->read(0, h.data(), h.size());
    if (std::memcmp(h.data(), kSignature.data(), kSignature.size()) != 0) {
        notCompound();
    }
    if (le16(h.data() + 28) != 0xFFFE) {
        damaged("the compound file header has an unknown byte order mark");
    }
    sectorShift_ = le16(h.data() + 30);
    if (sectorShift_ != 9 && sectorShift_ != 12) {
        damaged("the compound file header gives an invalid sector size (2^" +
                std::to_string(sectorShift_) + " bytes)");
    }
    if (le16(h.data() + 32) != 6) {
        damaged("the compound file header gives an invalid mini sector size");
    }
    version4_ = le16(h.data() + 26) >= 4;
    sectorSize_ = 1u << sectorShift_;
    // Sector n starts at (n + 1) * sectorSize_: the header fills sector -1.
    sectorCount_ =
        fileSize_ > sectorSize_ ? (fileSize_ - sectorSize_ + sectorSize_ - 1) >> sectorShift_ : 0;
    fatSectors_ = le32(h.data() + 44);
    firstDirSector_ = le32(h.data() + 48);
    firstMiniFatSector_ = le32(h.data() + 60);
    miniFatSectors_ = le32(h.data() + 64);
    firstDifatSector_ = le32(h.data() + 68);
    difatSectors_ = le32(h.data() + 72);
    headerDifat_.resize(kHeaderDifatEntries);
    for (std::size_t i = 0; i < kHeaderDifatEntries; ++i) {
        headerDifat_[i] = le32(h.data() + 76 + 4 * i);
    }
}

void CompoundFile::readFat()
{
    if (fatSectors_ == 0 || fatSectors_ > sectorCount_) {
        damaged("the compound file header claims " + std::to_string(fatSectors_) +
                " allocation table sectors in a file of " + std::to_string(sectorCount_) +
                " sectors");
    }
    std::vector<std::uint32_t> fatIds;
    fatIds.reserve(fatSectors_);
    for (std::size_t i = 0; i < kHeaderDifatEntries && fatIds.size() < fatSectors_; ++i) {
        fatIds.push_back(headerDifat_[i]);
    }
    // The rest of the list lives in a chain of DIFAT sectors, each ending with the next one's id.
    std::vector<std::uint8_t> buf(sectorSize_);
    const std::uint32_t perSector = sectorSize_ / 4 - 1;
    std::uint32_t difat = firstDifatSector_;
    std::vector<bool> seen;
    while (fatIds.size() < fatSectors_) {
        if (difat >= sectorCount_ || difat > kMaxRegSect) {
            damaged("the list of allocation table sectors is broken at sector " +
                    std::to_string(difat) + " (" + std::to_string(fatIds.size()) + " of " +
                    std::to_string(fatSectors_) + " found)");
        }
        if (seen.empty()) {
            seen.resize(sectorCount_);
        }
        if (seen[difat]) {
            damaged("the list of allocation table sectors loops back to sector " +
                    std::to_string(difat));
        }
        seen[difat] = true;
        const std::uint64_t off = (static_cast<std::uint64_t>(difat) + 1) << sectorShift_;
        if (off + sectorSize_ > fileSize_) {
            damaged("the list of allocation table sectors runs past the end of the file");
        }
        source_->read(off, buf.data(), sectorSize_);
        for (std::uint32_t i = 0; i < perSector && fatIds.size() < fatSectors_; ++i) {
            fatIds.push_back(le32(buf.data() + 4 * std::size_t{i}));
        }
        difat = le32(buf.data() + 4 * std::size_t{perSector});
    }

    fat_.resize(static_cast<std::size_t>(fatSectors_) * (sectorSize_ / 4));
    for (std::size_t i = 0; i < fatIds.size(); ++i) {
        const std::uint32_t id = fatIds[i];
        const std::uint64_t off = (static_cast<std::uint64_t>(id) + 1) << sectorShift_;
        if (id > kMaxRegSect || id >= sectorCount_ || off + sectorSize_ > fileSize_) {
            damaged("allocation table sector " + std::to_string(i) + " lies outside the file");
        }
        source_->read(off, buf.data(), sectorSize_);
        for (std::uint32_t k = 0; k < sectorSize_ / 4; ++k) {
            fat_[i * (sectorSize_ / 4) + k] = le32(buf.data() + 4 * std::size_t{k});
        }
    }
}

std::vector<std::uint32_t> CompoundFile::walkChain(std::uint32_t start, std::uint64_t maxSectors,
                                                   const std::string& what) const
{
    std::vector<std::uint32_t> chain;
    if (visited_.size() != fat_.size()) {
        visited_.assign(fat_.size(), false);
    }
    std::uint32_t sector = start;
    while (chain.size() < maxSectors && sector != kEndOfChain) {
        if (sector > kMaxRegSect) {
            damaged("the sector chain of " + what + " is broken after " +
                    std::to_string(chain.size()) + " sectors");
        }
        if (sector >= fat_.size() || sector >= sectorCount_) {
            damaged("the sector chain of " + what + " points outside the file (sector " +
                    std::to_string(sector) + ")");
        }
        if (visited_[sector]) {
            for (const std::uint32_t s : chain) {
                visited_[s] = false;
            }
            damaged("the sector chain of " + what + " loops back to sector " +
                    std::to_string(sector));
        }
        visited_[sector] = true;
        chain.push_back(sector);
        sector = fat_[sector];
    }
    for (const std::uint32_t s : chain) {
        visited_[s] = false;
    }
    return chain;
}

void CompoundFile::readDirectory()
{
    const std::vector<std::uint32_t> chain =
        walkChain(firstDirSector_, sectorCount_, "the directory");
    if (chain.empty()) {
        damaged("the compound file has no directory");
    }
    std::vector<std::uint8_t> buf(sectorSize_);
    for (const std::uint32_t sector : chain) {
        const std::uint64_t off = (static_cast<std::uint64_t>(sector) + 1) << sectorShift_;
        if (off + sectorSize_ > fileSize_) {
            damaged("the directory runs past the end of the file");
        }
        source_->read(off, buf.data(), sectorSize_);
        for (std::size_t at = 0; at + kDirEntrySize <= sectorSize_; at += kDirEntrySize) {
            const std::uint8_t* p = buf.data() + at;
            Entry e;
            const std::uint8_t type = p[66];
            switch (type) {
            case 0:
                e.type = EntryType::Empty;
                break;
            case 1:
                e.type = EntryType::Storage;
                break;
            case 2:
                e.type = EntryType::Stream;
                break;
            case 5:
                e.type = EntryType::Root;
                break;
            default:
                e.type = EntryType::Other;
                break;
            }
            const std::size_t nameBytes = std::min<std::size_t>(le16(p + 64), 64);
            for (std::size_t i = 0; i + 1 < nameBytes; i += 2) {
                const char16_t c = le16(p + i);
                if (c == 0) {
                    break;
                }
                e.name += c;
            }
            e.left = le32(p + 68);
            e.right = le32(p + 72);
            e.child = le32(p + 76);
            e.start = le32(p + 116);
            // Version 3 files may leave garbage in the high half of the size.
            e.size = version4_ ? le64(p + 120) : le32(p + 120);
            entries_.push_back(std::move(e));
        }
    }
    if (entries_.front().type != EntryType::Root) {
        damaged("the compound file's directory does not start with its root entry");
    }
}

void CompoundFile::readMiniFat()
{
    if (!miniFat_.empty() || miniFatSectors_ == 0) {
        return;
    }
    const std::vector<std::uint32_t> chain =
        walkChain(firstMiniFatSector_, miniFatSectors_, "the mini allocation table");
    std::vector<std::uint8_t> buf(sectorSize_);
    for (const std::uint32_t sector : chain) {
        const std::uint64_t off = (static_cast<std::uint64_t>(sector) + 1) << sectorShift_;
        if (off + sectorSize_ > fileSize_) {
            damaged("the mini allocation table runs past the end of the file");
        }
        source_->read(off, buf.data(), sectorSize_);
        for (std::uint32_t k = 0; k < sectorSize_ / 4; ++k) {
            miniFat_.push_back(le32(buf.data() + 4 * std::size_t{k}));
        }
    }
}

std::vector<std::uint32_t> CompoundFile::rootChildIndexes() const
{
    // The children of a storage form a tree through the left and right sibling links. Walk it
    // with an explicit stack and refuse to visit an entry twice, so that a damaged tree can
    // neither loop nor recurse without end.
    std::vector<std::uint32_t> out;
    std::vector<bool> seen(entries_.size());
    std::vector<std::uint32_t> stack;
    stack.push_back(entries_.front().child);
    while (!stack.empty()) {
        const std::uint32_t i = stack.back();
        stack.pop_back();
        if (i == kNoStream || i >= entries_.size() || seen[i]) {
            continue;
        }
        seen[i] = true;
        out.push_back(i);
        stack.push_back(entries_[i].right);
        stack.push_back(entries_[i].left);
    }
    return out;
}

const CompoundFile::Entry* CompoundFile::rootChild(std::string_view asciiName) const
{
    for (const std::uint32_t i : rootChildIndexes()) {
        if (sameName(entries_[i].name, asciiName)) {
            return &entries_[i];
        }
    }
    return nullptr;
}

std::vector<std::string> CompoundFile::rootChildNames() const
{
    std::vector<std::string> names;
    for (const std::uint32_t i : rootChildIndexes()) {
        names.push_back(utf8Name(entries_[i].name));
    }
    return names;
}

CfbStream CompoundFile::openStream(const Entry& entry) const
{
    const std::string what = streamLabel(entry);
    if (entry.size > fileSize_) {
        damaged("the " + what + " claims " + std::to_string(entry.size) +
                " bytes, more than the whole file holds");
    }
    std::vector<CfbStream::Extent> extents;
    if (entry.size == 0) {
        return {source_.get(), std::move(extents), 0};
    }
    if (entry.size >= kMiniStreamCutoff || entry.type == EntryType::Root) {
        const std::uint64_t needed = (entry.size + sectorSize_ - 1) >> sectorShift_;
        const std::vector<std::uint32_t> chain = walkChain(entry.start, needed, "the " + what);
        if (chain.size() < needed) {
            damaged("the " + what + " ends after " + std::to_string(chain.size()) + " of its " +
                    std::to_string(needed) + " sectors");
        }
        std::uint64_t pos = 0;
        for (const std::uint32_t sector : chain) {
            const std::uint64_t off = (static_cast<std::uint64_t>(sector) + 1) << sectorShift_;
            const auto len =
                static_cast<std::uint32_t>(std::min<std::uint64_t>(sectorSize_, entry.size - pos));
            if (off + len > fileSize_) {
                damaged("the " + what + " runs past the end of the file");
            }
            addExtent(extents, pos, off, len);
            pos += len;
        }
        return {source_.get(), std::move(extents), entry.size};
    }

    // A small stream lives in 64-byte sectors inside the root entry's stream.
    const_cast<CompoundFile*>(this)->readMiniFat();
    const CfbStream mini = openStream(entries_.front());
    const std::uint64_t needed = (entry.size + kMiniSectorSize - 1) / kMiniSectorSize;
    std::vector<bool> seen(miniFat_.size());
    std::uint32_t sector = entry.start;
    std::uint64_t pos = 0;
    for (std::uint64_t n = 0; n < needed; ++n) {
        if (sector >= miniFat_.size()) {
            damaged("the mini sector chain of the " + what + " is broken after " +
                    std::to_string(n) + " sectors");
        }
        if (seen[sector]) {
            damaged("the mini sector chain of the " + what + " loops back to mini sector " +
                    std::to_string(sector));
        }
        seen[sector] = true;
        const auto len =
            static_cast<std::uint32_t>(std::min<std::uint64_t>(kMiniSectorSize, entry.size - pos));
        const std::uint64_t miniPos = static_cast<std::uint64_t>(sector) * kMiniSectorSize;
        if (miniPos + len > mini.size()) {
            damaged("the " + what + " lies outside the mini stream");
        }
        // A mini sector never straddles two big sectors (64 divides 512), so one lookup
        // finds all of it.
        const std::uint64_t filePos = mini.filePosition(miniPos);
        addExtent(extents, pos, filePos, len);
        pos += len;
        sector = miniFat_[sector];
    }
    return {source_.get(), std::move(extents), entry.size};
}

} // namespace sheets::xls
