#pragma once

// Helpers shared by the engine's tests: fixtures, reading a file back, a sheet's text.

#include <cstdio>
#include <fstream>
#include <memory>
#include <sstream>
#include <string>
#include <vector>

#include "sheets/BookReader.h"
#include "sheets/Error.h"
#include "sheets/TextOutput.h"
#include "sheets/TextWriter.h"
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

// A temporary file, closed when it goes.
using TempFile = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;
inline TempFile tempFile()
{
    return {std::tmpfile(), &std::fclose};
}

// Everything written to a file, read back from its start.
inline std::string contents(std::FILE* file)
{
    std::fflush(file);
    std::rewind(file);
    std::string text;
    char buffer[4096];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) {
        text.append(buffer, n);
    }
    return text;
}

// The text the engine writes for these sheets (0-based), through a temporary file.
inline std::string sheetText(sheets::Workbook& book, const std::vector<std::size_t>& indices,
                             const sheets::TextOptions& options = {})
{
    const TempFile file = tempFile();
    book.writeText(indices, fileno(file.get()), "test output", options);
    return contents(file.get());
}

// The text the writer makes of one sheet of a reader, in UTF-8, through a temporary file.
inline std::string writtenText(sheets::BookReader& book, std::size_t index)
{
    const TempFile file = tempFile();
    sheets::TextOutput out(fileno(file.get()), "test output", "UTF-8");
    sheets::writeSheetText(book, index, out);
    out.flush();
    return contents(file.get());
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
