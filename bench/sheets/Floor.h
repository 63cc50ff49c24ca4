#pragma once

#include <cstdint>
#include <string>

// The floor of the engine's speed on a sheet: inflate its part and let expat scan the XML with
// no handler at all. Nothing that reads the cells can be faster than this with the same tools.
namespace bench {

struct FloorResult {
    std::uint64_t bytes = 0; // XML bytes scanned
    double seconds = 0;
};

// The part a benchmark looks at when none is named: the largest worksheet part of the zip.
std::string largestSheetPart(const std::string& path);

// Inflates `part` of the zip at `path` and scans it. Throws std::runtime_error.
FloorResult runFloor(const std::string& path, const std::string& part);

} // namespace bench
