#include <algorithm>
#include <cstdio>
#include <string>

#include "sheets/Error.h"
#include "sheets/Messages.h"
#include "sheets/xls/Biff.h"

namespace sheets::xls {

namespace {

constexpr std::size_t kFirstChunk = 4096;
constexpr std::size_t kMaxChunk = std::size_t{256} * 1024;
// The largest record (4-byte header, 65535 bytes of data) must always fit behind the data still
// unread.
constexpr std::size_t kBufferSize = kMaxChunk + 4 + 0xFFFF;

// Records that are never encrypted, whatever FILEPASS says ([MS-XLS] 2.2.10).
bool isPlainRecord(std::uint16_t type)
{
    switch (type) {
    case rec::Bof:
    case rec::FilePass:
    case rec::UsrExcl:
    case rec::FileLock:
    case rec::InterfaceHdr:
    case rec::RrdInfo:
    case rec::RrdHead:
        return true;
    default:
        return false;
    }
}

} // namespace

RecordReader::RecordReader(const CfbStream& stream)
    : stream_(&stream),
      capacity_(static_cast<std::size_t>(std::min<std::uint64_t>(kBufferSize, stream.size())))
{
    buf_.reset(new std::uint8_t[std::max<std::size_t>(capacity_, 1)]);
    chunk_ = kFirstChunk;
}

void RecordReader::seek(std::uint64_t pos)
{
    // Bytes already handed out were decrypted in place, so with a decryptor only a jump forward
    // may reuse the buffer.
    const std::uint64_t reusableFrom = bufPos_ + (decryptor_ != nullptr ? cur_ : 0);
    if (pos >= reusableFrom && pos <= bufPos_ + len_) {
        cur_ = static_cast<std::size_t>(pos - bufPos_);
        return;
    }
    bufPos_ = std::min(pos, stream_->size());
    len_ = 0;
    cur_ = 0;
    // A jump usually reads a few records (a sheet's first ones); start small.
    chunk_ = kFirstChunk;
}

bool RecordReader::fill(std::size_t need)
{
    if (len_ - cur_ >= need) {
        return true;
    }
    if (cur_ > 0) {
        std::memmove(buf_.get(), buf_.get() + cur_, len_ - cur_);
        bufPos_ += cur_;
        len_ -= cur_;
        cur_ = 0;
    }
    const std::size_t want = std::min(capacity_ - len_, std::max(need - len_, chunk_));
    len_ += stream_->read(bufPos_ + len_, buf_.get() + len_, want);
    chunk_ = std::min(chunk_ * 2, kMaxChunk);
    return len_ >= need;
}

bool RecordReader::next(Record& r)
{
    if (!fill(4)) {
        // Fewer than four bytes left: padding after the last record, not a record.
        cur_ = len_;
        return false;
    }
    const std::uint8_t* h = buf_.get() + cur_;
    r.type = le16(h);
    r.size = le16(h + 2);
    r.pos = bufPos_ + cur_;
    if (!fill(4 + static_cast<std::size_t>(r.size))) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "%04X", static_cast<unsigned>(r.type));
        throw Error(msg::damaged(stream_->path(), "",
                                 std::string("record 0x") + hex + " at offset " +
                                     std::to_string(r.pos) +
                                     " runs past the end of the workbook stream"));
    }
    std::uint8_t* data = buf_.get() + cur_ + 4;
    r.data = data;
    cur_ += 4 + static_cast<std::size_t>(r.size);
    if (decryptor_ != nullptr && r.size > 0 && !isPlainRecord(r.type)) {
        // The position of a BoundSheet8 record in the stream is kept plain: readers use it to
        // find sheets before they can decrypt anything.
        const std::size_t skip = r.type == rec::BoundSheet ? std::min<std::size_t>(4, r.size) : 0;
        decryptor_->decrypt(r.pos + 4 + skip, data + skip, r.size - skip);
    }
    return true;
}

int RecordReader::peekType()
{
    if (!fill(4)) {
        return -1;
    }
    return le16(buf_.get() + cur_);
}

} // namespace sheets::xls
