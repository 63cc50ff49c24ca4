#include "sheets/xls/Text.h"

#include <cerrno>
#include <iconv.h>
#include <string>

#include "sheets/Iconv.h"

namespace sheets::xls {

void appendUtf8(std::string& out, std::uint32_t cp)
{
    if (cp < 0x80) {
        out += static_cast<char>(cp);
    } else if (cp < 0x800) {
        out += static_cast<char>(0xC0 | (cp >> 6));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        out += static_cast<char>(0xE0 | (cp >> 12));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (cp >> 18));
        out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (cp & 0x3F));
    }
}

void appendLatin1(std::string& out, const std::uint8_t* p, std::size_t n)
{
    for (std::size_t i = 0; i < n; ++i) {
        const std::uint8_t c = p[i];
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
}

void appendUtf16(std::string& out, const std::uint8_t* p, std::size_t units, char16_t& pending)
{
    for (std::size_t i = 0; i < units; ++i) {
        const auto u = static_cast<char16_t>(p[2 * i] | (p[2 * i + 1] << 8));
        if (pending != 0) {
            if (u >= 0xDC00 && u <= 0xDFFF) {
                appendUtf8(out, 0x10000 + ((pending - 0xD800u) << 10) + (u - 0xDC00u));
                pending = 0;
                continue;
            }
            appendUtf8(out, 0xFFFD);
            pending = 0;
        }
        if (u >= 0xD800 && u <= 0xDBFF) {
            pending = u;
        } else if (u >= 0xDC00 && u <= 0xDFFF) {
            appendUtf8(out, 0xFFFD);
        } else if (u < 0x80) {
            out += static_cast<char>(u);
        } else {
            appendUtf8(out, u);
        }
    }
}

void finishUtf16(std::string& out, char16_t& pending)
{
    if (pending != 0) {
        appendUtf8(out, 0xFFFD);
        pending = 0;
    }
}

namespace {

// The iconv name of a Windows code page number as the CODEPAGE record gives it.
std::string iconvName(unsigned cp)
{
    switch (cp) {
    case 367:
        return "ASCII";
    case 10000:
    case 32768:
        return "MACINTOSH";
    case 10007:
        return "MAC-CYRILLIC";
    case 10029:
        return "MAC-CENTRALEUROPE";
    case 10079:
        return "MAC-IS";
    case 32769:
        return "CP1252";
    case 1361:
        return "JOHAB";
    case 20866:
        return "KOI8-R";
    case 21866:
        return "KOI8-U";
    case 28591:
        return "ISO-8859-1";
    default:
        return "CP" + std::to_string(cp);
    }
}

bool isDoubleByte(unsigned cp)
{
    return cp == 932 || cp == 936 || cp == 949 || cp == 950 || cp == 1361;
}

} // namespace

CodePage::CodePage(unsigned codePage) : number_(codePage)
{
    // 1200 (UTF-16) in a BIFF5 file, or a code page iconv lacks: read bytes as Windows-1252,
    // the application's own default, rather than refuse the workbook.
    std::string name = iconvName(codePage);
    iconv_t cd = iconv_open("UTF-8", name.c_str());
    if (iconvFailed(cd)) {
        number_ = 1252;
        cd = iconv_open("UTF-8", "CP1252");
        if (iconvFailed(cd)) {
            cd = iconv_open("UTF-8", "ISO-8859-1");
        }
    }
    if (isDoubleByte(number_)) {
        iconv_ = cd;
        return;
    }
    for (unsigned b = 0; b < 256; ++b) {
        char in = static_cast<char>(b);
        char* inp = &in;
        std::size_t inLeft = 1;
        std::array<char, 8> buf{};
        char* outp = buf.data();
        std::size_t outLeft = buf.size();
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        const std::size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
        const std::size_t len = buf.size() - outLeft;
        std::array<char, 4>& slot = utf8_[b];
        if (r == static_cast<std::size_t>(-1) || len == 0 || len > 3) {
            // A byte the code page leaves undefined.
            slot = {3, '\xEF', '\xBF', '\xBD'};
        } else {
            slot[0] = static_cast<char>(len);
            for (std::size_t i = 0; i < len; ++i) {
                slot[1 + i] = buf[i];
            }
        }
    }
    iconv_close(cd);
    table_ = true;
}

CodePage::~CodePage()
{
    if (iconv_ != nullptr) {
        iconv_close(static_cast<iconv_t>(iconv_));
    }
}

void CodePage::append(std::string& out, const std::uint8_t* p, std::size_t n) const
{
    if (table_) {
        for (std::size_t i = 0; i < n; ++i) {
            const std::array<char, 4>& slot = utf8_[p[i]];
            out.append(slot.data() + 1, static_cast<std::size_t>(slot[0]));
        }
        return;
    }
    auto* cd = static_cast<iconv_t>(iconv_);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* inp = const_cast<char*>(reinterpret_cast<const char*>(p));
    std::size_t inLeft = n;
    std::array<char, 1024> buf{};
    while (inLeft > 0) {
        char* outp = buf.data();
        std::size_t outLeft = buf.size();
        const std::size_t r = iconv(cd, &inp, &inLeft, &outp, &outLeft);
        out.append(buf.data(), buf.size() - outLeft);
        if (r == static_cast<std::size_t>(-1) && errno != E2BIG) {
            // An invalid or cut-off sequence: show one replacement and go on after the byte.
            out += "\xEF\xBF\xBD";
            ++inp;
            --inLeft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
}

} // namespace sheets::xls
