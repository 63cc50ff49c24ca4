#pragma once

#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// The Open Packaging Conventions side of a workbook: content types and relationships.
namespace sheets::xlsx {

class ZipPackage;

struct Relationship {
    std::string id;
    std::string type;   // full URI; compare with relType()
    std::string target; // resolved part name without leading "/"; empty for external targets
};

// The last segment of a relationship type URI ("worksheet" for both
// http://schemas.openxmlformats.org/officeDocument/2006/relationships/worksheet and the Strict
// http://purl.oclc.org/ooxml/officeDocument/relationships/worksheet).
std::string_view relType(std::string_view typeUri);

// The part that a relative target names, seen from the part `source` ("" for the package
// root): "worksheets/sheet1.xml" from "xl/workbook.xml" is "xl/worksheets/sheet1.xml".
// Percent escapes are decoded, "." and ".." resolved.
std::string resolveTarget(std::string_view source, std::string_view target);

// The relationships part of a part: "xl/_rels/workbook.xml.rels"; "_rels/.rels" for "".
std::string relsPartOf(std::string_view part);

// The relationships of a part; empty when it has none.
std::vector<Relationship> readRelationships(ZipPackage& package, std::string_view source);

class ContentTypes {
public:
    void read(ZipPackage& package);
    // The content type of a part, from its override or its extension's default; "" if none.
    std::string of(std::string_view part) const;
    // True when some part carries this content type.
    bool anyPartOfType(std::string_view contentType) const;

private:
    std::unordered_map<std::string, std::string> overrides_; // lower-case part name
    std::unordered_map<std::string, std::string> defaults_;  // lower-case extension
};

} // namespace sheets::xlsx
