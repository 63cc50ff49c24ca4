#include "sheets/xlsx/Package.h"

#include <algorithm>

#include "sheets/xlsx/Xml.h"
#include "sheets/xlsx/ZipPackage.h"

namespace sheets::xlsx {

namespace {

std::string lower(std::string_view text)
{
    std::string out(text);
    for (char& c : out) {
        if (c >= 'A' && c <= 'Z') {
            c = static_cast<char>(c - 'A' + 'a');
        }
    }
    return out;
}

std::string partKey(std::string_view part)
{
    while (!part.empty() && part.front() == '/') {
        part.remove_prefix(1);
    }
    return lower(part);
}

int hexValue(char c)
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

std::string percentDecoded(std::string_view text)
{
    std::string out;
    out.reserve(text.size());
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            const int hi = hexValue(text[i + 1]);
            const int lo = hexValue(text[i + 2]);
            if (hi >= 0 && lo >= 0) {
                out += static_cast<char>(hi * 16 + lo);
                i += 2;
                continue;
            }
        }
        out += text[i];
    }
    return out;
}

class RelationshipsHandler : public XmlHandler {
public:
    RelationshipsHandler(std::string_view source, std::vector<Relationship>& out)
        : source_(source), out_(out)
    {}

    void startElement(const char* name, const char** atts) override
    {
        if (!named(name, "Relationship")) {
            return;
        }
        const char* id = attribute(atts, "Id");
        const char* type = attribute(atts, "Type");
        const char* target = attribute(atts, "Target");
        const char* mode = attribute(atts, "TargetMode");
        if (id == nullptr || type == nullptr || target == nullptr) {
            return;
        }
        Relationship rel{id, type, {}};
        if (mode == nullptr || !named(mode, "External")) {
            rel.target = resolveTarget(source_, target);
        }
        out_.push_back(std::move(rel));
    }
    void endElement(const char* /*name*/) override {}

private:
    std::string_view source_;
    std::vector<Relationship>& out_;
};

class ContentTypesHandler : public XmlHandler {
public:
    ContentTypesHandler(std::unordered_map<std::string, std::string>& overrides,
                        std::unordered_map<std::string, std::string>& defaults)
        : overrides_(overrides), defaults_(defaults)
    {}

    void startElement(const char* name, const char** atts) override
    {
        const char* type = attribute(atts, "ContentType");
        if (type == nullptr) {
            return;
        }
        if (named(name, "Override")) {
            if (const char* part = attribute(atts, "PartName")) {
                overrides_.emplace(partKey(percentDecoded(part)), type);
            }
        } else if (named(name, "Default")) {
            if (const char* ext = attribute(atts, "Extension")) {
                defaults_.emplace(lower(ext), type);
            }
        }
    }
    void endElement(const char* /*name*/) override {}

private:
    std::unordered_map<std::string, std::string>& overrides_;
    std::unordered_map<std::string, std::string>& defaults_;
};

} // namespace

std::string_view relType(std::string_view typeUri)
{
    const std::size_t slash = typeUri.rfind('/');
    return slash == std::string_view::npos ? typeUri : typeUri.substr(slash + 1);
}

std::string resolveTarget(std::string_view source, std::string_view target)
{
    const std::string decoded = percentDecoded(target);
    std::string_view rest = decoded;
    std::vector<std::string> segments;
    if (!rest.empty() && (rest.front() == '/' || rest.front() == '\\')) {
        rest.remove_prefix(1);
    } else {
        // Relative to the folder of the source part.
        const std::size_t slash = source.rfind('/');
        std::string_view folder =
            slash == std::string_view::npos ? std::string_view() : source.substr(0, slash);
        while (!folder.empty()) {
            const std::size_t cut = folder.find('/');
            segments.emplace_back(folder.substr(0, cut));
            folder = cut == std::string_view::npos ? std::string_view() : folder.substr(cut + 1);
        }
    }
    while (!rest.empty()) {
        std::size_t cut = rest.find_first_of("/\\");
        const std::string_view segment = rest.substr(0, cut);
        rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut + 1);
        if (segment.empty() || segment == ".") {
            continue;
        }
        if (segment == "..") {
            if (!segments.empty()) {
                segments.pop_back();
            }
            continue;
        }
        segments.emplace_back(segment);
    }
    std::string out;
    for (const auto& segment : segments) {
        if (!out.empty()) {
            out += '/';
        }
        out += segment;
    }
    return out;
}

std::string relsPartOf(std::string_view part)
{
    const std::size_t slash = part.rfind('/');
    if (slash == std::string_view::npos) {
        return "_rels/" + std::string(part) + ".rels";
    }
    return std::string(part.substr(0, slash + 1)) + "_rels/" + std::string(part.substr(slash + 1)) +
           ".rels";
}

std::vector<Relationship> readRelationships(ZipPackage& package, std::string_view source)
{
    std::vector<Relationship> out;
    const std::string rels = relsPartOf(source);
    if (package.contains(rels)) {
        RelationshipsHandler handler(source, out);
        parsePart(package, rels, handler);
    }
    return out;
}

void ContentTypes::read(ZipPackage& package)
{
    if (package.contains("[Content_Types].xml")) {
        ContentTypesHandler handler(overrides_, defaults_);
        parsePart(package, "[Content_Types].xml", handler);
    }
}

std::string ContentTypes::of(std::string_view part) const
{
    const std::string key = partKey(part);
    if (const auto found = overrides_.find(key); found != overrides_.end()) {
        return found->second;
    }
    const std::size_t dot = key.rfind('.');
    if (dot != std::string::npos && key.find('/', dot) == std::string::npos) {
        if (const auto found = defaults_.find(key.substr(dot + 1)); found != defaults_.end()) {
            return found->second;
        }
    }
    return {};
}

bool ContentTypes::anyPartOfType(std::string_view contentType) const
{
    return std::ranges::any_of(
        overrides_, [contentType](const auto& entry) { return entry.second == contentType; });
}

} // namespace sheets::xlsx
