#include "sheets/xlsx/Xml.h"

#include <expat.h>

#include <cerrno>
#include <cstring>
#include <exception>
#include <iconv.h>
#include <random>

#include "sheets/Iconv.h"
#include "sheets/xlsx/ZipPackage.h"

namespace sheets::xlsx {

bool xmlTrue(const char* value)
{
    return value != nullptr && (std::strcmp(value, "1") == 0 || std::strcmp(value, "true") == 0 ||
                                std::strcmp(value, "on") == 0);
}

namespace {

int hexDigit(char c)
{
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    if (c >= 'A' && c <= 'F') {
        return c - 'A' + 10;
    }
    return -1;
}

// The code unit of "_xHHHH_" at text[i], or -1.
int escapeAt(std::string_view text, std::size_t i)
{
    if (i + 7 > text.size() || text[i] != '_' || text[i + 1] != 'x' || text[i + 6] != '_') {
        return -1;
    }
    int unit = 0;
    for (std::size_t k = 2; k < 6; ++k) {
        const int d = hexDigit(text[i + k]);
        if (d < 0) {
            return -1;
        }
        unit = unit * 16 + d;
    }
    return unit;
}

} // namespace

std::size_t encodeUtf8(char32_t c, char (&out)[4])
{
    if (c < 0x80) {
        out[0] = static_cast<char>(c);
        return 1;
    }
    if (c < 0x800) {
        out[0] = static_cast<char>(0xC0 | (c >> 6));
        out[1] = static_cast<char>(0x80 | (c & 0x3F));
        return 2;
    }
    if (c < 0x10000) {
        out[0] = static_cast<char>(0xE0 | (c >> 12));
        out[1] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out[2] = static_cast<char>(0x80 | (c & 0x3F));
        return 3;
    }
    out[0] = static_cast<char>(0xF0 | (c >> 18));
    out[1] = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out[2] = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out[3] = static_cast<char>(0x80 | (c & 0x3F));
    return 4;
}

void appendUnescaped(std::string_view text, std::string& out)
{
    std::size_t done = 0;
    std::size_t i = text.find("_x");
    while (i != std::string_view::npos) {
        const int unit = escapeAt(text, i);
        if (unit < 0) {
            i = text.find("_x", i + 1);
            continue;
        }
        out.append(text.substr(done, i - done));
        std::size_t next = i + 7;
        char32_t c = static_cast<char32_t>(unit);
        if (unit >= 0xD800 && unit <= 0xDBFF) {
            // A character beyond the BMP comes as two escaped UTF-16 halves.
            const int low = escapeAt(text, next);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                c = 0x10000 + ((static_cast<char32_t>(unit) - 0xD800) << 10) +
                    (static_cast<char32_t>(low) - 0xDC00);
                next += 7;
            } else {
                c = 0xFFFD;
            }
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
            c = 0xFFFD;
        }
        char bytes[4];
        out.append(bytes, encodeUtf8(c, bytes));
        done = next;
        i = text.find("_x", next);
    }
    out.append(text.substr(done));
}

// Expat salts its hash tables against hash flooding with fresh entropy for every parser, a
// system call each time; one random salt per process keeps the protection without the cost.
unsigned long processSalt()
{
    static const unsigned long salt = [] {
        std::random_device device;
        const unsigned long value =
            (static_cast<unsigned long>(device()) << 16) ^ static_cast<unsigned long>(device());
        return value != 0 ? value : 1;
    }();
    return salt;
}

// Expat reads UTF-8, UTF-16, ISO-8859-1 and ASCII by itself. Some writers declare a single-byte
// code page such as windows-1252; iconv supplies its table. Multi-byte code pages stay refused
// ("unknown encoding").
int XMLCALL singleByteEncoding(void* /*data*/, const XML_Char* name, XML_Encoding* info)
{
    const iconv_t cd = iconv_open("UTF-32LE", name);
    if (iconvFailed(cd)) {
        return XML_STATUS_ERROR;
    }
    bool usable = true;
    for (int b = 0; b < 256 && usable; ++b) {
        char in = static_cast<char>(b);
        char* inPtr = &in;
        std::size_t inLeft = 1;
        unsigned char out[4];
        char* outPtr = reinterpret_cast<char*>(out);
        std::size_t outLeft = sizeof out;
        iconv(cd, nullptr, nullptr, nullptr, nullptr);
        const std::size_t result = iconv(cd, &inPtr, &inLeft, &outPtr, &outLeft);
        if (result == static_cast<std::size_t>(-1)) {
            // A lead byte of a multi-byte code page is incomplete on its own.
            usable = errno != EINVAL;
            info->map[b] = -1;
            continue;
        }
        info->map[b] = out[0] | (out[1] << 8) | (out[2] << 16) | (out[3] << 24);
        // The markup must read as ASCII.
        usable = b >= 0x80 || info->map[b] == b;
    }
    iconv_close(cd);
    info->data = nullptr;
    info->convert = nullptr;
    info->release = nullptr;
    return usable ? XML_STATUS_OK : XML_STATUS_ERROR;
}

class XmlRun final : XmlDriver {
public:
    XmlRun(ZipPackage& package, std::string_view part, XmlHandler& handler)
        : package_(package), part_(part), handler_(handler), parser_(XML_ParserCreate(nullptr))
    {
        if (parser_ == nullptr) {
            throw std::bad_alloc();
        }
        XML_SetHashSalt(parser_, processSalt());
        XML_SetUserData(parser_, this);
        XML_SetElementHandler(parser_, &XmlRun::onStart, &XmlRun::onEnd);
        XML_SetCharacterDataHandler(parser_, &XmlRun::onText);
        XML_SetUnknownEncodingHandler(parser_, &singleByteEncoding, nullptr);
        // No external entities and no external DTD: parameter entities are never parsed.
        XML_SetParamEntityParsing(parser_, XML_PARAM_ENTITY_PARSING_NEVER);
        attach(handler_, this);
    }
    ~XmlRun()
    {
        attach(handler_, nullptr);
        XML_ParserFree(parser_);
    }
    XmlRun(const XmlRun&) = delete;
    XmlRun& operator=(const XmlRun&) = delete;

    void run(bool background)
    {
        auto source = package_.stream(part_, background);
        for (;;) {
            const auto chunk = source->next();
            const bool last = chunk.empty();
            const auto status =
                XML_Parse(parser_, chunk.data(), static_cast<int>(chunk.size()), last ? 1 : 0);
            if (status != XML_STATUS_OK) {
                finishFailed();
            }
            if (last) {
                return;
            }
        }
    }

    void fail(std::string detail) override
    {
        if (failure_.empty() && !thrown_) {
            failure_ = std::move(detail);
            failureLine_ = line();
        }
        XML_StopParser(parser_, XML_FALSE);
    }

    std::uint64_t line() const { return XML_GetCurrentLineNumber(parser_); }

private:
    [[noreturn]] void finishFailed()
    {
        if (thrown_) {
            std::rethrow_exception(thrown_);
        }
        if (!failure_.empty()) {
            package_.damaged("", where(failureLine_) + ": " + failure_);
        }
        package_.damaged("", where(line()) + ": " + XML_ErrorString(XML_GetErrorCode(parser_)));
    }

    std::string where(std::uint64_t line) const
    {
        return package_.entryName(part_) + ", line " + std::to_string(line);
    }

    void caught()
    {
        if (!thrown_) {
            thrown_ = std::current_exception();
        }
        XML_StopParser(parser_, XML_FALSE);
    }

    // Expat is C: nothing may unwind through it, so the trampolines park exceptions and stop.
    static void XMLCALL onStart(void* data, const XML_Char* name, const XML_Char** atts)
    {
        auto* self = static_cast<XmlRun*>(data);
        try {
            self->handler_.startElement(localName(name), atts);
        } catch (...) {
            self->caught();
        }
    }
    static void XMLCALL onEnd(void* data, const XML_Char* name)
    {
        auto* self = static_cast<XmlRun*>(data);
        try {
            self->handler_.endElement(localName(name));
        } catch (...) {
            self->caught();
        }
    }
    static void XMLCALL onText(void* data, const XML_Char* text, int size)
    {
        auto* self = static_cast<XmlRun*>(data);
        try {
            self->handler_.characters({text, static_cast<std::size_t>(size)});
        } catch (...) {
            self->caught();
        }
    }

    ZipPackage& package_;
    std::string_view part_;
    XmlHandler& handler_;
    XML_Parser parser_;
    std::string failure_;
    std::uint64_t failureLine_ = 0;
    std::exception_ptr thrown_;
};

void XmlDriver::attach(XmlHandler& handler, XmlDriver* driver)
{
    handler.driver_ = driver;
}

void XmlHandler::fail(std::string detail)
{
    if (driver_ != nullptr) {
        driver_->fail(std::move(detail));
    }
}

void parsePart(ZipPackage& package, std::string_view part, XmlHandler& handler, bool background)
{
    XmlRun run(package, part, handler);
    run.run(background);
}

} // namespace sheets::xlsx
