#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace sheets::xlsx {

class ZipPackage;
class XmlRun;

// An element's name without its namespace prefix: "x:c" -> "c". The packages we read use the
// transitional and the Strict namespaces alike, with or without prefixes; the local names are
// what tell the elements apart inside the parts we read.
inline std::string_view localName(const char* name)
{
    const char* local = name;
    for (const char* p = name; *p != '\0'; ++p) {
        if (*p == ':') {
            local = p + 1;
        }
    }
    return local;
}

// The value of the attribute with this local name, or nullptr.
inline const char* attribute(const char** atts, std::string_view local)
{
    for (; atts[0] != nullptr; atts += 2) {
        if (localName(atts[0]) == local) {
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

class XmlHandler {
public:
    virtual ~XmlHandler() = default;
    virtual void startElement(std::string_view name, const char** atts) = 0;
    virtual void endElement(std::string_view name) = 0;
    virtual void characters(std::string_view /*text*/) {}

protected:
    // Stops the parse: the part is reported damaged at the current line with this detail.
    void fail(std::string detail);
    std::uint64_t line() const;

private:
    friend class XmlRun;
    XmlRun* run_ = nullptr;
};

// Parses a part with expat. Its protections stay on: no external entity or DTD is ever loaded
// and entity expansion is capped (the billion-laughs attack is refused). A malformed part, or
// a handler's fail(), throws sheets::Error naming the part and the line. Exceptions a handler
// throws pass through unchanged.
void parsePart(ZipPackage& package, std::string_view part, XmlHandler& handler,
               bool background = false);

} // namespace sheets::xlsx
