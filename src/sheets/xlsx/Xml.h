#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace sheets::xlsx {

class ZipPackage;
class XmlHandler;

// An element's name without its namespace prefix: "x:c" -> "c". The packages we read use the
// transitional and the Strict namespaces alike, with or without prefixes; the local names are
// what tell the elements apart inside the parts we read.
inline const char* localName(const char* name)
{
    const char* local = name;
    for (const char* p = name; *p != '\0'; ++p) {
        if (*p == ':') {
            local = p + 1;
        }
    }
    return local;
}

// name == literal, without strlen: it stops at the first difference, so it never reads past the
// end of a shorter name.
template <std::size_t N> inline bool named(const char* name, const char (&literal)[N])
{
    for (std::size_t i = 0; i < N; ++i) {
        if (name[i] != literal[i]) {
            return false;
        }
    }
    return true;
}

// The value of the attribute with this local name, or nullptr.
template <std::size_t N> inline const char* attribute(const char** atts, const char (&local)[N])
{
    for (; atts[0] != nullptr; atts += 2) {
        if (named(localName(atts[0]), local)) {
            return atts[1];
        }
    }
    return nullptr;
}

// xsd:boolean as the parts spell it: "1", "true" (and, leniently, "on").
bool xmlTrue(const char* value);

// Unescapes the _xHHHH_ notation that ST_Xstring uses for characters XML cannot hold
// ("_x000D_" is a carriage return, "_x005F_" a literal underscore). Appends to out.
void appendUnescaped(std::string_view text, std::string& out);

// The UTF-8 form of a Unicode scalar value, written to out; returns its length (1 to 4).
std::size_t encodeUtf8(char32_t c, char (&out)[4]);

// Whatever reads a part for a handler: expat, or the worksheet scanner (XmlScanner.h).
class XmlDriver {
public:
    // The handler met something it cannot accept.
    virtual void fail(std::string detail) = 0;

protected:
    XmlDriver() = default;
    ~XmlDriver() = default;
    XmlDriver(const XmlDriver&) = default;
    XmlDriver& operator=(const XmlDriver&) = default;
    static void attach(XmlHandler& handler, XmlDriver* driver);
};

class XmlHandler {
public:
    virtual ~XmlHandler() = default;
    // Names come without their namespace prefix; compare them with named(). Attributes come as
    // qualified name and value pairs, ended by a null pointer. Text may come in any number of
    // pieces, as a parser happens to cut it.
    virtual void startElement(const char* name, const char** atts) = 0;
    virtual void endElement(const char* name) = 0;
    virtual void characters(std::string_view /*text*/) {}

protected:
    // Stops the parse: the part is reported damaged at the current line with this detail.
    void fail(std::string detail);

private:
    friend class XmlDriver;
    XmlDriver* driver_ = nullptr;
};

// Parses a part with expat. Its protections stay on: no external entity or DTD is ever loaded
// and entity expansion is capped (the billion-laughs attack is refused). A malformed part, or
// a handler's fail(), throws sheets::Error naming the part and the line. Exceptions a handler
// throws pass through unchanged.
void parsePart(ZipPackage& package, std::string_view part, XmlHandler& handler,
               bool background = false);

} // namespace sheets::xlsx
