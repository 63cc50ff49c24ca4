#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>

namespace sheets::xls {

// Appends code point cp as UTF-8.
void appendUtf8(std::string& out, std::uint32_t cp);

// BIFF8 "compressed" characters: the low bytes of UTF-16 code units, that is ISO-8859-1.
void appendLatin1(std::string& out, const std::uint8_t* p, std::size_t n);

// UTF-16LE code units to UTF-8. A string may be split between records in the middle of a
// surrogate pair, so a high surrogate at the end waits in `pending` for the next call; a half
// without its partner becomes U+FFFD.
void appendUtf16(std::string& out, const std::uint8_t* p, std::size_t units, char16_t& pending);
void finishUtf16(std::string& out, char16_t& pending);

// The byte strings of BIFF5 in the workbook's code page (its CODEPAGE record). A single-byte
// code page is turned into a table once; double-byte ones go through iconv string by string.
class CodePage {
public:
    explicit CodePage(unsigned codePage = 1252);
    ~CodePage();
    CodePage(const CodePage&) = delete;
    CodePage& operator=(const CodePage&) = delete;

    void append(std::string& out, const std::uint8_t* p, std::size_t n) const;
    unsigned number() const { return number_; }

private:
    unsigned number_;
    void* iconv_ = nullptr; // iconv_t, only for double-byte code pages
    bool table_ = false;
    std::array<std::array<char, 4>, 256> utf8_{}; // per byte: length, then up to 3 bytes
};

} // namespace sheets::xls
