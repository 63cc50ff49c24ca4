#include "sheets/TextOutput.h"

#include <cerrno>
#include <clocale>
#include <cstring>
#include <iconv.h>
#include <langinfo.h>
#include <locale.h>
#include <unistd.h>

#include "sheets/Error.h"
#include "sheets/Iconv.h"
#include "sheets/Messages.h"

namespace sheets {

namespace {

bool isAscii(std::string_view charset)
{
    return charset == "ANSI_X3.4-1968" || charset == "ASCII" || charset == "US-ASCII" ||
           charset == "646";
}

// The length of the UTF-8 sequence at text[i] if it is well formed, else 1.
std::size_t sequenceLength(const char* text, std::size_t size)
{
    const auto lead = static_cast<unsigned char>(text[0]);
    std::size_t length = 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4;
    }
    if (length > size) {
        return 1;
    }
    for (std::size_t i = 1; i < length; ++i) {
        if ((static_cast<unsigned char>(text[i]) & 0xC0) != 0x80) {
            return 1;
        }
    }
    return length;
}

} // namespace

const std::string& localeCharset()
{
    static const std::string charset = [] {
        std::string name;
        locale_t locale = newlocale(LC_CTYPE_MASK, "", static_cast<locale_t>(nullptr));
        if (locale != static_cast<locale_t>(nullptr)) {
            const char* codeset = nl_langinfo_l(CODESET, locale);
            name = codeset != nullptr ? codeset : "";
            freelocale(locale);
        }
        if (name.empty() || isAscii(name)) {
            name = "UTF-8";
        }
        return name;
    }();
    return charset;
}

bool isUtf8(std::string_view charset)
{
    std::string folded;
    for (char c : charset) {
        if (c != '-' && c != '_') {
            folded += static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c);
        }
    }
    return folded == "UTF8";
}

TextOutput::TextOutput(int fd, std::string displayPath, const std::string& charset)
    : fd_(fd), path_(std::move(displayPath))
{
    const std::string& target = charset.empty() ? localeCharset() : charset;
    if (!isUtf8(target) && !isAscii(target)) {
        const iconv_t cd = iconv_open(target.c_str(), "UTF-8");
        if (iconvFailed(cd)) {
            throw Error(
                msg::cannotWrite(path_, "the character set \"" + target + "\" is not supported"));
        }
        iconv_ = cd;
        // The charset's own question mark stands for what it cannot hold.
        char question[] = "?";
        char* in = question;
        std::size_t inLeft = 1;
        char out[16];
        char* outPtr = out;
        std::size_t outLeft = sizeof out;
        if (iconv(cd, &in, &inLeft, &outPtr, &outLeft) != static_cast<std::size_t>(-1)) {
            iconv(cd, nullptr, nullptr, &outPtr, &outLeft);
            replacement_.assign(out, outPtr);
        } else {
            replacement_ = "?";
        }
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
    } else if (isAscii(target)) {
        // Plain ASCII asked for by name: convert, so that nothing beyond it slips through.
        const iconv_t cd = iconv_open("ASCII", "UTF-8");
        if (!iconvFailed(cd)) {
            iconv_ = cd;
            replacement_ = "?";
        }
    }
    buffer_.reserve(kFlushAt + (64U << 10));
}

TextOutput::~TextOutput()
{
    if (iconv_ != nullptr) {
        iconv_close(static_cast<iconv_t>(iconv_));
    }
}

void TextOutput::writeAll(const char* data, std::size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(fd_, data, size);
        if (n < 0) {
            if (errno == EINTR) {
                continue;
            }
            throw Error(msg::cannotWrite(path_, msg::systemReason(errno)));
        }
        data += n;
        size -= static_cast<std::size_t>(n);
        written_ += static_cast<std::uint64_t>(n);
    }
}

void TextOutput::flush()
{
    if (buffer_.empty()) {
        return;
    }
    if (iconv_ == nullptr) {
        writeAll(buffer_.data(), buffer_.size());
        buffer_.clear();
        return;
    }
    auto* const cd = static_cast<iconv_t>(iconv_);
    converted_.resize(buffer_.size() * 2 + 64);
    char* in = buffer_.data();
    std::size_t inLeft = buffer_.size();
    std::size_t done = 0;
    bool reset = false; // the input is converted; what remains is the shift to the initial state
    for (;;) {
        char* out = converted_.data() + done;
        std::size_t outLeft = converted_.size() - done;
        const std::size_t result = reset ? iconv(cd, nullptr, nullptr, &out, &outLeft)
                                         : iconv(cd, &in, &inLeft, &out, &outLeft);
        done = static_cast<std::size_t>(out - converted_.data());
        if (result != static_cast<std::size_t>(-1)) {
            if (reset) {
                break;
            }
            reset = inLeft == 0;
            continue;
        }
        if (errno == E2BIG) {
            converted_.resize(converted_.size() * 2);
            continue;
        }
        if (reset) {
            break;
        }
        // EILSEQ or EINVAL: a character the charset cannot hold, or a stray byte.
        if (converted_.size() - done < replacement_.size()) {
            converted_.resize(converted_.size() * 2);
        }
        converted_.replace(done, replacement_.size(), replacement_);
        done += replacement_.size();
        const std::size_t skip = sequenceLength(in, inLeft);
        in += skip;
        inLeft -= skip;
        reset = inLeft == 0;
    }
    writeAll(converted_.data(), done);
    buffer_.clear();
}

std::uint64_t TextOutput::position()
{
    flush();
    return written_;
}

void TextOutput::rewind(std::uint64_t position)
{
    buffer_.clear();
    if (position == written_) {
        return;
    }
    if (::ftruncate(fd_, static_cast<off_t>(position)) != 0 ||
        ::lseek(fd_, static_cast<off_t>(position), SEEK_SET) < 0) {
        throw Error(msg::cannotWrite(path_, msg::systemReason(errno)));
    }
    written_ = position;
}

} // namespace sheets
