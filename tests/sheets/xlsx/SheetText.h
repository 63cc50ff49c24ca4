#pragma once

// Helpers shared by the engine's tests: fixtures, reading a file back, a sheet's text.

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "sheets/Error.h"
#include "sheets/Workbook.h"

namespace testing_sheets {

inline std::string fixture(const std::string& name)
{
    return std::string(XLSX_FIXTURES) + "/" + name;
}

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

// The text the engine writes for these sheets (0-based), through a temporary file.
inline std::string sheetText(sheets::Workbook& book, const std::vector<std::size_t>& indices,
                             const sheets::TextOptions& options = {})
{
    std::FILE* file = std::tmpfile();
    book.writeText(indices, fileno(file), "test output", options);
    std::rewind(file);
    std::string text;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, n);
    }
    std::fclose(file);
    return text;
}

inline std::string sheetText(const std::string& path, std::size_t index)
{
    auto book = sheets::Workbook::open(path);
    return sheetText(*book, {index});
}

// The message of the sheets::Error that f throws, or "(no error)".
template <class F> std::string errorOf(F&& f)
{
    try {
        f();
    } catch (const sheets::Error& error) {
        return error.what();
    }
    return "(no error)";
}

} // namespace testing_sheets
