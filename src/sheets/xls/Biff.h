#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "sheets/xls/CompoundFile.h"

// The record layer of the binary workbook formats ([MS-XLS]; BIFF5 and BIFF8): each record is a
// 2-byte type, a 2-byte length and that many bytes of data.
namespace sheets::xls {

namespace rec {
constexpr std::uint16_t Formula = 0x0006;
constexpr std::uint16_t Eof = 0x000A;
constexpr std::uint16_t DateMode = 0x0022;
constexpr std::uint16_t FilePass = 0x002F;
constexpr std::uint16_t Continue = 0x003C;
constexpr std::uint16_t Window1 = 0x003D;
constexpr std::uint16_t CodePage = 0x0042;
constexpr std::uint16_t WsBool = 0x0081;
constexpr std::uint16_t BoundSheet = 0x0085;
constexpr std::uint16_t MulRk = 0x00BD;
constexpr std::uint16_t MulBlank = 0x00BE;
constexpr std::uint16_t ObjProj = 0x00D3;
constexpr std::uint16_t RString = 0x00D6;
constexpr std::uint16_t Xf = 0x00E0;
constexpr std::uint16_t InterfaceHdr = 0x00E1;
constexpr std::uint16_t MergeCells = 0x00E5;
constexpr std::uint16_t Sst = 0x00FC;
constexpr std::uint16_t LabelSst = 0x00FD;
constexpr std::uint16_t RrdHead = 0x0138;
constexpr std::uint16_t UsrExcl = 0x0194;
constexpr std::uint16_t FileLock = 0x0195;
constexpr std::uint16_t RrdInfo = 0x0196;
constexpr std::uint16_t Dimensions = 0x0200;
constexpr std::uint16_t Blank = 0x0201;
constexpr std::uint16_t Number = 0x0203;
constexpr std::uint16_t Label = 0x0204;
constexpr std::uint16_t BoolErr = 0x0205;
constexpr std::uint16_t String = 0x0207;
constexpr std::uint16_t Rk = 0x027E;
constexpr std::uint16_t Format = 0x041E;
constexpr std::uint16_t Bof = 0x0809;
} // namespace rec

inline std::uint16_t le16(const std::uint8_t* p)
{
    return static_cast<std::uint16_t>(p[0] | (p[1] << 8));
}

inline std::uint32_t le32(const std::uint8_t* p)
{
    return static_cast<std::uint32_t>(p[0]) | (static_cast<std::uint32_t>(p[1]) << 8) |
           (static_cast<std::uint32_t>(p[2]) << 16) | (static_cast<std::uint32_t>(p[3]) << 24);
}

inline double leDouble(const std::uint8_t* p)
{
    const std::uint64_t bits = le32(p) | (static_cast<std::uint64_t>(le32(p + 4)) << 32);
    double d = 0;
    std::memcpy(&d, &bits, sizeof d);
    return d;
}

// The value of an RkNumber: 30 bits of either a signed integer or the top of a double, maybe
// to be divided by 100.
inline double rkValue(std::uint32_t rk)
{
    double d = 0;
    if ((rk & 0x02) != 0) {
        d = static_cast<double>(static_cast<std::int32_t>(rk) >> 2);
    } else {
        const std::uint64_t bits = static_cast<std::uint64_t>(rk & 0xFFFFFFFCu) << 32;
        std::memcpy(&d, &bits, sizeof d);
    }
    if ((rk & 0x01) != 0) {
        d /= 100;
    }
    return d;
}

struct Record {
    std::uint16_t type = 0;
    std::uint16_t size = 0;
    const std::uint8_t* data = nullptr; // valid until the next call of the reader
    std::uint64_t pos = 0;              // stream offset of the record's header
};

// Turns encrypted record data back into plain bytes. The key stream depends only on the byte's
// offset in the workbook stream, so records may be read in any order.
class Decryptor {
public:
    virtual ~Decryptor() = default;
    virtual void decrypt(std::uint64_t streamPos, std::uint8_t* data, std::size_t n) = 0;
};

// Reads records one after the other from a stream through one reusable buffer: no allocation
// per record, and the data of a record is contiguous however the container scattered it.
class RecordReader {
public:
    explicit RecordReader(const CfbStream& stream);

    void setDecryptor(Decryptor* decryptor) { decryptor_ = decryptor; }
    void seek(std::uint64_t pos);
    std::uint64_t position() const { return bufPos_ + cur_; }
    std::uint64_t streamSize() const { return stream_->size(); }

    // The next record, or false at the end of the stream. Throws sheets::Error when a record
    // runs past the end of the stream.
    bool next(Record& r);
    // The type of the next record without reading it; -1 at the end of the stream.
    int peekType();

private:
    bool fill(std::size_t need);

    const CfbStream* stream_;
    Decryptor* decryptor_ = nullptr;
    // Never larger than the stream, and left uninitialised: a small workbook costs little.
    std::unique_ptr<std::uint8_t[]> buf_;
    std::size_t capacity_ = 0;
    std::uint64_t bufPos_ = 0; // stream offset of buf_[0]
    std::size_t len_ = 0;      // valid bytes in buf_
    std::size_t cur_ = 0;      // next unread byte in buf_
    std::size_t chunk_ = 0;    // how much the next fill asks for; grows while reading on
};

} // namespace sheets::xls
