#pragma once

// Zip archives of stored (uncompressed) entries, built in memory: packages made to measure for
// the reader's tests and fuzz targets, where each part's bytes are exactly the ones given.

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace testing_sheets {

inline std::uint32_t crc32(std::string_view data)
{
    std::uint32_t crc = 0xFFFFFFFFU;
    for (const char c : data) {
        crc ^= static_cast<unsigned char>(c);
        for (int k = 0; k < 8; ++k) {
            crc = (crc >> 1) ^ (0xEDB88320U & (0U - (crc & 1U)));
        }
    }
    return ~crc;
}

inline void put16(std::string& out, std::uint32_t v)
{
    out += static_cast<char>(v & 0xFF);
    out += static_cast<char>((v >> 8) & 0xFF);
}

inline void put32(std::string& out, std::uint32_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

inline std::string storedZip(const std::vector<std::pair<std::string, std::string>>& entries)
{
    std::string zip;
    std::string directory;
    for (const auto& [name, data] : entries) {
        const auto offset = static_cast<std::uint32_t>(zip.size());
        const std::uint32_t crc = crc32(data);
        const auto size = static_cast<std::uint32_t>(data.size());
        const auto nameSize = static_cast<std::uint32_t>(name.size());
        put32(zip, 0x04034b50);
        put16(zip, 20);
        put16(zip, 0);
        put16(zip, 0); // stored
        put32(zip, 0); // time, date
        put32(zip, crc);
        put32(zip, size);
        put32(zip, size);
        put16(zip, nameSize);
        put16(zip, 0);
        zip += name;
        zip += data;
        put32(directory, 0x02014b50);
        put16(directory, 20);
        put16(directory, 20);
        put16(directory, 0);
        put16(directory, 0);
        put32(directory, 0);
        put32(directory, crc);
        put32(directory, size);
        put32(directory, size);
        put16(directory, nameSize);
        put32(directory, 0); // extra and comment lengths
        put32(directory, 0); // disk, internal attributes
        put32(directory, 0); // external attributes
        put32(directory, offset);
        directory += name;
    }
    const auto at = static_cast<std::uint32_t>(zip.size());
    zip += directory;
    put32(zip, 0x06054b50);
    put32(zip, 0);
    put16(zip, static_cast<std::uint32_t>(entries.size()));
    put16(zip, static_cast<std::uint32_t>(entries.size()));
    put32(zip, static_cast<std::uint32_t>(directory.size()));
    put32(zip, at);
    put16(zip, 0);
    return zip;
}

// A workbook of one sheet with these parts; shared strings and styles only when given.
inline std::string oneSheetPackage(const std::string& sheet, const std::string& sharedStrings = {},
                                   const std::string& styles = {})
{
    const std::string rel = "http://schemas.openxmlformats.org/officeDocument/2006/relationships/";
    std::string workbookRels = "<Relationships><Relationship Id=\"w\" Type=\"" + rel +
                               "worksheet\" Target=\"worksheets/sheet1.xml\"/>";
    std::vector<std::pair<std::string, std::string>> parts = {
        {"_rels/.rels", "<Relationships><Relationship Id=\"r\" Type=\"" + rel +
                            "officeDocument\" Target=\"xl/workbook.xml\"/></Relationships>"},
        {"xl/workbook.xml", "<workbook xmlns:r=\"r\"><sheets><sheet name=\"S\" r:id=\"w\"/>"
                            "</sheets></workbook>"},
        {"xl/worksheets/sheet1.xml", sheet},
    };
    if (!sharedStrings.empty()) {
        parts.emplace_back("xl/sharedStrings.xml", sharedStrings);
        workbookRels += "<Relationship Id=\"s\" Type=\"" + rel +
                        "sharedStrings\" Target=\"sharedStrings.xml\"/>";
    }
    if (!styles.empty()) {
        parts.emplace_back("xl/styles.xml", styles);
        workbookRels += "<Relationship Id=\"y\" Type=\"" + rel + "styles\" Target=\"styles.xml\"/>";
    }
    parts.emplace_back("xl/_rels/workbook.xml.rels", workbookRels + "</Relationships>");
    return storedZip(parts);
}

} // namespace testing_sheets
